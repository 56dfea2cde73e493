#include "MQTTClient/MQTTSessionManager.h"

#include <algorithm>

#include "MQTTClient/ForegroundReconnection.h"
#include "MQTTClient/MQTTCoreDataPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSSLSecurityPolicy.h"
#include "platform/DispatchQueue.h"
#include "platform/TLSSettings.h"

namespace pellix {

namespace {

const char* eventName(MQTTSessionEvent event) {
    switch (event) {
        case MQTTSessionEventConnected: return "connected";
        case MQTTSessionEventConnectionRefused: return "connection refused";
        case MQTTSessionEventConnectionClosed: return "connection closed";
        case MQTTSessionEventConnectionError: return "connection error";
        case MQTTSessionEventProtocolError: return "protocoll error";
        case MQTTSessionEventConnectionClosedByBroker: return "connection closed by broker";
    }
    return "unknown";
}

// Absent values never count as equal, so they always rebuild the session.
template <typename T>
bool sameGiven(const std::optional<T>& given, const std::optional<T>& stored) {
    return given && stored && *given == *stored;
}

}  // namespace

double MQTTSessionManager::connectTimeoutFor(std::int64_t keepalive) {
    if (keepalive <= 0) return kMaxConnectTimeout;
    return std::clamp(static_cast<double>(keepalive) / 2.0, kMinConnectTimeout, kMaxConnectTimeout);
}

std::shared_ptr<MQTTSessionManager> MQTTSessionManager::create() {
    return initWithPersistence(false, 16, 1024, 64 * 1024 * 1024, 64.0, true,
                               std::string(platform::TLSSettings::kLevelNegotiatedSSL),
                               platform::DispatchQueue::main());
}

std::shared_ptr<MQTTSessionManager> MQTTSessionManager::initWithPersistence(
    bool persistent, std::uint64_t maxWindowSize, std::uint64_t maxMessages, std::uint64_t maxSize,
    double maxConnectionRetryInterval, bool connectInForeground, std::optional<std::string> streamSSLLevel,
    std::shared_ptr<platform::DispatchQueue> queue) {
    auto self = std::shared_ptr<MQTTSessionManager>(new MQTTSessionManager());
    self->streamSSLLevel_ = std::move(streamSSLLevel);
    self->queue_ = std::move(queue);
    self->updateState(MQTTSessionManagerStateStarting);
    self->persistent_ = persistent;
    self->maxWindowSize_ = maxWindowSize;
    self->maxSize_ = maxSize;
    self->maxMessages_ = maxMessages;
    std::weak_ptr<MQTTSessionManager> weak = self;
    self->reconnectTimer_ = ReconnectTimer::initWithRetryInterval(1.0, maxConnectionRetryInterval, self->queue_, [weak] {
        if (auto manager = weak.lock()) manager->reconnect(nullptr);
    });
    if (connectInForeground) self->foregroundReconnection_ = ForegroundReconnection::initWithMQTTSessionManager(self);
    return self;
}

MQTTSessionManager::~MQTTSessionManager() {
    reconnectTimer_->stop();
    if (session_) {
        session_->setDelegate({});
        session_->closeWithDisconnectHandler(nullptr);
    }
}

void MQTTSessionManager::connectTo(const std::string& host, std::int64_t port, bool tls, std::int64_t keepalive,
                                   bool clean, bool auth, const std::optional<std::string>& user,
                                   const std::optional<std::string>& pass, bool will,
                                   const std::optional<std::string>& willTopic,
                                   const std::optional<platform::Bytes>& willMsg, std::uint8_t willQos,
                                   bool willRetainFlag, const std::optional<std::string>& clientId,
                                   std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy,
                                   std::optional<MQTTCertificates> certificates, std::uint8_t protocolLevel,
                                   ConnectHandler connectHandler) {
    MQTT_LOG_VERBOSE("MQTTSessionManager connectTo:%s", host.c_str());
    const bool hadSession = session_ != nullptr;
    const bool same = session_ && host == host_ && static_cast<std::uint32_t>(port) == port_ && tls == tls_ &&
                      keepalive == keepalive_ && clean == clean_ && auth == auth_ && sameGiven(user, user_) &&
                      sameGiven(pass, pass_) && sameGiven(willTopic, willTopic_) && sameGiven(willMsg, willMsg_) &&
                      willQos == willQos_ && willRetainFlag == willRetainFlag_ && sameGiven(clientId, clientId_) &&
                      securityPolicy == securityPolicy_ && certificates == certificates_;
    if (!same) {
        host_ = host;
        port_ = static_cast<std::uint32_t>(port);
        tls_ = tls;
        keepalive_ = keepalive;
        clean_ = clean;
        auth_ = auth;
        user_ = user;
        pass_ = pass;
        will_ = will;
        willTopic_ = willTopic;
        willMsg_ = willMsg;
        willQos_ = willQos;
        willRetainFlag_ = willRetainFlag;
        clientId_ = clientId;
        securityPolicy_ = securityPolicy;
        certificates_ = certificates;
        protocolLevel_ = protocolLevel;

        // The old session goes first: closed, it can no longer report into
        // this manager about a connection it no longer has, nor change the
        // flows it hands over below.
        std::shared_ptr<MQTTSession> old = std::move(session_);
        if (old) {
            old->setDelegate({});
            old->closeWithDisconnectHandler(nullptr);
        }
        auto session = MQTTSession::initWithClientId(
            clientId, auth ? user : std::nullopt, auth ? pass : std::nullopt, static_cast<std::uint16_t>(keepalive),
            clean, will, willTopic, willMsg, willQos, willRetainFlag, protocolLevel, queue_, securityPolicy,
            certificates);
        session->setStreamSSLLevel(streamSSLLevel_);
        session->setConnectTimeout(connectTimeoutFor(keepalive));
        // One store serves every session the manager builds: the messages it
        // accepted while the old path was dead stay in it and move over to
        // the new session, to go out when that one connects.
        std::shared_ptr<MQTTPersistence> persistence = old ? old->persistence() : nullptr;
        if (!persistence) {
            auto store = MQTTCoreDataPersistence::create();
            store->setPersistent(persistent_);
            store->setMaxWindowSize(maxWindowSize_);
            store->setMaxSize(maxSize_);
            store->setMaxMessages(maxMessages_);
            persistence = store;
        }
        session->setPersistence(persistence);
        session->setDelegate(weak_from_this());
        if (old) session->adoptOutgoingFlows(*old);
        session_ = session;
        reconnectFlag_ = false;
    }
    if (hadSession) {
        MQTT_LOG_VERBOSE("[MQTTSessionManager] reconnecting");
        disconnectWithDisconnectHandler(nullptr);
        reconnect(std::move(connectHandler));
    } else {
        MQTT_LOG_VERBOSE("[MQTTSessionManager] connecting");
        connectToInternal(std::move(connectHandler));
    }
}

void MQTTSessionManager::connectToInternal(ConnectHandler connectHandler) {
    if (!session_ || state_ != MQTTSessionManagerStateStarting) return;
    updateState(MQTTSessionManagerStateConnecting);
    session_->connectToHost(host_, port_, tls_, std::move(connectHandler));
}

void MQTTSessionManager::reconnect(ConnectHandler connectHandler) {
    updateState(MQTTSessionManagerStateStarting);
    connectToInternal(std::move(connectHandler));
}

void MQTTSessionManager::connectToLast(ConnectHandler connectHandler) {
    // An attempt under way is kept: starting over on every send made while
    // connecting would never let a slow connection finish.
    if (state_ == MQTTSessionManagerStateConnected || state_ == MQTTSessionManagerStateConnecting) return;
    // A timer still pending would tear down the connection made now.
    reconnectTimer_->stop();
    reconnectTimer_->resetRetryInterval();
    reconnect(std::move(connectHandler));
}

void MQTTSessionManager::triggerDelayedReconnect() { reconnectTimer_->schedule(); }

void MQTTSessionManager::disconnectWithDisconnectHandler(DisconnectHandler handler) {
    updateState(MQTTSessionManagerStateClosing);
    if (session_) session_->closeWithDisconnectHandler(std::move(handler));
    reconnectTimer_->stop();
}

std::uint16_t MQTTSessionManager::sendData(const platform::Bytes& data, const std::string& topic, std::uint8_t qos,
                                           bool retain) {
    if (state_ != MQTTSessionManagerStateConnected) connectToLast(nullptr);
    return session_ ? session_->publishData(data, topic, retain, qos) : 0;
}

void MQTTSessionManager::updateState(MQTTSessionManagerState state) {
    state_ = state;
    if (auto d = delegate_.lock()) d->sessionManager(*this, state);
}

platform::Dictionary MQTTSessionManager::effectiveSubscriptions() const {
    std::lock_guard lock(subscriptionLock_);
    return effectiveSubscriptions_;
}

void MQTTSessionManager::handleEvent(MQTTSession&, MQTTSessionEvent event, platform::ErrorPtr error) {
    MQTT_LOG_VERBOSE("[MQTTSessionManager] eventCode: %s (%ld) %s", eventName(event), static_cast<long>(event),
                     error ? error->description().c_str() : "(null)");
    switch (event) {
        case MQTTSessionEventConnected:
            lastErrorCode_.reset();
            // Connected: a stale timer must not start another attempt.
            reconnectTimer_->stop();
            updateState(MQTTSessionManagerStateConnected);
            reconnectTimer_->resetRetryInterval();
            break;
        case MQTTSessionEventConnectionRefused:
        case MQTTSessionEventConnectionError:
        case MQTTSessionEventProtocolError:
            triggerDelayedReconnect();
            lastErrorCode_ = error;
            updateState(MQTTSessionManagerStateError);
            break;
        case MQTTSessionEventConnectionClosed:
            updateState(MQTTSessionManagerStateClosed);
            break;
        case MQTTSessionEventConnectionClosedByBroker:
            if (state_ != MQTTSessionManagerStateClosing) triggerDelayedReconnect();
            updateState(MQTTSessionManagerStateClosed);
            break;
    }
}

void MQTTSessionManager::connected(MQTTSession&, bool sessionPresent) {
    if (!clean_ && reconnectFlag_ && sessionPresent) return;
    const platform::Dictionary wanted = internalSubscriptions_;
    {
        std::lock_guard lock(subscriptionLock_);
        effectiveSubscriptions_ = platform::Dictionary();
    }
    if (!wanted.empty() && session_) {
        std::weak_ptr<MQTTSessionManager> weak = weak_from_this();
        session_->subscribeToTopics(wanted, [weak, wanted](platform::ErrorPtr error,
                                                           const std::optional<platform::Array>& granted) {
            auto self = weak.lock();
            if (!self || error) return;
            const std::vector<std::string> keys = wanted.keys();
            // Codes answer the filters in the order they were sent; a SUBACK
            // may hold fewer than that. Every answered filter is reported at
            // the QoS the broker granted it; one left unanswered is not
            // reported as subscribed, so setting the map again sends it anew.
            const std::size_t answered = granted ? std::min(keys.size(), granted->size()) : 0;
            std::lock_guard lock(self->subscriptionLock_);
            platform::Dictionary next = self->internalSubscriptions_;
            for (std::size_t i = 0; i < keys.size(); ++i) {
                if (i < answered)
                    next.set(keys[i], (*granted)[i]);
                else
                    next.erase(keys[i]);
            }
            self->effectiveSubscriptions_ = std::move(next);
        });
    }
    reconnectFlag_ = true;
}

void MQTTSessionManager::setSubscriptions(const platform::Dictionary& subscriptions) {
    if (state_ == MQTTSessionManagerStateConnected && session_) {
        const platform::Dictionary effective = effectiveSubscriptions();
        std::weak_ptr<MQTTSessionManager> weak = weak_from_this();
        for (const auto& key : effective.keys()) {
            if (subscriptions.contains(key)) continue;
            session_->unsubscribeTopic(key, [weak, key](platform::ErrorPtr error) {
                auto self = weak.lock();
                if (!self || error) return;
                std::lock_guard lock(self->subscriptionLock_);
                platform::Dictionary next = self->internalSubscriptions_;
                next.erase(key);
                self->effectiveSubscriptions_ = std::move(next);
            });
        }
        for (const auto& key : subscriptions.keys()) {
            if (effective.contains(key)) continue;
            const auto qos = static_cast<std::uint8_t>(subscriptions.find(key)->uintValue());
            session_->subscribeToTopic(key, qos, [weak, key](platform::ErrorPtr error,
                                                             const std::optional<platform::Array>& granted) {
                auto self = weak.lock();
                if (!self || error || !granted || granted->empty()) return;
                std::lock_guard lock(self->subscriptionLock_);
                platform::Dictionary next = self->internalSubscriptions_;
                next.set(key, granted->front());
                self->effectiveSubscriptions_ = std::move(next);
            });
        }
    }
    internalSubscriptions_ = subscriptions;
    MQTT_LOG_VERBOSE("MQTTSessionManager internalSubscriptions: %s", platform::Value(subscriptions).description().c_str());
}

void MQTTSessionManager::newMessage(MQTTSession&, const platform::Bytes& data, const std::string& topic, std::uint8_t,
                                    bool retained, std::uint32_t) {
    if (auto d = delegate_.lock()) {
        d->sessionManager(*this, data, topic, retained);
        d->handleMessage(data, topic, retained);
    }
}

void MQTTSessionManager::messageDelivered(MQTTSession&, std::uint16_t msgID) {
    if (auto d = delegate_.lock()) {
        d->sessionManager(*this, msgID);
        d->messageDelivered(msgID);
    }
}

}  // namespace pellix
