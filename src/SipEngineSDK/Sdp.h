#pragma once
// SDP as the engine reads and writes it: the reader turns the text sofia hands
// over into media lines, the planner turns the negotiated pair into the
// StreamPlan's the call's media applies, and the writer makes the session
// description the engine offers (sofia's offer/answer engine derives answers
// from it).
//
// No I/O and no state: text in, records out. The reader never trusts the text:
// sizes are capped (kMaxSdpBytes, kMaxMediaLines, kMaxFormats), numbers are
// range-checked, and anything it does not understand is skipped; a text that
// is not SDP at all gives nullopt with the reason.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SipEngineSDK/CallMedia.h"

namespace client::sdp {

inline constexpr std::size_t kMaxSdpBytes = 64 * 1024;
inline constexpr std::size_t kMaxMediaLines = 16;
inline constexpr std::size_t kMaxFormats = 64;

struct Format {
    int payloadType = -1;
    std::string name;   // from rtpmap, or the static payload table; empty when unknown
    int clockRate = 0;
    int channels = 1;
    std::string fmtp;
    media::Codec::Feedback feedback;  // from a=rtcp-fb for this format or for "*"
};

struct MediaLine {
    std::string type;   // "audio", "video", ...
    uint16_t port = 0;
    std::string proto;  // "RTP/AVP", ...
    std::vector<Format> formats;
    std::string address;  // c= of the line, else the session's
    uint16_t rtcpPort = 0;
    media::Direction direction = media::Direction::SendReceive;
    int ptime = 0;     // a=ptime in ms, 0 when absent
    int maxptime = 0;  // a=maxptime in ms, 0 when absent
};

struct Session {
    std::string address;
    std::vector<MediaLine> media;
};

std::optional<Session> parse(std::string_view text, std::string* error = nullptr);

// A codec the engine can offer.
struct CodecSpec {
    std::string name;       // rtpmap spelling: "PCMU", "PCMA", "G729", "opus", "VP8", "VP9", "H264"
    int payloadType = -1;   // static number, or the dynamic one we offer
    int clockRate = 8000;
    int channels = 1;
    std::string fmtp;
};

// The codecs named in a configuration list ("g729,PCMU,PCMA"), in list order,
// case-insensitive, unknown and repeated names dropped, and those `carried`
// refuses (it is asked with the rtpmap spelling; the media stack says whether
// it can both send and receive the codec). One name may give more than one
// entry: "h264" is offered in non-interleaved and in single-NAL mode.
std::vector<CodecSpec> codecsCarried(std::string_view list, media::StreamKind kind,
                                     const std::function<bool(const std::string&)>& carried);
// The same with every codec carried except G.729, which needs `g729Encoder`.
std::vector<CodecSpec> codecsFromList(std::string_view list, media::StreamKind kind, bool g729Encoder);

// The codec we answer an offered line with: the first of `ours` (our order)
// that the line offers with format parameters we honour, as the offer spells
// it (its payload number) with the parameters of our answer. Of formats with
// one name (two H.264 modes) only the first offered is answerable: sofia's
// offer-answer engine numbers our codec after it. For H.264 the
// packetization mode must be one we send and receive (0 or 1) and equal to
// ours, and the profile one whose decoders take the constrained baseline
// stream we send; the answer keeps the offered profile-level-id.
std::optional<CodecSpec> answerCodec(const MediaLine& offered, const std::vector<CodecSpec>& ours);

struct Offer {
    uint64_t sessionId = 1;
    uint64_t version = 1;
    std::string address;          // IPv4 or IPv6 literal
    uint16_t audioPort = 0;
    std::vector<CodecSpec> audioCodecs;
    bool video = false;           // no video line at all when false
    uint16_t videoPort = 0;       // 0 with video: the line is offered rejected
    std::vector<CodecSpec> videoCodecs;
    std::string userName = "-";
    // When set, the description answers this offer: each line carries only
    // the codec answerCodec() picks from the offered line (none: the line
    // goes out rejected, with our first codec).
    const Session* answerTo = nullptr;
};
std::string write(const Offer& offer);

// The stream of `kind` agreed between our description and the peer's: active
// when both have the line with a non-zero port on RTP, a codec of ours is in
// the peer's line and the peer named an address. The codec is the peer's
// first format that our description carries under the same number and name
// (after an offer and answer: the answer's codec), else the peer's first
// format we honour (with the peer's payload number, which is what we must
// send); the direction is ours as seen from this side. The packet time is
// the peer's ptime, capped by its maxptime.
media::StreamPlan plan(const Session& local, const Session& remote, media::StreamKind kind,
                       const std::vector<CodecSpec>& ours);

// True when the description has an active line of `kind` with a codec we know.
bool hasUsable(const Session& session, media::StreamKind kind, const std::vector<CodecSpec>& ours);

}  // namespace client::sdp
