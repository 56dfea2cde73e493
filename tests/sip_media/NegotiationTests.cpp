// A general-purpose phone (sipp) offers its own format parameters; what the
// engine answers and what it then actually sends (caught on the phone's media
// ports) must keep to them: the packet time and H.264's packetization mode.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "MediaTestKit.h"
#include "SipEngineSDK/SipEngine.h"
#include "SipEngineSDK/media/GstCallMedia.h"

namespace pellix::test::media {
namespace {

using client::Call;

// Calls made while it lives capture a tone and a test pattern.
class TestDevicesForCalls {
public:
    TestDevicesForCalls() : before_(client::media::callMediaFactory()) {
        client::media::setCallMediaFactory([](const client::media::MediaSettings& settings) {
            auto s = settings;
            s.audio.sourceDescription = toneSource(1000);
            s.audio.sinkDescription = "fakesink";
            s.cameras = {"videotestsrc is-live=true pattern=smpte"};
            return client::media::gstreamerCallMediaFactory()(s);
        });
    }
    ~TestDevicesForCalls() { client::media::setCallMediaFactory(before_); }

private:
    client::media::CallMediaFactory before_;
};

struct Rtp {
    int payloadType;
    uint16_t sequence;
    uint32_t timestamp;
    std::vector<uint8_t> payload;
};

// Every RTP packet waiting on the socket.
void drain(const UdpSocket& socket, std::vector<Rtp>& into) {
    uint8_t buffer[65536];
    while (true) {
        const ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 12) return;
        if ((buffer[0] >> 6) != 2) continue;
        size_t header = 12 + 4 * (buffer[0] & 0x0f);
        if ((buffer[0] & 0x10) && static_cast<size_t>(n) >= header + 4)
            header += 4 + 4 * ((buffer[header + 2] << 8) | buffer[header + 3]);
        if (static_cast<size_t>(n) < header) continue;
        size_t end = static_cast<size_t>(n);
        if (buffer[0] & 0x20) end -= std::min<size_t>(end - header, buffer[n - 1]);
        into.push_back({buffer[1] & 0x7f, static_cast<uint16_t>((buffer[2] << 8) | buffer[3]),
                        (uint32_t(buffer[4]) << 24) | (uint32_t(buffer[5]) << 16) | (uint32_t(buffer[6]) << 8) | buffer[7],
                        std::vector<uint8_t>(buffer + header, buffer + end)});
    }
}

// The body of the first 200 OK to the INVITE in sipp's message log.
std::string answerIn(const std::string& log) {
    const auto ok = log.find("SIP/2.0 200 OK");
    if (ok == std::string::npos) return {};
    const auto body = log.find("\r\n\r\nv=0", ok);
    if (body == std::string::npos) return {};
    const auto end = log.find("\n\n", body + 4);
    return log.substr(body + 4, end == std::string::npos ? std::string::npos : end - body - 4);
}

struct OfferCase {
    const char* name;
    const char* audioFormats;
    const char* ptime;
    const char* videoFormats;
    int answeredAudioType;
    uint32_t audioTicks;  // RTP clock per packet: the packet time at 8 or 48 kHz
    size_t audioBytes;    // PCMU: 8 bytes per millisecond; opus varies (0)
    int answeredVideoType;
    bool singleNal;
};

class PhoneOffer : public MediaFixture, public ::testing::WithParamInterface<OfferCase> {};

TEST_P(PhoneOffer, AnswerAndPacketsKeepToThePhonesParameters) {
    const OfferCase c = GetParam();
    REQUIRE_GST_ELEMENTS("mulawenc", "rtppcmupay", "opusenc", "rtpopuspay", "x264enc", "rtph264pay", "videotestsrc");
    if (run("command -v sipp >/dev/null") != 0) GTEST_SKIP() << "sipp is not installed";
    TestDevicesForCalls devices;
    UdpSocket audioPort("127.0.0.1", freeRtpPort());
    UdpSocket videoPort("127.0.0.1", freeRtpPort());

    client::Config config;
    const uint16_t enginePort = freeRtpPort();
    config.transport.udpPort = enginePort;
    client::setText(config.transport.ipv4BindAddress, "127.0.0.1");
    // The lists as the engine is configured by default, in their order.
    client::setText(config.media.audioCodecs, "opus,isac,g729,pcma,pcmu");
    client::setText(config.media.videoCodecs, "vp8,vp9,h264,red,ulpfec,rtx");
    auto* engine = client::SipEngineFactory::Create(config);
    ASSERT_TRUE(engine->Initialize());
    States states;
    engine->GetCallManager()->AddObserver(&states);
    engine->GetCallManager()->SetAutoRinging(1);
    std::vector<Rtp> audio, video;
    auto pumpUntil = [&](const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            engine->ProcessEvents();
            drain(audioPort, audio);
            drain(videoPort, video);
            if (done()) return true;
            std::this_thread::sleep_for(5ms);
        }
        return done();
    };

    const std::string messages = dir.file("messages.log");
    Process phone({"sipp", "-sf", sourceDir() + "/tests/sip_media/scenarios/uac_offer_params.xml", "-i", "127.0.0.1",
                   "-p", std::to_string(freeRtpPort()), "-m", "1", "-nostdin", "-trace_err", "-error_file",
                   dir.file("errors.log"), "-trace_msg", "-message_file", messages, "-timeout", "60",
                   "-timeout_error", "-d", "60000", "-key", "ptime", c.ptime, "-key", "audio_pts", c.audioFormats,
                   "-key", "video_pts", c.videoFormats,
                   "-key", "audio_port", std::to_string(audioPort.port()), "-key", "video_port",
                   std::to_string(videoPort.port()), "-s", "1001", "127.0.0.1:" + std::to_string(enginePort)});
    ASSERT_TRUE(pumpUntil([&] { return states.reached(Call::kNewCall); }, 20s)) << phone.errorOutput();
    Call* call = states.last;
    ASSERT_TRUE(call->Answer(true, true));
    ASSERT_TRUE(pumpUntil([&] { return states.reached(Call::kConnected); }, 10s)) << phone.errorOutput();
    call->GetMediaSession()->GetVideoStream()->Start(0, 0, 0, nullptr, nullptr, 0, 320, 240, 256, 15);
    // Enough for a few keyframes' worth of slices and a second of sound.
    ASSERT_TRUE(pumpUntil([&] { return audio.size() >= 60 && video.size() >= 60; }, 20s))
        << audio.size() << " audio and " << video.size() << " video packets";
    EXPECT_TRUE(call->Hangup());
    EXPECT_TRUE(pumpUntil([&] { return states.reached(Call::kEnded); }, 10s));
    client::SipEngineFactory::Delete(engine);

    const std::string answer = answerIn(readFile(messages));
    ASSERT_FALSE(answer.empty()) << readFile(messages);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(answer, m, std::regex(R"(m=audio \d+ RTP/AVP ([0-9 ]+)\r?\n)"))) << answer;
    EXPECT_EQ(m[1].str(), std::to_string(c.answeredAudioType)) << answer;
    ASSERT_TRUE(std::regex_search(answer, m, std::regex(R"(m=video \d+ RTP/AVP ([0-9 ]+)\r?\n)"))) << answer;
    EXPECT_EQ(m[1].str(), std::to_string(c.answeredVideoType)) << answer;
    ASSERT_TRUE(std::regex_search(answer, m, std::regex("a=fmtp:" + std::to_string(c.answeredVideoType) + " ([^\r\n]*)")))
        << answer;
    EXPECT_EQ(m[1].str().find("packetization-mode=1") != std::string::npos, !c.singleNal) << answer;

    size_t checked = 0;
    for (size_t i = 0; i < audio.size(); ++i) {
        EXPECT_EQ(audio[i].payloadType, c.answeredAudioType);
        if (c.audioBytes) {
            EXPECT_EQ(audio[i].payload.size(), c.audioBytes) << "packet " << i;
        }
        // The encoder's look-ahead shortens the very first packet.
        if (i > 1 && uint16_t(audio[i - 1].sequence + 1) == audio[i].sequence) {
            EXPECT_EQ(audio[i].timestamp - audio[i - 1].timestamp, c.audioTicks) << "packet " << i;
            ++checked;
        }
        if (HasFailure()) break;
    }
    EXPECT_GT(checked, audio.size() / 2);

    std::set<int> nalTypes;
    for (const auto& p : video) {
        EXPECT_EQ(p.payloadType, c.answeredVideoType);
        if (!p.payload.empty()) nalTypes.insert(p.payload[0] & 0x1f);
    }
    std::ostringstream types;
    for (int t : nalTypes) types << t << ' ';
    EXPECT_TRUE(nalTypes.count(5)) << "no keyframe slice among NAL types " << types.str();
    if (c.singleNal) {
        // Single NAL units only: no aggregation (24-27) or fragments (28, 29).
        EXPECT_LE(*nalTypes.rbegin(), 23) << types.str();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Offers, PhoneOffer,
    ::testing::Values(OfferCase{"SingleNalOnlyPtime20", "0", "20", "96", 0, 160, 160, 96, true},
                      // Both modes offered: the first is answered, with its own mode.
                      OfferCase{"BothModesPtime40", "0", "40", "96 97", 0, 320, 320, 96, true},
                      OfferCase{"NonInterleavedFirstPtime30", "0", "30", "97 96", 0, 240, 240, 97, false},
                      // Offered after PCMU, opus is answered: it comes first in our list.
                      OfferCase{"OpusAfterPcmuPtime20", "0 111", "20", "96", 111, 960, 0, 96, true},
                      OfferCase{"OpusPtime60", "111 0", "60", "97", 111, 2880, 0, 97, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A re-INVITE that changes only the packet time changes the packets.
TEST_F(MediaFixture, NewPacketTimeRebuildsTheAudioStream) {
    REQUIRE_GST_ELEMENTS("mulawenc", "rtppcmupay");
    UdpSocket peer("127.0.0.1", freeRtpPort());
    auto media = makeMedia(settings());
    auto p = plan(StreamKind::Audio, "PCMU", 0, peer.port(), client::media::Direction::SendOnly);
    std::vector<Rtp> packets;
    auto sizesAfter = [&](int packetTimeMs) {
        p.packetTimeMs = packetTimeMs;
        media->apply(p);
        pumpFor(*media, 300ms);  // what the old stream had in flight
        drain(peer, packets);
        packets.clear();
        EXPECT_TRUE(pumpUntil(*media, [&] {
            drain(peer, packets);
            return packets.size() >= 10;
        }));
        std::set<size_t> sizes;
        for (const auto& packet : packets) sizes.insert(packet.payload.size());
        return sizes;
    };
    EXPECT_EQ(sizesAfter(20), std::set<size_t>{160});
    EXPECT_EQ(sizesAfter(40), std::set<size_t>{320});
}

}  // namespace
}  // namespace pellix::test::media
