// MQTTSession: subscriptions, keep-alive and the three ways a session ends.
#include "MQTTClient/GCDTimer.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSession.h"
#include "MQTTClient/MQTTStrict.h"
#include "platform/Clock.h"

namespace pellix {

namespace {

[[noreturn]] void raise(const std::string& name, const std::string& reason) {
    throw platform::Exception(name, reason);
}

std::vector<std::string> splitLevels(const std::string& filter) {
    std::vector<std::string> levels;
    std::size_t start = 0;
    for (;;) {
        const auto slash = filter.find('/', start);
        levels.push_back(filter.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) {
            return levels;
        }
        start = slash + 1;
    }
}

std::string joined(const std::vector<std::string>& topics) {
    std::string out = "(";
    for (const auto& t : topics) {
        out += (out.size() > 1 ? ", " : "") + t;
    }
    return out + ")";
}

}  // namespace

std::uint16_t MQTTSession::subscribeToTopic(const std::optional<std::string>& topic, std::uint8_t qos,
                                            SubscribeHandler subscribeHandler) {
    platform::Dictionary topics;
    if (topic) {
        topics.set(*topic, platform::Value(static_cast<int>(qos)));
    }
    return subscribeToTopics(topics, std::move(subscribeHandler));
}

std::uint16_t MQTTSession::subscribeToTopics(const platform::Dictionary& topics, SubscribeHandler subscribeHandler) {
    MQTT_LOG_VERBOSE("[MQTTSession] subscribeToTopics:%s]", platform::Value(topics).description().c_str());
    checkTopicFilters(topics.keys());
    if (MQTTStrict::strict()) {
        for (const auto& [filter, qos] : topics) {
            const auto level = qos.intValue();
            if (level < 0 || level > 2) {
                raise("Illegal QoS level", std::to_string(level) + " is not 0, 1, or 2");
            }
        }
    }
    auto self = shared_from_this();
    const std::uint16_t mid = nextMsgId();
    if (mid == 0) {
        // Sending id 0 would break the protocol.
        MQTT_LOG_WARNING("[MQTTSession] no free message id for SUBSCRIBE");
        if (subscribeHandler) {
            subscribeHandler(makeError(MQTTSessionErrorNoFreeMessageId, "No free message id"), std::nullopt);
        }
        return 0;
    }
    if (subscribeHandler) {
        subscribeHandlers_[mid] = std::move(subscribeHandler);
    } else {
        subscribeHandlers_.erase(mid);
    }
    encode(MQTTMessage::subscribeMessageWithMessageId(mid, topics, protocolLevel_, std::nullopt));
    return mid;
}

std::uint16_t MQTTSession::unsubscribeTopic(const std::optional<std::string>& topic,
                                            UnsubscribeHandler unsubscribeHandler) {
    std::vector<std::string> topics;
    if (topic) {
        topics.push_back(*topic);
    }
    return unsubscribeTopics(topics, std::move(unsubscribeHandler));
}

std::uint16_t MQTTSession::unsubscribeTopics(const std::vector<std::string>& topics,
                                             UnsubscribeHandler unsubscribeHandler) {
    MQTT_LOG_VERBOSE("[MQTTSession] unsubscribeTopics:%s", joined(topics).c_str());
    checkTopicFilters(topics);
    auto self = shared_from_this();
    const std::uint16_t mid = nextMsgId();
    if (mid == 0) {
        MQTT_LOG_WARNING("[MQTTSession] no free message id for UNSUBSCRIBE");
        if (unsubscribeHandler) {
            unsubscribeHandler(makeError(MQTTSessionErrorNoFreeMessageId, "No free message id"));
        }
        return 0;
    }
    if (unsubscribeHandler) {
        unsubscribeHandlers_[mid] = std::move(unsubscribeHandler);
    } else {
        unsubscribeHandlers_.erase(mid);
    }
    encode(MQTTMessage::unsubscribeMessageWithMessageId(mid, topics, protocolLevel_));
    return mid;
}

void MQTTSession::checkTopicFilters(const std::vector<std::string>& topics) {
    if (!MQTTStrict::strict()) {
        return;
    }
    if (topics.empty()) {
        raise("topicFilter array in SUBSCRIBE or UNSUBSRIBE must not be empty", joined(topics));
    }
    for (const auto& filter : topics) {
        if (filter.empty()) {
            raise("topicFilter must be at least 1 characters long", filter);
        }
        if (filter.size() > 65535) {
            raise("topicFilter may not be longer than 65535 bytes in UTF8 representation",
                  "topicFilter length = " + std::to_string(filter.size()));
        }
        if (!MQTTProperties::isValidUTF8(
                std::span(reinterpret_cast<const std::uint8_t*>(filter.data()), filter.size()))) {
            raise("topicFilter must not contain non-UTF8 characters", "topicFilter = " + filter);
        }
        const auto levels = splitLevels(filter);
        for (std::size_t i = 0; i < levels.size(); ++i) {
            const auto& level = levels[i];
            if (level.find('+') != std::string::npos && level.size() > 1) {
                raise("singlelevel wildcard must be alone on a level of a topic filter", "topicFilter = " + filter);
            }
            if (i + 1 < levels.size() && level.find('#') != std::string::npos) {
                raise("multilevel wildcard must be on the last level of a topic filter", "topicFilter = " + filter);
            }
            if (i + 1 == levels.size() && level.find('#') != std::string::npos && level.size() > 1) {
                raise("multilevel wildcard must be alone on a level of a topic filter", "topicFilter = " + filter);
            }
        }
        const auto hash = filter.find('#');
        if (hash != std::string::npos &&
            (hash != filter.size() - 1 || (filter.size() > 1 && filter[hash - 1] != '/'))) {
            raise("multilevel wildcard must alone on the last level of a topic filter", "topicFilter = " + filter);
        }
    }
}

void MQTTSession::keepAlive() {
    if (MQTTLog::enabled(MQTTLogLevelVerbose)) {
        MQTTLog::log(MQTTLogLevelVerbose, "[MQTTSession] keepAlive %s @%.0f", clientId_.c_str(),
                     platform::Clock::now());
    }
    auto self = shared_from_this();
    if (pingOutstanding_) {
        // A whole keep-alive interval without an answer: the connection is
        // half-open or the broker is gone.
        MQTT_LOG_WARNING("[MQTTSession] no PINGRESP within %d s", static_cast<int>(effectiveKeepAlive_));
        connectionError(makeError(MQTTSessionErrorNoPingResponse, "No PINGRESP within the keep-alive interval"));
        return;
    }
    pingOutstanding_ = true;
    encode(MQTTMessage::pingreqMessage());
}

void MQTTSession::close() { closeWithDisconnectHandler(nullptr); }

void MQTTSession::closeWithDisconnectHandler(DisconnectHandler handler) {
    closeWithReturnCode(0, std::nullopt, std::nullopt, std::nullopt, std::move(handler));
}

void MQTTSession::closeWithReturnCode(std::uint64_t returnCode, std::optional<std::uint32_t> sessionExpiryInterval,
                                      const std::optional<std::string>& reasonString,
                                      const std::optional<platform::Dictionary>& userProperty,
                                      DisconnectHandler disconnectHandler) {
    MQTT_LOG_VERBOSE("[MQTTSession] closeWithDisconnectHandler:%p ",
                     static_cast<void*>(disconnectHandler ? &disconnectHandler : nullptr));
    auto self = shared_from_this();
    disconnectHandler_ = std::move(disconnectHandler);
    if (status_ == MQTTSessionStatusConnected) {
        disconnectWithReturnCode(returnCode, sessionExpiryInterval, reasonString, userProperty);
    } else {
        closeInternal();
    }
}

void MQTTSession::disconnect() { disconnectWithReturnCode(0, std::nullopt, std::nullopt, std::nullopt); }

void MQTTSession::disconnectWithReturnCode(std::uint64_t returnCode, std::optional<std::uint32_t> sessionExpiry,
                                           const std::optional<std::string>& reasonString,
                                           const std::optional<platform::Dictionary>& userProperty) {
    MQTT_LOG_VERBOSE("[MQTTSession] sending DISCONNECT");
    auto self = shared_from_this();
    status_ = MQTTSessionStatusDisconnecting;
    encode(MQTTMessage::disconnectMessage(protocolLevel_, returnCode, sessionExpiry, reasonString, userProperty));
    closeInternal();
}

void MQTTSession::stopTimers() {
    if (connackTimer_) {
        connackTimer_->invalidate();
        connackTimer_.reset();
    }
    if (checkDupTimer_) {
        checkDupTimer_->invalidate();
        checkDupTimer_.reset();
    }
    if (keepAliveTimer_) {
        keepAliveTimer_->invalidate();
        keepAliveTimer_.reset();
    }
}

void MQTTSession::closeInternal() {
    MQTT_LOG_VERBOSE("[MQTTSession] closeInternal");
    auto self = shared_from_this();
    const auto attempt = attempt_;
    stopTimers();
    if (auto transport = transport_) {
        transport->close();
        transport->setDelegate({});
    }
    if (auto decoder = decoder_) {
        decoder->close();
        decoder->setDelegate({});
    }
    if (persistence_) {
        bool changed = false;
        for (const auto& flow : persistence_->inFlightFlowsforClientId(clientId_)) {
            const auto command = flow->commandType().value_or(MQTTFlowCommandQueued);
            if (command == MQTTFlowCommandPublishSent || command == MQTTFlowCommandPubrelSent) {
                flow->setDeadline(flow->deadline().value_or(platform::Clock::now()) - dupTimeout_);
                changed = true;
            }
        }
        if (changed) {
            persistence_->sync();
        }
    }
    status_ = MQTTSessionStatusClosed;
    // What a callback below may replace (by reconnecting or closing again) is
    // taken out first; the callbacks then run on these copies.
    auto subscribeHandlers = std::move(subscribeHandlers_);
    subscribeHandlers_.clear();
    auto unsubscribeHandlers = std::move(unsubscribeHandlers_);
    unsubscribeHandlers_.clear();
    auto disconnectHandler = std::move(disconnectHandler_);
    disconnectHandler_ = nullptr;
    clearWaitFlags(false);

    if (auto d = delegate()) {
        d->handleEvent(*this, MQTTSessionEventConnectionClosed, nullptr);
        d->connectionClosed(*this);
    }
    auto noResponse = makeError(MQTTSessionErrorNoResponse, "No response");
    for (auto& [mid, handler] : subscribeHandlers) {
        if (handler) {
            handler(noResponse, std::nullopt);
        }
    }
    for (auto& [mid, handler] : unsubscribeHandlers) {
        if (handler) {
            handler(noResponse);
        }
    }
    if (disconnectHandler) {
        disconnectHandler(nullptr);
    }
    if (attempt == attempt_) {
        tell();
    }
}

}  // namespace pellix
