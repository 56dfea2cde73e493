// The SIP engine's own readers of what sofia hands over: SDP offers and
// answers turned into stream plans, custom header maps, DTMF relay bodies and
// the record's fixed text fields.
//
// Input: byte 0 picks the reader, the rest is its text. Properties checked,
// not just survival: a plan is only ever active with a codec we offer, a
// non-zero port and an address literal; what the offer writer makes parses
// back to the same ports; a header map holds only X- tokens with valid UTF-8
// values within the caps, and the block we send has one header per line; a
// fixed field never exceeds 63 bytes, is a prefix of the input and stays
// valid UTF-8 when the input was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "SipEngineSDK/Sdp.h"
#include "SipEngineSDK/SipEngineConfig.h"
#include "SipEngineSDK/SipHeaders.h"

namespace {

using namespace client;

void check(bool ok) {
    if (!ok) std::abort();
}

bool addressLiteral(const std::string& a) {
    if (a.empty()) return false;
    for (char c : a)
        if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':')) return false;
    return true;
}

void sdpPair(std::string_view text) {
    // Our side is a fixed description; the fuzzer writes the peer's.
    static const auto audio = sdp::codecsFromList("g729,PCMU,PCMA,opus", media::StreamKind::Audio, true);
    static const auto video = sdp::codecsFromList("H264,VP8", media::StreamKind::Video, false);
    static const auto local = [] {
        sdp::Offer o;
        o.address = "127.0.0.1";
        o.audioPort = 4000;
        o.audioCodecs = audio;
        o.video = true;
        o.videoPort = 4002;
        o.videoCodecs = video;
        return *sdp::parse(sdp::write(o));
    }();
    std::string why;
    auto remote = sdp::parse(text, &why);
    if (!remote) {
        check(!why.empty());
        return;
    }
    check(remote->media.size() <= sdp::kMaxMediaLines);
    for (const auto& m : remote->media) check(m.formats.size() <= sdp::kMaxFormats);
    for (auto kind : {media::StreamKind::Audio, media::StreamKind::Video}) {
        const auto& ours = kind == media::StreamKind::Audio ? audio : video;
        auto p = sdp::plan(local, *remote, kind, ours);
        check(p.kind == kind);
        if (!p.active) continue;
        check(p.remoteRtpPort != 0 && addressLiteral(p.remoteAddress));
        bool known = false;
        for (const auto& c : ours)
            known |= strcasecmp(c.name.c_str(), p.codec.name.c_str()) == 0 && c.clockRate == p.codec.clockRate;
        check(known);
        check(static_cast<int>(p.direction) >= 0 && static_cast<int>(p.direction) <= 3);
        check(sdp::hasUsable(*remote, kind, ours));
        // Answering it: what we write parses back with our own ports.
        sdp::Offer o;
        o.address = p.remoteAddress;
        o.audioPort = 4000;
        o.audioCodecs = audio;
        o.video = kind == media::StreamKind::Video;
        o.videoPort = 4002;
        o.videoCodecs = video;
        auto back = sdp::parse(sdp::write(o));
        check(back && back->media.size() == (o.video ? 2u : 1u) && back->media[0].port == 4000);
    }
}

void headerMap(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> raw;
    std::size_t pos = 0;
    while (pos < text.size() && raw.size() < 100) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        raw.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 1)));
    }
    auto map = headers::readCustom(raw);
    check(map.size() <= headers::kMaxHeaders);
    for (const auto& [name, value] : map) {
        check(name.size() >= 2 && (name[0] == 'X' || name[0] == 'x') && name[1] == '-' && headers::isToken(name));
        check(value.size() <= headers::kMaxValueBytes && headers::isValidUtf8(value));
    }
    std::map<std::string, std::string> outgoing(raw.begin(), raw.end());
    std::string block = headers::writeBlock(outgoing);
    std::size_t lines = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (block[i] == '\n') check(i > 0 && block[i - 1] == '\r');
        if (block[i] == '\r') check(i + 1 < block.size() && block[i + 1] == '\n');
        if (block[i] == '\n') ++lines;
        check(block[i] != '\0');
    }
    check(lines <= outgoing.size() && lines <= headers::kMaxHeaders);
}

void dtmf(std::string_view text) {
    if (auto tone = headers::readDtmfRelay(text)) {
        check(headers::isDtmfTone(*tone));
        check(headers::readDtmfRelay(headers::writeDtmfRelay(*tone)) == tone);
    }
}

void fixedField(std::string_view text) {
    char field[64];
    std::memset(field, 0x5a, sizeof(field));
    setText(field, text);
    std::string out = textOf(field);
    check(field[63] == '\0' && out.size() <= 63);
    check(text.substr(0, out.size()) == out);
    if (headers::isValidUtf8(text)) check(headers::isValidUtf8(out));
    check(utf8PrefixLength(text, 63) <= 63);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
    case 0: sdpPair(text); break;
    case 1: headerMap(text); break;
    case 2: dtmf(text); break;
    default: fixedField(text); break;
    }
    return 0;
}
