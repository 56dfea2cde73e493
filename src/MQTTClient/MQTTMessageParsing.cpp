// The parser of MQTTMessage: one whole packet's bytes → a record, or a refusal.
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"

namespace pellix {

namespace {

bool refuse(const char* line) {
    MQTT_LOG_WARNING("%s", line);
    return false;
}

}  // namespace

MQTTMessagePtr MQTTMessage::messageFromData(std::span<const std::uint8_t> data, std::uint8_t protocolLevel) {
    auto message = std::make_shared<MQTTMessage>();
    if (!parse(data, protocolLevel, *message)) {
        return nullptr;
    }
    return message;
}

bool MQTTMessage::parse(std::span<const std::uint8_t> bytes, std::uint8_t protocolLevel, MQTTMessage& message) {
    message.type_ = 0;
    message.qos_ = 0;
    message.retainFlag_ = false;
    message.dupFlag_ = false;
    message.unencodable_ = false;
    message.mid_ = 0;
    message.returnCode_.reset();
    message.connectAcknowledgeFlags_.reset();
    message.properties_.reset();
    if (message.data_) {
        message.data_->clear();  // keeps its capacity for the next packet
    }

    if (bytes.size() < 2) {
        return refuse("[MQTTMessage] message data length < 2");
    }
    const std::uint8_t header = bytes[0];
    const std::uint8_t type = header >> 4;
    const bool dup = (header & 0x08) != 0;
    const std::uint8_t qos = (header >> 1) & 0x03;
    const bool retain = (header & 0x01) != 0;

    // Remaining length. At most three length bytes are accepted; reading stops
    // at the fourth so the multiplier never grows past it.
    std::size_t offset = 1;
    std::uint32_t remaining = 0;
    std::uint32_t multiplier = 1;
    bool lengthValid = true;
    for (;;) {
        if (offset >= bytes.size()) {
            MQTT_LOG_WARNING("[MQTTMessage] message data incomplete remaining length");
            lengthValid = false;
            break;
        }
        const std::uint8_t digit = bytes[offset++];
        remaining += (digit & 0x7Fu) * multiplier;
        multiplier *= 128;
        if (multiplier > 2097152) {
            MQTT_LOG_WARNING("[MQTTMessage] message data too long remaining length");
            lengthValid = false;
            break;
        }
        if ((digit & 0x80) == 0) {
            break;
        }
    }

    if (type == 0 || type > MQTTDisconnect) {
        return refuse("[MQTTMessage] illegal message type");
    }
    if (!lengthValid || bytes.size() != offset + remaining) {
        return refuse("[MQTTMessage] remaining data wrong length");
    }
    std::uint8_t requiredQos = 0;
    if (type == MQTTPubrel || type == MQTTSubscribe || type == MQTTUnsubscribe) {
        requiredQos = 1;
    }
    if (type == MQTTPublish ? qos > 2 : qos != requiredQos) {
        return refuse("[MQTTMessage] illegal header flags");
    }

    std::span<const std::uint8_t> d = bytes.subspan(offset);
    const std::size_t v = d.size();

    if ((type >= MQTTPuback && type <= MQTTUnsuback) || (type == MQTTPublish && qos > 0)) {
        if (v < 2) {
            return refuse("[MQTTMessage] missing packet identifier");
        }
    }

    const bool level5 = protocolLevel == 5;
    switch (type) {
    case MQTTConnect:
        if (v < 3) return refuse("[MQTTMessage] missing connect variable header");
        break;
    case MQTTConnack:
        if (level5 ? v < 3 : v != 2) return refuse("[MQTTMessage] missing connack variable header");
        break;
    case MQTTPuback:
    case MQTTPubrec:
    case MQTTPubrel:
    case MQTTPubcomp:
        // MQTT 5.0 lets an acknowledgement stop after the identifier when the
        // reason is success and there are no properties; brokers send exactly that.
        if (!level5 && v != 2) return refuse("[MQTTMessage] unexpected payload after packet identifier");
        break;
    case MQTTSubscribe:
        if (v < 3) return refuse("[MQTTMessage] missing subscribe variable header");
        break;
    case MQTTSuback:
        if (v < 3) return refuse("[MQTTMessage] missing suback variable header");
        break;
    case MQTTUnsubscribe:
        if (v < 3) return refuse("[MQTTMessage] missing unsubscribe variable header");
        break;
    case MQTTUnsuback:
        if (!level5 && v != 2) return refuse("[MQTTMessage] unexpected payload after packet identifier");
        break;
    case MQTTPingreq:
    case MQTTPingresp:
        if (v != 0) return refuse("[MQTTMessage] unexpected payload");
        break;
    case MQTTDisconnect:
        if (!level5 && v != 0) return refuse("[MQTTMessage] unexpected payload");
        break;
    default:
        break;
    }

    message.type_ = type;
    message.dupFlag_ = dup;
    message.retainFlag_ = retain;
    message.qos_ = qos;
    if (message.data_) {
        message.data_->assign(d.begin(), d.end());
    } else {
        message.data_.emplace(d.begin(), d.end());
    }

    if (type >= MQTTPuback && type <= MQTTUnsuback) {
        message.mid_ = static_cast<std::uint16_t>(d[0] << 8 | d[1]);
    } else if (type == MQTTPublish && qos > 0) {
        const std::size_t topicLength = static_cast<std::size_t>(d[0]) << 8 | d[1];
        if (v >= topicLength + 4) {
            message.mid_ = static_cast<std::uint16_t>(d[topicLength + 2] << 8 | d[topicLength + 3]);
        }
    }

    // Property blocks are parsed from the record's own copy of the data.
    std::span<const std::uint8_t> own(*message.data_);
    switch (type) {
    case MQTTConnack:
        message.connectAcknowledgeFlags_ = own[0];
        message.returnCode_ = own[1];
        if (level5) {
            message.properties_ = std::make_shared<MQTTProperties>(own.subspan(2));
        }
        break;
    case MQTTPuback:
    case MQTTPubrec:
    case MQTTPubrel:
    case MQTTPubcomp:
        if (level5) {
            if (v == 2) {
                message.returnCode_ = 0;
            } else {
                message.returnCode_ = own[2];
                message.properties_ = std::make_shared<MQTTProperties>(own.subspan(3));
            }
        }
        break;
    case MQTTDisconnect:
        if (level5) {
            message.returnCode_ = v == 0 ? 0u : own[0];
            if (v > 1) {
                message.properties_ = std::make_shared<MQTTProperties>(own.subspan(1));
            }
        }
        break;
    default:
        break;
    }
    return true;
}

}  // namespace pellix
