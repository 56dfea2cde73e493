// The WebSocket handshake response parser and checks on arbitrary bytes.
//
// Input: byte 0 seeds the chunking, the rest is what the server sent. Fed
// whole and in pseudo-random pieces, the parser must reach the same result,
// response and error, never hold more than its cap, and say exactly where
// the head ended. The checks then run on any complete response.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "BWSocket/BWHandshake.h"

namespace {

using pellix::BWHandshakeResponseParser;

struct Outcome {
    BWHandshakeResponseParser::Result result;
    std::size_t headEnd;  // bytes of the input taken by the head
    std::string summary;
};

Outcome summarize(const BWHandshakeResponseParser& parser, BWHandshakeResponseParser::Result result, std::size_t taken) {
    std::string s;
    if (result == BWHandshakeResponseParser::Result::Complete) {
        const auto& r = parser.response();
        s = std::to_string(r.statusCode) + r.reasonPhrase;
        for (const auto& [n, v] : r.headers) s += "|" + n + ":" + v;
    } else if (result == BWHandshakeResponseParser::Result::Failed) {
        s = parser.error()->localizedDescription();
    }
    return {result, taken, s};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::span<const std::uint8_t> input(data + 1, size - 1);

    BWHandshakeResponseParser whole;
    std::size_t consumed = 0;
    auto result = whole.feed(input, consumed);
    if (consumed > input.size() || consumed > BWHandshakeResponseParser::kMaxHeadSize) std::abort();
    const Outcome a = summarize(whole, result, consumed);

    BWHandshakeResponseParser pieces;
    std::uint32_t state = data[0] * 2654435761u + 3;
    std::size_t at = 0;
    result = BWHandshakeResponseParser::Result::NeedMore;
    while (at < input.size() && result == BWHandshakeResponseParser::Result::NeedMore) {
        state = state * 1103515245u + 12345u;
        const std::size_t n = std::min<std::size_t>(input.size() - at, 1 + (state >> 16) % 64);
        result = pieces.feed(input.subspan(at, n), consumed);
        if (consumed > n) std::abort();
        at += consumed;
    }
    const Outcome b = summarize(pieces, result, at);
    if (a.result != b.result || a.summary != b.summary) std::abort();
    // Where the head ends is a fact of the bytes, not of how they came.
    if (a.result == BWHandshakeResponseParser::Result::Complete && a.headEnd != b.headEnd) std::abort();

    if (a.result == BWHandshakeResponseParser::Result::Complete) {
        std::optional<std::string> protocol;
        auto error = pellix::BWCheckHandshakeResponse(whole.response(), "dGhlIHNhbXBsZSBub25jZQ==",
                                                      std::vector<std::string>{"mqtt"}, protocol);
        if (!error && protocol && *protocol != "mqtt") std::abort();
    }
    return 0;
}
