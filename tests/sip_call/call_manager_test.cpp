// The call manager driven through the engine manager's bridge protocols
// directly: a scripted engine call stands in for the network.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "PellixLog/PellixLog.h"
#include "PellixSipCallManager/PellixSipCallManager.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "platform/Log.h"
#include "platform/Device.h"
#include "platform/RunLoop.h"

namespace pellix::test {
namespace {

using M = PellixSipCallManager;
using S = std::optional<std::string>;

struct FakeAudio : client::AudioStream {
    void Mute(bool m) override { muted = m; }
    bool IsMuted() const override { return muted; }
    bool muted = false;
};
using Renderer = std::shared_ptr<client::media::VideoRenderer>;
// Records the direction changes, starts and capture changes in one list so
// their order shows.
struct FakeVideo : client::VideoStream {
    void Start(int camera, int, int, Renderer local, Renderer remote, int rotation, uint16_t w, uint16_t h, int bitrate,
               int fps) override {
        steps.push_back("start " + std::to_string(camera) + " " + std::to_string(rotation) + " " + std::to_string(w) + "x" +
                        std::to_string(h) + " " + std::to_string(bitrate) + " " + std::to_string(fps));
        localRenderer = std::move(local);
        remoteRenderer = std::move(remote);
    }
    void SetDirection(int d) override {
        direction = d;
        steps.push_back("dir " + std::to_string(d));
    }
    int GetDirection() const override { return direction; }
    void AddObserver(client::VideoStreamObserver*) override {}
    void ChangeCapture(int camera, int, int, Renderer local) override {
        steps.push_back("capture " + std::to_string(camera));
        localRenderer = std::move(local);
    }
    void SetRotation(int) override {}
    int direction = 1;
    std::vector<std::string> steps;
    Renderer localRenderer, remoteRenderer;
};
struct FakeSession : client::MediaSession {
    client::VideoStream* GetVideoStream() override { return &video; }
    client::AudioStream* GetAudioStream() override { return &audio; }
    FakeVideo video;
    FakeAudio audio;
};

// Records what the manager asks of the call.
struct FakeCall : client::Call {
    bool Answer(bool, bool) override { return true; }
    bool Reject(int, int) override {
        ++rejects;
        return true;
    }
    bool SendDtmf(int a, const char* t, int b) override {
        dtmf.push_back(std::to_string(a) + t + std::to_string(b));
        return true;
    }
    bool Hangup() override {
        ++hangups;
        return true;
    }
    bool UpdateMedia(bool v) override {
        updates.push_back(v);
        return true;
    }
    const char* RemoteId() const override { return ""; }
    int GetDirection() const override { return 0; }
    CallState GetState() const override { return state; }
    bool SupportVideo() const override { return video; }
    bool SupportData() const override { return false; }
    client::MediaSession* GetMediaSession() override { return &session; }
    const std::map<std::string, std::string>& GetCustomHeaders() const override { return headers; }
    int GetErrorCode() const override { return 0; }
    const char* GetErrorReason() const override { return ""; }

    CallState state = kNewCall;
    bool video = true;
    std::map<std::string, std::string> headers;
    FakeSession session;
    std::vector<std::string> dtmf;
    std::vector<bool> updates;
    int rejects = 0;
    int hangups = 0;
};

std::string n(const S& s) { return s.value_or("nil"); }

struct Reports : PellixSipCallDelegate {
    std::vector<std::string> seen;
    void add(std::string s) { seen.push_back(std::move(s)); }
    void sipIsRegistering() override { add("registering"); }
    void sipRegistrationSuccess() override { add("registered"); }
    void sipCanceledSuccessfully() override { add("unregistered"); }
    void sipRegistrationFailed(std::int64_t c, const S& m) override { add("reg failed " + std::to_string(c) + " " + n(m)); }
    void sipNewCallDirection(std::int64_t d, std::int64_t t, const S& id, const S& room) override {
        add("new " + std::to_string(d) + " " + std::to_string(t) + " " + n(id) + " " + n(room));
    }
    void sipTheCallIsCanceledDirection(std::int64_t d) override { add("cancelled " + std::to_string(d)); }
    void sipCallFailedOrWrong(std::int64_t c, const S& m) override { add("failed " + std::to_string(c) + " " + n(m)); }
    void sipTheCallWasRejected(std::int64_t c, const S& m) override { add("rejected " + std::to_string(c) + " " + n(m)); }
    void sipCallConnectionIsBeingEstablished() override { add("processing"); }
    void sipTheCalledPartyRings() override { add("ringing"); }
    void sipTheCallIsConnectedDirection(std::int64_t d, bool v, bool data) override {
        add("connected " + std::to_string(d) + " " + std::to_string(v) + std::to_string(data));
    }
    void sipTheCallEndsDirection(std::int64_t d) override { add("ended " + std::to_string(d)); }
    void sipACallPauseIsBeingSetDirection(std::int64_t d) override { add("pausing " + std::to_string(d)); }
    void sipTheCallIsPausedDirection(std::int64_t d) override { add("paused " + std::to_string(d)); }
    void sipSettingUpTerminationCallPauseDirection(std::int64_t d) override { add("resuming " + std::to_string(d)); }
    void sipTerminatedCallPauseResumeCallDirection(std::int64_t d) override { add("resumed " + std::to_string(d)); }
    void sipCallRemoteSettingsAreBeingUpdated() override { add("remote updating"); }
    void sipCallRemoteSettingsHaveBeenUpdated() override { add("remote updated"); }
    void sipCallTransferIsAcceptedDirection(std::int64_t d) override { add("refer accepted " + std::to_string(d)); }
    void sipCallForwardingIsRejectedDirection(std::int64_t d) override { add("refer rejected " + std::to_string(d)); }
    void sipVoiceMediaStreamReady() override { add("audio ready"); }
    void sipVideoMediaStreamReady() override { add("video ready"); }
    void sipDataMediaStreamReady() override { add("data ready"); }
    void sipRemoteVideoScreenSizeChangeWidth(std::int64_t w, std::int64_t h) override {
        add("size " + std::to_string(w) + "x" + std::to_string(h));
    }
    void sipRemoteVideoFps(std::int64_t f, std::int64_t b) override {
        add("remote fps " + std::to_string(f) + " " + std::to_string(b));
    }
    void sipLocalVideoFps(std::int64_t f, std::int64_t b) override {
        add("local fps " + std::to_string(f) + " " + std::to_string(b));
    }
    void sipReceiveRemoteSwitchVideoModeToAudioMode() override { add("remote went audio"); }
};

PellixSipCallManager& manager() {
    static bool once = [] {
        SipEngineManager::setReachabilityHostName("localhost");
        client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
        return true;
    }();
    (void)once;
    return *M::sharedInstance();
}

class CallManagerEvents : public ::testing::Test {
protected:
    void SetUp() override {
        m = &manager();
        reports = std::make_shared<Reports>();
        M::registrationDelegate(reports);
        platform::Log::setSink([this](std::string_view line) { logs.emplace_back(line); });
        PellixLog::enableLog();
    }
    void TearDown() override {
        // Leave no call behind for the next test.
        if (m->currentCall()) m->OnCallEnded(m->currentCall());
        M::removeDelegate();
        platform::Log::setSink({});
    }
    void incoming(const std::string& caller, std::map<std::string, std::string> headers = {}, bool video = true) {
        call.headers = std::move(headers);
        call.video = video;
        m->OnNewCall(&call, client::Call::kIncoming, caller, video);
    }
    bool logged(const std::string& text) const {
        for (const auto& l : logs)
            if (l.find("[PellixSDK Debug]: " + text) != std::string::npos) return true;
        return false;
    }
    PellixSipCallManager* m = nullptr;
    std::shared_ptr<Reports> reports;
    std::vector<std::string> logs;
    FakeCall call;
};

TEST_F(CallManagerEvents, EachEngineEventSendsItsReportAndLogsItsText) {
    struct Row {
        std::function<void(PellixSipCallManager&, client::Call*)> event;
        std::string report;
        std::string log;  // empty: the event logs nothing of its own
    };
    // Run during an outgoing call (direction 2) so the direction reports are
    // told apart from the default 0.
    const std::vector<Row> rows = {
        {[](auto& x, auto*) { x.OnRegistrationProgress(nullptr); }, "registering", ""},
        {[](auto& x, auto*) { x.OnRegistrationSucess(nullptr); }, "registered", "音视频--注册成功"},
        {[](auto& x, auto*) { x.OnRegistrationCleared(nullptr); }, "unregistered", "音视频--注销成功"},
        {[](auto& x, auto*) { x.OnRegisterationFailed(nullptr, 403, "Forbidden"); }, "reg failed 403 Forbidden",
         "音视频--注册失败"},
        {[](auto& x, auto* c) { x.OnCallProcessing(c); }, "processing", "音视频--正在建立连接(呼出)"},
        {[](auto& x, auto* c) { x.OnCallRinging(c); }, "ringing", ""},
        {[](auto& x, auto* c) { x.OnCallConnected(c, true, false); }, "connected 2 10", "音视频--呼叫接通"},
        {[](auto& x, auto* c) { x.OnCallPausing(c); }, "pausing 2", "音视频--正在设置呼叫暂停"},
        {[](auto& x, auto* c) { x.OnCallPaused(c); }, "paused 2", "音视频--呼叫已暂停"},
        {[](auto& x, auto* c) { x.OnCallResuming(c); }, "resuming 2", "音视频--正在设置终止呼叫暂停"},
        {[](auto& x, auto* c) { x.OnCallResumed(c); }, "resumed 2", "音视频--已终止呼叫暂停，恢复通话("},
        {[](auto& x, auto* c) { x.OnCallRemoteUpdating(c); }, "remote updating", "音视频--呼叫远程设置正在更新(远程)"},
        {[](auto& x, auto* c) { x.OnCallRemoteUpdated(c); }, "remote updated", "音视频--呼叫远程设置已更新(远程)"},
        {[](auto& x, auto* c) { x.OnCallReferAccepted(c); }, "refer accepted 2", "音视频--呼叫转移被接受"},
        {[](auto& x, auto* c) { x.OnCallReferRejected(c); }, "refer rejected 2", "音视频--呼叫转移被拒绝"},
        {[](auto& x, auto* c) { x.OnMediaStreamReady(c, 1); }, "audio ready", ""},
        {[](auto& x, auto* c) { x.OnMediaStreamReady(c, 2); }, "video ready", ""},
        {[](auto& x, auto* c) { x.OnMediaStreamReady(c, 3); }, "data ready", ""},
        {[](auto& x, auto*) { x.IncomingFrameWidth(640, 480); }, "size 640x480",
         "音视频--远程视频画面尺寸改变：宽度：640、高度：480"},
        {[](auto& x, auto*) { x.IncomingFps(15, 256); }, "remote fps 15 256", "音视频--远程视频帧率和码率：帧率：15、码率：256"},
        {[](auto& x, auto*) { x.OutgoingFps(12, 200); }, "local fps 12 200", "音视频--本地视频帧率和码率：帧率：12、码率：200"},
        {[](auto& x, auto* c) { x.OnReceiveDtmf(c, "7"); }, "remote went audio", ""},
    };
    m->OnNewCall(&call, client::Call::kOutgoing, "1001", true);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.report);
        reports->seen.clear();
        logs.clear();
        row.event(*m, &call);
        EXPECT_EQ(reports->seen, std::vector<std::string>{row.report});
        if (!row.log.empty()) {
            EXPECT_TRUE(logged(row.log)) << (logs.empty() ? "no log" : logs.back());
        }
    }
    // The same events with logging off write nothing.
    PellixLog::disableLog();
    logs.clear();
    for (const auto& row : rows) row.event(*m, &call);
    PellixLog::enableLog();
    EXPECT_TRUE(logs.empty()) << logs.front();
}

TEST_F(CallManagerEvents, EndingEventsResetTheCallAndReportTheEndedDirection) {
    struct Row {
        std::function<void(PellixSipCallManager&, client::Call*)> event;
        std::string report;
        std::string log;
    };
    const std::vector<Row> rows = {
        {[](auto& x, auto* c) { x.OnCallCancel(c); }, "cancelled 1", "音视频--呼叫被取消"},
        {[](auto& x, auto* c) { x.OnCallFailed(c, 408, "Request Timeout"); }, "failed 408 Request Timeout",
         "音视频--呼叫失败或错误"},
        {[](auto& x, auto* c) { x.OnCallRejected(c, 486, S{}); }, "rejected 486 nil", "音视频--呼叫被拒绝"},
        {[](auto& x, auto* c) { x.OnCallEnded(c); }, "ended 1", "音视频--呼叫结束"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.report);
        incoming("1001");
        m->OnCallConnected(&call, true, false);
        m->OnMediaStreamReady(&call, 2);
        ASSERT_EQ(SipEngineManager::sharedInstance()->videoFrameInfoDelegate(), m);
        reports->seen.clear();
        logs.clear();
        row.event(*m, &call);
        EXPECT_EQ(reports->seen, std::vector<std::string>{row.report});
        EXPECT_TRUE(logged(row.log));
        EXPECT_EQ(m->callDirection(), -1);
        EXPECT_FALSE(M::isExistCall());
        EXPECT_EQ(M::currentCallStatus(), -1);
        EXPECT_EQ(M::getCurrentSipAccount(), std::nullopt);
        EXPECT_EQ(SipEngineManager::sharedInstance()->videoFrameInfoDelegate(), nullptr);
        EXPECT_TRUE(m->isCallConnected()) << "kept until the next call";
    }
}

TEST_F(CallManagerEvents, IncomingCallsAreClassifiedFromCallerAndRoomHeader) {
    struct Row {
        std::string caller;
        std::map<std::string, std::string> headers;
        bool engineVideo;
        std::string report;
        std::int64_t media;
    };
    const std::vector<Row> rows = {
        {"20001", {{"X-room-no", "a1203"}}, true, "new 1 2 20001 1203", 1},
        {"20001", {{"X-room-no", "1203"}}, false, "new 1 2 20001 1203", 2},
        {"30001", {}, true, "new 1 3 30001 nil", 1},
        {"30001", {{"X-room-no", "a"}}, true, "new 1 3 30001 a", 1},
        {"30001", {{"X-room-no", ""}}, true, "new 1 3 30001 ", 1},
        {"20001", {{"X-room-no", "\xff\xfe"}}, true, "new 1 2 20001 nil", 1},  // not UTF-8: absent
        {"10001", {{"X-room-no", "1203"}}, true, "new 1 1 10001 nil", 2},
        {"10001", {}, false, "new 1 1 10001 nil", 1},
        {"00001", {}, true, "new 1 0 00001 nil", 2},
        {"door", {}, false, "new 1 0 door nil", 1},
        {"", {}, false, "new 1 0  nil", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.caller + " " + row.report);
        reports->seen.clear();
        incoming(row.caller, row.headers, row.engineVideo);
        EXPECT_EQ(reports->seen, std::vector<std::string>{row.report});
        EXPECT_EQ(m->localMediaCallType(), row.media);
        EXPECT_FALSE(m->isCallConnected());
        EXPECT_EQ(m->callDirection(), 1);
    }
}

TEST_F(CallManagerEvents, OutgoingAndUnknownDirectionsKeepThePreviousIncomingType) {
    incoming("40001");
    reports->seen.clear();
    m->OnNewCall(&call, client::Call::kOutgoing, "1001", false);
    m->OnNewCall(&call, 7, "1001", true);
    EXPECT_EQ(reports->seen, (std::vector<std::string>{"new 2 4 1001 nil", "new 0 4 1001 nil"}));
    EXPECT_EQ(m->localMediaCallType(), 2);
}

TEST_F(CallManagerEvents, RegistrationFailureOf503RebuildsTheTransportAndReports) {
    // Without a live engine we can only see the report; the reset itself is
    // covered by the engine manager's own tests of resetTransport.
    for (auto code : {503, 404}) {
        reports->seen.clear();
        m->OnRegisterationFailed(nullptr, code, "x");
        EXPECT_EQ(reports->seen, std::vector<std::string>{"reg failed " + std::to_string(code) + " x"});
    }
}

TEST_F(CallManagerEvents, DtmfSevenSwitchesToAudioOnlyDuringACall) {
    m->OnReceiveDtmf(&call, "7");  // no call yet
    incoming("1001");
    reports->seen.clear();
    for (const S& tone : {S{"1"}, S{}, S{"77"}, S{"7"}}) m->OnReceiveDtmf(&call, tone);
    EXPECT_EQ(reports->seen, std::vector<std::string>{"remote went audio"});
    EXPECT_EQ(call.updates, std::vector<bool>{false});
}

TEST_F(CallManagerEvents, AudioReadyReappliesMicrophoneAndSpeakerOnlyOnceConnected) {
    m->OnMediaStreamReady(&call, 1);  // no call: nothing at all
    EXPECT_TRUE(reports->seen.empty());
    incoming("1001");
    ASSERT_TRUE(M::switchMicrophone(false));
    call.session.audio.muted = false;  // as if the engine had reset it
    m->OnMediaStreamReady(&call, 1);
    EXPECT_FALSE(call.session.audio.muted) << "not connected: settings not reapplied";
    m->OnCallConnected(&call, false, false);
    m->OnMediaStreamReady(&call, 1);
    EXPECT_TRUE(call.session.audio.muted);
    m->OnMediaStreamReady(&call, 4);
    EXPECT_EQ(std::count(reports->seen.begin(), reports->seen.end(), "audio ready"), 2);
    EXPECT_EQ(reports->seen.back(), "audio ready") << "type 4 reports nothing";
}

TEST_F(CallManagerEvents, MediaSwitchesNeedACallAndKeepTheMediaTypeInStep) {
    EXPECT_FALSE(M::switchVideoModeToAudioMode());
    EXPECT_FALSE(M::enableVideo(true));
    EXPECT_EQ(m->localMediaCallType(), 0);
    EXPECT_FALSE(M::enableCamera(true));
    EXPECT_EQ(m->localMediaCallType(), 0);
    EXPECT_FALSE(M::sendDTMFWithCode("1"));
    EXPECT_FALSE(M::switchMicrophone(true));
    EXPECT_FALSE(M::switchSpeaker(true));

    incoming("1001", {}, true);
    call.state = client::Call::kRinging;
    EXPECT_TRUE(M::isExistCall());
    EXPECT_FALSE(M::isCalling());
    EXPECT_EQ(M::currentCallStatus(), 5);
    EXPECT_EQ(M::getCurrentSipAccount(), "1001");

    for (auto bad : {0, 4}) EXPECT_FALSE(M::switchVideoStreamDirection(bad));
    EXPECT_EQ(m->localMediaCallType(), 2);
    EXPECT_TRUE(M::switchVideoStreamDirection(2));
    EXPECT_EQ(call.session.video.direction, 2);
    EXPECT_EQ(m->localMediaCallType(), 1);
    EXPECT_TRUE(M::switchVideoStreamDirection(3));
    EXPECT_EQ(m->localMediaCallType(), 2);

    EXPECT_TRUE(M::switchVideoModeToAudioMode());
    EXPECT_EQ(call.dtmf, std::vector<std::string>{"070"});
    EXPECT_EQ(call.session.video.direction, 3);
    EXPECT_EQ(call.updates, std::vector<bool>{false});
    EXPECT_EQ(m->localMediaCallType(), 1);
    EXPECT_FALSE(M::switchVideoModeToAudioMode()) << "already audio: no second DTMF";
    EXPECT_EQ(call.dtmf.size(), 1u);

    EXPECT_TRUE(M::enableCamera(false));
    EXPECT_EQ(call.session.video.direction, 3);
    EXPECT_TRUE(M::enableVideo(true));
    EXPECT_EQ(call.session.video.direction, 1);
    EXPECT_EQ(m->localMediaCallType(), 2);
    EXPECT_EQ(call.updates, (std::vector<bool>{false, true}));
}

TEST_F(CallManagerEvents, AnsweringNeedsARingingIncomingCall) {
    // No call, and an outgoing call: nothing is queued, no setting changes.
    const bool microphone = m->microphoneEnable();
    M::answerSipCallWithMediaCallType(2, !microphone, false, 1, nullptr, nullptr);
    m->OnNewCall(&call, client::Call::kOutgoing, "1001", true);
    M::answerSipCallWithMediaCallType(1, !microphone, true, 1, nullptr, nullptr);
    platform::RunLoop::main()->runUntil([] { return false; }, 0.05);
    EXPECT_EQ(m->microphoneEnable(), microphone);
    EXPECT_EQ(m->localMediaCallType(), 2);
}

TEST_F(CallManagerEvents, PlacingACallWithoutACalleeFailsInsteadOfSendingABlank) {
    M::makeCallWithCallType(2, 1, true, false, nullptr, 0, "20001", nullptr);
    ASSERT_TRUE(platform::RunLoop::main()->runUntil([&] { return !reports->seen.empty(); }, 5));
    EXPECT_EQ(reports->seen.front().rfind("failed ", 0), 0u) << reports->seen.front();
    EXPECT_TRUE(m->microphoneEnable());
    EXPECT_EQ(m->localMediaCallType(), 1);
    EXPECT_FALSE(M::isExistCall());
}

// A caller that only rings gives way to the call the host places; a call
// in progress gives way to nobody: another call's events change and report
// nothing, and refusal and hang-up reach the current call alone.
TEST_F(CallManagerEvents, TheCurrentCallStaysWithTheCallInProgressAndIsTheOneEnded) {
    FakeCall stray, door, second;
    m->OnNewCall(&stray, client::Call::kIncoming, "2009", false);
    EXPECT_FALSE(M::hasLiveCall()) << "a caller that only rings";
    m->OnNewCall(&door, client::Call::kOutgoing, "8007001", false);
    EXPECT_EQ(m->currentCall(), &door);
    EXPECT_TRUE(M::hasLiveCall()) << "placed here: being set up";
    m->OnCallConnected(&door, false, false);
    reports->seen.clear();

    struct Row {
        std::function<void(PellixSipCallManager&, client::Call*)> event;
        const char* name;
    };
    const std::vector<Row> others = {
        {[](auto& x, auto* c) { x.OnNewCall(c, client::Call::kIncoming, "2010", true); }, "new"},
        {[](auto& x, auto* c) { x.OnCallRinging(c); }, "ringing"},
        {[](auto& x, auto* c) { x.OnCallConnected(c, true, false); }, "connected"},
        {[](auto& x, auto* c) { x.OnMediaStreamReady(c, 1); }, "audio ready"},
        {[](auto& x, auto* c) { x.OnReceiveDtmf(c, "7"); }, "dtmf"},
        {[](auto& x, auto* c) { x.OnCallCancel(c); }, "cancel"},
        {[](auto& x, auto* c) { x.OnCallFailed(c, 480, "Temporarily Unavailable"); }, "failed"},
        {[](auto& x, auto* c) { x.OnCallEnded(c); }, "ended"},
    };
    for (client::Call* other : {static_cast<client::Call*>(&second), static_cast<client::Call*>(&stray)}) {
        for (const auto& row : others) {
            SCOPED_TRACE(row.name);
            row.event(*m, other);
            EXPECT_TRUE(reports->seen.empty()) << reports->seen.front();
            EXPECT_EQ(m->currentCall(), &door);
            EXPECT_EQ(m->callDirection(), 2);
            EXPECT_TRUE(m->isCallConnected());
        }
    }

    M::rejectCurrentCall();
    M::hangupCurrentCall();
    EXPECT_EQ(door.rejects, 1);
    EXPECT_EQ(door.hangups, 1);
    EXPECT_EQ(stray.rejects + stray.hangups + second.rejects + second.hangups, 0);
    m->OnCallEnded(&door);
    EXPECT_EQ(reports->seen, std::vector<std::string>{"ended 2"});
}

TEST_F(CallManagerEvents, ReportsToAnUnsetDelegateAreDroppedButStateStillChanges) {
    M::removeDelegate();
    incoming("20001", {{"X-room-no", "0101"}});
    EXPECT_EQ(m->currentIncomingCallType(), 2);
    m->OnCallEnded(&call);
    EXPECT_EQ(m->callDirection(), -1);
    EXPECT_TRUE(reports->seen.empty());
}

class CallVideo : public CallManagerEvents {
protected:
    void SetUp() override {
        CallManagerEvents::SetUp();
        freshContainers();
    }
    void freshContainers() {
        window = std::make_shared<platform::View>();
        local = PellixVideoView::create();
        remote = PellixVideoView::create();
        window->addSubview(local);
        window->addSubview(remote);
    }
    void TearDown() override {
        CallManagerEvents::TearDown();
        platform::Device::currentDevice().setVideoCaptureDeviceCount(0);
    }
    // Answers a ringing incoming video call into the given containers and
    // waits for the queued set-up.
    void answerInto(std::shared_ptr<PellixVideoView> l, std::shared_ptr<PellixVideoView> r, bool video = true) {
        incoming("1001", {}, video);
        M::answerSipCallWithMediaCallType(video ? 2 : 1, true, true, 0, std::move(l), std::move(r));
        platform::RunLoop::main()->runUntil([] { return false; }, 0.05);
    }
    std::shared_ptr<platform::View> window;
    std::shared_ptr<PellixVideoView> local, remote;
};

client::media::VideoFrame picture(int w, int h) {
    client::media::VideoFrame f;
    f.width = w;
    f.height = h;
    f.rgba.assign(static_cast<std::size_t>(w) * h * 4, 0x40);
    return f;
}

TEST_F(CallVideo, RenderViewsArePinnedIntoTheGivenContainersAndGoneWhenTheCallEnds) {
    struct Row {
        bool withLocal, withRemote;
    };
    for (const Row row : {Row{true, true}, Row{false, true}, Row{true, false}, Row{false, false}}) {
        SCOPED_TRACE(::testing::Message() << "local " << row.withLocal << " remote " << row.withRemote);
        freshContainers();
        answerInto(row.withLocal ? local : nullptr, row.withRemote ? remote : nullptr);
        const std::pair<std::shared_ptr<PellixVideoView>, std::shared_ptr<client::RTCEAGLVideoView>> pairs[] = {
            {row.withLocal ? local : nullptr, m->localRTCEAGLVideoView()},
            {row.withRemote ? remote : nullptr, m->remoteRTCEAGLVideoView()},
        };
        for (const auto& [container, view] : pairs) {
            if (!container) {
                EXPECT_EQ(view, nullptr) << "no container, no render view";
                continue;
            }
            ASSERT_NE(view, nullptr);
            EXPECT_EQ(container->subviews(), std::vector<std::shared_ptr<platform::View>>{view});
            EXPECT_FALSE(view->translatesAutoresizingMaskIntoConstraints());
            EXPECT_FALSE(view->dragEnable());
            ASSERT_EQ(container->constraints().size(), 4u);
            for (const auto& c : container->constraints()) {
                EXPECT_EQ(c.firstItem.lock(), container);
                EXPECT_EQ(c.secondItem.lock(), view);
                EXPECT_EQ(c.firstAttribute, c.secondAttribute);
                EXPECT_EQ(c.relation, platform::LayoutConstraint::Relation::Equal);
            }
            EXPECT_TRUE(container->needsLayout()) << "laid out once, then marked for the host's pass";
        }
        // Another call set-up replaces the views rather than stacking them.
        if (row.withRemote) {
            auto first = m->remoteRTCEAGLVideoView();
            window->addSubview(remote);
            M::answerSipCallWithMediaCallType(2, true, true, 0, nullptr, remote);
            platform::RunLoop::main()->runUntil([] { return false; }, 0.05);
            EXPECT_EQ(remote->subviews().size(), 1u);
            EXPECT_NE(m->remoteRTCEAGLVideoView(), first);
        }
        m->OnCallEnded(&call);
        for (const auto& [container, view] : pairs) {
            if (!container) continue;
            EXPECT_EQ(container->superview(), nullptr);
            EXPECT_TRUE(container->subviews().empty());
            EXPECT_TRUE(container->constraints().empty());
        }
        EXPECT_EQ(m->localRTCEAGLVideoView(), nullptr);
        EXPECT_EQ(m->remoteRTCEAGLVideoView(), nullptr);
    }
}

TEST_F(CallVideo, VideoReadyStartsTheStreamIntoTheRenderViewsAndPauseResumeStopAndRestartIt) {
    answerInto(local, remote);
    auto& video = call.session.video;
    auto remoteView = m->remoteRTCEAGLVideoView();
    ASSERT_NE(remoteView, nullptr);
    remoteView->externalRenderer()->renderFrame(picture(4, 2));  // left over from an earlier stream
    ASSERT_TRUE(remoteView->currentFrame());

    m->OnMediaStreamReady(&call, 2);
    const auto size = SipEngineManager::gainVideoSize();
    // Camera 0 as it stands: no turn.
    const std::string start = "start 0 0 " + std::to_string(size.width) + "x" + std::to_string(size.height) + " " +
                              std::to_string(static_cast<int>(SipEngineManager::gainBitrate())) + " " +
                              std::to_string(static_cast<int>(SipEngineManager::gainFrameRate()));
    EXPECT_EQ(video.steps, (std::vector<std::string>{"dir 4", start, "dir 1"}));
    EXPECT_EQ(video.localRenderer, m->localRTCEAGLVideoView()->externalRenderer());
    EXPECT_EQ(video.remoteRenderer, remoteView->externalRenderer());
    EXPECT_FALSE(remoteView->currentFrame()) << "the display is reset before the stream starts";
    EXPECT_EQ(reports->seen.back(), "video ready");
    // Starting rebuilds the stream and the rebuilt stream reports ready again:
    // that report must not start it once more, or the video never settles.
    m->OnMediaStreamReady(&call, 2);
    EXPECT_EQ(video.steps.size(), 3u);
    EXPECT_EQ(reports->seen.back(), "video ready");

    video.steps.clear();
    M::pauseCurrentCall();
    EXPECT_EQ(video.steps, std::vector<std::string>{"dir 0"});
    video.steps.clear();
    M::resumeCurrentCall();
    EXPECT_EQ(video.steps, (std::vector<std::string>{start, "dir 1"})) << "resume does not stop the stream first";

    // A remote picture of a new size marks the remote container for layout.
    remote->layoutIfNeeded();
    logs.clear();
    video.remoteRenderer->renderFrame(picture(8, 6));
    EXPECT_TRUE(platform::RunLoop::main()->runUntil([&] { return remote->needsLayout(); }, 5));
    EXPECT_TRUE(logged("音视频--视频界面尺寸变化：宽度：8.000000、高度：6.000000"));

    // An audio call has no video to draw, pause or resume.
    m->OnCallEnded(&call);
    video.steps.clear();
    answerInto(local, remote, false);
    m->OnMediaStreamReady(&call, 2);
    M::pauseCurrentCall();
    M::resumeCurrentCall();
    EXPECT_TRUE(video.steps.empty());
}

TEST_F(CallVideo, SwitchingCameraGoesToTheOtherCameraOnlyWhenThereIsOne) {
    EXPECT_FALSE(M::switchCameraDirection()) << "no call";
    answerInto(local, remote);
    auto& video = call.session.video;
    auto* engineVideo = SipEngineManager::sharedInstance()->gainRTCVideoEngine();
    ASSERT_NE(engineVideo, nullptr);
    const int engineCameras = engineVideo->NumberOfCaptureDevices();
    for (int deviceCameras : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << deviceCameras << " device and " << engineCameras << " engine cameras");
        platform::Device::currentDevice().setVideoCaptureDeviceCount(deviceCameras);
        video.steps.clear();
        ASSERT_TRUE(M::switchCameraDirection());
        if (deviceCameras < 2 || engineCameras < 2) {
            // Nowhere to go: the capture stays on camera 0 and so does the selector.
            for (const auto& step : video.steps) EXPECT_EQ(step.rfind("capture", 0), std::string::npos) << step;
            EXPECT_EQ(m->localCameraOrientation(), 0);
            continue;
        }
        EXPECT_EQ(video.steps, std::vector<std::string>{"capture 1"});
        EXPECT_EQ(video.localRenderer, m->localRTCEAGLVideoView()->externalRenderer());
        EXPECT_EQ(m->localCameraOrientation(), 1);
        video.steps.clear();
        ASSERT_TRUE(M::switchCameraDirection());
        EXPECT_EQ(video.steps, std::vector<std::string>{"capture 0"}) << "twice returns to the first camera";
    }
}

}  // namespace
}  // namespace pellix::test
