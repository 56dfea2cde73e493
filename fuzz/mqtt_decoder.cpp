// The MQTT stream decoder and packet parser on arbitrary bytes.
//
// Input: byte 0 picks the protocol level (3, 4 or 5), byte 1 seeds the
// chunking, the rest is the byte stream from the broker. The stream is fed
// whole, in pseudo-random chunks and byte by byte; all three must give the
// same packets and the same end state. Every packet the parser accepts must
// encode back to its own bytes when its length field was minimal, and the
// decoder's buffer must stay within one maximal packet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "MQTTClient/MQTTByteBuffer.h"
#include "MQTTClient/MQTTFrameDecoder.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"
#include "MQTTClient/MQTTProperties.h"

namespace {

using pellix::MQTTFrameDecoder;
using pellix::platform::Bytes;

struct Outcome {
    std::vector<Bytes> packets;
    pellix::MQTTDecoderState state;
    bool operator==(const Outcome&) const = default;
};

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void checkBounded(const MQTTFrameDecoder& d) {
    check(d.buffered().size() <= MQTTFrameDecoder::kMaxPacketSize);
    check(d.bufferCapacity() <= 2 * MQTTFrameDecoder::kMaxPacketSize);
}

template <class Chunker>
Outcome run(std::span<const std::uint8_t> stream, Chunker nextChunkSize) {
    MQTTFrameDecoder decoder;
    decoder.open();
    Outcome out;
    std::size_t pos = 0;
    while (pos < stream.size()) {
        std::size_t n = std::min(nextChunkSize(), stream.size() - pos);
        decoder.feed(stream.subspan(pos, n), [&](std::span<const std::uint8_t> p) {
            check(p.size() >= 2 && p.size() <= MQTTFrameDecoder::kMaxPacketSize);
            out.packets.emplace_back(p.begin(), p.end());
            return true;
        });
        checkBounded(decoder);
        pos += n;
    }
    out.state = decoder.state();
    return out;
}

// Reads a received PUBLISH as the session will: topic, identifier, properties.
void readPublish(const pellix::MQTTMessage& m, std::uint8_t level) {
    const Bytes& d = *m.data();
    std::span<const std::uint8_t> all(d);
    auto topic = pellix::MQTTProperties::getUtf8String(all);
    if (!topic) {
        return;
    }
    std::size_t pos = 2 + topic->size() + (m.qos() > 0 ? 2 : 0);
    if (level == 5 && pos <= d.size()) {
        pellix::MQTTProperties properties(all.subspan(pos));
        (void)properties;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (pellix::MQTTLog::setLogLevel(0), true);
    (void)quiet;
    if (size < 2) {
        return 0;
    }
    const auto level = static_cast<std::uint8_t>(3 + data[0] % 3);
    std::uint32_t state = 0x9E3779B9u ^ (std::uint32_t(data[1]) << 8) ^ static_cast<std::uint32_t>(size);
    std::span<const std::uint8_t> stream(data + 2, size - 2);

    const Outcome whole = run(stream, [&] { return stream.size(); });
    const Outcome chunked = run(stream, [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<std::size_t>(state % 97 + 1);
    });
    const Outcome bytewise = run(stream, [] { return std::size_t{1}; });
    check(whole == chunked);
    check(whole == bytewise);

    pellix::MQTTMessage record;
    for (const Bytes& packet : whole.packets) {
        for (std::uint8_t l : {std::uint8_t{3}, std::uint8_t{4}, std::uint8_t{5}}) {
            auto message = pellix::MQTTMessage::messageFromData(packet, l);
            // The reusing parse must agree with the allocating one.
            check(pellix::MQTTMessage::parse(packet, l, record) == (message != nullptr));
            if (!message) {
                continue;
            }
            check(record.wireFormat() == message->wireFormat());
            const std::size_t remaining = message->data()->size();
            const std::size_t lengthBytes = packet.size() - 1 - remaining;
            if (lengthBytes == pellix::MQTTByteBuffer::variableLengthSize(remaining)) {
                check(message->wireFormat() == packet);
            }
            if (message->type() == pellix::MQTTPublish && l == level) {
                readPublish(*message, l);
            }
        }
    }
    pellix::MQTTProperties direct(stream);
    (void)direct;
    return 0;
}
