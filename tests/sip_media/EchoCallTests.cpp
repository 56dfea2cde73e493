// A whole call through the engine against sipp as the door station, whose
// media port echoes our RTP: the tone we capture must come back through the
// network, the jitter buffer and the decoder, and silence when muted.
#include <algorithm>

#include "MediaTestKit.h"
#include "SipEngineSDK/SipEngine.h"
#include "SipEngineSDK/media/GstCallMedia.h"

namespace pellix::test::media {
namespace {

using client::Call;

// Calls made while it lives capture `source` and play into `sink`.
class AudioDevicesForCalls {
public:
    AudioDevicesForCalls(std::string source, std::string sink) : before_(client::media::callMediaFactory()) {
        client::media::setCallMediaFactory([source, sink](const client::media::MediaSettings& settings) {
            auto s = settings;
            s.audio.sourceDescription = source;
            s.audio.sinkDescription = sink;
            return client::media::gstreamerCallMediaFactory()(s);
        });
    }
    ~AudioDevicesForCalls() { client::media::setCallMediaFactory(before_); }

private:
    client::media::CallMediaFactory before_;
};

class SippEchoCall : public MediaFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(SippEchoCall, DoorStationEchoesOurToneBackUnlessMuted) {
    const bool muted = GetParam();
    REQUIRE_GST_ELEMENTS("mulawenc", "mulawdec", "rtppcmupay", "rtppcmudepay");
    const std::string played = dir.file("played.raw");
    AudioDevicesForCalls devices(toneSource(1000), rawSink(played));

    client::Config config;
    const uint16_t enginePort = freeRtpPort();
    config.transport.udpPort = enginePort;
    client::setText(config.transport.ipv4BindAddress, "127.0.0.1");
    client::setText(config.media.audioCodecs, "PCMU,PCMA");
    client::setText(config.media.videoCodecs, "H264");
    auto* engine = client::SipEngineFactory::Create(config);
    ASSERT_TRUE(engine->Initialize());
    States states;
    engine->GetCallManager()->AddObserver(&states);
    engine->GetCallManager()->SetAutoRinging(1);
    auto pumpUntil = [&](const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            engine->ProcessEvents();
            if (done()) return true;
            std::this_thread::sleep_for(5ms);
        }
        return done();
    };

    Process door({"sipp", "-sf", sourceDir() + "/tests/sip_media/scenarios/uac_audio_echo.xml", "-i", "127.0.0.1",
                  "-p", std::to_string(freeRtpPort()), "-m", "1", "-nostdin", "-trace_err", "-error_file",
                  dir.file("errors.log"), "-timeout", "60", "-timeout_error", "-mi", "127.0.0.1", "-mp",
                  std::to_string(freeRtpPort()), "-rtp_echo", "-s", "1001",
                  "127.0.0.1:" + std::to_string(enginePort)});
    ASSERT_TRUE(pumpUntil([&] { return states.reached(Call::kNewCall); }, 20s)) << door.errorOutput();
    Call* call = states.last;
    call->GetMediaSession()->GetAudioStream()->Mute(muted);
    ASSERT_TRUE(call->Answer(true, false));
    ASSERT_TRUE(pumpUntil([&] { return states.reached(Call::kConnected); }, 10s)) << door.errorOutput();
    // Two seconds of sound back, whatever the echo loop's delay.
    ASSERT_TRUE(pumpUntil([&] { return fileSize(played) > 32000; }, 20s))
        << "played " << fileSize(played) << " bytes; " << door.errorOutput();
    EXPECT_TRUE(call->Hangup());
    ASSERT_TRUE(pumpUntil([&] { return states.reached(Call::kEnded); }, 10s));
    ASSERT_TRUE(pumpUntil([&] { return !door.running(); }, 10s));
    EXPECT_EQ(door.wait(), 0) << door.output() << door.errorOutput();
    client::SipEngineFactory::Delete(engine);

    // The first 0.2 s are the loop filling up.
    const auto samples = readSamples(played, 1600);
    ASSERT_GT(samples.size(), 12000u);
    if (muted) {
        EXPECT_LT(rms(samples), 0.001);
    } else {
        EXPECT_GT(toneShare(samples, 8000, 1000), 0.8);
        EXPECT_LT(toneShare(samples, 8000, 1500), 0.05);
        // The source's sine at half scale has an RMS of about 0.35; G.711
        // there and back keeps it.
        EXPECT_NEAR(rms(samples), 0.35, 0.07);
    }
}

INSTANTIATE_TEST_SUITE_P(Mute, SippEchoCall, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Muted" : "Open"; });

}  // namespace
}  // namespace pellix::test::media
