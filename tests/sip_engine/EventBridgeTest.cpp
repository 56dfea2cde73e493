// The event bridge against a call made by hand: which delegate method each
// engine callback becomes, and what happens to the manager's current call.
#include <gtest/gtest.h>

#include "PellixSipCallManager/SipEngineManager.h"
#include "PellixSipCallManager/SipEngineUIDelegates.h"
#include "PellixSipCallManager/SipEventObserver.h"
#include "platform/Application.h"
#include "platform/RunLoop.h"

namespace pellix::test {
namespace {

using client::Call;

struct FakeVideo : client::VideoStream {
    void Start(int, int, int, std::shared_ptr<client::media::VideoRenderer>, std::shared_ptr<client::media::VideoRenderer>,
               int, uint16_t, uint16_t, int, int) override {}
    void SetDirection(int) override {}
    int GetDirection() const override { return 1; }
    void AddObserver(client::VideoStreamObserver* o) override { observers.push_back(o); }
    void ChangeCapture(int, int, int, std::shared_ptr<client::media::VideoRenderer>) override {}
    void SetRotation(int) override {}
    std::vector<client::VideoStreamObserver*> observers;
};

struct FakeCall : Call, client::MediaSession {
    bool Answer(bool, bool) override {
        ++answers;
        return true;
    }
    int answers = 0;
    bool Reject(int, int) override { return true; }
    bool SendDtmf(int, const char*, int) override { return true; }
    bool Hangup() override { return true; }
    bool UpdateMedia(bool) override { return true; }
    const char* RemoteId() const override { return remote; }
    int GetDirection() const override { return direction; }
    CallState GetState() const override { return state; }
    bool SupportVideo() const override { return video; }
    bool SupportData() const override { return false; }
    MediaSession* GetMediaSession() override { return this; }
    const std::map<std::string, std::string>& GetCustomHeaders() const override { return headers; }
    int GetErrorCode() const override { return 486; }
    const char* GetErrorReason() const override { return reason; }
    client::VideoStream* GetVideoStream() override { return &videoStream; }
    client::AudioStream* GetAudioStream() override { return nullptr; }

    const char* remote = "20101";
    const char* reason = "Busy Here";
    int direction = kIncoming;
    CallState state = kNewCall;
    bool video = true;
    std::map<std::string, std::string> headers;
    FakeVideo videoStream;
};

struct Delegates : SipEngineUIRegistrationDelegate, SipEngineUICallDelegate, VideoFrameInfoDelegate {
    std::vector<std::string> seen;
    void add(std::string s) { seen.push_back(std::move(s)); }
    static std::string opt(const std::optional<std::string>& s) { return s ? *s : "nil"; }

    void OnRegistrationProgress(client::SipProfile*) override { add("OnRegistrationProgress"); }
    void OnRegistrationSucess(client::SipProfile*) override { add("OnRegistrationSucess"); }
    void OnRegistrationCleared(client::SipProfile*) override { add("OnRegistrationCleared"); }
    void OnRegisterationFailed(client::SipProfile*, std::int64_t code, const std::optional<std::string>& r) override {
        add("OnRegisterationFailed " + std::to_string(code) + " " + opt(r));
    }
    void OnNewCall(Call*, std::int32_t dir, const std::optional<std::string>& id, bool video) override {
        add("OnNewCall " + std::to_string(dir) + " " + opt(id) + " " + std::to_string(video));
    }
    void OnCallCancel(Call*) override { add("OnCallCancel"); }
    void OnCallFailed(Call*, std::int64_t c, const std::optional<std::string>& r) override {
        add("OnCallFailed " + std::to_string(c) + " " + opt(r));
    }
    void OnCallRejected(Call*, std::int64_t c, const std::optional<std::string>& r) override {
        add("OnCallRejected " + std::to_string(c) + " " + opt(r));
    }
    void OnCallProcessing(Call*) override { add("OnCallProcessing"); }
    void OnCallRinging(Call*) override { add("OnCallRinging"); }
    void OnCallConnected(Call*, bool v, bool d) override {
        add("OnCallConnected " + std::to_string(v) + " " + std::to_string(d));
    }
    void OnCallEnded(Call*) override { add("OnCallEnded"); }
    void OnCallPausing(Call*) override { add("OnCallPausing"); }
    void OnCallPaused(Call*) override { add("OnCallPaused"); }
    void OnCallResuming(Call*) override { add("OnCallResuming"); }
    void OnCallResumed(Call*) override { add("OnCallResumed"); }
    void OnCallRemoteUpdating(Call*) override { add("OnCallRemoteUpdating"); }
    void OnCallRemoteUpdated(Call*) override { add("OnCallRemoteUpdated"); }
    void OnCallReferAccepted(Call*) override { add("OnCallReferAccepted"); }
    void OnCallReferRejected(Call*) override { add("OnCallReferRejected"); }
    void OnMediaStreamReady(Call*, std::int32_t t) override { add("OnMediaStreamReady " + std::to_string(t)); }
    void OnReceiveDtmf(Call*, const std::optional<std::string>& t) override { add("OnReceiveDtmf " + opt(t)); }
    void IncomingFrameWidth(std::int64_t w, std::int64_t h) override {
        add("IncomingFrameWidth " + std::to_string(w) + "x" + std::to_string(h));
    }
    void IncomingFps(std::int64_t f, std::int64_t b) override {
        add("IncomingFps " + std::to_string(f) + " " + std::to_string(b));
    }
    void OutgoingFps(std::int64_t f, std::int64_t b) override {
        add("OutgoingFps " + std::to_string(f) + " " + std::to_string(b));
    }
};

// The manager is a process-wide singleton: every test leaves it as it found it.
class EventBridge : public ::testing::Test {
protected:
    void SetUp() override {
        manager = SipEngineManager::sharedInstance().get();
        saved = {manager->registrationDelegate(), manager->callDelegate(), manager->videoFrameInfoDelegate(),
                 manager->currentCall()};
        manager->setRegistrationDelegate(&delegates);
        manager->setCallDelegate(&delegates);
        manager->setVideoFrameInfoDelegate(&delegates);
        SipEngineManager::setLocalNotificationCanceller([this] { ++cancelled; });
    }
    void TearDown() override {
        manager->setRegistrationDelegate(saved.r);
        manager->setCallDelegate(saved.c);
        manager->setVideoFrameInfoDelegate(saved.v);
        manager->configureCurrentCall(saved.call);
        SipEngineManager::setLocalNotificationCanceller({});
        setAppState(platform::Application::State::Active);
    }
    static void setAppState(platform::Application::State s) {
        auto& app = platform::Application::sharedApplication();
        app.setState(s);
        platform::RunLoop::main()->runUntil([&] { return app.applicationState() == s; }, 2);
    }
    struct {
        SipEngineUIRegistrationDelegate* r;
        SipEngineUICallDelegate* c;
        VideoFrameInfoDelegate* v;
        Call* call;
    } saved{};
    SipEngineManager* manager = nullptr;
    Delegates delegates;
    SipEventObserver bridge{SipEngineManager::sharedInstance().get(), nullptr};
    int cancelled = 0;
};

TEST_F(EventBridge, EachCallStateBecomesOneDelegateMessageAndKeepsTheCurrentCall) {
    FakeCall other;
    struct Case {
        int state;
        const char* message;
        bool clearsCurrent;
    };
    const Case cases[] = {
        {1, "OnCallCancel", true},
        {2, "OnCallFailed 486 Busy Here", true},
        {3, "OnCallRejected 486 Busy Here", true},
        {4, "OnCallProcessing", false},
        {5, "OnCallRinging", false},
        {6, "OnCallConnected 1 0", false},
        {7, "OnCallEnded", true},
        {8, "OnCallPausing", false},
        {9, "OnCallPaused", false},
        {10, "OnCallResuming", false},
        {11, "OnCallResumed", false},
        {12, "OnCallRemoteUpdating", false},
        {13, "OnCallRemoteUpdated", false},
        {14, "OnCallReferAccepted", false},
        {15, "OnCallReferRejected", false},
        {16, nullptr, false},
        {-1, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        // The current call's own end clears it ...
        FakeCall call;
        manager->configureCurrentCall(&call);
        delegates.seen.clear();
        bridge.OnCallStateChange(&call, static_cast<Call::CallState>(c.state));
        EXPECT_EQ(delegates.seen, c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(manager->currentCall(), c.clearsCurrent ? nullptr : &call);
        // ... another call's end (a caller refused or left ringing) leaves
        // the current call alone.
        manager->configureCurrentCall(&other);
        bridge.OnCallStateChange(&call, static_cast<Call::CallState>(c.state));
        EXPECT_EQ(manager->currentCall(), &other);
    }
}

TEST_F(EventBridge, NewCallBecomesCurrentWithOrWithoutADelegate) {
    FakeCall call;
    bridge.OnCallStateChange(&call, Call::kNewCall);
    EXPECT_EQ(delegates.seen, std::vector<std::string>{"OnNewCall 0 20101 1"});
    EXPECT_EQ(manager->currentCall(), &call);
    EXPECT_EQ(call.videoStream.observers.size(), 1u) << "a video call's statistics are watched";

    FakeCall audio;
    audio.video = false;
    audio.remote = nullptr;
    manager->setCallDelegate(nullptr);
    bridge.OnCallStateChange(&audio, Call::kNewCall);
    EXPECT_EQ(manager->currentCall(), &audio);
    EXPECT_TRUE(audio.videoStream.observers.empty());
    manager->setCallDelegate(&delegates);
    bridge.OnCallStateChange(&audio, Call::kNewCall);
    EXPECT_EQ(delegates.seen.back(), "OnNewCall 0 nil 0") << "a missing id is nil";
}

TEST_F(EventBridge, RegistrationMediaDtmfAndVideoStatistics) {
    client::SipProfile* profile = nullptr;
    FakeCall call;
    bridge.OnRegistrationProgress(profile);
    bridge.OnRegistrationSuccess(profile);
    bridge.OnRegistrationCleared(profile);
    bridge.OnRegistrationFailed(profile, 503, "Service Unavailable");
    bridge.OnRegistrationFailed(profile, 408, nullptr);
    bridge.OnDtmf(&call, "7");
    bridge.OnMediaStreamUpdate(&call, client::kVideoStream, Call::kSendRecv);
    bridge.IncomingFrameSizeChanged(3, 65535, 480);
    bridge.IncomingRate(3, 15, 4000000000u);
    bridge.OutgoingRate(3, 17, 512000);
    EXPECT_EQ(delegates.seen, (std::vector<std::string>{
                                  "OnRegistrationProgress", "OnRegistrationSucess", "OnRegistrationCleared",
                                  "OnRegisterationFailed 503 Service Unavailable", "OnRegisterationFailed 408 nil",
                                  "OnReceiveDtmf 7", "OnMediaStreamReady 2", "IncomingFrameWidth 65535x480",
                                  "IncomingFps 15 4000000000", "OutgoingFps 17 512000"}))
        << "sizes and rates are widened without sign";

    delegates.seen.clear();
    manager->setRegistrationDelegate(nullptr);
    manager->setVideoFrameInfoDelegate(nullptr);
    manager->setCallDelegate(nullptr);
    bridge.OnRegistrationSuccess(profile);
    bridge.IncomingRate(3, 1, 1);
    bridge.OnDtmf(&call, "7");
    EXPECT_TRUE(delegates.seen.empty());
}

TEST_F(EventBridge, EndingACallInTheBackgroundDropsLocalNotificationsExceptForANormalEnd) {
    setAppState(platform::Application::State::Background);
    manager->setCallDelegate(nullptr);
    for (int state : {1, 2, 3, 7}) {
        FakeCall call;
        int before = cancelled;
        bridge.OnCallStateChange(&call, static_cast<Call::CallState>(state));
        EXPECT_EQ(cancelled - before, state == 7 ? 0 : 1) << state;
    }
    setAppState(platform::Application::State::Active);
    FakeCall call;
    bridge.OnCallStateChange(&call, Call::kFailed);
    EXPECT_EQ(cancelled, 3) << "nothing dropped while in front";
}

TEST_F(EventBridge, ManagerCallOperationsWithoutAnEngineCall) {
    FakeCall connected;
    connected.state = Call::kConnected;
    manager->configureCurrentCall(&connected);
    manager->answerIncomingCall(true, true);
    EXPECT_EQ(connected.answers, 0) << "a connected call is not answered again";

    FakeCall outgoing;
    outgoing.direction = Call::kOutgoing;
    manager->configureCurrentCall(&outgoing);
    manager->answerIncomingCall(true, false);
    EXPECT_EQ(outgoing.answers, 0);
    EXPECT_EQ(manager->gainIncomingCall(), nullptr);

    manager->rejectCurrentCall();
    EXPECT_EQ(manager->currentCall(), nullptr) << "cleared even with no engine call to reject";
    manager->configureCurrentCall(&outgoing);
    manager->hangUpCurrentCall();
    EXPECT_EQ(manager->currentCall(), nullptr);
}

}  // namespace
}  // namespace pellix::test
