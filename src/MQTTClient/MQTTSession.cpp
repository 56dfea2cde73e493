// MQTTSession: the session record, connect, CONNACK and the error path.
#include "MQTTClient/MQTTSession.h"

#include <cmath>

#include "MQTTClient/GCDTimer.h"
#include "MQTTClient/MQTTCoreDataPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTStrict.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"

namespace pellix {

namespace {

bool isUTF8(const std::string& s) {
    return MQTTProperties::isValidUTF8(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

[[noreturn]] void raise(const std::string& name, const std::string& reason) {
    throw platform::Exception(name, reason);
}

std::string text(const std::optional<std::string>& s) { return s ? *s : "(null)"; }

const char* decoderEventName(MQTTDecoderEvent event) {
    switch (event) {
    case MQTTDecoderEventProtocolError:
        return "MQTTDecoderEventProtocolError";
    case MQTTDecoderEventConnectionClosed:
        return "MQTTDecoderEventConnectionClosed";
    case MQTTDecoderEventConnectionError:
        return "MQTTDecoderEventConnectionError";
    }
    return "unknown";
}

}  // namespace

platform::ErrorPtr MQTTSession::makeError(std::int64_t code, const std::string& description) {
    platform::Dictionary info;
    info.set(platform::Error::kLocalizedDescriptionKey, platform::Value(description));
    return platform::Error::make(kMQTTErrorDomain, code, std::move(info));
}

std::shared_ptr<MQTTSession> MQTTSession::create() { return std::shared_ptr<MQTTSession>(new MQTTSession()); }

MQTTSession::MQTTSession() {
    txMsgId_ = 1;
    persistence_ = MQTTCoreDataPersistence::create();
    setClientId(std::nullopt);
    keepAliveInterval_ = 60;
    dupTimeout_ = 20.0;
    cleanSessionFlag_ = true;
    protocolLevel_ = 4;
    queue_ = platform::DispatchQueue::main();
    status_ = MQTTSessionStatusCreated;
    streamSSLLevel_ = kStreamSocketSecurityLevelNegotiatedSSL;
}

MQTTSession::~MQTTSession() {
    if (checkDupTimer_) {
        checkDupTimer_->invalidate();
    }
    if (keepAliveTimer_) {
        keepAliveTimer_->invalidate();
    }
    if (connackTimer_) {
        connackTimer_->invalidate();
    }
    // The decoder and the transport hold us weakly and go with their last
    // reference; nothing here waits for a queue, so the last reference may
    // be dropped on any thread.
}

MQTTSession::ConnectionHandler MQTTSession::connectionHandler() const {
    std::lock_guard lock(blocksMutex_);
    return connectionHandler_;
}

void MQTTSession::setConnectionHandler(ConnectionHandler handler) {
    std::lock_guard lock(blocksMutex_);
    connectionHandler_ = std::move(handler);
}

MQTTSession::MessageHandler MQTTSession::messageHandler() const {
    std::lock_guard lock(blocksMutex_);
    return messageHandler_;
}

void MQTTSession::setMessageHandler(MessageHandler handler) {
    std::lock_guard lock(blocksMutex_);
    messageHandler_ = std::move(handler);
}

void MQTTSession::setStreamSSLLevel(std::optional<std::string> level) {
    streamSSLLevel_ = std::move(level);
    if (transport_) {
        transport_->setStreamSSLLevel(streamSSLLevel_);
    }
}

std::optional<std::string> MQTTSession::host() const {
    return transport_ ? transport_->host() : std::nullopt;
}

std::uint32_t MQTTSession::port() const { return transport_ ? transport_->port() : 0; }

void MQTTSession::setClientId(std::optional<std::string> clientId) {
    if (!clientId) {
        double whole;
        const double fraction = std::modf(platform::Clock::now(), &whole);
        char buf[48];
        std::snprintf(buf, sizeof buf, "MQTTClient%.0f", fraction * 1000000.0);
        clientId_ = buf;
    } else {
        clientId_ = std::move(*clientId);
    }
}

void MQTTSession::setCertificates(std::optional<MQTTCertificates> certificates) {
    certificates_ = std::move(certificates);
    if (transport_ && transport_->implementsSetCertificates()) {
        transport_->setCertificates(certificates_);
    }
}

// ---- Connect -----------------------------------------------------------------

void MQTTSession::connect() {
    if (MQTTStrict::strict()) {
        const auto n = [](const std::optional<std::string>& s) { return std::to_string(s ? s->size() : 0); };
        if (clientId_.empty() && !cleanSessionFlag_) {
            raise("clientId must be at least 1 character long if cleanSessionFlag is off",
                  "clientId length = " + std::to_string(clientId_.size()));
        }
        if (clientId_.size() > 65535) {
            raise("clientId may not be longer than 65535 bytes in UTF8 representation",
                  "clientId length = " + std::to_string(clientId_.size()));
        }
        if (!isUTF8(clientId_)) {
            raise("clientId must not contain non-UTF8 characters", "clientId = " + clientId_);
        }
        if (userName_ && userName_->size() > 65535) {
            raise("userName may not be longer than 65535 bytes in UTF8 representation", "userName length = " + n(userName_));
        }
        if (userName_ && !isUTF8(*userName_)) {
            raise("userName must not contain non-UTF8 characters", "userName = " + *userName_);
        }
        if (password_ && !userName_) {
            raise("password specified without userName", "password = " + *password_);
        }
        if (protocolLevel_ < 3 || protocolLevel_ > 5) {
            raise("Illegal protocolLevel", std::to_string(protocolLevel_) + " is not 3, 4, or 5");
        }
        if (!willFlag_) {
            if (willTopic_) {
                raise("Will topic must be nil if willFlag is false", *willTopic_);
            }
            if (willMsg_) {
                raise("Will message must be nil if willFlag is false", MQTTLog::describe(*willMsg_));
            }
            if (willRetainFlag_) {
                raise("Will retain must be false if willFlag is false", std::to_string(willRetainFlag_));
            }
            if (willQoS_ != 0) {
                raise("Will QoS Level must be 0 if willFlag is false", std::to_string(willQoS_));
            }
        }
        if (willQoS_ > 2) {
            raise("Illegal will QoS level", std::to_string(willQoS_) + " is not 0, 1, or 2");
        }
        if (willFlag_ && !willTopic_) {
            raise("Will topic must not be nil if willFlag is true", text(willTopic_));
        }
        if (willTopic_) {
            if (willTopic_->empty()) {
                raise("Will topic must be at least 1 character long", *willTopic_);
            }
            if (willTopic_->size() > 65535) {
                raise("willTopic may not be longer than 65535 bytes in UTF8 representation",
                      "willTopic length = " + n(willTopic_));
            }
            if (!isUTF8(*willTopic_)) {
                raise("willTopic must not contain non-UTF8 characters", "willTopic = " + *willTopic_);
            }
            if (willTopic_->find_first_of("+#") != std::string::npos) {
                raise("willTopic must not contain wildcards", "willTopic = " + *willTopic_);
            }
        }
        if (willFlag_ && !willMsg_) {
            raise("Will message must not be nil if willFlag is true", "(null)");
        }
    }

    MQTT_LOG_VERBOSE("[MQTTSession] connecting");
    auto self = shared_from_this();
    ++attempt_;
    if (cleanSessionFlag_) {
        persistence_->deleteAllFlowsForClientId(clientId_);
        subscribeHandlers_.clear();
        unsubscribeHandlers_.clear();
        publishHandlers_.clear();
    }
    tell();
    // Connecting again over a live connection: that connection's timers
    // stopped with it, or they ran on beside the new ones and after close().
    stopTimers();
    status_ = MQTTSessionStatusConnecting;
    pingOutstanding_ = false;
    serverReceiveMaximum_.reset();
    serverMaximumPacketSize_.reset();
    topicAliases_.clear();
    resentPubrels_.clear();

    if (decoder_) {
        decoder_->setDelegate({});
        decoder_->close();
    }
    decoder_ = MQTTDecoder::create();
    decoder_->setQueue(queue_);
    decoder_->setDelegate(weak_from_this());
    decoder_->open();

    if (!transport_) {
        // Nothing to open: fail the attempt instead of waiting for ever.
        MQTT_LOG_ERROR("[MQTTSession] connect without transport");
        connectionError(makeError(MQTTSessionErrorEncoderNotReady, "Encoder not ready"));
        return;
    }
    if (connectTimeout_ > 0) {
        std::weak_ptr<MQTTSession> weak = weak_from_this();
        const auto attempt = attempt_;
        connackTimer_ = GCDTimer::scheduledTimerWithTimeInterval(connectTimeout_, false, queue_, [weak, attempt] {
            auto self = weak.lock();
            if (!self || self->attempt_ != attempt || self->status_ != MQTTSessionStatusConnecting) {
                return;
            }
            MQTT_LOG_WARNING("[MQTTSession] no CONNACK within %.1f s", self->connectTimeout_);
            self->connectionError(makeError(MQTTSessionErrorNoConnackInTime, "No CONNACK within the connect time-out"));
        });
    }
    transport_->setDelegate(weak_from_this());
    transport_->open();
}

void MQTTSession::connectWithConnectHandler(ConnectHandler handler) {
    connectHandler_ = std::move(handler);
    connect();
}

void MQTTSession::mqttTransportDidOpen(MQTTTransport& transport) {
    if (&transport != transport_.get()) {
        return;
    }
    auto self = shared_from_this();
    MQTT_LOG_VERBOSE("[MQTTSession] mqttTransportDidOpen");
    MQTT_LOG_VERBOSE("[MQTTSession] sending CONNECT");
    if (connectMessage_) {
        encode(connectMessage_);
        return;
    }
    encode(MQTTMessage::connectMessageWithClientId(
        clientId_, userName_, password_, keepAliveInterval_, cleanSessionFlag_, willFlag_, willTopic_, willMsg_,
        willQoS_, willRetainFlag_, protocolLevel_, sessionExpiryInterval, authMethod, authData,
        requestProblemInformation, willDelayInterval, requestResponseInformation, receiveMaximum, topicAliasMaximum,
        userProperty, maximumPacketSize));
}

void MQTTSession::mqttTransport(MQTTTransport& transport, const platform::Bytes& message) {
    if (&transport != transport_.get() || !decoder_) {
        return;
    }
    auto self = shared_from_this();
    MQTT_LOG_VERBOSE("[MQTTSession] mqttTransport didReceiveMessage");
    if (queue_ && queue_->isCurrent()) {
        auto decoder = decoder_;
        decoder->feed(message);  // already on our queue: no second hop
    } else {
        decoder_->decodeMessage(message);
    }
}

void MQTTSession::mqttTransportDidClose(MQTTTransport& transport) {
    if (&transport != transport_.get()) {
        return;
    }
    auto self = shared_from_this();
    MQTT_LOG_VERBOSE("[MQTTSession] mqttTransport mqttTransportDidClose");
    error(MQTTSessionEventConnectionClosedByBroker, nullptr);
}

void MQTTSession::mqttTransport(MQTTTransport& transport, platform::ErrorPtr err) {
    if (&transport != transport_.get()) {
        return;
    }
    auto self = shared_from_this();
    MQTT_LOG_WARNING("[MQTTSession] mqttTransport didFailWithError %s", err ? err->description().c_str() : "(null)");
    connectionError(err);
}

void MQTTSession::decoder(MQTTDecoder& decoder, MQTTDecoderEvent event, platform::ErrorPtr err) {
    if (&decoder != decoder_.get()) {
        return;
    }
    auto self = shared_from_this();
    MQTT_LOG_VERBOSE("[MQTTSession] decoder handleEvent: %s (%d) %s", decoderEventName(event), static_cast<int>(event),
                     err ? err->description().c_str() : "(null)");
    const auto attempt = attempt_;
    switch (event) {
    case MQTTDecoderEventProtocolError:
        protocolError(err);
        break;
    case MQTTDecoderEventConnectionClosed:
        error(MQTTSessionEventConnectionClosedByBroker, err);
        break;
    case MQTTDecoderEventConnectionError:
        connectionError(err);
        break;
    }
    if (attempt == attempt_) {
        callConnectHandler(err);
    }
}

void MQTTSession::decoder(MQTTDecoder& decoder, std::span<const std::uint8_t> bytes) {
    if (&decoder != decoder_.get()) {
        return;
    }
    auto self = shared_from_this();
    auto message = MQTTMessage::messageFromData(bytes, protocolLevel_);
    if (!message) {
        MQTT_LOG_ERROR("[MQTTSession] MQTT illegal message received");
        auto err = makeError(MQTTSessionErrorIllegalMessageReceived, "MQTT illegal message received");
        // An unreadable answer to CONNECT ends the attempt: its connect
        // handler hears of it instead of waiting for ever.
        auto handler = status_ == MQTTSessionStatusConnecting ? std::move(connectHandler_) : ConnectHandler();
        if (handler) {
            connectHandler_ = nullptr;
        }
        protocolError(err);
        if (handler) {
            handler(err);
        }
        return;
    }
    std::lock_guard lock(receiveMutex_);
    static const platform::Bytes empty;
    const platform::Bytes& data = message->data() ? *message->data() : empty;
    if (auto d = delegate()) {
        d->received(*this, message->type(), message->qos(), message->retainFlag(), message->dupFlag(), message->mid(),
                    data);
        if (d->ignoreReceived(*this, message->type(), message->qos(), message->retainFlag(), message->dupFlag(),
                              message->mid(), data)) {
            return;
        }
    }
    switch (status_.load()) {
    case MQTTSessionStatusConnecting:
        handleConnecting(message);
        break;
    case MQTTSessionStatusConnected:
        switch (message->type()) {
        case MQTTPublish:
            handlePublish(message);
            break;
        case MQTTPuback:
            handlePuback(message);
            break;
        case MQTTPubrec:
            handlePubrec(message);
            break;
        case MQTTPubrel:
            handlePubrel(message);
            break;
        case MQTTPubcomp:
            handlePubcomp(message);
            break;
        case MQTTSuback:
            handleSuback(message);
            break;
        case MQTTUnsuback:
            handleUnsuback(message);
            break;
        case MQTTDisconnect:
            protocolError(makeError(message->returnCode().value_or(0), "MQTT protocol DISCONNECT received"));
            break;
        case MQTTConnack:
            malformed("MQTT protocol second CONNACK");
            break;
        case MQTTPingresp:
            pingOutstanding_ = false;
            break;
        default:
            break;  // CONNECT, SUBSCRIBE, UNSUBSCRIBE, PINGREQ: nothing to do
        }
        break;
    default:
        MQTT_LOG_ERROR("[MQTTSession] other state");
        break;
    }
}

void MQTTSession::handleConnecting(const MQTTMessagePtr& message) {
    // This attempt's connect handler is taken before the error path runs, so a
    // reconnect made from inside a delegate call keeps its own handler.
    const auto fail = [this](platform::ErrorPtr err) {
        auto handler = std::move(connectHandler_);
        connectHandler_ = nullptr;
        protocolError(err);
        if (handler) {
            handler(err);
        }
    };
    if (message->type() == MQTTDisconnect) {
        fail(makeError(message->returnCode().value_or(0), "MQTT protocol DISCONNECT instead of CONNACK"));
        return;
    }
    if (message->type() != MQTTConnack) {
        fail(makeError(MQTTSessionErrorNoConnack, "MQTT protocol no CONNACK"));
        return;
    }
    const std::size_t length = message->data() ? message->data()->size() : 0;
    if (protocolLevel_ == 5 ? length <= 2 : length != 2) {
        fail(makeError(MQTTSessionErrorConnackExpected, "MQTT protocol CONNACK expected"));
        return;
    }
    const auto attempt = attempt_;
    handleConnack(message);
    if (attempt == attempt_) {
        synchronConnect_ = false;
    }
}

void MQTTSession::handleConnack(const MQTTMessagePtr& message) {
    const auto attempt = attempt_;
    if (connackTimer_) {
        connackTimer_->invalidate();
        connackTimer_.reset();
    }
    if (message->returnCode() && *message->returnCode() == 0) {
        status_ = MQTTSessionStatusConnected;
        sessionPresent_ = (message->connectAcknowledgeFlags().value_or(0) & 1) == 1;
        serverKeepAlive_.reset();
        if (const auto& properties = message->properties(); properties && protocolLevel_ == 5) {
            serverKeepAlive_ = properties->serverKeepAlive();
            if (properties->receiveMaximum() && *properties->receiveMaximum() > 0) {
                serverReceiveMaximum_ = static_cast<std::uint64_t>(*properties->receiveMaximum());
            }
            if (properties->maximumPacketSize() && *properties->maximumPacketSize() > 0) {
                serverMaximumPacketSize_ = static_cast<std::uint64_t>(*properties->maximumPacketSize());
            }
            if (properties->assignedClientIdentifier()) {
                assignedClientIdentifier_ = properties->assignedClientIdentifier();
            }
        }
        std::weak_ptr<MQTTSession> weak = weak_from_this();
        checkDupTimer_ = GCDTimer::scheduledTimerWithTimeInterval(1.0, true, queue_, [weak] {
            if (auto self = weak.lock()) {
                self->checkDup();
            }
        });
        if (protocolLevel_ == 5 && !sessionPresent_) {
            discardSessionState();
            if (attempt != attempt_ || status_ != MQTTSessionStatusConnected) {
                return;  // a failed handler reconnected or closed
            }
        }
        // Whatever was in flight when the last connection ended goes out
        // again now, not when its old deadline passes: after a restart that
        // could be the whole duplicate time-out.
        sendTxFlows(false, true);
        if (attempt != attempt_ || status_ != MQTTSessionStatusConnected) {
            return;  // a write failure while resending closed the connection
        }
        effectiveKeepAlive_ = serverKeepAlive_ ? static_cast<std::uint16_t>(*serverKeepAlive_) : keepAliveInterval_;
        if (effectiveKeepAlive_ != 0) {
            keepAliveTimer_ = GCDTimer::scheduledTimerWithTimeInterval(effectiveKeepAlive_, true, queue_, [weak] {
                if (auto self = weak.lock()) {
                    self->keepAlive();
                }
            });
        }
        if (auto d = delegate()) {
            d->handleEvent(*this, MQTTSessionEventConnected, nullptr);
            d->connected(*this);
            d->connected(*this, sessionPresent_);
        }
        if (attempt != attempt_) {
            return;
        }
        reportEvent(MQTTSessionEventConnected);
        if (attempt == attempt_) {
            callConnectHandler(nullptr);
        }
        return;
    }

    std::int64_t code = 0;
    std::string description = "unknown";
    if (message->returnCode()) {
        static const char* const texts[] = {
            "",
            "MQTT CONNACK: unacceptable protocol version",
            "MQTT CONNACK: identifier rejected",
            "MQTT CONNACK: server unavailable",
            "MQTT CONNACK: bad user name or password",
            "MQTT CONNACK: not authorized",
            "MQTT CONNACK: reserved for future use",
        };
        code = std::min<unsigned>(*message->returnCode(), 6);
        description = texts[code];
    }
    auto err = makeError(code, description);
    auto connectHandler = std::move(connectHandler_);  // this attempt's handler, not a reconnect's
    connectHandler_ = nullptr;
    error(MQTTSessionEventConnectionRefused, err);
    if (auto d = delegate()) {
        d->connectionRefused(*this, err);
    }
    if (connectHandler) {
        connectHandler(err);
    }
}

// ---- Writing and reporting ---------------------------------------------------

bool MQTTSession::encode(const MQTTMessagePtr& message) {
    if (!message) {
        MQTT_LOG_ERROR("[MQTTSession] trying to send nil message");
        return false;
    }
    platform::Bytes wire = message->wireFormat();
    if (wire.empty()) {
        MQTT_LOG_ERROR("[MQTTSession] trying to send message without wire format");
        return false;
    }
    if (auto d = delegate()) {
        static const platform::Bytes empty;
        d->sending(*this, message->type(), message->qos(), message->retainFlag(), message->dupFlag(), message->mid(),
                   message->data() ? *message->data() : empty);
    }
    MQTT_LOG_VERBOSE("[MQTTSession] mqttTransport send");
    auto transport = transport_;
    return transport && transport->send(wire);
}

void MQTTSession::tell() {
    auto d = delegate();
    if (!d || !persistence_) {
        return;
    }
    const auto in = persistence_->flowCountforClientId(clientId_, true);
    const auto out = persistence_->flowCountforClientId(clientId_, false);
    d->buffered(*this, in, out);
    d->buffered(*this, 0, in, out);
}

// ---- Error path --------------------------------------------------------------

void MQTTSession::callConnectHandler(platform::ErrorPtr err) {
    auto handler = std::move(connectHandler_);
    connectHandler_ = nullptr;
    if (handler) {
        handler(std::move(err));
    }
}

void MQTTSession::reportEvent(MQTTSessionEvent event) {
    if (auto handler = connectionHandler()) {
        handler(event);
    }
}

void MQTTSession::connectionError(platform::ErrorPtr err) {
    auto connectHandler = std::move(connectHandler_);
    connectHandler_ = nullptr;
    error(MQTTSessionEventConnectionError, err);
    if (auto d = delegate()) {
        d->connectionError(*this, err);
    }
    if (connectHandler) {
        connectHandler(err);
    }
}

void MQTTSession::malformed(const std::string& what) {
    MQTT_LOG_ERROR("[MQTTSession] %s", what.c_str());
    protocolError(makeError(MQTTSessionErrorIllegalMessageReceived, what));
}

void MQTTSession::protocolError(platform::ErrorPtr err) {
    error(MQTTSessionEventProtocolError, err);
    if (auto d = delegate()) {
        d->protocolError(*this, err);
    }
}

void MQTTSession::error(MQTTSessionEvent event, platform::ErrorPtr err) {
    auto self = shared_from_this();
    const auto attempt = attempt_;
    status_ = MQTTSessionStatusError;
    if (auto d = delegate()) {
        d->handleEvent(*this, event, err);
    }
    if (attempt != attempt_) {
        return;  // the delegate reconnected from inside the event
    }
    closeInternal();
    if (attempt != attempt_) {
        return;
    }
    reportEvent(event);
    if (attempt != attempt_) {
        return;
    }
    if (event == MQTTSessionEventConnectionClosedByBroker && connectHandler_) {
        callConnectHandler(makeError(MQTTSessionErrorClosedWithoutConnack, "Server has closed connection without connack."));
    }
    clearWaitFlags(true);
}

void MQTTSession::clearWaitFlags(bool all) {
    synchronPub_ = false;
    synchronPubMid_ = 0;
    synchronSub_ = false;
    synchronSubMid_ = 0;
    synchronUnsub_ = false;
    synchronUnsubMid_ = 0;
    if (all) {
        synchronConnect_ = false;
        synchronDisconnect_ = false;
    }
}

}  // namespace pellix
