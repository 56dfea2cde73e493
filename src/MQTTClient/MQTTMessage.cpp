// The builders and the wire format of MQTTMessage; the parser is in
// MQTTMessageParsing.cpp.
#include "MQTTClient/MQTTMessage.h"

#include "MQTTClient/MQTTByteBuffer.h"
#include "MQTTClient/MQTTLog.h"

namespace pellix {

using platform::Bytes;
using B = MQTTByteBuffer;

namespace {

// User properties as 0x26 key value pairs in the dictionary's own order. A
// value that is not text is written as its description.
bool appendUserProperties(Bytes& block, const std::optional<platform::Dictionary>& userProperty) {
    bool ok = true;
    if (!userProperty) {
        return ok;
    }
    for (const auto& [key, value] : *userProperty) {
        B::appendByte(block, 0x26);
        ok &= B::appendMQTTString(block, key);
        if (const std::string* text = value.stringIf()) {
            ok &= B::appendMQTTString(block, *text);
        } else {
            ok &= B::appendMQTTString(block, value.description());
        }
    }
    return ok;
}

// The block's length as a variable byte integer, then the block.
void appendPropertyBlock(Bytes& data, const Bytes& block) {
    B::appendVariableLength(data, block.size());
    data.insert(data.end(), block.begin(), block.end());
}

}  // namespace

MQTTMessagePtr MQTTMessage::unencodable(MQTTMessagePtr message) {
    message->unencodable_ = true;
    return message;
}

MQTTMessagePtr MQTTMessage::connectMessageWithClientId(
    const std::string& clientId, const std::optional<std::string>& userName, const std::optional<std::string>& password,
    std::int64_t keepAlive, bool cleanSession, bool will, const std::optional<std::string>& willTopic,
    const std::optional<Bytes>& willMsg, std::uint8_t willQoS, bool willRetain, std::uint8_t protocolLevel,
    std::optional<std::uint32_t> sessionExpiryInterval, const std::optional<std::string>& authMethod,
    const std::optional<Bytes>& authData, std::optional<std::uint32_t> requestProblemInformation,
    std::optional<std::uint32_t> willDelayInterval, std::optional<std::uint32_t> requestResponseInformation,
    std::optional<std::uint32_t> receiveMaximum, std::optional<std::uint32_t> topicAliasMaximum,
    const std::optional<platform::Dictionary>& userProperty, std::optional<std::uint32_t> maximumPacketSize) {
    bool ok = true;
    Bytes data;
    data.reserve(32 + clientId.size() + (userName ? userName->size() : 0) + (password ? password->size() : 0) +
                 (will && willTopic ? willTopic->size() : 0) + (will && willMsg ? willMsg->size() : 0));

    switch (protocolLevel) {
    case 3:
        B::appendMQTTString(data, "MQIsdp");
        break;
    case 0:
        B::appendMQTTString(data, "");
        break;
    default:
        B::appendMQTTString(data, "MQTT");
        break;
    }
    B::appendByte(data, protocolLevel);

    std::uint8_t flags = 0;
    if (userName) flags |= 0x80;
    if (password) flags |= 0x40;
    // Will QoS and will retain must be 0 without the will flag: a broker
    // closes a CONNECT that sets them alone as malformed.
    if (will) {
        flags |= 0x04;
        flags |= static_cast<std::uint8_t>((willQoS & 3) << 3);
        if (willRetain) flags |= 0x20;
    }
    if (cleanSession) flags |= 0x02;
    B::appendByte(data, flags);
    B::appendUInt16BigEndian(data, static_cast<std::uint16_t>(keepAlive & 0xFFFF));

    if (protocolLevel == 5) {
        Bytes block;
        if (sessionExpiryInterval) {
            B::appendByte(block, 0x11);
            B::appendUInt32BigEndian(block, *sessionExpiryInterval);
        }
        if (authMethod) {
            B::appendByte(block, 0x15);
            ok &= B::appendMQTTString(block, *authMethod);
        }
        if (authData) {
            B::appendByte(block, 0x16);
            ok &= B::appendBinaryData(block, *authData);
        }
        if (requestProblemInformation) {
            B::appendByte(block, 0x17);
            B::appendByte(block, static_cast<std::uint8_t>(*requestProblemInformation));
        }
        if (requestResponseInformation) {
            B::appendByte(block, 0x19);
            B::appendByte(block, static_cast<std::uint8_t>(*requestResponseInformation));
        }
        if (receiveMaximum) {
            B::appendByte(block, 0x21);
            B::appendUInt16BigEndian(block, static_cast<std::uint16_t>(*receiveMaximum));
        }
        if (topicAliasMaximum) {
            B::appendByte(block, 0x22);
            B::appendUInt16BigEndian(block, static_cast<std::uint16_t>(*topicAliasMaximum));
        }
        ok &= appendUserProperties(block, userProperty);
        if (maximumPacketSize) {
            B::appendByte(block, 0x27);
            B::appendUInt32BigEndian(block, *maximumPacketSize);
        }
        appendPropertyBlock(data, block);
    }

    ok &= B::appendMQTTString(data, clientId);
    // The will fields go out only with the will flag: without it the broker
    // would read them as user name and password.
    if (will) {
        if (protocolLevel == 5) {
            // MQTT 5.0 puts the will properties before the will topic.
            Bytes willBlock;
            if (willDelayInterval) {
                B::appendByte(willBlock, 0x18);
                B::appendUInt32BigEndian(willBlock, *willDelayInterval);
            }
            appendPropertyBlock(data, willBlock);
        }
        ok &= B::appendMQTTString(data, willTopic);
        ok &= B::appendBinaryData(data, willMsg);
    }
    ok &= B::appendMQTTString(data, userName);
    ok &= B::appendMQTTString(data, password);

    auto message = std::make_shared<MQTTMessage>(MQTTConnect, std::move(data));
    return ok ? message : unencodable(message);
}

MQTTMessagePtr MQTTMessage::pingreqMessage() { return std::make_shared<MQTTMessage>(MQTTPingreq); }

MQTTMessagePtr MQTTMessage::disconnectMessage(std::uint8_t protocolLevel, std::uint64_t returnCode,
                                              std::optional<std::uint32_t> sessionExpiryInterval,
                                              const std::optional<std::string>& reasonString,
                                              const std::optional<platform::Dictionary>& userProperty) {
    bool ok = true;
    Bytes data;
    if (protocolLevel == 5) {
        Bytes block;
        if (sessionExpiryInterval) {
            B::appendByte(block, 0x11);
            B::appendUInt32BigEndian(block, *sessionExpiryInterval);
        }
        if (reasonString) {
            B::appendByte(block, 0x1F);
            ok &= B::appendMQTTString(block, *reasonString);
        }
        ok &= appendUserProperties(block, userProperty);
        if (returnCode != 0 || !block.empty()) {
            B::appendByte(data, static_cast<std::uint8_t>(returnCode));
        }
        if (!block.empty()) {
            appendPropertyBlock(data, block);
        }
    }
    auto message = std::make_shared<MQTTMessage>(MQTTDisconnect, std::move(data));
    return ok ? message : unencodable(message);
}

MQTTMessagePtr MQTTMessage::subscribeMessageWithMessageId(std::uint16_t msgId, const platform::Dictionary& topics,
                                                          std::uint8_t protocolLevel,
                                                          std::optional<std::uint64_t> subscriptionIdentifier) {
    bool ok = true;
    Bytes data;
    B::appendUInt16BigEndian(data, msgId);
    if (protocolLevel == 5) {
        Bytes block;
        if (subscriptionIdentifier) {
            B::appendByte(block, 0x0B);
            B::appendVariableLength(block, *subscriptionIdentifier);
        }
        appendPropertyBlock(data, block);
    }
    for (const auto& [filter, options] : topics) {
        ok &= B::appendMQTTString(data, filter);
        B::appendByte(data, static_cast<std::uint8_t>(options.uintValue() & 0xFF));
    }
    auto message = std::make_shared<MQTTMessage>(MQTTSubscribe, std::uint8_t{1}, std::move(data));
    message->setMid(msgId);
    return ok ? message : unencodable(message);
}

MQTTMessagePtr MQTTMessage::unsubscribeMessageWithMessageId(std::uint16_t msgId,
                                                            const std::vector<std::string>& topics,
                                                            std::uint8_t protocolLevel) {
    bool ok = true;
    Bytes data;
    B::appendUInt16BigEndian(data, msgId);
    if (protocolLevel == 5) {
        B::appendByte(data, 0x00);
    }
    for (const auto& filter : topics) {
        ok &= B::appendMQTTString(data, filter);
    }
    auto message = std::make_shared<MQTTMessage>(MQTTUnsubscribe, std::uint8_t{1}, std::move(data));
    message->setMid(msgId);
    return ok ? message : unencodable(message);
}

MQTTMessagePtr MQTTMessage::publishMessageWithData(
    const Bytes& payload, const std::string& topic, std::uint8_t qos, std::uint16_t msgId, bool retainFlag,
    bool dupFlag, std::uint8_t protocolLevel, std::optional<std::uint32_t> payloadFormatIndicator,
    std::optional<std::uint32_t> publicationExpiryInterval, std::optional<std::uint32_t> topicAlias,
    const std::optional<std::string>& responseTopic, const std::optional<Bytes>& correlationData,
    const std::optional<platform::Dictionary>& userProperty, const std::optional<std::string>& contentType) {
    bool ok = true;
    Bytes data;
    data.reserve(2 + topic.size() + 2 + 1 + payload.size());
    ok &= B::appendMQTTString(data, topic);
    if (msgId != 0) {
        B::appendUInt16BigEndian(data, msgId);
    }
    if (protocolLevel == 5) {
        Bytes block;
        if (payloadFormatIndicator) {
            B::appendByte(block, 0x01);
            B::appendByte(block, static_cast<std::uint8_t>(*payloadFormatIndicator));
        }
        if (publicationExpiryInterval) {
            B::appendByte(block, 0x02);
            B::appendUInt32BigEndian(block, *publicationExpiryInterval);
        }
        if (topicAlias) {
            B::appendByte(block, 0x23);
            B::appendUInt16BigEndian(block, static_cast<std::uint16_t>(*topicAlias));
        }
        if (responseTopic) {
            B::appendByte(block, 0x08);
            ok &= B::appendMQTTString(block, *responseTopic);
        }
        if (correlationData) {
            B::appendByte(block, 0x09);
            ok &= B::appendBinaryData(block, *correlationData);
        }
        ok &= appendUserProperties(block, userProperty);
        if (contentType) {
            B::appendByte(block, 0x03);
            ok &= B::appendMQTTString(block, *contentType);
        }
        appendPropertyBlock(data, block);
    }
    data.insert(data.end(), payload.begin(), payload.end());
    auto message = std::make_shared<MQTTMessage>(MQTTPublish, qos, retainFlag, dupFlag, std::move(data));
    message->setMid(msgId);
    return ok ? message : unencodable(message);
}

MQTTMessagePtr MQTTMessage::ackMessage(std::uint8_t type, std::uint8_t qos, std::uint16_t msgId,
                                       std::uint8_t protocolLevel, std::uint64_t returnCode,
                                       const std::optional<std::string>& reasonString,
                                       const std::optional<platform::Dictionary>& userProperty) {
    bool ok = true;
    Bytes data;
    B::appendUInt16BigEndian(data, msgId);
    if (protocolLevel == 5) {
        Bytes block;
        if (reasonString) {
            B::appendByte(block, 0x1F);
            ok &= B::appendMQTTString(block, *reasonString);
        }
        ok &= appendUserProperties(block, userProperty);
        B::appendByte(data, static_cast<std::uint8_t>(returnCode));
        appendPropertyBlock(data, block);
    }
    auto message = std::make_shared<MQTTMessage>(type, qos, std::move(data));
    message->setMid(msgId);
    return ok ? message : unencodable(message);
}

MQTTMessagePtr MQTTMessage::pubackMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                       std::uint64_t returnCode,
                                                       const std::optional<std::string>& reasonString,
                                                       const std::optional<platform::Dictionary>& userProperty) {
    return ackMessage(MQTTPuback, 0, msgId, protocolLevel, returnCode, reasonString, userProperty);
}

MQTTMessagePtr MQTTMessage::pubrecMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                       std::uint64_t returnCode,
                                                       const std::optional<std::string>& reasonString,
                                                       const std::optional<platform::Dictionary>& userProperty) {
    return ackMessage(MQTTPubrec, 0, msgId, protocolLevel, returnCode, reasonString, userProperty);
}

MQTTMessagePtr MQTTMessage::pubrelMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                       std::uint64_t returnCode,
                                                       const std::optional<std::string>& reasonString,
                                                       const std::optional<platform::Dictionary>& userProperty) {
    return ackMessage(MQTTPubrel, 1, msgId, protocolLevel, returnCode, reasonString, userProperty);
}

MQTTMessagePtr MQTTMessage::pubcompMessageWithMessageId(std::uint16_t msgId, std::uint8_t protocolLevel,
                                                        std::uint64_t returnCode,
                                                        const std::optional<std::string>& reasonString,
                                                        const std::optional<platform::Dictionary>& userProperty) {
    return ackMessage(MQTTPubcomp, 0, msgId, protocolLevel, returnCode, reasonString, userProperty);
}

bool MQTTMessage::encodable() const {
    // A longer packet would need a fifth length byte, which no peer reads.
    return !unencodable_ && (!data_ || data_->size() <= kMaxEncodableRemainingLength);
}

bool MQTTMessage::appendWireFormat(Bytes& out) const {
    if (!encodable()) {
        return false;
    }
    const std::size_t start = out.size();
    const std::size_t length = data_ ? data_->size() : 0;
    out.reserve(start + 1 + B::variableLengthSize(length) + length);
    auto header = static_cast<std::uint8_t>((type_ << 4) | (dupFlag_ ? 0x08 : 0) | ((qos_ & 3) << 1) |
                                            (retainFlag_ ? 0x01 : 0));
    B::appendByte(out, header);
    B::appendVariableLength(out, length);
    if (data_) {
        out.insert(out.end(), data_->begin(), data_->end());
    }
    if (MQTTLog::enabled(MQTTLogLevelVerbose)) {
        std::span<const std::uint8_t> packet(out.data() + start, out.size() - start);
        MQTTLog::log(MQTTLogLevelVerbose, "[MQTTMessage] wireFormat(%lu)=%s...",
                     static_cast<unsigned long>(packet.size()), MQTTLog::describe(packet, 256).c_str());
    }
    return true;
}

Bytes MQTTMessage::wireFormat() const {
    Bytes out;
    appendWireFormat(out);
    return out;
}

}  // namespace pellix
