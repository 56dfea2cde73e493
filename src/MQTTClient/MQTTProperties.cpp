#include "MQTTClient/MQTTProperties.h"

#include <algorithm>

namespace pellix {

namespace {

using Span = std::span<const std::uint8_t>;

// The part of `data` from `offset` on; empty when `offset` is past its end.
Span tail(Span data, std::size_t offset) { return offset < data.size() ? data.subspan(offset) : Span(); }

enum class Kind { Byte, TwoByte, FourByte, VarInt, String, Binary, Pair };

struct Descriptor {
    Kind kind;
    std::size_t minimum;  // bytes from the identifier on
};

// Known identifiers 0x01..0x2A; kind and minimum size, or nullopt when unassigned.
std::optional<Descriptor> describe(std::uint8_t id) {
    switch (id) {
    case 0x01: case 0x17: case 0x19: case 0x24: case 0x25: case 0x28: case 0x29: case 0x2A:
        return Descriptor{Kind::Byte, 2};
    case 0x13: case 0x21: case 0x22: case 0x23:
        return Descriptor{Kind::TwoByte, 3};
    case 0x02: case 0x11: case 0x18: case 0x27:
        return Descriptor{Kind::FourByte, 5};
    case 0x0B:
        return Descriptor{Kind::VarInt, 2};
    case 0x03: case 0x08: case 0x12: case 0x15: case 0x1A: case 0x1C: case 0x1F:
        return Descriptor{Kind::String, 3};
    case 0x09: case 0x16:
        return Descriptor{Kind::Binary, 3};
    case 0x26:
        return Descriptor{Kind::Pair, 5};
    default:
        return std::nullopt;
    }
}

}  // namespace

std::int32_t MQTTProperties::getVariableLength(Span data) {
    std::int32_t value = 0;
    std::int32_t multiplier = 1;
    for (std::size_t i = 0;; ++i) {
        if (i == 3) {
            return -2;
        }
        if (i >= data.size()) {
            return -1;
        }
        std::uint8_t digit = data[i];
        value += (digit & 0x7F) * multiplier;
        multiplier *= 128;
        if ((digit & 0x80) == 0) {
            return value;
        }
    }
}

std::int32_t MQTTProperties::variableIntLength(std::int32_t value) {
    if (value < 128) {
        return 1;
    }
    if (value < 16384) {
        return 2;
    }
    if (value < 2097152) {
        return 3;
    }
    if (value < 268435456) {
        return 4;
    }
    return 0;
}

std::int32_t MQTTProperties::getTwoByteInt(Span data) {
    if (data.size() < 2) {
        return 0;
    }
    return data[0] * 256 + data[1];
}

std::int32_t MQTTProperties::getFourByteInt(Span data) {
    if (data.size() < 4) {
        return 0;
    }
    auto v = (std::uint32_t(data[0]) << 24) | (std::uint32_t(data[1]) << 16) | (std::uint32_t(data[2]) << 8) |
             std::uint32_t(data[3]);
    return static_cast<std::int32_t>(v);
}

bool MQTTProperties::isValidUTF8(Span data) {
    std::size_t i = 0;
    const std::size_t n = data.size();
    while (i < n) {
        std::uint8_t c = data[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        std::uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0) lo = 0xA0;        // overlong
            if (c == 0xED) hi = 0x9F;        // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0) lo = 0x90;        // overlong
            if (c == 0xF4) hi = 0x8F;        // above U+10FFFF
        } else {
            return false;
        }
        if (n - i <= extra) {
            return false;
        }
        if (data[i + 1] < lo || data[i + 1] > hi) {
            return false;
        }
        for (std::size_t k = 2; k <= extra; ++k) {
            if ((data[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

std::optional<std::string> MQTTProperties::getUtf8String(Span data) {
    auto length = static_cast<std::size_t>(getTwoByteInt(data));
    if (data.size() < length + 2) {
        return std::nullopt;
    }
    Span text = data.subspan(2, length);
    if (!isValidUTF8(text)) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::optional<platform::Bytes> MQTTProperties::getBinaryData(Span data) {
    auto length = static_cast<std::size_t>(getTwoByteInt(data));
    if (data.size() < length + 2) {
        return std::nullopt;
    }
    return platform::Bytes(data.begin() + 2, data.begin() + 2 + static_cast<std::ptrdiff_t>(length));
}

void MQTTProperties::initFromData(Span data) {
    std::int32_t declared = getVariableLength(data);
    if (declared < 0) {
        return;
    }
    Span block = tail(data, static_cast<std::size_t>(variableIntLength(declared)));
    const auto length = static_cast<std::size_t>(declared);
    if (block.size() < length) {
        return;
    }
    std::size_t pos = 0;
    while (pos < length) {
        const std::uint8_t id = block[pos];
        auto descriptor = describe(id);
        if (!descriptor || length - pos < descriptor->minimum) {
            break;
        }
        // A value is read up to the end of the data, never past it; one that
        // the block's length cuts off moves pos beyond the block and ends the walk.
        Span value = tail(block, pos + 1);
        switch (descriptor->kind) {
        case Kind::Byte: {
            std::int32_t v = value[0];
            switch (id) {
            case 0x01: payloadFormatIndicator_ = v; break;
            case 0x17: requestProblemInformation_ = v; break;
            case 0x19: requestResponseInformation_ = v; break;
            case 0x24: maximumQoS_ = v; break;
            case 0x25: retainAvailable_ = v; break;
            case 0x28: wildcardSubscriptionAvailable_ = v; break;
            case 0x29: subscriptionIdentifiersAvailable_ = v; break;
            default: sharedSubscriptionAvailable_ = v; break;
            }
            pos += 2;
            break;
        }
        case Kind::TwoByte: {
            std::int32_t v = getTwoByteInt(value);
            switch (id) {
            case 0x13: serverKeepAlive_ = v; break;
            case 0x21: receiveMaximum_ = v; break;
            case 0x22: topicAliasMaximum_ = v; break;
            default: topicAlias_ = v; break;
            }
            pos += 3;
            break;
        }
        case Kind::FourByte: {
            std::int32_t v = getFourByteInt(value);
            switch (id) {
            case 0x02: publicationExpiryInterval_ = v; break;
            case 0x11: sessionExpiryInterval_ = v; break;
            case 0x18: willDelayInterval_ = v; break;
            default: maximumPacketSize_ = v; break;
            }
            pos += 5;
            break;
        }
        case Kind::VarInt: {
            std::int32_t v = getVariableLength(value);
            // An identifier that can't be read is not stored as a number; the
            // rest of the block can't be located, so the walk ends.
            if (v < 0) {
                return;
            }
            subscriptionIdentifier_ = v;
            pos += 1 + static_cast<std::size_t>(variableIntLength(v));
            break;
        }
        case Kind::String: {
            auto v = getUtf8String(value);
            switch (id) {
            case 0x03: contentType_ = std::move(v); break;
            case 0x08: responseTopic_ = std::move(v); break;
            case 0x12: assignedClientIdentifier_ = std::move(v); break;
            case 0x15: authMethod_ = std::move(v); break;
            case 0x1A: responseInformation_ = std::move(v); break;
            case 0x1C: serverReference_ = std::move(v); break;
            default: reasonString_ = std::move(v); break;
            }
            pos += 3 + static_cast<std::size_t>(getTwoByteInt(value));
            break;
        }
        case Kind::Binary: {
            auto v = getBinaryData(value);
            if (id == 0x09) {
                correlationData_ = std::move(v);
            } else {
                authData_ = std::move(v);
            }
            pos += 3 + static_cast<std::size_t>(getTwoByteInt(value));
            break;
        }
        case Kind::Pair: {
            auto keyLength = static_cast<std::size_t>(getTwoByteInt(value));
            auto key = getUtf8String(value);
            Span rest = tail(value, keyLength + 2);
            auto valueLength = static_cast<std::size_t>(getTwoByteInt(rest));
            auto text = getUtf8String(rest);
            if (!userProperty_) {
                userProperty_.emplace();
            }
            if (key) {
                if (text) {
                    userProperty_->set(*key, platform::Value(std::move(*text)));
                } else {
                    userProperty_->erase(*key);
                }
            }
            pos += keyLength + valueLength + 5;
            break;
        }
        }
    }
}

}  // namespace pellix
