// MQTTSession: incoming PUBLISH, PUBREL, SUBACK and UNSUBACK.
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSession.h"
#include "platform/Clock.h"

namespace pellix {

namespace {

// Length of the level-5 property block at the start of `data` (its count's
// bytes included), or nullopt when the block runs past the data.
std::optional<std::size_t> propertyBlockLength(std::span<const std::uint8_t> data) {
    const std::int32_t length = MQTTProperties::getVariableLength(data);
    if (length < 0) {
        return std::nullopt;
    }
    const std::size_t total = static_cast<std::size_t>(length) + MQTTProperties::variableIntLength(length);
    if (total > data.size()) {
        return std::nullopt;
    }
    return total;
}

std::string latin1ToUTF8(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

}  // namespace

void MQTTSession::deliver(const platform::Bytes& payload, const std::string& topic, std::uint8_t qos, bool retained,
                          std::uint32_t mid, bool& processed) {
    if (auto d = delegate()) {
        d->newMessage(*this, payload, topic, qos, retained, mid);
        processed = d->newMessageWithFeedback(*this, payload, topic, qos, retained, mid);
    }
    if (auto handler = messageHandler()) {
        handler(payload, topic);
    }
}

void MQTTSession::handlePublish(const MQTTMessagePtr& message) {
    const platform::Bytes& data = *message->data();
    if (data.size() < 2) {
        malformed("MQTT PUBLISH without a topic");
        return;
    }
    const std::size_t topicLength = static_cast<std::size_t>(data[0]) << 8 | data[1];
    if (data.size() < topicLength + 2) {
        malformed("MQTT PUBLISH topic runs past the packet");
        return;
    }
    std::span<const std::uint8_t> topicBytes(data.data() + 2, topicLength);
    std::string topic;
    if (MQTTProperties::isValidUTF8(topicBytes)) {
        topic.assign(topicBytes.begin(), topicBytes.end());
    } else {
        topic = latin1ToUTF8(topicBytes);
        MQTT_LOG_ERROR("non UTF8 topic %s", topic.c_str());
    }
    std::span<const std::uint8_t> payload(data.data() + 2 + topicLength, data.size() - 2 - topicLength);
    const std::uint8_t qos = message->qos();
    std::uint16_t mid = 0;
    if (qos > 0) {
        if (payload.size() < 2) {
            malformed("MQTT PUBLISH without a packet identifier");
            return;
        }
        mid = static_cast<std::uint16_t>(payload[0] << 8 | payload[1]);
        message->setMid(mid);
        payload = payload.subspan(2);
    }
    // At level 5 the payload starts with a property block. One that runs past
    // the packet makes the packet malformed: the connection ends before
    // anything is delivered or stored.
    std::span<const std::uint8_t> content = payload;
    if (protocolLevel_ == 5) {
        auto block = propertyBlockLength(payload);
        if (!block) {
            malformed("MQTT PUBLISH with a malformed property block");
            return;
        }
        auto properties = std::make_shared<MQTTProperties>(payload.subspan(0, *block));
        if (properties->topicAlias()) {
            // An alias names a topic for the rest of this connection; a
            // PUBLISH without a topic uses the one its alias names.
            const auto alias = *properties->topicAlias();
            if (alias <= 0 || alias > static_cast<std::int32_t>(topicAliasMaximum.value_or(0))) {
                malformed("MQTT PUBLISH topic alias out of range");
                return;
            }
            const auto key = static_cast<std::uint16_t>(alias);
            if (!topic.empty()) {
                topicAliases_[key] = topic;
            } else if (auto known = topicAliases_.find(key); known != topicAliases_.end()) {
                topic = known->second;
            } else {
                malformed("MQTT PUBLISH with an unknown topic alias");
                return;
            }
        }
        if (qos < 2) {
            message->setProperties(std::move(properties));
        }
        content = payload.subspan(*block);
    }
    if (topic.empty()) {
        malformed("MQTT PUBLISH without a topic name");
        return;
    }

    if (qos == 0) {
        bool processed = true;
        deliver(platform::Bytes(content.begin(), content.end()), topic, 0, message->retainFlag(), 0, processed);
        return;
    }
    if (qos == 1) {
        bool processed = true;
        deliver(platform::Bytes(content.begin(), content.end()), topic, 1, message->retainFlag(), mid, processed);
        if (processed) {
            encode(MQTTMessage::pubackMessageWithMessageId(mid, protocolLevel_, 0, std::nullopt, std::nullopt));
        }
        return;
    }
    // QoS 2: stored (with its property block at level 5) and acknowledged;
    // delivered on PUBREL.
    auto flow = persistence_->storeMessageForClientId(clientId_, topic, platform::Bytes(payload.begin(), payload.end()),
                                                      message->retainFlag(), 2, mid, true, MQTTFlowCommandPubrecSent,
                                                      platform::Clock::now() + dupTimeout_);
    if (!flow) {
        MQTT_LOG_WARNING("[MQTTSession] dropping incoming messages");
        return;
    }
    persistence_->sync();
    tell();
    encode(MQTTMessage::pubrecMessageWithMessageId(mid, protocolLevel_, 0, std::nullopt, std::nullopt));
}

void MQTTSession::handlePubrel(const MQTTMessagePtr& message) {
    const std::uint16_t mid = message->mid();
    auto flow = persistence_->flowforClientId(clientId_, true, mid);
    if (!flow) {
        encode(MQTTMessage::pubcompMessageWithMessageId(mid, protocolLevel_, 0, std::nullopt, std::nullopt));
        return;
    }
    platform::Bytes payload = flow->data().value_or(platform::Bytes{});
    if (protocolLevel_ == 5) {
        // Checked when the PUBLISH arrived; a store that hands back something
        // else loses only the unreadable block.
        auto block = propertyBlockLength(payload);
        payload.erase(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(block.value_or(payload.size())));
    }
    bool processed = true;
    deliver(payload, flow->topic().value_or(std::string()), flow->qosLevel().value_or(2),
            flow->retainedFlag().value_or(false), mid, processed);
    if (processed) {
        // A callback may have reconnected with clean session, which deleted
        // the flow already; look it up again rather than trust the old handle.
        if (auto current = persistence_->flowforClientId(clientId_, true, mid)) {
            persistence_->deleteFlow(current);
            persistence_->sync();
        }
        tell();
        encode(MQTTMessage::pubcompMessageWithMessageId(mid, protocolLevel_, 0, std::nullopt, std::nullopt));
    }
}

void MQTTSession::handleSuback(const MQTTMessagePtr& message) {
    const platform::Bytes& data = *message->data();
    if (data.size() <= 2) {
        malformed("MQTT SUBACK without reason codes");
        return;
    }
    const std::uint16_t mid = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    message->setMid(mid);
    std::size_t first = 2;
    if (protocolLevel_ == 5) {
        // Level 5 puts a property block before the reason codes; skip it so
        // the list holds only granted values.
        auto block = propertyBlockLength(std::span<const std::uint8_t>(data).subspan(2));
        if (!block) {
            malformed("MQTT SUBACK with a malformed property block");
            return;
        }
        first += *block;
    }
    platform::Array granted;
    bool refused = false;
    for (std::size_t i = first; i < data.size(); ++i) {
        granted.emplace_back(static_cast<int>(data[i]));
        // 0x80 and up: the broker refused that filter.
        refused = refused || data[i] >= 0x80;
    }
    if (auto d = delegate()) {
        d->subAckReceived(*this, mid, granted);
    }
    if (synchronSub_ && synchronSubMid_ == mid) {
        if (refused) {
            synchronSubMid_ = 0;  // the blocking subscribe answers false
        }
        synchronSub_ = false;
    }
    auto it = subscribeHandlers_.find(mid);
    if (it != subscribeHandlers_.end()) {
        auto handler = std::move(it->second);
        subscribeHandlers_.erase(it);
        if (handler) {
            handler(refused ? makeError(MQTTSessionErrorSubscriptionRefused, "Subscription refused") : nullptr,
                    granted);
        }
    }
}

void MQTTSession::handleUnsuback(const MQTTMessagePtr& message) {
    const std::uint16_t mid = message->mid();
    if (auto d = delegate()) {
        d->unsubAckReceived(*this, mid);
    }
    if (synchronUnsub_ && synchronUnsubMid_ == mid) {
        synchronUnsub_ = false;
    }
    auto it = unsubscribeHandlers_.find(mid);
    if (it != unsubscribeHandlers_.end()) {
        auto handler = std::move(it->second);
        unsubscribeHandlers_.erase(it);
        if (handler) {
            handler(nullptr);
        }
    }
}

}  // namespace pellix
