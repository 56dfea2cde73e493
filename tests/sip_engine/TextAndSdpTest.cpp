// The engine's own readers and writers, as tables: fixed text fields, codec
// lists, SDP planning, custom headers and DTMF bodies.
#include <gtest/gtest.h>

#include <cstring>

#include "SipEngineSDK/Sdp.h"
#include "SipEngineSDK/SipEngineConfig.h"
#include "SipEngineSDK/SipHeaders.h"

namespace pellix::test {
namespace {

using namespace client;

TEST(SipEngineText, FixedFieldsCutAt63BytesOnACharacterBoundary) {
    const std::string a60(60, 'a'), a61(61, 'a'), a62(62, 'a'), a63(63, 'a');
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"Client v2.0", "Client v2.0"},
        {a63, a63},
        {a63 + "xyz", a63},
        {a62 + "\xc3\xa9", a62},                  // é would straddle the cut: dropped whole
        {a61 + "\xc3\xa9", a61 + "\xc3\xa9"},     // é ends exactly at byte 63
        {a61 + "\xe4\xb8\xad", a61},              // 中 (3 bytes) would need 64
        {a60 + "\xe4\xb8\xad", a60 + "\xe4\xb8\xad"},
        {a60 + "\xf0\x9f\x93\xb1", a60},          // a 4-byte character never half-kept
        {std::string("ab\0cd", 5), "ab"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char field[64];
        std::memset(field, 'X', sizeof(field));
        setText(field, c.in);
        EXPECT_EQ(textOf(field), c.out) << c.in.size();
        EXPECT_EQ(field[63], '\0');
        EXPECT_TRUE(headers::isValidUtf8(textOf(field)));
    }
}

TEST(SipEngineText, RecordDefaults) {
    Config c;
    EXPECT_EQ((std::vector<int>{c.transport.udpPort, c.transport.tcpPort, c.transport.tlsPort, c.transport.wsPort,
                                c.transport.wssPort}),
              (std::vector<int>{5060, 5060, 5061, 5080, 5081}));
    EXPECT_TRUE(c.transport.enableIPv4 && c.transport.enableIPv6);
    EXPECT_EQ(textOf(c.transport.ipv4BindAddress), "0.0.0.0");
    EXPECT_EQ(textOf(c.transport.ipv6BindAddress), "::");
    EXPECT_EQ(textOf(c.security.certificates[7].password), "");
    EXPECT_EQ((std::vector<int>{c.media.rtpPortMin, c.media.rtpPortMax, c.media.rtpTimeoutMs, c.media.audioBitrateKbps,
                                c.media.videoBitrateKbps}),
              (std::vector<int>{10000, 65535, 5000, 128, 512}));
    EXPECT_EQ(c.media.stunPort, 19302);
    EXPECT_FALSE(c.media.enableStun) << "STUN must be off unless asked for";
    EXPECT_EQ(textOf(c.media.audioCodecs), "opus,isac,g729,pcma,pcmu");
    EXPECT_EQ(textOf(c.media.videoCodecs), "vp8,vp9,h264,red,ulpfec,rtx");
    EXPECT_EQ(c.media.mtu, 1200);
    EXPECT_EQ(textOf(c.userAgent), "Client v2.0");
    EXPECT_EQ(c.log.level, 3);
    EXPECT_FALSE(c.log.enabled);
    EXPECT_EQ(textOf(c.log.traceFile), "sip_trac.txt");
}

TEST(SipEngineSdp, CodecListsKeepTheHostsOrderAndDropWhatCannotBeSent) {
    auto names = [](const std::vector<sdp::CodecSpec>& v) {
        std::string s;
        for (const auto& c : v) s += (s.empty() ? "" : ",") + c.name;
        return s;
    };
    struct Case {
        const char* list;
        media::StreamKind kind;
        bool g729;
        const char* expected;
    };
    const Case cases[] = {
        {"g729,PCMU,PCMA", media::StreamKind::Audio, false, "PCMU,PCMA"},
        {"g729,PCMU,PCMA", media::StreamKind::Audio, true, "G729,PCMU,PCMA"},
        {"g729,pcma,pcmu", media::StreamKind::Audio, false, "PCMA,PCMU"},
        {"opus,isac,g729,pcma,pcmu", media::StreamKind::Audio, false, "opus,PCMA,PCMU"},
        {" PCMU , pcmu,,", media::StreamKind::Audio, false, "PCMU"},
        // H.264 is offered in non-interleaved and in single-NAL mode.
        {"H264", media::StreamKind::Video, false, "H264,H264"},
        {"h264,H264,vp8", media::StreamKind::Video, false, "H264,H264,VP8"},
        {"vp8,vp9,h264,red,ulpfec,rtx", media::StreamKind::Video, false, "VP8,VP9,H264,H264"},
        {"H264", media::StreamKind::Audio, false, ""},
        {"", media::StreamKind::Video, false, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(names(sdp::codecsFromList(c.list, c.kind, c.g729)), c.expected) << c.list;
}

std::string desc(const std::string& media, const std::string& session = "c=IN IP4 192.0.2.7\r\n") {
    return "v=0\r\no=- 1 1 IN IP4 192.0.2.7\r\ns=-\r\n" + session + "t=0 0\r\n" + media;
}

TEST(SipEngineSdp, PlansFollowTheOfferAndAnswer) {
    auto ours = sdp::codecsFromList("PCMU,PCMA", media::StreamKind::Audio, false);
    auto video = sdp::codecsFromList("H264", media::StreamKind::Video, false);
    const std::string local = desc("m=audio 4000 RTP/AVP 0 8\r\nm=video 4002 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n",
                                   "c=IN IP4 127.0.0.1\r\n");
    struct Case {
        const char* what;
        std::string remote;
        media::StreamKind kind;
        bool active;
        std::string codec;
        int pt;
        std::string address;
        int port;
        media::Direction direction;
    };
    using media::Direction;
    using media::StreamKind;
    const Case cases[] = {
        {"first common codec of the peer", desc("m=audio 5000 RTP/AVP 8 0\r\n"), StreamKind::Audio, true, "PCMA", 8,
         "192.0.2.7", 5000, Direction::SendReceive},
        {"media address beats session", desc("m=audio 5000 RTP/AVP 0\r\nc=IN IP4 192.0.2.9\r\n"), StreamKind::Audio,
         true, "PCMU", 0, "192.0.2.9", 5000, Direction::SendReceive},
        {"peer sends only: we receive only", desc("m=audio 5000 RTP/AVP 0\r\na=sendonly\r\n"), StreamKind::Audio,
         true, "PCMU", 0, "192.0.2.7", 5000, Direction::ReceiveOnly},
        {"session-level inactive", desc("a=inactive\r\nm=audio 5000 RTP/AVP 0\r\n"), StreamKind::Audio, true, "PCMU",
         0, "192.0.2.7", 5000, Direction::Inactive},
        {"rejected line", desc("m=audio 0 RTP/AVP 0\r\n"), StreamKind::Audio, false, "", -1, "", 0,
         Direction::SendReceive},
        {"no common codec", desc("m=audio 5000 RTP/AVP 9 18\r\n"), StreamKind::Audio, false, "", -1, "", 0,
         Direction::SendReceive},
        {"not RTP", desc("m=audio 5000 UDP/TLS/RTP/SAVPF 0\r\n"), StreamKind::Audio, false, "", -1, "", 0,
         Direction::SendReceive},
        {"no address anywhere", desc("m=audio 5000 RTP/AVP 0\r\n", ""), StreamKind::Audio, false, "", -1, "", 0,
         Direction::SendReceive},
        {"a host name is not an address", desc("m=audio 5000 RTP/AVP 0\r\n", "c=IN IP4 evil.example\r\n"),
         StreamKind::Audio, false, "", -1, "", 0, Direction::SendReceive},
        {"dynamic video number of the peer",
         desc("m=audio 5000 RTP/AVP 0\r\nm=video 5002 RTP/AVP 98\r\na=rtpmap:98 h264/90000\r\na=fmtp:98 "
              "packetization-mode=1\r\n"),
         StreamKind::Video, true, "h264", 98, "192.0.2.7", 5002, Direction::SendReceive},
        {"video line absent", desc("m=audio 5000 RTP/AVP 0\r\n"), StreamKind::Video, false, "", -1, "", 0,
         Direction::SendReceive},
    };
    auto l = sdp::parse(local);
    ASSERT_TRUE(l);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = sdp::parse(c.remote);
        ASSERT_TRUE(r);
        auto p = sdp::plan(*l, *r, c.kind, c.kind == StreamKind::Audio ? ours : video);
        EXPECT_EQ(p.active, c.active);
        if (!c.active) continue;
        EXPECT_EQ(p.codec.name, c.codec);
        EXPECT_EQ(p.codec.payloadType, c.pt);
        EXPECT_EQ(p.remoteAddress, c.address);
        EXPECT_EQ(p.remoteRtpPort, c.port);
        EXPECT_EQ(p.direction, c.direction);
    }
}

// What we answer a general-purpose phone's offer with: our list's order,
// the offer's payload number, and format parameters we honour.
TEST(SipEngineSdp, AnswerPicksOurFirstCodecTheOfferCarriesWithParametersWeHonour) {
    const auto audio = sdp::codecsFromList("opus,isac,g729,pcma,pcmu", media::StreamKind::Audio, false);
    const auto video = sdp::codecsFromList("vp8,vp9,h264,red,ulpfec,rtx", media::StreamKind::Video, false);
    const auto h264 = sdp::codecsFromList("h264", media::StreamKind::Video, false);
    struct Case {
        const char* what;
        std::string line;
        const std::vector<sdp::CodecSpec>* ours;
        std::string rtpmap;  // "" : nothing we can answer with
        std::string fmtp;
    };
    const Case cases[] = {
        {"opus before G.711 whatever the offer's order",
         "m=audio 5000 RTP/AVP 0 8 109\r\na=rtpmap:109 opus/48000/2\r\n", &audio, "109 opus/48000/2",
         "minptime=10;useinbandfec=1"},
        {"PCMA before PCMU", "m=audio 5000 RTP/AVP 0 8\r\n", &audio, "8 PCMA/8000", ""},
        {"single-NAL mode only: answered in single-NAL mode",
         "m=video 5002 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 profile-level-id=42e01f;packetization-mode=0\r\n",
         &h264, "96 H264/90000", "profile-level-id=42e01f"},
        {"no mode at all is single-NAL mode",
         "m=video 5002 RTP/AVP 100\r\na=rtpmap:100 H264/90000\r\na=fmtp:100 profile-level-id=42801f\r\n", &h264,
         "100 H264/90000", "profile-level-id=42801f"},
        {"both modes, non-interleaved first",
         "m=video 5002 RTP/AVP 97 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=0\r\n"
         "a=rtpmap:97 H264/90000\r\na=fmtp:97 profile-level-id=4d0032; packetization-mode=1\r\n",
         &h264, "97 H264/90000", "profile-level-id=4d0032;packetization-mode=1"},
        {"both modes, single-NAL first: the first of a name is the one answered",
         "m=video 5002 RTP/AVP 96 97\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=0\r\n"
         "a=rtpmap:97 H264/90000\r\na=fmtp:97 profile-level-id=4d0032; packetization-mode=1\r\n",
         &h264, "96 H264/90000", "profile-level-id=42000a"},
        {"an interleaved first H.264 leaves VP8",
         "m=video 5002 RTP/AVP 96 97 100\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=2\r\n"
         "a=rtpmap:97 H264/90000\r\na=fmtp:97 packetization-mode=1\r\na=rtpmap:100 VP8/90000\r\n",
         &video, "100 VP8/90000", ""},
        {"interleaved mode is not ours",
         "m=video 5002 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=2\r\n", &h264, "", ""},
        {"a profile our stream does not fit (high 4:4:4)",
         "m=video 5002 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 profile-level-id=f4001f;packetization-mode=1\r\n",
         &h264, "", ""},
        {"VP8 first in our list",
         "m=video 5002 RTP/AVP 126 120\r\na=rtpmap:126 H264/90000\r\na=fmtp:126 packetization-mode=1\r\n"
         "a=rtpmap:120 VP8/90000\r\n",
         &video, "120 VP8/90000", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = sdp::parse(desc(c.line));
        ASSERT_TRUE(s);
        auto answer = sdp::answerCodec(s->media[0], *c.ours);
        if (c.rtpmap.empty()) {
            EXPECT_FALSE(answer) << answer->name;
            EXPECT_FALSE(sdp::hasUsable(*s, s->media[0].type == "audio" ? media::StreamKind::Audio : media::StreamKind::Video, *c.ours));
            continue;
        }
        ASSERT_TRUE(answer);
        EXPECT_EQ(std::to_string(answer->payloadType) + " " + answer->name + "/" + std::to_string(answer->clockRate) +
                      (answer->channels > 1 ? "/" + std::to_string(answer->channels) : ""),
                  c.rtpmap);
        EXPECT_EQ(answer->fmtp, c.fmtp);

        // Written as an answer, the line carries that codec alone, and the
        // plan of the two descriptions is that codec.
        sdp::Offer o;
        o.address = "127.0.0.1";
        o.audioPort = 4000;
        o.videoPort = 4002;
        o.audioCodecs = c.ours == &audio ? audio : sdp::codecsFromList("pcmu", media::StreamKind::Audio, false);
        o.video = c.ours != &audio;
        o.videoCodecs = *c.ours;
        o.answerTo = &*s;
        auto written = sdp::parse(sdp::write(o));
        ASSERT_TRUE(written);
        const auto& line = written->media[o.video ? 1 : 0];
        ASSERT_EQ(line.formats.size(), 1u);
        EXPECT_EQ(line.formats[0].payloadType, answer->payloadType);
        EXPECT_EQ(line.formats[0].fmtp, c.fmtp);
        const auto kind = o.video ? media::StreamKind::Video : media::StreamKind::Audio;
        auto p = sdp::plan(*written, *s, kind, *c.ours);
        EXPECT_TRUE(p.active);
        EXPECT_EQ(p.codec.payloadType, answer->payloadType);
    }
}

TEST(SipEngineSdp, PacketTimeIsThePeersPtimeWithinItsMaxptime) {
    const auto ours = sdp::codecsFromList("pcmu", media::StreamKind::Audio, false);
    auto l = sdp::parse(desc("m=audio 4000 RTP/AVP 0\r\n"));
    ASSERT_TRUE(l);
    struct Case {
        const char* attributes;
        int packetTimeMs;
    };
    const Case cases[] = {
        {"", 0},
        {"a=ptime:20\r\n", 20},
        {"a=ptime:40\r\na=maxptime:60\r\n", 40},
        {"a=ptime:60\r\na=maxptime:30\r\n", 30},
        {"a=maxptime:10\r\n", 10},
        {"a=maxptime:150\r\n", 0},
        {"a=ptime:20.5\r\n", 20},
        {"a=ptime:x\r\n", 0},
    };
    for (const auto& c : cases) {
        auto r = sdp::parse(desc(std::string("m=audio 5000 RTP/AVP 0\r\n") + c.attributes));
        ASSERT_TRUE(r);
        EXPECT_EQ(sdp::plan(*l, *r, media::StreamKind::Audio, ours).packetTimeMs, c.packetTimeMs) << c.attributes;
    }
}

TEST(SipEngineSdp, TextThatIsNotADescriptionIsRefusedWithAReason) {
    for (const std::string& bad : {std::string(), std::string("hello"), std::string("v=1\r\n"),
                                  std::string("v=0\r\nm=audio x RTP/AVP 0\r\n"), std::string("v=0\r\nm=audio\r\n"),
                                  std::string("v=0\r\nm=audio 70000 RTP/AVP 0\r\n"),
                                  std::string(sdp::kMaxSdpBytes + 1, 'v')}) {
        std::string why;
        EXPECT_FALSE(sdp::parse(bad, &why)) << bad.substr(0, 40);
        EXPECT_FALSE(why.empty());
    }
    std::string many = "v=0\r\n";
    for (int i = 0; i < 40; ++i) many += "m=audio 5000 RTP/AVP 0\r\n";
    EXPECT_FALSE(sdp::parse(many));
}

TEST(SipEngineSdp, OfferNamesOurPortsAndCodecs) {
    sdp::Offer o;
    o.address = "127.0.0.1";
    o.audioPort = 4000;
    o.audioCodecs = sdp::codecsFromList("PCMU,PCMA", media::StreamKind::Audio, false);
    o.video = true;
    o.videoPort = 0;
    o.videoCodecs = sdp::codecsFromList("H264", media::StreamKind::Video, false);
    auto s = sdp::parse(sdp::write(o));
    ASSERT_TRUE(s);
    ASSERT_EQ(s->media.size(), 2u);
    EXPECT_EQ(s->media[0].port, 4000);
    EXPECT_EQ(s->media[0].formats.size(), 2u);
    EXPECT_EQ(s->media[1].port, 0) << "video offered rejected";
    EXPECT_EQ(s->media[1].formats[0].fmtp, "profile-level-id=42e01f;packetization-mode=1");
}

// Keyframe requests: what the far end accepts is read per format ("*" for
// all of them), and our video line offers PLI, FIR and NACK for every format.
TEST(SipEngineSdp, KeyframeFeedbackIsReadPerFormatAndOfferedOnVideo) {
    using F = media::Codec::Feedback;
    struct Case {
        const char* what;
        std::string lines;
        F for96, for97;
    };
    const Case cases[] = {
        {"none", "", {}, {}},
        {"per format", "a=rtcp-fb:96 nack pli\r\na=rtcp-fb:97 ccm fir\r\n", {false, true, false}, {false, false, true}},
        {"wildcard", "a=rtcp-fb:* nack\r\na=rtcp-fb:* nack pli\r\n", {true, true, false}, {true, true, false}},
        {"kinds we do not use and junk", "a=rtcp-fb:96 goog-remb\r\na=rtcp-fb:96 ccm tmmbr\r\na=rtcp-fb:300 nack pli\r\n"
                                         "a=rtcp-fb:96\r\na=rtcp-fb:x nack pli\r\n", {}, {}},
    };
    const auto video = sdp::codecsFromList("H264", media::StreamKind::Video, false);
    auto local = sdp::parse(desc("m=video 4002 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", "c=IN IP4 127.0.0.1\r\n"));
    ASSERT_TRUE(local);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = sdp::parse(desc("m=video 5002 RTP/AVP 96 97\r\na=rtpmap:96 H264/90000\r\na=rtpmap:97 H264/90000\r\n" + c.lines));
        ASSERT_TRUE(r);
        ASSERT_EQ(r->media[0].formats.size(), 2u);
        EXPECT_EQ(r->media[0].formats[0].feedback, c.for96);
        EXPECT_EQ(r->media[0].formats[1].feedback, c.for97);
        EXPECT_EQ(sdp::plan(*local, *r, media::StreamKind::Video, video).codec.feedback, c.for96);
    }

    sdp::Offer o;
    o.address = "127.0.0.1";
    o.audioPort = 4000;
    o.audioCodecs = sdp::codecsFromList("PCMU", media::StreamKind::Audio, false);
    o.video = true;
    o.videoPort = 4002;
    o.videoCodecs = video;
    auto offered = sdp::parse(sdp::write(o));
    ASSERT_TRUE(offered);
    ASSERT_EQ(offered->media.size(), 2u);
    EXPECT_EQ(offered->media[0].formats[0].feedback, F{}) << "no feedback on audio";
    for (const auto& f : offered->media[1].formats) EXPECT_EQ(f.feedback, (F{true, true, true})) << f.payloadType;
}

TEST(SipEngineHeaders, CustomHeaderMapKeepsValidXHeadersOnly) {
    auto map = headers::readCustom({{"X-room-no", "a0101"},
                                    {"X-room-no", "second"},
                                    {"Subject", "not custom"},
                                    {"X-bad name", "v"},
                                    {"X-Latin1", "caf\xe9"},
                                    {"X-Overlong", "\xc0\xaf"},
                                    {"X-Surrogate", "\xed\xa0\x80"},
                                    {"X-Chinese", "\xe4\xb8\xad\xe6\x96\x87"},
                                    {"X-Big", std::string(headers::kMaxValueBytes + 1, 'a')}});
    EXPECT_EQ(map, (std::map<std::string, std::string>{{"X-room-no", "a0101"}, {"X-Chinese", "\xe4\xb8\xad\xe6\x96\x87"}}));

    EXPECT_EQ(headers::writeBlock({{"X-room-no", "101"}, {"X-Evil", "a\r\nVia: x"}, {"Bad Name", "v"}, {"X-Nul", std::string("a\0b", 3)}}),
              "X-room-no: 101\r\n");
}

TEST(SipEngineHeaders, DtmfRelayBodies) {
    struct Case {
        std::string body;
        std::optional<char> tone;
    };
    const Case cases[] = {
        {"Signal=7\r\nDuration=160\r\n", '7'}, {"Signal= 7\nDuration=100", '7'}, {"signal=#\r\n", '#'},
        {"Signal=10\r\n", '*'},                {"Signal=11\r\n", '#'},            {"Signal=a\r\n", 'A'},
        {"Signal=77\r\n", std::nullopt},       {"Signal=\r\n", std::nullopt},     {"Duration=160\r\n", std::nullopt},
        {"", std::nullopt},                    {"Signal=E\r\n", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(headers::readDtmfRelay(c.body), c.tone) << c.body;
    EXPECT_EQ(headers::readDtmfRelay(headers::writeDtmfRelay('7')), '7');
}

}  // namespace
}  // namespace pellix::test
