#include "SipEngineSDK/Sdp.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace client::sdp {
namespace {

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

template <typename T>
bool number(std::string_view s, T& out, T max) {
    if (s.empty() || s.size() > 10) return false;
    unsigned long long v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || v > static_cast<unsigned long long>(max)) return false;
    out = static_cast<T>(v);
    return true;
}

std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        std::size_t j = i;
        while (j < s.size() && s[j] != ' ') ++j;
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

// "IN IP4 192.0.2.1" -> the address, empty when it is not an address literal
// we could send to (host names are not looked up: nothing goes to a name the
// peer chose).
std::string connectionAddress(std::string_view value) {
    auto w = words(value);
    if (w.size() < 3 || w[0] != "IN" || (w[1] != "IP4" && w[1] != "IP6")) return {};
    std::string_view a = w[2];
    if (auto slash = a.find('/'); slash != std::string_view::npos) a = a.substr(0, slash);
    if (a.empty() || a.size() > 45) return {};
    for (char c : a)
        if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':')) return {};
    return std::string(a);
}

struct StaticType {
    int pt;
    const char* name;
    int rate;
};
constexpr StaticType kStatic[] = {{0, "PCMU", 8000}, {3, "GSM", 8000}, {8, "PCMA", 8000},
                                  {9, "G722", 8000}, {18, "G729", 8000}, {34, "H263", 90000}};

Format* findFormat(MediaLine& m, int pt) {
    for (auto& f : m.formats)
        if (f.payloadType == pt) return &f;
    return nullptr;
}

void attribute(MediaLine* m, std::string_view a, media::Direction& sessionDirection) {
    auto colon = a.find(':');
    std::string_view name = a.substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? std::string_view{} : a.substr(colon + 1);
    media::Direction* dir = m ? &m->direction : &sessionDirection;
    if (name == "sendrecv") *dir = media::Direction::SendReceive;
    else if (name == "sendonly") *dir = media::Direction::SendOnly;
    else if (name == "recvonly") *dir = media::Direction::ReceiveOnly;
    else if (name == "inactive") *dir = media::Direction::Inactive;
    if (!m) return;
    if (name == "rtcp") {
        auto w = words(value);
        if (!w.empty()) number(w[0], m->rtcpPort, uint16_t(65535));
    } else if (name == "rtcp-fb") {
        // "<pt or *> nack", "... nack pli", "... ccm fir"; other kinds are not used.
        auto w = words(value);
        if (w.size() < 2) return;
        int pt = -1;
        if (w[0] != "*" && !number(w[0], pt, 127)) return;
        for (auto& f : m->formats) {
            if (pt >= 0 && f.payloadType != pt) continue;
            if (w[1] == "nack" && w.size() == 2) f.feedback.nack = true;
            else if (w[1] == "nack" && w[2] == "pli") f.feedback.pli = true;
            else if (w[1] == "ccm" && w.size() > 2 && w[2] == "fir") f.feedback.fir = true;
        }
    } else if (name == "ptime" || name == "maxptime") {
        // Whole milliseconds; a fraction ("20.5") keeps its whole part.
        auto w = words(value);
        int ms = 0;
        if (w.empty() || !number(w[0].substr(0, w[0].find('.')), ms, 10000)) return;
        (name == "ptime" ? m->ptime : m->maxptime) = ms;
    } else if (name == "rtpmap" || name == "fmtp") {
        auto space = value.find(' ');
        if (space == std::string_view::npos) return;
        int pt = 0;
        if (!number(value.substr(0, space), pt, 127)) return;
        Format* f = findFormat(*m, pt);
        if (!f) return;
        std::string_view rest = value.substr(space + 1);
        if (name == "fmtp") {
            f->fmtp = std::string(rest.substr(0, 512));
            return;
        }
        // encoding/clock[/channels]
        auto s1 = rest.find('/');
        if (s1 == std::string_view::npos || s1 == 0 || s1 > 32) return;
        std::string_view clock = rest.substr(s1 + 1), channels;
        if (auto s2 = clock.find('/'); s2 != std::string_view::npos) {
            channels = clock.substr(s2 + 1);
            clock = clock.substr(0, s2);
        }
        int rate = 0, ch = 1;
        if (!number(clock, rate, 1000000) || rate == 0) return;
        if (!channels.empty() && !number(channels, ch, 8)) return;
        f->name = std::string(rest.substr(0, s1));
        f->clockRate = rate;
        f->channels = ch == 0 ? 1 : ch;
    }
}

}  // namespace

std::optional<Session> parse(std::string_view text, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<Session> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (text.size() > kMaxSdpBytes) return fail("description too large");
    Session s;
    media::Direction sessionDirection = media::Direction::SendReceive;
    std::vector<bool> explicitDirection;
    bool sawVersion = false;
    MediaLine* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (line.size() < 2 || line[1] != '=') return fail("line without type=value");
        char type = line[0];
        std::string_view value = line.substr(2);
        if (!sawVersion) {
            if (type != 'v' || value != "0") return fail("description does not start with v=0");
            sawVersion = true;
            continue;
        }
        switch (type) {
        case 'c': {
            std::string a = connectionAddress(value);
            if (current) current->address = a;
            else s.address = a;
            break;
        }
        case 'm': {
            if (s.media.size() == kMaxMediaLines) return fail("too many media lines");
            auto w = words(value);
            MediaLine m;
            if (w.size() < 3) return fail("malformed m= line");
            m.type = std::string(w[0].substr(0, 32));
            std::string_view port = w[1];
            if (auto slash = port.find('/'); slash != std::string_view::npos) port = port.substr(0, slash);
            if (!number(port, m.port, uint16_t(65535))) return fail("malformed m= port");
            m.proto = std::string(w[2].substr(0, 32));
            for (std::size_t i = 3; i < w.size() && m.formats.size() < kMaxFormats; ++i) {
                Format f;
                if (!number(w[i], f.payloadType, 127) || findFormat(m, f.payloadType)) continue;
                for (const auto& st : kStatic)
                    if (st.pt == f.payloadType) {
                        f.name = st.name;
                        f.clockRate = st.rate;
                    }
                m.formats.push_back(std::move(f));
            }
            m.direction = sessionDirection;
            s.media.push_back(std::move(m));
            current = &s.media.back();
            break;
        }
        case 'a':
            attribute(current, value, sessionDirection);
            break;
        default:
            break;
        }
    }
    if (!sawVersion) return fail("empty description");
    for (auto& m : s.media)
        if (m.address.empty()) m.address = s.address;
    return s;
}

namespace {

// The value of `key` in an fmtp text ("a=1;b=2", spaces allowed), if present.
std::optional<std::string_view> fmtpValue(std::string_view fmtp, std::string_view key) {
    std::size_t pos = 0;
    while (pos < fmtp.size()) {
        std::size_t end = fmtp.find(';', pos);
        if (end == std::string_view::npos) end = fmtp.size();
        std::string_view item = fmtp.substr(pos, end - pos);
        pos = end + 1;
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        auto eq = item.find('=');
        std::string_view k = item.substr(0, eq);
        while (!k.empty() && k.back() == ' ') k.remove_suffix(1);
        if (!iequals(k, key)) continue;
        std::string_view v = eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
        while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
        return v;
    }
    return std::nullopt;
}

// RFC 6184: a missing packetization-mode is mode 0, a missing
// profile-level-id is baseline at level 1.0.
int h264Mode(std::string_view fmtp) {
    int mode = 0;
    if (auto v = fmtpValue(fmtp, "packetization-mode"); v && !number(*v, mode, 2)) return -1;
    return mode;
}

std::optional<uint32_t> h264ProfileLevel(std::string_view fmtp) {
    auto v = fmtpValue(fmtp, "profile-level-id");
    if (!v) return 0x42000a;
    if (v->size() != 6) return std::nullopt;
    uint32_t out = 0;
    auto [p, ec] = std::from_chars(v->data(), v->data() + v->size(), out, 16);
    if (ec != std::errc() || p != v->data() + v->size()) return std::nullopt;
    return out;
}

// We send a constrained baseline stream; decoders of these profiles take it
// (baseline, main, extended, high). Anything else (high 10, 4:2:2, 4:4:4,
// scalable or multiview profiles) we do not claim.
bool h264ProfileTakesOurStream(uint32_t profileLevel) {
    switch (profileLevel >> 16) {
    case 0x42: case 0x4d: case 0x58: case 0x64: return true;
    default: return false;
    }
}

bool isH264(std::string_view name) { return iequals(name, "H264"); }

// Whether the offered or answered format is our codec with parameters we honour.
bool honours(const Format& f, const CodecSpec& c) {
    if (!iequals(f.name, c.name) || f.clockRate != c.clockRate) return false;
    if (isH264(c.name)) {
        auto profile = h264ProfileLevel(f.fmtp);
        return h264Mode(f.fmtp) == h264Mode(c.fmtp) && profile && h264ProfileTakesOurStream(*profile);
    }
    return true;
}

}  // namespace

std::vector<CodecSpec> codecsCarried(std::string_view list, media::StreamKind kind,
                                     const std::function<bool(const std::string&)>& carried) {
    struct Entry {
        const char* key;  // as the host lists it
        CodecSpec spec;
    };
    // Dynamic numbers as general-purpose phones commonly use them, so that
    // an answer rarely has to renumber.
    static const Entry kAudio[] = {
        {"opus", {"opus", 111, 48000, 2, "minptime=10;useinbandfec=1"}},
        {"g729", {"G729", 18, 8000, 1, "annexb=no"}},
        {"pcmu", {"PCMU", 0, 8000, 1, ""}},
        {"pcma", {"PCMA", 8, 8000, 1, ""}},
    };
    static const Entry kVideo[] = {
        {"vp8", {"VP8", 97, 90000, 1, ""}},
        {"vp9", {"VP9", 98, 90000, 1, ""}},
        {"h264", {"H264", 96, 90000, 1, "profile-level-id=42e01f;packetization-mode=1"}},
        // Peers that take only single NAL units (mode 0) get them too.
        {"h264", {"H264", 99, 90000, 1, "profile-level-id=42e01f"}},
    };
    std::vector<CodecSpec> out;
    std::vector<std::string_view> seen;
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t comma = list.find(',', pos);
        if (comma == std::string_view::npos) comma = list.size();
        std::string_view name = list.substr(pos, comma - pos);
        while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        pos = comma + 1;
        auto pick = [&](const auto& table) {
            if (std::any_of(seen.begin(), seen.end(), [&](std::string_view k) { return iequals(k, name); })) return;
            for (const auto& e : table) {
                if (!iequals(e.key, name)) continue;
                if (carried(e.spec.name)) out.push_back(e.spec);
                if (seen.empty() || seen.back() != e.key) seen.push_back(e.key);
            }
        };
        if (kind == media::StreamKind::Audio) pick(kAudio);
        else pick(kVideo);
    }
    return out;
}

std::vector<CodecSpec> codecsFromList(std::string_view list, media::StreamKind kind, bool g729Encoder) {
    return codecsCarried(list, kind, [g729Encoder](const std::string& name) { return name != "G729" || g729Encoder; });
}

std::optional<CodecSpec> answerCodec(const MediaLine& offered, const std::vector<CodecSpec>& ours) {
    // sofia's offer-answer engine gives each codec of our answer the number
    // of the first offered format with its name, rate and channels, whatever
    // their parameters: only that format can be answered with its own.
    auto firstOfItsName = [&](const Format& f) {
        for (const auto& g : offered.formats) {
            if (iequals(g.name, f.name) && g.clockRate == f.clockRate && g.channels == f.channels) return &g == &f;
        }
        return false;
    };
    for (const auto& c : ours)
        for (const auto& f : offered.formats) {
            if (!honours(f, c) || !firstOfItsName(f)) continue;
            CodecSpec answer = c;
            answer.payloadType = f.payloadType;
            answer.name = f.name;
            answer.channels = f.channels;
            if (isH264(c.name)) {
                // The offered profile and level describe what the offerer
                // decodes; our constrained baseline stream fits them. The
                // mode is the one both use on this number.
                const auto offeredProfile = fmtpValue(f.fmtp, "profile-level-id");
                answer.fmtp = "profile-level-id=" + std::string(offeredProfile ? *offeredProfile : "42000a");
                if (h264Mode(c.fmtp) != 0) answer.fmtp += ";packetization-mode=" + std::to_string(h264Mode(c.fmtp));
            }
            return answer;
        }
    return std::nullopt;
}

std::string write(const Offer& o) {
    bool v6 = o.address.find(':') != std::string::npos;
    std::string ip = v6 ? "IP6 " : "IP4 ";
    std::string s;
    s += "v=0\r\n";
    s += "o=" + o.userName + " " + std::to_string(o.sessionId) + " " + std::to_string(o.version) + " IN " + ip +
         o.address + "\r\n";
    s += "s=-\r\n";
    s += "c=IN " + ip + o.address + "\r\n";
    s += "t=0 0\r\n";
    auto line = [&](const char* type, uint16_t port, std::vector<CodecSpec> codecs) {
        if (o.answerTo) {
            const MediaLine* offered = nullptr;
            for (const auto& m : o.answerTo->media)
                if (m.type == type && !offered) offered = &m;
            auto chosen = offered && offered->port != 0 ? answerCodec(*offered, codecs) : std::nullopt;
            if (chosen) codecs = {*chosen};
            else {
                port = 0;
                codecs.resize(1);
            }
        }
        s += std::string("m=") + type + " " + std::to_string(port) + " RTP/AVP";
        for (const auto& c : codecs) s += " " + std::to_string(c.payloadType);
        s += "\r\n";
        for (const auto& c : codecs) {
            s += "a=rtpmap:" + std::to_string(c.payloadType) + " " + c.name + "/" + std::to_string(c.clockRate);
            if (c.channels > 1) s += "/" + std::to_string(c.channels);
            s += "\r\n";
            if (!c.fmtp.empty()) s += "a=fmtp:" + std::to_string(c.payloadType) + " " + c.fmtp + "\r\n";
        }
        // Keyframe requests and loss reports for every video format (the
        // wildcard stays right when the answerer renumbers the formats).
        if (port != 0 && std::string_view(type) == "video")
            s += "a=rtcp-fb:* nack\r\na=rtcp-fb:* nack pli\r\na=rtcp-fb:* ccm fir\r\n";
        if (port != 0) s += "a=sendrecv\r\n";
    };
    if (!o.audioCodecs.empty()) line("audio", o.audioPort, o.audioCodecs);
    if (o.video && !o.videoCodecs.empty()) line("video", o.videoPort, o.videoCodecs);
    return s;
}

namespace {

const MediaLine* lineOf(const Session& s, media::StreamKind kind) {
    const char* type = kind == media::StreamKind::Audio ? "audio" : "video";
    for (const auto& m : s.media)
        if (m.type == type) return &m;
    return nullptr;
}

bool isRtp(const MediaLine& m) { return m.proto == "RTP/AVP" || m.proto == "RTP/AVPF"; }

const Format* common(const MediaLine& remote, const std::vector<CodecSpec>& ours) {
    for (const auto& f : remote.formats)
        for (const auto& c : ours)
            if (honours(f, c)) return &f;
    return nullptr;
}

// The peer's first format we honour that our description carries under the
// same number and name: the codec the offer and answer settled on.
const Format* agreed(const MediaLine& local, const MediaLine& remote, const std::vector<CodecSpec>& ours) {
    for (const auto& f : remote.formats) {
        if (std::none_of(ours.begin(), ours.end(), [&](const CodecSpec& c) { return honours(f, c); })) continue;
        for (const auto& l : local.formats)
            if (l.payloadType == f.payloadType && iequals(l.name, f.name) &&
                (!isH264(f.name) || h264Mode(l.fmtp) == h264Mode(f.fmtp)))
                return &f;
    }
    return nullptr;
}

media::Direction reverse(media::Direction d) {
    switch (d) {
    case media::Direction::SendOnly: return media::Direction::ReceiveOnly;
    case media::Direction::ReceiveOnly: return media::Direction::SendOnly;
    default: return d;
    }
}

media::Direction meet(media::Direction a, media::Direction b) {
    int bits = static_cast<int>(a) & static_cast<int>(b);
    return static_cast<media::Direction>(bits);
}

}  // namespace

bool hasUsable(const Session& session, media::StreamKind kind, const std::vector<CodecSpec>& ours) {
    const MediaLine* m = lineOf(session, kind);
    return m && m->port != 0 && isRtp(*m) && common(*m, ours) != nullptr;
}

media::StreamPlan plan(const Session& local, const Session& remote, media::StreamKind kind,
                       const std::vector<CodecSpec>& ours) {
    media::StreamPlan p;
    p.kind = kind;
    const MediaLine* l = lineOf(local, kind);
    const MediaLine* r = lineOf(remote, kind);
    if (!l || !r || l->port == 0 || r->port == 0 || !isRtp(*r) || r->address.empty()) return p;
    const Format* f = agreed(*l, *r, ours);
    if (!f) f = common(*r, ours);
    if (!f) return p;
    p.active = true;
    p.remoteAddress = r->address;
    p.remoteRtpPort = r->port;
    p.remoteRtcpPort = r->rtcpPort;
    p.codec.payloadType = f->payloadType;
    p.codec.name = f->name;
    p.codec.clockRate = f->clockRate;
    p.codec.fmtp = f->fmtp;
    p.codec.feedback = f->feedback;
    p.direction = meet(l->direction, reverse(r->direction));
    p.packetTimeMs = r->ptime;
    if (r->maxptime > 0 && (p.packetTimeMs == 0 || p.packetTimeMs > r->maxptime)) {
        // Asked only for a limit: our usual 20 ms unless that is too long.
        p.packetTimeMs = p.packetTimeMs == 0 && r->maxptime >= 20 ? 0 : r->maxptime;
    }
    return p;
}

}  // namespace client::sdp
