// Every codec of the configured lists that GStreamer carries, both ways
// through a peer that echoes our RTP: what we encode and packetize must come
// back through our depayloader and decoder as the tone or picture we sent.
#include "MediaTestKit.h"

namespace pellix::test::media {
namespace {

using client::media::VideoCapture;

struct AudioCodecCase {
    const char* name;
    int payloadType;
    int clockRate;
    int packetTimeMs;
};

class AudioRoundTrip : public MediaFixture, public ::testing::WithParamInterface<AudioCodecCase> {};

TEST_P(AudioRoundTrip, ToneComesBackThroughTheCodec) {
    const AudioCodecCase c = GetParam();
    if (!client::media::gstreamerCodecAvailable(c.name)) GTEST_SKIP() << c.name << " is not carried on this host";
    UdpEcho echo;
    auto s = settings();
    s.audio.sinkDescription = rawSink(dir.file("played.raw"));
    auto media = makeMedia(s);
    auto p = plan(StreamKind::Audio, c.name, c.payloadType, echo.port());
    p.codec.clockRate = c.clockRate;
    p.packetTimeMs = c.packetTimeMs;
    media->apply(p);
    ASSERT_TRUE(pumpUntil(*media, [&] { return fileSize(dir.file("played.raw")) > 24000; }))
        << "echoed " << echo.echoed() << " datagrams";
    EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Audio));
    media.reset();
    const auto samples = readSamples(dir.file("played.raw"), 1600);
    EXPECT_GT(toneShare(samples, 8000, 1000), 0.8);
    EXPECT_LT(toneShare(samples, 8000, 1500), 0.05);
    EXPECT_GT(rms(samples), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AudioRoundTrip,
                         ::testing::Values(AudioCodecCase{"opus", 111, 48000, 20}, AudioCodecCase{"opus", 109, 48000, 60},
                                           AudioCodecCase{"PCMA", 8, 8000, 30}, AudioCodecCase{"PCMU", 0, 8000, 20},
                                           AudioCodecCase{"G729", 18, 8000, 20}),
                         [](const auto& info) {
                             return std::string(info.param.name) + std::to_string(info.param.payloadType) + "Ptime" +
                                    std::to_string(info.param.packetTimeMs);
                         });

struct VideoCodecCase {
    const char* label;
    const char* name;
    int payloadType;
    const char* fmtp;
};

class VideoRoundTrip : public MediaFixture, public ::testing::WithParamInterface<VideoCodecCase> {};

TEST_P(VideoRoundTrip, TestPatternComesBackThroughTheCodec) {
    const VideoCodecCase c = GetParam();
    if (!client::media::gstreamerCodecAvailable(c.name)) GTEST_SKIP() << c.name << " is not carried on this host";
    REQUIRE_GST_ELEMENTS("videotestsrc");
    UdpEcho echo;
    auto s = settings();
    s.cameras = {"videotestsrc is-live=true pattern=smpte"};
    auto media = makeMedia(s);
    auto p = plan(StreamKind::Video, c.name, c.payloadType, echo.port());
    p.codec.fmtp = c.fmtp;
    media->apply(p);
    auto remote = std::make_shared<RecordingRenderer>();
    VideoCapture capture;
    capture.remoteRenderer = remote;
    capture.width = 320;
    capture.height = 240;
    media->startVideo(capture);
    ASSERT_TRUE(pumpUntil(*media, [&] { return remote->count() >= 10; }, 20s))
        << "echoed " << echo.echoed() << " datagrams";
    EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Video));
    ASSERT_EQ(remote->last().width, 320);
    ASSERT_EQ(remote->last().height, 240);
    // The bars: white on the left, blue on the right.
    struct Probe {
        double x, y;
        int r, g, b;
    };
    for (const Probe& probe : {Probe{0.07, 0.3, 255, 255, 255}, Probe{0.93, 0.3, 0, 0, 255}}) {
        const auto rgba = remote->pixel(static_cast<int>(probe.x * 320), static_cast<int>(probe.y * 240));
        EXPECT_NEAR(rgba[0], probe.r, 40) << "at " << probe.x;
        EXPECT_NEAR(rgba[1], probe.g, 40) << "at " << probe.x;
        EXPECT_NEAR(rgba[2], probe.b, 40) << "at " << probe.x;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoRoundTrip,
                         ::testing::Values(VideoCodecCase{"VP8", "VP8", 97, ""}, VideoCodecCase{"VP9", "VP9", 98, ""},
                                           VideoCodecCase{"H264NonInterleaved", "H264", 96,
                                                          "profile-level-id=42e01f;packetization-mode=1"},
                                           VideoCodecCase{"H264SingleNal", "H264", 99, "profile-level-id=42e01f"}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace pellix::test::media
