// Audio both ways against independent gst-launch-1.0 peers and an echoing
// peer: what the engine plays is checked for the tone it should carry.
#include "MediaTestKit.h"

#include <cstdio>
#include <regex>

namespace pellix::test::media {
namespace {

using client::media::Direction;

struct CodecCase {
    const char* name;
    int payloadType;
    const char* encoder;
    const char* payloader;
    int frequency;
    int clockRate = 8000;  // as the peer's SDP states it
};

class AudioReceive : public MediaFixture, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(AudioReceive, PlaysThePeersToneThroughTheJitterBuffer) {
    const CodecCase c = GetParam();
    REQUIRE_GST_ELEMENTS(c.encoder, c.payloader);
    auto s = settings();
    s.audio.sinkDescription = rawSink(dir.file("played.raw"));
    auto media = makeMedia(s);
    ASSERT_NE(media->localPort(StreamKind::Audio), 0);
    auto p = plan(StreamKind::Audio, c.name, c.payloadType, freeRtpPort(), Direction::ReceiveOnly);
    p.codec.clockRate = c.clockRate;
    media->apply(p);

    auto peer = gstPeer(toneSource(c.frequency) + " ! audio/x-raw,rate=8000,channels=1 ! " + c.encoder + " ! " +
                        c.payloader + " pt=" + std::to_string(c.payloadType) + " ! udpsink host=127.0.0.1 port=" +
                        std::to_string(media->localPort(StreamKind::Audio)));
    ASSERT_TRUE(pumpUntil(*media, [&] { return saw(MediaEvent::Type::StreamStarted, StreamKind::Audio); }));
    pumpFor(*media, 1200ms);
    EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Audio));
    media.reset();

    const auto samples = readSamples(dir.file("played.raw"), 1600);
    ASSERT_GT(samples.size(), 4000u);
    EXPECT_GT(toneShare(samples, 8000, c.frequency), 0.8);
    EXPECT_LT(toneShare(samples, 8000, c.frequency * 1.5), 0.05);
    EXPECT_GT(rms(samples), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AudioReceive,
                         ::testing::Values(CodecCase{"PCMA", 8, "alawenc", "rtppcmapay", 700},
                                           CodecCase{"PCMU", 0, "mulawenc", "rtppcmupay", 1300},
                                           // Payload types come from the SDP, not from the codec.
                                           CodecCase{"pcma", 97, "alawenc", "rtppcmapay", 440},
                                           // G.711 runs at 8 kHz whatever the rtpmap claims.
                                           CodecCase{"PCMU", 100, "mulawenc", "rtppcmupay", 900, 1000000000}),
                         [](const auto& info) { return std::string(info.param.name) + std::to_string(info.param.payloadType); });

// sox's view of a raw 8 kHz mono recording: rough frequency and RMS amplitude.
std::pair<double, double> soxStat(const std::string& path) {
    const std::string command = "sox -t raw -r 8000 -e signed -b 16 -c 1 " + path + " -n stat 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string text;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
    if (pipe) ::pclose(pipe);
    std::smatch m;
    double frequency = -1, level = -1;
    if (std::regex_search(text, m, std::regex(R"(Rough\s+frequency:\s+(\d+))"))) frequency = std::stod(m[1]);
    if (std::regex_search(text, m, std::regex(R"(RMS\s+amplitude:\s+([0-9.]+))"))) level = std::stod(m[1]);
    return {frequency, level};
}

TEST_F(MediaFixture, PeerReceivesOurToneAndSilenceOnceMuted) {
    REQUIRE_GST_ELEMENTS("mulawenc", "mulawdec", "rtppcmudepay");
    if (run("command -v sox >/dev/null") != 0) GTEST_SKIP() << "sox is not installed";
    const uint16_t peerPort = freeRtpPort();
    const std::string received = dir.file("received.raw");
    auto peer = gstPeer("udpsrc address=127.0.0.1 port=" + std::to_string(peerPort) +
                        " caps=application/x-rtp,media=audio,clock-rate=8000,encoding-name=PCMU,payload=0 ! "
                        "rtpjitterbuffer latency=40 ! rtppcmudepay ! mulawdec ! audio/x-raw,format=S16LE ! "
                        "filesink buffer-mode=unbuffered location=" + received);
    std::this_thread::sleep_for(300ms);
    auto media = makeMedia(settings());
    media->apply(plan(StreamKind::Audio, "PCMU", 0, peerPort, Direction::SendOnly));
    ASSERT_TRUE(pumpUntil(*media, [&] { return saw(MediaEvent::Type::StreamStarted, StreamKind::Audio); }));
    pumpFor(*media, 1200ms);
    const auto heard = readFile(received);
    writeFile(dir.file("tone.raw"), heard.substr(std::min<size_t>(heard.size(), 3200)));

    media->setAudioMute(true);
    pumpFor(*media, 300ms);  // what was in flight drains
    const size_t mutedFrom = fileSize(received);
    pumpFor(*media, 1000ms);
    const auto all = readFile(received);
    ASSERT_GT(all.size(), mutedFrom + 8000) << "the muted stream must keep flowing";
    writeFile(dir.file("muted.raw"), all.substr(mutedFrom));

    const auto [frequency, level] = soxStat(dir.file("tone.raw"));
    EXPECT_NEAR(frequency, 1000, 50);
    EXPECT_GT(level, 0.2);
    const auto [mutedFrequency, mutedLevel] = soxStat(dir.file("muted.raw"));
    (void)mutedFrequency;
    EXPECT_GE(mutedLevel, 0);
    EXPECT_LT(mutedLevel, 0.001);
}

// The door station's media port echoes what we send; the engine must play
// its own tone back (our SSRC coming back is a loop, not a collision), and
// nothing when muted.
class EchoLoop : public MediaFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(EchoLoop, ToneComesBackUnlessMuted) {
    const bool muted = GetParam();
    UdpEcho echo;
    auto s = settings();
    s.audio.sinkDescription = rawSink(dir.file("played.raw"));
    auto media = makeMedia(s);
    media->setAudioMute(muted);
    media->apply(plan(StreamKind::Audio, "PCMA", 8, echo.port()));
    ASSERT_TRUE(pumpUntil(*media, [&] { return fileSize(dir.file("played.raw")) > 16000; }))
        << "echoed " << echo.echoed() << " datagrams";
    pumpFor(*media, 500ms);
    media.reset();
    const auto samples = readSamples(dir.file("played.raw"), 1600);
    if (muted) {
        EXPECT_LT(rms(samples), 0.001);
    } else {
        EXPECT_GT(toneShare(samples, 8000, 1000), 0.8);
        EXPECT_GT(rms(samples), 0.1);
    }
}

INSTANTIATE_TEST_SUITE_P(Mute, EchoLoop, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Muted" : "Open"; });

TEST_F(MediaFixture, VoiceProcessingSwitchesKeepAudioFlowing) {
    REQUIRE_GST_ELEMENTS("webrtcdsp", "webrtcechoprobe");
    UdpEcho echo;
    auto s = settings();
    s.echoCancellation = true;
    s.noiseSuppression = true;
    s.audio.sinkDescription = rawSink(dir.file("played.raw"));
    auto media = makeMedia(s);
    media->apply(plan(StreamKind::Audio, "PCMU", 0, echo.port()));
    EXPECT_TRUE(pumpUntil(*media, [&] { return fileSize(dir.file("played.raw")) > 8000; }));
    EXPECT_FALSE(saw(MediaEvent::Type::StreamFailed, StreamKind::Audio)) << (last(MediaEvent::Type::StreamFailed) ? last(MediaEvent::Type::StreamFailed)->text : "");
}

}  // namespace
}  // namespace pellix::test::media
