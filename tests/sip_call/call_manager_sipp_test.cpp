// The call manager on the real engine, against a sipp door station on
// loopback.
#include <gtest/gtest.h>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "PellixSipCallManager/PellixSipCallManager.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "SipEngineSDK/media/GstCallMedia.h"
#include "platform/Application.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "support/TestSupport.h"

namespace pellix::test {
namespace {

// Pumps the main loop, driving the engine's timer, until `done` holds.
bool until(const std::function<bool()>& done, double seconds) {
    return platform::RunLoop::main()->runUntil(
        [&] {
            SipEngineManager::sharedInstance()->handleTimer();
            return done();
        },
        seconds);
}

// The engine binds an ephemeral UDP port on 127.0.0.1: find it among this
// process's own sockets.
int engineUdpPort() {
    // A transport reset asked for earlier (a registration failure with 503
    // does) is done at the engine's next turn and binds a new port: let it
    // happen before looking.
    SipEngineManager::sharedInstance()->handleTimer();
    // /proc prints 127.0.0.1 as 0100007F on this little-endian machine.
    for (const auto& socket : test::ownUdpSockets())
        if (socket.address == 0x0100007F) return socket.port;
    return 0;
}

bool udpPortTaken(int port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0;
    ::close(fd);
    return taken;
}

struct Seen : PellixSipCallDelegate {
    std::vector<std::string> calls;
    void sipNewCallDirection(std::int64_t d, std::int64_t t, const std::optional<std::string>& id,
                             const std::optional<std::string>& room) override {
        calls.push_back("new " + std::to_string(d) + " " + std::to_string(t) + " " + id.value_or("nil") + " " +
                        room.value_or("nil"));
    }
    void sipTheCallWasRejected(std::int64_t, const std::optional<std::string>&) override { calls.push_back("rejected"); }
    void sipTheCallEndsDirection(std::int64_t d) override { calls.push_back("ended " + std::to_string(d)); }
    void sipTheCallIsCanceledDirection(std::int64_t d) override { calls.push_back("cancelled " + std::to_string(d)); }
};

TEST(CallManagerSipp, DoorStationRoomCallIsAudioAndTerminationWhileRingingDeclinesIt) {
    SipEngineManager::setReachabilityHostName("localhost");
    client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
    auto& m = *PellixSipCallManager::sharedInstance();
    ASSERT_TRUE(SipEngineManager::sharedInstance()->isInitialized());
    ASSERT_EQ(SipEngineManager::sharedInstance()->callDelegate(), &m);
    ASSERT_EQ(SipEngineManager::sharedInstance()->currentCall(), nullptr);
    const int port = engineUdpPort();
    if (port == 0) GTEST_SKIP() << "the engine's loopback port was not found";

    auto seen = std::make_shared<Seen>();
    PellixSipCallManager::registrationDelegate(seen);
    TempDir dir;
    Process door({"sipp", "-sf", sourceDir() + "/tests/sip_call/scenarios/uac_room_declined.xml", "-i", "127.0.0.1",
                  "-p", std::to_string(freePort()), "-m", "1", "-nostdin", "-trace_err", "-error_file",
                  dir.file("errors.log"), "-timeout", "20", "-timeout_error", "-mi", "127.0.0.1", "-mp",
                  std::to_string(freePort()), "-s", "1001", "127.0.0.1:" + std::to_string(port)});
    // Pump the engine here too: a test that swaps the shared clock can leave
    // the engine's repeating main-loop timer armed against the wrong clock.
    auto pumped = [](const std::function<bool()>& done) {
        return [done] {
            SipEngineManager::sharedInstance()->handleTimer();
            return done();
        };
    };
    auto main = platform::RunLoop::main();
    ASSERT_TRUE(main->runUntil(pumped([&] { return !seen->calls.empty(); }), 15)) << door.errorOutput();
    EXPECT_EQ(seen->calls.front(), "new 1 2 20001 1203");
    EXPECT_EQ(m.localMediaCallType(), 1) << "the leading a marks audio, whatever the offer";
    EXPECT_EQ(PellixSipCallManager::currentCallStatus(), 0);

    platform::NotificationCenter::defaultCenter().post(platform::Application::WillTerminateNotification, nullptr);
    ASSERT_TRUE(main->runUntil(pumped([&] { return m.callDirection() == -1; }), 10));
    ASSERT_TRUE(main->runUntil(pumped([&] { return !door.running(); }), 10));
    EXPECT_EQ(door.wait(), 0) << door.output() << door.errorOutput();
    PellixSipCallManager::removeDelegate();
}

TEST(CallManagerSipp, PlacedCallOffersVideoForEveryMediaTypeButAudio) {
    SipEngineManager::setReachabilityHostName("localhost");
    client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
    auto& m = *PellixSipCallManager::sharedInstance();
    ASSERT_TRUE(SipEngineManager::sharedInstance()->isInitialized());
    auto seen = std::make_shared<Seen>();
    PellixSipCallManager::registrationDelegate(seen);
    struct Case {
        std::int64_t mediaCallType;
        bool video;
    };
    for (const Case c : {Case{1, false}, Case{2, true}, Case{0, true}}) {
        SCOPED_TRACE("media call type " + std::to_string(c.mediaCallType));
        seen->calls.clear();
        TempDir dir;
        const int port = freePort();
        // The door station is busy: the offer is all this needs of it.
        Process callee({"sipp", "-sf", sourceDir() + "/tests/sip_engine/scenarios/uas_busy.xml", "-i", "127.0.0.1",
                        "-p", std::to_string(port), "-m", "1", "-nostdin", "-trace_err", "-error_file",
                        dir.file("errors.log"), "-trace_msg", "-message_file", dir.file("messages.log"), "-timeout",
                        "20", "-timeout_error", "-mi", "127.0.0.1", "-mp", std::to_string(freePort())});
        // A request sent before sipp has bound its port would bounce.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!udpPortTaken(port) && callee.running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        auto* profile = SipEngineManager::sharedInstance()->gainCurrentSipProfile();
        ASSERT_NE(profile, nullptr);
        profile->SetUserName("1001");
        profile->SetDomain(("127.0.0.1:" + std::to_string(port)).c_str());
        PellixSipCallManager::makeCallWithCallType(1, c.mediaCallType, true, false, PellixVideoView::create(), 0,
                                                   "2001", PellixVideoView::create());
        ASSERT_TRUE(until([&] { return !seen->calls.empty() && seen->calls.back() == "rejected"; }, 15))
            << callee.errorOutput();
        EXPECT_EQ(seen->calls.front(), "new 2 " + std::to_string(m.currentIncomingCallType()) + " 2001 nil");
        ASSERT_TRUE(until([&] { return !callee.running(); }, 10));
        EXPECT_EQ(callee.wait(), 0) << callee.errorOutput();
        std::ifstream in(dir.file("messages.log"));
        const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto invite = log.find("INVITE sip:2001@");
        ASSERT_NE(invite, std::string::npos) << log;
        const std::string offer = log.substr(invite, log.find("-----", invite) - invite);
        EXPECT_NE(offer.find("m=audio "), std::string::npos) << offer;
        if (c.video) {
            EXPECT_NE(offer.find("m=video "), std::string::npos) << offer;
            EXPECT_EQ(offer.find("m=video 0 "), std::string::npos) << offer;
        } else {
            EXPECT_EQ(offer.find("m=video"), std::string::npos) << offer;
        }
    }
    PellixSipCallManager::removeDelegate();
}

struct VideoSeen : Seen {
    int remoteFps = 0, remoteSize = 0, videoReady = 0, connected = 0, rateReports = 0;
    void sipRemoteVideoFps(std::int64_t fps, std::int64_t) override {
        remoteFps += fps > 0;
        ++rateReports;
    }
    void sipLocalVideoFps(std::int64_t, std::int64_t) override { ++rateReports; }
    void sipRemoteVideoScreenSizeChangeWidth(std::int64_t w, std::int64_t h) override { remoteSize += w > 0 && h > 0; }
    void sipVideoMediaStreamReady() override { ++videoReady; }
    void sipTheCallIsConnectedDirection(std::int64_t, bool, bool) override { ++connected; }
};

// Calls made while it lives capture from a generated picture and tone
// instead of a camera and a sound card.
class TestCamera {
public:
    TestCamera() : before_(client::media::callMediaFactory()) {
        client::media::setCallMediaFactory([](const client::media::MediaSettings& settings) {
            auto s = settings;
            s.cameras = {"videotestsrc is-live=true pattern=ball ! video/x-raw,framerate=15/1"};
            s.audio.sourceDescription = "audiotestsrc is-live=true wave=sine";
            s.audio.sinkDescription = "fakesink";
            return client::media::gstreamerCallMediaFactory()(s);
        });
    }
    ~TestCamera() { client::media::setCallMediaFactory(before_); }

private:
    client::media::CallMediaFactory before_;
};

TEST(CallManagerSipp, AnsweredVideoCallDrawsTheEchoedPicturePausesInTheBackgroundAndSwitchesToAudio) {
    SipEngineManager::setReachabilityHostName("localhost");
    client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
    auto& m = *PellixSipCallManager::sharedInstance();
    ASSERT_TRUE(SipEngineManager::sharedInstance()->isInitialized());
    const int port = engineUdpPort();
    if (port == 0) GTEST_SKIP() << "the engine's loopback port was not found";
    TestCamera camera;

    // Every wait is for an event, bounded far above what a busy machine
    // takes: the door station's own waits (its scenario's timeouts) are as
    // generous.
    constexpr double kEventBound = 120;
    auto seen = std::make_shared<VideoSeen>();
    PellixSipCallManager::registrationDelegate(seen);
    TempDir dir;
    Process door({"sipp", "-sf", sourceDir() + "/tests/sip_call/scenarios/uac_video_echo.xml", "-i", "127.0.0.1", "-p",
                  std::to_string(freePort()), "-m", "1", "-nostdin", "-trace_err", "-error_file", dir.file("errors.log"),
                  "-trace_msg", "-message_file", dir.file("messages.log"), "-timeout", "600", "-timeout_error", "-mi",
                  "127.0.0.1", "-mp", std::to_string(freePort()), "-rtp_echo", "-s", "1001",
                  "127.0.0.1:" + std::to_string(port)});
    auto messages = [&] {
        std::ifstream log(dir.file("messages.log"));
        return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    };
    ASSERT_TRUE(until([&] { return !seen->calls.empty(); }, kEventBound)) << door.errorOutput();
    EXPECT_EQ(seen->calls.front(), "new 1 1 10001 nil");
    ASSERT_EQ(m.localMediaCallType(), 2);

    auto window = std::make_shared<platform::View>();
    auto local = PellixVideoView::create(), remote = PellixVideoView::create();
    window->addSubview(local);
    window->addSubview(remote);
    PellixSipCallManager::answerSipCallWithMediaCallType(2, true, false, 0, local, remote);
    ASSERT_TRUE(until([&] { return seen->connected > 0; }, kEventBound)) << door.errorOutput();
    // The video stream reports ready on its first packet either way; an echo
    // sends nothing of its own, so start our camera as a host may.
    PellixSipCallManager::drawVideoStream();
    ASSERT_TRUE(until([&] { return seen->videoReady > 0; }, kEventBound)) << door.errorOutput();
    auto remoteView = m.remoteRTCEAGLVideoView();
    ASSERT_NE(remoteView, nullptr);
    ASSERT_EQ(remote->subviews(), std::vector<std::shared_ptr<platform::View>>{remoteView});

    // Our own picture comes back through the door station's echo.
    EXPECT_TRUE(until([&] { return remoteView->currentFrame().has_value() && seen->remoteFps > 0; }, kEventBound))
        << "frames " << remoteView->currentFrame().has_value() << " fps reports " << seen->remoteFps << "\n"
        << messages();
    ASSERT_NE(m.currentCall(), nullptr) << messages();
    EXPECT_GT(remoteView->videoSize().width, 0);
    EXPECT_GT(seen->remoteSize, 0);

    auto* video = m.currentCall()->GetMediaSession()->GetVideoStream();
    ASSERT_NE(video, nullptr);
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(platform::Application::WillResignActiveNotification, nullptr);
    EXPECT_EQ(video->GetDirection(), client::VideoStream::kInactive);
    center.post(platform::Application::DidBecomeActiveNotification, nullptr);
    EXPECT_EQ(video->GetDirection(), client::VideoStream::kSendRecv);
    EXPECT_FALSE(remoteView->currentFrame()) << "the display starts afresh";
    EXPECT_TRUE(until([&] { return remoteView->currentFrame().has_value(); }, kEventBound))
        << "no picture after resuming";

    ASSERT_TRUE(PellixSipCallManager::switchVideoModeToAudioMode());
    EXPECT_EQ(video->GetDirection(), client::VideoStream::kRecvOnly);
    // The door station sees the digit.
    auto infoAnswered = [&] {
        const std::string log = messages();
        const auto info = log.find("INFO sip:");
        return info != std::string::npos && log.find("SIP/2.0 200 OK", info) != std::string::npos;
    };
    ASSERT_TRUE(until(infoAnswered, kEventBound)) << messages();
    // Then the offer without video, once the INFO is done with.
    auto reinviteAnswered = [&] {
        const std::string log = messages();
        const auto info = log.find("INFO sip:");
        const auto reinvite = log.find("INVITE sip:", info);
        return reinvite != std::string::npos && log.find("SIP/2.0 200 OK", reinvite) != std::string::npos;
    };
    ASSERT_TRUE(until(reinviteAnswered, kEventBound)) << messages();
    // The agreed session has no video: its pipeline stops and so do its
    // statistics.
    ASSERT_TRUE(until([&] { return m.currentCall() && !m.currentCall()->SupportVideo(); }, kEventBound))
        << messages();
    const int reportsAfterSwitch = seen->rateReports;
    until([] { return false; }, 2.5);
    EXPECT_EQ(seen->rateReports, reportsAfterSwitch) << "video statistics after the video stopped";
    ASSERT_NE(m.currentCall(), nullptr) << "the call goes on as audio";
    PellixSipCallManager::hangupCurrentCall();
    ASSERT_TRUE(until([&] { return !door.running(); }, kEventBound));
    EXPECT_EQ(door.wait(), 0) << door.output() << door.errorOutput();
    EXPECT_EQ(local->superview(), nullptr) << "the call's end takes the views down";

    const std::string log = messages();
    const auto info = log.find("INFO sip:");
    ASSERT_NE(info, std::string::npos);
    EXPECT_NE(log.find("Signal=7", info), std::string::npos);
    PellixSipCallManager::removeDelegate();
}

// A registrar that answers 503 makes the call manager rebuild the engine's
// transport: the account registers again from a new socket (a new source
// port) without the host asking, and the host hears the failure and then
// the success.
TEST(CallManagerSipp, ARegistrationFailureOf503RegistersAgainFromAFreshTransport) {
    SipEngineManager::setReachabilityHostName("localhost");
    client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
    PellixSipCallManager::sharedInstance();
    ASSERT_TRUE(SipEngineManager::sharedInstance()->isInitialized());
    const int portBefore = engineUdpPort();
    if (portBefore == 0) GTEST_SKIP() << "the engine's loopback port was not found";

    struct Registrations : PellixSipCallDelegate {
        std::vector<std::string> seen;
        void sipRegistrationSuccess() override { seen.push_back("registered"); }
        void sipRegistrationFailed(std::int64_t code, const std::optional<std::string>&) override {
            seen.push_back("failed " + std::to_string(code));
        }
        void sipCanceledSuccessfully() override { seen.push_back("unregistered"); }
    };
    auto seen = std::make_shared<Registrations>();
    PellixSipCallManager::registrationDelegate(seen);
    TempDir dir;
    const int registrarPort = freePort();
    Process registrar({"sipp", "-sf", sourceDir() + "/tests/sip_call/scenarios/registrar_503_then_200.xml", "-i",
                       "127.0.0.1", "-p", std::to_string(registrarPort), "-m", "1", "-nostdin", "-trace_err",
                       "-error_file", dir.file("errors.log"), "-trace_msg", "-message_file", dir.file("messages.log"),
                       "-timeout", "30", "-timeout_error"});
    ASSERT_TRUE(until([&] { return udpPortTaken(registrarPort) || !registrar.running(); }, 10));
    auto messages = [&] {
        std::ifstream log(dir.file("messages.log"));
        return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    };

    PellixSipCallManager::registerSipAccount("1001", "", std::string("secret"),
                                             "127.0.0.1:" + std::to_string(registrarPort), false, "", 0, false, false,
                                             1800, "", false, 0, "", "", "", "", "", "");
    ASSERT_TRUE(until([&] { return seen->seen.size() >= 2; }, 20)) << messages() << registrar.errorOutput();
    EXPECT_EQ(seen->seen, (std::vector<std::string>{"failed 503", "registered"}));
    const int portAfter = engineUdpPort();
    EXPECT_NE(portAfter, portBefore) << "the transport was rebuilt on a new socket";
    // Both REGISTERs as the registrar saw them: the second from the new port.
    const std::string log = messages();
    std::vector<std::string> vias;
    for (auto at = log.find("Via: SIP/2.0/UDP 127.0.0.1:"); at != std::string::npos;
         at = log.find("Via: SIP/2.0/UDP 127.0.0.1:", at + 1)) {
        const auto start = at + std::string("Via: SIP/2.0/UDP 127.0.0.1:").size();
        vias.push_back(log.substr(start, log.find_first_not_of("0123456789", start) - start));
    }
    ASSERT_GE(vias.size(), 3u) << log;
    EXPECT_EQ(vias.front(), std::to_string(portBefore)) << log;
    EXPECT_EQ(vias.back(), std::to_string(portAfter)) << log;

    PellixSipCallManager::logoutSipAccount();
    ASSERT_TRUE(until([&] { return !registrar.running(); }, 10)) << messages();
    EXPECT_EQ(registrar.wait(), 0) << registrar.errorOutput();
    PellixSipCallManager::removeDelegate();
}

}  // namespace
}  // namespace pellix::test
