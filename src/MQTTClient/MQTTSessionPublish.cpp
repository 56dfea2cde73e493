// MQTTSession: publishing, message ids and the outgoing QoS 1 and 2 flows.
#include <algorithm>

#include "MQTTClient/MQTTByteBuffer.h"
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
constexpr unsigned kPacketIdentifierNotFound = 0x92;

}  // namespace

std::size_t MQTTSession::adoptOutgoingFlows(MQTTSession& from) {
    if (&from == this || !from.persistence_ || !persistence_) {
        return 0;
    }
    auto self = shared_from_this();
    auto keep = from.shared_from_this();
    const bool sameClient = from.clientId_ == clientId_;
    std::size_t carried = 0;
    std::vector<PublishHandler> failed;
    for (const auto& flow : from.persistence_->allFlowsforClientId(from.clientId_, false)) {
        const auto mid = flow->messageId();
        PublishHandler handler;
        if (mid) {
            if (auto it = from.publishHandlers_.find(*mid); it != from.publishHandlers_.end()) {
                handler = std::move(it->second);
                from.publishHandlers_.erase(it);
            }
        }
        if (!mid) {
            continue;
        }
        auto here = persistence_->flowforClientId(clientId_, false, *mid);
        if (here && sameClient) {
            // The same record seen through this store.
            if (handler) {
                publishHandlers_[*mid] = std::move(handler);
            }
            ++carried;
            continue;
        }
        MQTTFlowPtr stored;
        if (!here) {
            stored = persistence_->storeMessageForClientId(
                clientId_, flow->topic().value_or(std::string()), flow->data().value_or(platform::Bytes{}),
                flow->retainedFlag().value_or(false), flow->qosLevel().value_or(1), *mid, false, commandOf(flow),
                flow->deadline().value_or(platform::Clock::now()));
        }
        if (!stored) {
            MQTT_LOG_ERROR("[MQTTSession] outgoing message %u of %s could not be carried over to %s",
                           static_cast<unsigned>(*mid), from.clientId_.c_str(), clientId_.c_str());
            if (handler) {
                failed.push_back(std::move(handler));
            }
            continue;
        }
        from.persistence_->deleteFlow(flow);
        if (handler) {
            publishHandlers_[*mid] = std::move(handler);
        }
        ++carried;
    }
    from.persistence_->sync();
    persistence_->sync();
    mayHaveQueued_ = true;
    {
        // Ids go on from where the old session's counter stood, so a message
        // published now does not take the id of one just completed there.
        std::scoped_lock lock(msgIdMutex_, from.msgIdMutex_);
        txMsgId_ = std::max(txMsgId_, from.txMsgId_);
    }
    auto err = makeError(MQTTSessionErrorDroppingOutgoingMessage, "Dropping outgoing Message");
    for (auto& handler : failed) {
        handler(err);
    }
    return carried;
}

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

    // A message that cannot go out (a topic over 65,535 bytes, a packet past
    // the protocol's or the broker's limit) is refused here: stored, it would
    // never complete and would hold up every message queued behind it.
    const auto refuse = [&](platform::ErrorPtr err) {
        MQTT_LOG_WARNING("[MQTTSession] refusing outgoing message: %s", err->description().c_str());
        if (publishHandler) {
            publishHandler(err);
        }
        tell();
        return std::uint16_t{0};
    };

    if (qos == 0) {
        auto message = MQTTMessage::publishMessageWithData(data, topic, 0, 0, retain, false, protocolLevel_,
                                                           std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                                           std::nullopt, std::nullopt, std::nullopt);
        platform::ErrorPtr err;
        if (!fitsBroker(message, err)) {
            return refuse(err);
        }
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
        message = MQTTMessage::publishMessageWithData(data, topic, qos, msgId, retain, false, protocolLevel_,
                                                      std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                                      std::nullopt, std::nullopt, std::nullopt);
        platform::ErrorPtr err;
        if (!fitsBroker(message, err)) {
            return refuse(err);  // the id was never stored, so it stays free
        }
        const bool sendNow = status_ == MQTTSessionStatusConnected &&
                             persistence_->queuedCountforClientId(clientId_) == 0 &&
                             persistence_->windowSize(clientId_) < windowLimit();
        if (sendNow) {
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

std::uint64_t MQTTSession::windowLimit() const {
    const std::uint64_t limit = persistence_->maxWindowSize() + 1;
    return serverReceiveMaximum_ ? std::min(limit, *serverReceiveMaximum_) : limit;
}

bool MQTTSession::fitsBroker(const MQTTMessagePtr& message, platform::ErrorPtr& error) const {
    if (!message || !message->encodable()) {
        error = makeError(MQTTSessionErrorMessageTooLarge, "Message cannot be encoded");
        return false;
    }
    const std::size_t length = message->data() ? message->data()->size() : 0;
    const std::uint64_t size = 1 + MQTTByteBuffer::variableLengthSize(length) + length;
    if (serverMaximumPacketSize_ && size > *serverMaximumPacketSize_) {
        error = makeError(MQTTSessionErrorMessageTooLarge,
                          "Message of " + std::to_string(size) + " bytes exceeds the broker's maximum packet size of " +
                              std::to_string(*serverMaximumPacketSize_));
        return false;
    }
    return true;
}

void MQTTSession::discardSessionState() {
    std::vector<std::uint16_t> dropped;
    for (const auto& flow : persistence_->allFlowsforClientId(clientId_, false)) {
        if (commandOf(flow) == MQTTFlowCommandQueued) {
            continue;  // never sent: goes out as a new message
        }
        dropped.push_back(flow->messageId().value_or(0));
        persistence_->deleteFlow(flow);
    }
    for (const auto& flow : persistence_->allFlowsforClientId(clientId_, true)) {
        persistence_->deleteFlow(flow);
    }
    persistence_->sync();
    if (dropped.empty()) {
        return;
    }
    MQTT_LOG_WARNING("[MQTTSession] broker kept no session: %d messages in flight dropped",
                     static_cast<int>(dropped.size()));
    const auto attempt = attempt_;
    auto err = makeError(MQTTSessionErrorSessionNotPresent, "Session not present on the broker");
    for (const auto mid : dropped) {
        if (synchronPub_ && synchronPubMid_ == mid) {
            synchronPubMid_ = 0;
            synchronPub_ = false;
        }
        auto it = publishHandlers_.find(mid);
        if (it == publishHandlers_.end()) {
            continue;
        }
        auto handler = std::move(it->second);
        publishHandlers_.erase(it);
        if (handler) {
            handler(err);
        }
        if (attempt != attempt_) {
            return;
        }
    }
    tell();
}

// Queued messages go out as soon as an acknowledgement frees a place in the
// window, not only on the next once-a-second pass: a burst larger than the
// window then drains at the broker's pace instead of one window a second.
void MQTTSession::sendQueuedFlows() {
    if (mayHaveQueued_) {
        sendTxFlows(true);
    }
}

void MQTTSession::sendTxFlows(bool queuedOnly, bool resendAll) {
    if (status_ != MQTTSessionStatusConnected) {
        return;
    }
    auto self = shared_from_this();
    const auto attempt = attempt_;
    const auto live = [&] { return status_ == MQTTSessionStatusConnected && attempt == attempt_; };
    if (!queuedOnly) {
        // Repeats of what is in flight, soonest due first; the queue behind
        // it is not walked.
        const double now = platform::Clock::now();
        for (const auto& flow : persistence_->inFlightFlowsforClientId(clientId_)) {
            // A send that failed may have closed the connection under us.
            if (!live()) {
                return;
            }
            const auto command = commandOf(flow);
            if (!resendAll && !(flow->deadline().value_or(0) < now)) {
                break;  // the rest are due later
            }
            const int mid = flow->messageId().value_or(0);
            if (command == MQTTFlowCommandPublishSent) {
                MQTT_LOG_INFO("[MQTTSession] resend PUBLISH %d", mid);
                if (encode(publishFromFlow(flow, true))) {
                    flow->setDeadline(platform::Clock::now() + dupTimeout_);
                    persistence_->sync();
                }
            } else if (command == MQTTFlowCommandPubrelSent) {
                MQTT_LOG_INFO("[MQTTSession] resend PUBREL %d", mid);
                if (encode(MQTTMessage::pubrelMessageWithMessageId(static_cast<std::uint16_t>(mid), protocolLevel_, 0,
                                                                    std::nullopt, std::nullopt))) {
                    resentPubrels_.insert(static_cast<std::uint16_t>(mid));
                    flow->setDeadline(platform::Clock::now() + dupTimeout_);
                    persistence_->sync();
                }
            }
        }
    }
    // Queued flows, oldest first, as far as the window admits: taken from the
    // store's queue, so a long queue costs nothing per acknowledgement.
    std::vector<std::pair<MQTTFlowPtr, platform::ErrorPtr>> refused;
    for (;;) {
        if (!live()) {
            return;
        }
        const std::uint64_t inFlight = persistence_->windowSize(clientId_);
        const std::uint64_t limit = windowLimit();
        if (inFlight >= limit) {
            break;
        }
        const auto batch = persistence_->queuedFlowsforClientId(clientId_, static_cast<std::size_t>(limit - inFlight));
        if (batch.empty()) {
            break;
        }
        bool progress = false;
        for (const auto& flow : batch) {
            if (!live()) {
                return;
            }
            const int mid = flow->messageId().value_or(0);
            auto message = publishFromFlow(flow, false);
            platform::ErrorPtr err;
            if (!fitsBroker(message, err)) {
                // Stored before this broker's limit was known: it can never
                // go out here, so it ends now instead of blocking the queue.
                refused.emplace_back(flow, err);
                progress = true;
                continue;
            }
            MQTT_LOG_VERBOSE("[MQTTSession] PUBLISH queued message %d", mid);
            if (!encode(message)) {
                break;
            }
            flow->setCommandType(MQTTFlowCommandPublishSent);
            flow->setDeadline(platform::Clock::now() + dupTimeout_);
            persistence_->sync();
            progress = true;
        }
        if (!progress || !refused.empty()) {
            break;
        }
    }
    mayHaveQueued_ = persistence_->queuedCountforClientId(clientId_) > 0;
    for (auto& [flow, err] : refused) {
        if (!live()) {
            return;
        }
        const auto mid = flow->messageId().value_or(0);
        persistence_->deleteFlow(flow);
        persistence_->sync();
        if (synchronPub_ && synchronPubMid_ == mid) {
            synchronPubMid_ = 0;
            synchronPub_ = false;
        }
        endFlow(mid, err);
    }
}

void MQTTSession::completeFlow(const MQTTFlowPtr& flow, std::uint16_t mid) {
    resentPubrels_.erase(mid);
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
    resentPubrels_.erase(mid);
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
    const unsigned reason = message->returnCode().value_or(0);
    // "Packet identifier not found" for a PUBREL sent again after a
    // reconnect: the broker completed the message before the old connection
    // ended, so it was delivered.
    const bool alreadyDone = reason == kPacketIdentifierNotFound && resentPubrels_.count(message->mid()) != 0;
    if (protocolLevel_ == 5 && reason >= kFirstFailureReason && !alreadyDone) {
        failFlow(flow, message->mid(), reason);
        return;
    }
    completeFlow(flow, message->mid());
}

}  // namespace pellix
