// Video both ways: a gst-launch-1.0 peer sends H.264 of a known picture and
// the remote renderer must show it; our camera (a test source) goes to a
// peer that decodes it at the preset size.
#include "MediaTestKit.h"

namespace pellix::test::media {
namespace {

using client::media::Direction;
using client::media::VideoCapture;

std::string h264Sender(const std::string& pattern, int width, int height, uint16_t port) {
    return "videotestsrc is-live=true " + pattern + " ! video/x-raw,width=" + std::to_string(width) +
           ",height=" + std::to_string(height) +
           ",framerate=15/1 ! x264enc tune=zerolatency speed-preset=ultrafast key-int-max=10 ! "
           "rtph264pay pt=96 config-interval=1 ! udpsink host=127.0.0.1 port=" + std::to_string(port);
}

VideoCapture capture(std::shared_ptr<RecordingRenderer> remote, std::shared_ptr<RecordingRenderer> local = nullptr) {
    VideoCapture c;
    c.remoteRenderer = std::move(remote);
    c.localRenderer = std::move(local);
    return c;
}

struct PictureCase {
    const char* name;
    const char* pattern;
    // Probe points as fractions of the picture, and the colour expected there.
    struct Probe {
        double x, y;
        int r, g, b;
    };
    std::vector<Probe> probes;
};

class VideoReceive : public MediaFixture, public ::testing::WithParamInterface<PictureCase> {};

TEST_P(VideoReceive, RemoteRendererShowsThePeersPicture) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264", "rtph264pay");
    const PictureCase c = GetParam();
    auto media = makeMedia(settings());
    auto remote = std::make_shared<RecordingRenderer>();
    media->apply(plan(StreamKind::Video, "H264", 96, freeRtpPort(), Direction::ReceiveOnly));
    media->startVideo(capture(remote));
    auto peer = gstPeer(h264Sender(c.pattern, 640, 480, media->localPort(StreamKind::Video)));

    ASSERT_TRUE(pumpUntil(*media, [&] {
        const MediaEvent* rate = last(MediaEvent::Type::IncomingRate);
        return remote->count() >= 5 && rate && rate->frameRate > 0;
    }));
    const MediaEvent* size = last(MediaEvent::Type::IncomingFrameSize);
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->width, 640);
    EXPECT_EQ(size->height, 480);
    EXPECT_EQ(countOf(MediaEvent::Type::IncomingFrameSize), 1u) << "the size is reported when it changes only";
    EXPECT_TRUE(saw(MediaEvent::Type::StreamStarted, StreamKind::Video));
    EXPECT_EQ(remote->last().width, 640);
    ASSERT_EQ(remote->last().height, 480);
    for (const auto& p : c.probes) {
        const auto rgba = remote->pixel(static_cast<int>(p.x * 640), static_cast<int>(p.y * 480));
        EXPECT_NEAR(rgba[0], p.r, 24) << "at " << p.x << "," << p.y;
        EXPECT_NEAR(rgba[1], p.g, 24) << "at " << p.x << "," << p.y;
        EXPECT_NEAR(rgba[2], p.b, 24) << "at " << p.x << "," << p.y;
    }
    const MediaEvent* rate = last(MediaEvent::Type::IncomingRate);
    // Counted from what was decoded: about the peer's 15 frames/s, with room
    // for a slow machine catching up in bursts.
    EXPECT_LE(rate->frameRate, 30u);
    EXPECT_GT(rate->bitRate, 0u);
    EXPECT_FALSE(saw(MediaEvent::Type::OutgoingRate, StreamKind::Video)) << "nothing is sent on a receive-only stream";
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, VideoReceive,
    ::testing::Values(PictureCase{"SolidRed", "pattern=solid-color foreground-color=0xffff0000", {{0.5, 0.5, 255, 0, 0}}},
                      PictureCase{"SolidBlue", "pattern=solid-color foreground-color=0xff0000ff", {{0.2, 0.8, 0, 0, 255}}},
                      // The bars: white on the left, blue on the right.
                      PictureCase{"SmpteBars", "pattern=smpte", {{0.07, 0.3, 255, 255, 255}, {0.93, 0.3, 0, 0, 255}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MediaFixture, FrameSizeIsReportedAgainWhenThePeerChangesIt) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
    auto media = makeMedia(settings());
    auto remote = std::make_shared<RecordingRenderer>();
    media->apply(plan(StreamKind::Video, "H264", 96, freeRtpPort(), Direction::ReceiveOnly));
    media->startVideo(capture(remote));
    const uint16_t port = media->localPort(StreamKind::Video);
    auto peer = gstPeer(h264Sender("pattern=smpte", 640, 480, port));
    ASSERT_TRUE(pumpUntil(*media, [&] { return last(MediaEvent::Type::IncomingFrameSize) != nullptr; }));
    peer.reset();
    // The restarted peer comes back with a new SSRC and a smaller picture.
    peer = gstPeer(h264Sender("pattern=smpte", 320, 240, port));
    ASSERT_TRUE(pumpUntil(*media, [&] { return last(MediaEvent::Type::IncomingFrameSize)->width == 320; }));
    EXPECT_EQ(last(MediaEvent::Type::IncomingFrameSize)->height, 240);
    EXPECT_TRUE(pumpUntil(*media, [&] { return remote->last().width == 320; }));
}

TEST_F(MediaFixture, PictureLargerThanAnyDoorStationFailsTheVideoStreamOnly) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
    auto media = makeMedia(settings());
    auto remote = std::make_shared<RecordingRenderer>();
    media->apply(plan(StreamKind::Audio, "PCMA", 8, freeRtpPort()));
    media->apply(plan(StreamKind::Video, "H264", 96, freeRtpPort(), Direction::ReceiveOnly));
    media->startVideo(capture(remote));
    auto peer = gstPeer(h264Sender("pattern=smpte", 4112, 32, media->localPort(StreamKind::Video)));
    ASSERT_TRUE(pumpUntil(*media, [&] { return saw(MediaEvent::Type::StreamFailed, StreamKind::Video); }));
    EXPECT_EQ(remote->count(), 0);
    EXPECT_EQ(countOf(MediaEvent::Type::IncomingFrameSize), 0u);
    EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Audio));
}

// A resident without a camera (none plugged in, or busy) still sees who is
// at the door.
TEST_F(MediaFixture, CameraThatCannotOpenLeavesVideoReceiving) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
    auto s = settings();
    s.cameras = {"v4l2src device=/dev/no-such-camera"};
    auto media = makeMedia(s);
    auto remote = std::make_shared<RecordingRenderer>();
    auto local = std::make_shared<RecordingRenderer>();
    media->apply(plan(StreamKind::Video, "H264", 96, freeRtpPort()));
    media->startVideo(capture(remote, local));
    auto peer = gstPeer(h264Sender("pattern=smpte", 320, 240, media->localPort(StreamKind::Video)));
    EXPECT_TRUE(pumpUntil(*media, [&] { return remote->count() > 0; }));
    EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Video));
    EXPECT_EQ(local->count(), 0);
    EXPECT_FALSE(saw(MediaEvent::Type::OutgoingRate, StreamKind::Video));
}

TEST_F(MediaFixture, PeerDecodesOurCameraAtThePresetSize) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264", "rtph264depay");
    const uint16_t peerPort = freeRtpPort();
    const std::string received = dir.file("received.i420");
    auto peer = gstPeer("udpsrc address=127.0.0.1 port=" + std::to_string(peerPort) +
                            " caps=application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96 ! "
                            "rtph264depay ! h264parse ! avdec_h264 ! video/x-raw,format=I420 ! "
                            "filesink buffer-mode=unbuffered location=" + received,
                        true);
    std::this_thread::sleep_for(300ms);
    auto s = settings();
    s.cameras = {"videotestsrc is-live=true pattern=ball ! video/x-raw,framerate=30/1"};
    auto media = makeMedia(s);
    auto local = std::make_shared<RecordingRenderer>();
    media->apply(plan(StreamKind::Video, "H264", 96, peerPort, Direction::SendOnly));
    VideoCapture c = capture(nullptr, local);
    c.width = 352;
    c.height = 288;
    c.frameRate = 15;
    c.bitRateKbps = 384;
    media->startVideo(c);

    ASSERT_TRUE(pumpUntil(*media, [&] {
        const MediaEvent* rate = last(MediaEvent::Type::OutgoingRate);
        return local->count() > 0 && rate && rate->frameRate > 0 && fileSize(received) >= 5 * 352 * 288 * 3 / 2;
    }));
    pumpFor(*media, 300ms);
    EXPECT_TRUE(peer->waitForLine(R"(avdec_h264.*width=\(int\)352, height=\(int\)288)", 2s));
    const size_t frameBytes = 352 * 288 * 3 / 2;
    const size_t bytes = fileSize(received);
    EXPECT_EQ(bytes % frameBytes, 0u);
    EXPECT_GE(bytes / frameBytes, 5u);
    // Counted from what was encoded: the camera's faster pictures are thinned
    // to the preset rate.
    const MediaEvent* rate = last(MediaEvent::Type::OutgoingRate);
    EXPECT_LE(rate->frameRate, 25u);
    EXPECT_GT(rate->bitRate, 10u);
    EXPECT_LT(rate->bitRate, 384u * 2);
    EXPECT_EQ(local->last().width, 352);
    EXPECT_EQ(local->last().height, 288);

    // A quarter turn: both the picture shown and the one sent stand upright.
    media->setRotation(90);
    EXPECT_TRUE(pumpUntil(*media, [&] { return local->last().width == 288 && local->last().height == 352; }));
    EXPECT_TRUE(peer->waitForLine(R"(avdec_h264.*width=\(int\)288, height=\(int\)352)", 3s));
}

TEST_F(MediaFixture, DroppingVideoMidCallStopsItsPipelineAndStatistics) {
    REQUIRE_GST_ELEMENTS("x264enc", "avdec_h264");
    const uint16_t audioPeer = freeRtpPort();
    auto media = makeMedia(settings());
    auto remote = std::make_shared<RecordingRenderer>();
    media->apply(plan(StreamKind::Audio, "PCMU", 0, audioPeer));
    auto videoPlan = plan(StreamKind::Video, "H264", 96, freeRtpPort(), Direction::ReceiveOnly);
    media->apply(videoPlan);
    media->startVideo(capture(remote));
    auto peer = gstPeer(h264Sender("pattern=smpte", 320, 240, media->localPort(StreamKind::Video)));
    ASSERT_TRUE(pumpUntil(*media, [&] { return countOf(MediaEvent::Type::IncomingRate) >= 1 && remote->count() > 0; }));

    videoPlan.active = false;
    media->apply(videoPlan);
    EXPECT_TRUE(pumpUntil(*media, [&] { return saw(MediaEvent::Type::StreamStopped, StreamKind::Video); }));
    events.clear();
    const int shown = remote->count();
    pumpFor(*media, 1500ms);
    EXPECT_EQ(countOf(MediaEvent::Type::IncomingRate), 0u);
    EXPECT_EQ(countOf(MediaEvent::Type::IncomingFrameSize), 0u);
    EXPECT_EQ(remote->count(), shown);

    // Video added back by a later re-INVITE starts again.
    videoPlan.active = true;
    media->apply(videoPlan);
    EXPECT_TRUE(pumpUntil(*media, [&] { return remote->count() > shown && countOf(MediaEvent::Type::IncomingRate) >= 1; }));
}

}  // namespace
}  // namespace pellix::test::media
