// MQTTByteBuffer: the append operations the packet builders write every MQTT
// field with: single bytes, big-endian 16- and 32-bit integers, the variable
// byte integer, and length-prefixed UTF-8 strings and binary data.
//
// They only append. Reading the same encodings back is MQTTProperties' job.
// Length-prefixed fields can carry at most 65,535 bytes: a longer string or
// binary value is not appended at all and the call returns false, so the
// caller can refuse the whole packet instead of sending a cut length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace pellix {

class MQTTByteBuffer {
public:
    static constexpr std::size_t kMaxFieldLength = 65535;

    static void appendByte(platform::Bytes& buffer, std::uint8_t byte) { buffer.push_back(byte); }

    static void appendUInt16BigEndian(platform::Bytes& buffer, std::uint16_t value) {
        buffer.push_back(static_cast<std::uint8_t>(value >> 8));
        buffer.push_back(static_cast<std::uint8_t>(value));
    }

    static void appendUInt32BigEndian(platform::Bytes& buffer, std::uint32_t value) {
        buffer.push_back(static_cast<std::uint8_t>(value >> 24));
        buffer.push_back(static_cast<std::uint8_t>(value >> 16));
        buffer.push_back(static_cast<std::uint8_t>(value >> 8));
        buffer.push_back(static_cast<std::uint8_t>(value));
    }

    // The MQTT variable byte integer: 7 bits a byte, low bits first, bit 7 set
    // on every byte but the last. Values above 268,435,455 take five or more
    // bytes, which no MQTT peer reads; callers keep below that.
    static void appendVariableLength(platform::Bytes& buffer, std::uint64_t value) {
        do {
            auto digit = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
            if (value != 0) {
                digit |= 0x80;
            }
            buffer.push_back(digit);
        } while (value != 0);
    }

    // Number of bytes appendVariableLength writes for this value.
    static std::size_t variableLengthSize(std::uint64_t value) {
        std::size_t n = 1;
        while (value >= 128) {
            value >>= 7;
            ++n;
        }
        return n;
    }

    // u16 byte count of the UTF-8 text, then the bytes; nothing when unset.
    // Returns false, appending nothing, for text of more than 65,535 bytes.
    static bool appendMQTTString(platform::Bytes& buffer, std::string_view text) {
        return appendCounted(buffer, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    static bool appendMQTTString(platform::Bytes& buffer, const std::string& text) {
        return appendMQTTString(buffer, std::string_view(text));
    }
    static bool appendMQTTString(platform::Bytes& buffer, const char* text) {
        return appendMQTTString(buffer, std::string_view(text));
    }
    static bool appendMQTTString(platform::Bytes& buffer, const std::optional<std::string>& text) {
        return !text || appendMQTTString(buffer, std::string_view(*text));
    }

    // u16 byte count, then the bytes; nothing when unset. Returns false,
    // appending nothing, for more than 65,535 bytes.
    static bool appendBinaryData(platform::Bytes& buffer, std::span<const std::uint8_t> bytes) {
        return appendCounted(buffer, bytes.data(), bytes.size());
    }
    static bool appendBinaryData(platform::Bytes& buffer, const platform::Bytes& bytes) {
        return appendBinaryData(buffer, std::span<const std::uint8_t>(bytes));
    }
    static bool appendBinaryData(platform::Bytes& buffer, const std::optional<platform::Bytes>& bytes) {
        return !bytes || appendBinaryData(buffer, std::span<const std::uint8_t>(*bytes));
    }

private:
    static bool appendCounted(platform::Bytes& buffer, const std::uint8_t* bytes, std::size_t size) {
        // A longer field would go out with a cut length and the peer would read
        // the rest as other fields, so it is refused instead.
        if (size > kMaxFieldLength) {
            return false;
        }
        appendUInt16BigEndian(buffer, static_cast<std::uint16_t>(size));
        buffer.insert(buffer.end(), bytes, bytes + size);
        return true;
    }
};

}  // namespace pellix
