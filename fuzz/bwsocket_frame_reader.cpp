// The WebSocket frame reader on arbitrary server bytes.
//
// Input: byte 0 seeds the chunking and picks the message cap, the rest is
// the stream after the handshake. The stream is read whole, in pseudo-random
// pieces and byte by byte; all three must give the same events. Every text
// message must be valid UTF-8 (ICU's one-shot check), no message may exceed
// the cap, no control payload may exceed 125 bytes, and nothing may follow a
// close frame or an error.
#include <unicode/ustring.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "BWSocket/BWFrameReader.h"

namespace {

using pellix::BWFrameReader;
using pellix::BWOpcode;
using pellix::platform::Bytes;

bool icuValid(const Bytes& b) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, reinterpret_cast<const char*>(b.data()), static_cast<int32_t>(b.size()), &status);
    return status != U_INVALID_CHAR_FOUND && status != U_ILLEGAL_ARGUMENT_ERROR;
}

struct Events : pellix::BWFrameReaderHandler {
    std::uint64_t cap = 0;
    std::vector<std::string> log;
    bool ended = false;

    void after() {
        if (ended) std::abort();  // an event after the close frame or an error
    }
    void frameReaderMessage(BWOpcode opcode, Bytes&& payload) override {
        after();
        if (payload.size() > cap) std::abort();
        if (opcode == pellix::BWOpcodeText && !icuValid(payload)) std::abort();
        if (opcode != pellix::BWOpcodeText && opcode != pellix::BWOpcodeBinary) std::abort();
        log.push_back(std::to_string(opcode) + ":" + std::string(payload.begin(), payload.end()));
    }
    void frameReaderPing(std::span<const std::uint8_t> p) override {
        after();
        if (p.size() > 125) std::abort();
        log.push_back("ping:" + std::string(p.begin(), p.end()));
    }
    void frameReaderPong(std::span<const std::uint8_t> p) override {
        after();
        if (p.size() > 125) std::abort();
        log.push_back("pong:" + std::string(p.begin(), p.end()));
    }
    void frameReaderClose(std::uint16_t code, std::optional<std::string> reason) override {
        after();
        if (code != 1005 && !pellix::BWCloseCodeIsValid(code)) std::abort();
        ended = true;
        log.push_back("close:" + std::to_string(code) + ":" + reason.value_or("-"));
    }
    void frameReaderError(std::uint16_t code, std::string reason) override {
        after();
        if (code != 1002 && code != 1007 && code != 1009) std::abort();
        ended = true;
        log.push_back("error:" + std::to_string(code) + ":" + reason);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t seed = data[0];
    // Small caps reach the size check; the default one the large lengths.
    const std::uint64_t cap = (seed & 3) == 0 ? BWFrameReader::kDefaultMaxMessageSize : std::uint64_t{64} << (seed & 3);
    std::span<const std::uint8_t> stream(data + 1, size - 1);

    auto run = [&](auto&& pieces) {
        BWFrameReader reader(cap);
        Events events;
        events.cap = cap;
        pieces(reader, events);
        if (reader.stopped() != events.ended) std::abort();
        return events.log;
    };
    const auto whole = run([&](BWFrameReader& r, Events& e) { r.feed(stream, e); });
    const auto chunked = run([&](BWFrameReader& r, Events& e) {
        std::uint32_t state = seed * 2654435761u + 1;
        std::size_t at = 0;
        while (at < stream.size()) {
            state = state * 1103515245u + 12345u;
            const std::size_t n = std::min<std::size_t>(stream.size() - at, (state >> 16) % 300);
            r.feed(stream.subspan(at, n), e);
            at += n;
        }
    });
    const auto bytes = run([&](BWFrameReader& r, Events& e) {
        for (std::size_t i = 0; i < stream.size(); ++i) r.feed(stream.subspan(i, 1), e);
    });
    if (whole != chunked || whole != bytes) std::abort();
    return 0;
}
