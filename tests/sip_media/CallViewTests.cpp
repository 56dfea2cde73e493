// The call's pictures as the host sees them, through the call manager and
// the real engine, against a sipp door station that echoes our video: our
// camera (a test pattern) must stand upright both in the self-view and in
// what the far end receives, and switching camera on a device with one
// camera keeps the picture going.
#include "MediaTestKit.h"
#include "PellixSipCallManager/PellixSipCallManager.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "SipEngineSDK/media/GstCallMedia.h"
#include "platform/Device.h"
#include "platform/RunLoop.h"

#include <fstream>

namespace pellix::test::media {
namespace {

bool until(const std::function<bool()>& done, double seconds) {
    return platform::RunLoop::main()->runUntil(
        [&] {
            SipEngineManager::sharedInstance()->handleTimer();
            return done();
        },
        seconds);
}

int engineUdpPort() {
    SipEngineManager::sharedInstance()->handleTimer();
    for (const auto& socket : test::ownUdpSockets())
        if (socket.address == 0x0100007F) return socket.port;  // 127.0.0.1 as /proc prints it
    return 0;
}

struct Connected : PellixSipCallDelegate {
    int calls = 0, connected = 0;
    void sipNewCallDirection(std::int64_t, std::int64_t, const std::optional<std::string>&,
                             const std::optional<std::string>&) override {
        ++calls;
    }
    void sipTheCallIsConnectedDirection(std::int64_t, bool, bool) override { ++connected; }
};

// The colour at a point of a picture given as fractions of its size.
std::array<int, 3> colourAt(const client::media::VideoFrame& f, double x, double y) {
    const size_t px = static_cast<size_t>(x * f.width), py = static_cast<size_t>(y * f.height);
    const size_t at = (py * static_cast<size_t>(f.width) + px) * 4;
    return {f.rgba[at], f.rgba[at + 1], f.rgba[at + 2]};
}

// The SMPTE bars stand upright with white at the top left, full blue at
// the top right and dark blue at the bottom left; turned over, the top
// right is dark blue and the bottom left full blue.
void expectUpright(const std::optional<client::media::VideoFrame>& frame, const char* where) {
    ASSERT_TRUE(frame.has_value()) << where;
    SCOPED_TRACE(where);
    const auto topLeft = colourAt(*frame, 0.07, 0.2), topRight = colourAt(*frame, 0.93, 0.2),
               bottomLeft = colourAt(*frame, 0.07, 0.8);
    for (int c : topLeft) EXPECT_GT(c, 200) << "top left";
    EXPECT_LT(topRight[0], 60);
    EXPECT_LT(topRight[1], 60);
    EXPECT_GT(topRight[2], 200) << "top right";
    EXPECT_LT(bottomLeft[0], 60);
    EXPECT_LT(bottomLeft[1], 60);
    EXPECT_GT(bottomLeft[2], 70) << "bottom left";
    EXPECT_LT(bottomLeft[2], 190) << "bottom left";
}

class DoorStationCall : public ::testing::Test {
protected:
    void SetUp() override {
        if (!client::media::ensureGstreamer()) GTEST_SKIP() << "GStreamer cannot start here";
        REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
        SipEngineManager::setReachabilityHostName("localhost");
        client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
        PellixSipCallManager::sharedInstance();  // starts the engine and takes its calls
        ASSERT_TRUE(SipEngineManager::sharedInstance()->isInitialized());
        const int port = engineUdpPort();
        if (port == 0) GTEST_SKIP() << "the engine's loopback port was not found";
        before_ = client::media::callMediaFactory();
        client::media::setCallMediaFactory([](const client::media::MediaSettings& settings) {
            auto s = settings;
            s.cameras = {"videotestsrc is-live=true pattern=smpte ! video/x-raw,framerate=15/1"};
            s.audio.sourceDescription = "audiotestsrc is-live=true wave=sine";
            s.audio.sinkDescription = "fakesink";
            return client::media::gstreamerCallMediaFactory()(s);
        });
        PellixSipCallManager::registrationDelegate(seen_);
        door_ = std::make_unique<Process>(std::vector<std::string>{
            "sipp", "-sf", sourceDir() + "/tests/sip_call/scenarios/uac_video_echo.xml", "-i", "127.0.0.1", "-p",
            std::to_string(freePort()), "-m", "1", "-nostdin", "-timeout", "30", "-timeout_error", "-mi", "127.0.0.1",
            "-mp", std::to_string(freePort()), "-rtp_echo", "-s", "1001", "127.0.0.1:" + std::to_string(port)});
        ASSERT_TRUE(until([&] { return seen_->calls > 0; }, 15)) << door_->errorOutput();
        window_->addSubview(local_);
        window_->addSubview(remote_);
        PellixSipCallManager::answerSipCallWithMediaCallType(2, true, false, 0, local_, remote_);
        ASSERT_TRUE(until([&] { return seen_->connected > 0; }, 10)) << door_->errorOutput();
        PellixSipCallManager::drawVideoStream();
    }

    void TearDown() override {
        if (door_) {
            PellixSipCallManager::hangupCurrentCall();
            until([&] { return !door_->running(); }, 10);
        }
        PellixSipCallManager::removeDelegate();
        if (before_) client::media::setCallMediaFactory(before_);
        platform::Device::currentDevice().setVideoCaptureDeviceCount(0);
    }

    PellixSipCallManager& manager() { return *PellixSipCallManager::sharedInstance(); }
    // Forgets what both views show, then waits until each shows a new picture.
    bool freshPictures() {
        auto localView = manager().localRTCEAGLVideoView(), remoteView = manager().remoteRTCEAGLVideoView();
        if (!localView || !remoteView) return false;
        localView->resetDisplay();
        remoteView->resetDisplay();
        return until([&] { return localView->currentFrame() && remoteView->currentFrame(); }, 30);
    }

    std::shared_ptr<Connected> seen_ = std::make_shared<Connected>();
    std::unique_ptr<Process> door_;
    std::shared_ptr<platform::View> window_ = std::make_shared<platform::View>();
    std::shared_ptr<PellixVideoView> local_ = PellixVideoView::create(), remote_ = PellixVideoView::create();
    client::media::CallMediaFactory before_;
};

TEST_F(DoorStationCall, CameraZeroIsUprightInTheSelfViewAndAtTheFarEnd) {
    ASSERT_EQ(manager().localCameraOrientation(), 0);
    ASSERT_TRUE(freshPictures()) << door_->errorOutput();
    expectUpright(manager().localRTCEAGLVideoView()->currentFrame(), "self-view");
    // What comes back through the door station's echo is what it was sent.
    expectUpright(manager().remoteRTCEAGLVideoView()->currentFrame(), "far end");
}

TEST_F(DoorStationCall, SwitchingCameraWithOnlyOneKeepsCameraZeroRunning) {
    platform::Device::currentDevice().setVideoCaptureDeviceCount(1);
    ASSERT_TRUE(freshPictures()) << door_->errorOutput();
    ASSERT_TRUE(PellixSipCallManager::switchCameraDirection());
    EXPECT_EQ(manager().localCameraOrientation(), 0);
    until([] { return false; }, 0.5);  // pictures already on their way drain
    EXPECT_TRUE(freshPictures()) << "outgoing video stopped";
    expectUpright(manager().localRTCEAGLVideoView()->currentFrame(), "self-view");
}

}  // namespace
}  // namespace pellix::test::media
