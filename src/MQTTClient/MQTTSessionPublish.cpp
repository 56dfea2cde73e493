// MQTTSession: publishing, message ids and the outgoing QoS 1 and 2 flows.
#include <algorithm>

#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSession.h"
#include "MQTTClient/MQTTStrict.h"
#include "platform/Clock.h"

namespace pellix {

namespace {

bool isUTF8(const std::string& s) {
    return MQTTProperties::isValidUTF8(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

std::uint8_t commandOf(const MQTTFlowPtr& flow) { return flow->commandType().value_or(MQTTFlowCommandQueued); }

// Reason codes from 0x80 up report failure (MQTT 5.0).
constexpr unsigned kFirstFailureReason = 0x80;

}  // namespace

std::uint16_t MQTTSession::publishData(const platform::Bytes& data, const std::string& topic, bool retain,
                                       std::uint8_t qos, PublishHandler publishHandler) {
    if (MQTTLog::enabled(MQTTLogLevelVerbose)) {
        MQTTLog::log(MQTTLogLevelVerbose, "[MQTTSession] publishData:%s... onTopic:%s retain:%d qos:%ld publishHandler:%p",
                     MQTTLog::describe(data, 256).c_str(), topic.substr(0, 256).c_str(), retain ? 1 : 0,
                     static_cast<long>(qos), static_cast<void*>(publishHandler ? &publishHandler : nullptr));
    }
    if (MQTTStrict::strict()) {
        if (topic.empty()) {
            throw platform::Exception("topic must not at least 1 character long", topic);
        }
        if (topic.size() > 65535) {
            throw platform::Exception("topic may not be longer than 65535 bytes in UTF8 representation",
                                      "topic length = " + std::to_string(topic.size()));
        }
        if (!isUTF8(topic)) {
            throw platform::Exception("topic must not contain non-UTF8 characters", "topic = " + topic);
        }
        if (topic.find_first_of("+#") != std::string::npos) {
            throw platform::Exception("topic must not contain wildcards", "topic = " + topic);
        }
        if (qos > 2) {
            throw platform::Exception("Illegal QoS level", std::to_string(qos) + " is not 0, 1, or 2");
        }
    }
    auto self = shared_from_this();

    if (qos == 0) {
        auto message = MQTTMessage::publishMessageWithData(data, topic, 0, 0, retain, false, protocolLevel_,
                                                           std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                                           std::nullopt, std::nullopt, std::nullopt);
        platform::ErrorPtr err;
        if (!encode(message)) {
            err = makeError(MQTTSessionErrorEncoderNotReady, "Encoder not ready");
        }
        if (publishHandler) {
            publishHandler(err);
        }
        tell();
        return 0;
    }

    const std::uint16_t msgId = nextMsgId();
    MQTTFlowPtr flow;
    MQTTMessagePtr message;
    const double now = platform::Clock::now();
    if (msgId != 0) {
        bool sendNow = false;
        if (status_ == MQTTSessionStatusConnected) {
            const auto flows = persistence_->allFlowsforClientId(clientId_, false);
            std::uint64_t inFlight = 0;
            bool queued = false;
            for (const auto& f : flows) {
                if (commandOf(f) == MQTTFlowCommandQueued) {
                    queued = true;
                } else {
                    ++inFlight;
                }
            }
            sendNow = !queued && inFlight <= persistence_->maxWindowSize();
        }
        if (sendNow) {
            message = MQTTMessage::publishMessageWithData(data, topic, qos, msgId, retain, false, protocolLevel_,
                                                          std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                                          std::nullopt, std::nullopt, std::nullopt);
            flow = persistence_->storeMessageForClientId(clientId_, topic, data, retain, qos, msgId, false,
                                                         MQTTFlowCommandPublishSent, now + dupTimeout_);
        } else {
            flow = persistence_->storeMessageForClientId(clientId_, topic, data, retain, qos, msgId, false,
                                                         MQTTFlowCommandQueued, now);
        }
    }
    if (!flow) {
        // Also when every message id is held by a flow in flight: nextMsgId gave 0.
        MQTT_LOG_WARNING("[MQTTSession] dropping outgoing message %d", static_cast<int>(msgId));
        if (publishHandler) {
            publishHandler(makeError(MQTTSessionErrorDroppingOutgoingMessage, "Dropping outgoing Message"));
        }
        tell();
        return 0;
    }
    persistence_->sync();
    if (publishHandler) {
        publishHandlers_[msgId] = std::move(publishHandler);
    } else {
        publishHandlers_.erase(msgId);
    }
    if (commandOf(flow) == MQTTFlowCommandPublishSent) {
        MQTT_LOG_VERBOSE("[MQTTSession] PUBLISH %d", static_cast<int>(msgId));
        if (!encode(message)) {
            MQTT_LOG_INFO("[MQTTSession] queueing message %d after unsuccessfull attempt", static_cast<int>(msgId));
            flow->setCommandType(MQTTFlowCommandQueued);
            flow->setDeadline(platform::Clock::now());
            persistence_->sync();
            mayHaveQueued_ = true;
        }
    } else {
        MQTT_LOG_INFO("[MQTTSession] queueing message %d", static_cast<int>(msgId));
        mayHaveQueued_ = true;
    }
    tell();
    return msgId;
}

std::uint16_t MQTTSession::nextMsgId() {
    MQTT_LOG_VERBOSE("nextMsgId synchronizing");
    std::lock_guard lock(msgIdMutex_);
    MQTT_LOG_VERBOSE("nextMsgId synchronized");
    // Every id from 1 to 65,535 is probed at most once: with all of them held
    // by outgoing flows there is no free id, and the caller refuses the
    // message instead of looping for ever.
    for (unsigned probes = 0; probes < 65535; ++probes) {
        ++txMsgId_;
        if (txMsgId_ == 0) {
            ++txMsgId_;
        }
        if (!persistence_ || !persistence_->flowforClientId(clientId_, false, txMsgId_)) {
            MQTT_LOG_VERBOSE("nextMsgId synchronized done");
            return txMsgId_;
        }
    }
    MQTT_LOG_VERBOSE("nextMsgId synchronized done");
    return 0;
}

void MQTTSession::checkDup() {
    if (MQTTLog::enabled(MQTTLogLevelVerbose)) {
        MQTTLog::log(MQTTLogLevelVerbose, "[MQTTSession] checkDup %s @%.0f", clientId_.c_str(), platform::Clock::now());
    }
    checkTxFlows();
}

MQTTMessagePtr MQTTSession::publishFromFlow(const MQTTFlowPtr& flow, bool dup) const {
    return MQTTMessage::publishMessageWithData(
        flow->data().value_or(platform::Bytes{}), flow->topic().value_or(std::string()), flow->qosLevel().value_or(1),
        flow->messageId().value_or(0), flow->retainedFlag().value_or(false), dup, protocolLevel_, std::nullopt,
        std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
}

void MQTTSession::checkTxFlows() { sendTxFlows(false); }

// Queued messages go out as soon as an acknowledgement frees a place in the
// window, not only on the next once-a-second pass: a burst larger than the
// window then drains at the broker's pace instead of one window a second.
void MQTTSession::sendQueuedFlows() {
    if (mayHaveQueued_) {
        sendTxFlows(true);
    }
}

void MQTTSession::sendTxFlows(bool queuedOnly) {
    if (status_ != MQTTSessionStatusConnected) {
        return;
    }
    auto self = shared_from_this();
    const auto attempt = attempt_;
    const auto flows = persistence_->allFlowsforClientId(clientId_, false);
    std::uint64_t inFlight = 0;
    bool queuedLeft = false;
    for (const auto& flow : flows) {
        if (commandOf(flow) != MQTTFlowCommandQueued) {
            ++inFlight;
        }
    }
    for (const auto& flow : flows) {
        // A send that failed may have closed the connection under us.
        if (status_ != MQTTSessionStatusConnected || attempt != attempt_) {
            return;
        }
        const auto command = commandOf(flow);
        if (queuedOnly && command != MQTTFlowCommandQueued) {
            continue;
        }
        const double deadline = flow->deadline().value_or(0);
        const int mid = flow->messageId().value_or(0);
        MQTT_LOG_VERBOSE("[MQTTSession] %s flow %.3f %d %d", clientId_.c_str(), deadline, static_cast<int>(command),
                         mid);
        // A queued flow is due from the moment it was queued.
        if (!queuedOnly && !(deadline < platform::Clock::now())) {
            queuedLeft = queuedLeft || command == MQTTFlowCommandQueued;
            continue;
        }
        switch (command) {
        case MQTTFlowCommandQueued:
            if (inFlight <= persistence_->maxWindowSize()) {
                MQTT_LOG_VERBOSE("[MQTTSession] PUBLISH queued message %d", mid);
                if (encode(publishFromFlow(flow, false))) {
                    flow->setCommandType(MQTTFlowCommandPublishSent);
                    flow->setDeadline(platform::Clock::now() + dupTimeout_);
                    persistence_->sync();
                    ++inFlight;
                    break;
                }
            }
            queuedLeft = true;
            break;
        case MQTTFlowCommandPublishSent:
            MQTT_LOG_INFO("[MQTTSession] resend PUBLISH %d", mid);
            if (encode(publishFromFlow(flow, true))) {
                flow->setDeadline(platform::Clock::now() + dupTimeout_);
                persistence_->sync();
            }
            break;
        case MQTTFlowCommandPubrelSent:
            MQTT_LOG_INFO("[MQTTSession] resend PUBREL %d", mid);
            if (encode(MQTTMessage::pubrelMessageWithMessageId(static_cast<std::uint16_t>(mid), protocolLevel_, 0,
                                                                std::nullopt, std::nullopt))) {
                flow->setDeadline(platform::Clock::now() + dupTimeout_);
                persistence_->sync();
            }
            break;
        default:
            break;
        }
    }
    mayHaveQueued_ = queuedLeft;
}

void MQTTSession::completeFlow(const MQTTFlowPtr& flow, std::uint16_t mid) {
    const auto topic = flow->topic().value_or(std::string());
    const auto data = flow->data().value_or(platform::Bytes{});
    const auto qos = flow->qosLevel().value_or(0);
    const auto retained = flow->retainedFlag().value_or(false);
    // The flow is gone before anyone hears of it, so a callback that publishes
    // or reconnects sees the store as it now stands.
    persistence_->deleteFlow(flow);
    persistence_->sync();
    if (auto d = delegate()) {
        d->messageDelivered(*this, mid);
        d->messageDelivered(*this, mid, topic, data, qos, retained);
    }
    if (synchronPub_ && synchronPubMid_ == mid) {
        synchronPub_ = false;
    }
    endFlow(mid, nullptr);
}

void MQTTSession::failFlow(const MQTTFlowPtr& flow, std::uint16_t mid, unsigned reason) {
    MQTT_LOG_WARNING("[MQTTSession] message %d refused by the broker, reason 0x%02x", static_cast<int>(mid), reason);
    persistence_->deleteFlow(flow);
    persistence_->sync();
    if (synchronPub_ && synchronPubMid_ == mid) {
        // The wait ends with the id cleared, so the blocking publish answers false.
        synchronPubMid_ = 0;
        synchronPub_ = false;
    }
    endFlow(mid, makeError(reason, "MQTT publication refused, reason " + std::to_string(reason)));
}

void MQTTSession::endFlow(std::uint16_t mid, const platform::ErrorPtr& error) {
    auto it = publishHandlers_.find(mid);
    if (it != publishHandlers_.end()) {
        auto handler = std::move(it->second);
        publishHandlers_.erase(it);
        if (handler) {
            handler(error);
        }
    }
    sendQueuedFlows();
    tell();
}

void MQTTSession::handlePuback(const MQTTMessagePtr& message) {
    auto flow = persistence_->flowforClientId(clientId_, false, message->mid());
    if (!flow || commandOf(flow) != MQTTFlowCommandPublishSent || flow->qosLevel().value_or(0) != 1) {
        return;
    }
    if (protocolLevel_ == 5 && message->returnCode().value_or(0) >= kFirstFailureReason) {
        failFlow(flow, message->mid(), *message->returnCode());
        return;
    }
    completeFlow(flow, message->mid());
}

void MQTTSession::handlePubrec(const MQTTMessagePtr& message) {
    auto flow = persistence_->flowforClientId(clientId_, false, message->mid());
    const bool matches =
        flow && commandOf(flow) == MQTTFlowCommandPublishSent && flow->qosLevel().value_or(0) == 2;
    if (matches && protocolLevel_ == 5 && message->returnCode().value_or(0) >= kFirstFailureReason) {
        // A refused QoS 2 message ends here: the broker expects no PUBREL.
        failFlow(flow, message->mid(), *message->returnCode());
        return;
    }
    auto pubrel = MQTTMessage::pubrelMessageWithMessageId(message->mid(), protocolLevel_, 0, std::nullopt, std::nullopt);
    if (matches) {
        flow->setCommandType(MQTTFlowCommandPubrelSent);
        flow->setDeadline(platform::Clock::now() + dupTimeout_);
        persistence_->sync();
    }
    encode(pubrel);
}

void MQTTSession::handlePubcomp(const MQTTMessagePtr& message) {
    auto flow = persistence_->flowforClientId(clientId_, false, message->mid());
    if (!flow || commandOf(flow) != MQTTFlowCommandPubrelSent) {
        return;
    }
    if (protocolLevel_ == 5 && message->returnCode().value_or(0) >= kFirstFailureReason) {
        failFlow(flow, message->mid(), *message->returnCode());
        return;
    }
    completeFlow(flow, message->mid());
}

}  // namespace pellix
