// MQTTSessionManager: keeps one MQTT session connected for its owner.
//
// It stores the connection parameters, builds the session with its flow
// store, reconnects after failures with a doubling delay (ReconnectTimer),
// subscribes the wanted map again after every connect and adjusts it while
// connected, and reports its state, messages and deliveries to a delegate.
//
// States: starting (0) -> connecting (1) -> connected (3); a failure ->
// error (2) then closed (5) with a reconnect scheduled; a broker close ->
// closed (5), reconnect scheduled unless closing (4) by
// disconnectWithDisconnectHandler().
//
// A rebuilt session replaces the old one only after the old one's delegate
// is cleared and it is closed, so it can never report into the manager.
// Rebuilding keeps what the manager accepted: the new session uses the old
// one's flow store and takes over its unfinished outgoing flows (queued ones
// and those still in flight, with their message ids), which go out when it
// connects. The store is made once, with the manager's persistent,
// maxWindowSize, maxSize and maxMessages, when the first session is built.
//
// Connect attempts: every session the manager builds waits for the broker's
// CONNACK for half its keep-alive, at least kMinConnectTimeout and at most
// kMaxConnectTimeout seconds (kMaxConnectTimeout when keep-alive is off).
// An attempt made into a dead path then fails in about the time the
// keep-alive would take to notice a dead connection, and the reconnect timer
// tries again, instead of a returning path waiting out a fixed 30 s.
//
// Threads: the session's callbacks, the timer and the subscription handlers
// run on queue(); call the public operations from that queue too.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "MQTTClient/MQTTSession.h"
#include "MQTTClient/MQTTSessionDelegate.h"
#include "MQTTClient/ReconnectTimer.h"
#include "platform/Value.h"

namespace pellix {

class MQTTSSLSecurityPolicy;
class MQTTSessionManager;
class ForegroundReconnection;

enum MQTTSessionManagerState : std::int32_t {
    MQTTSessionManagerStateStarting = 0,
    MQTTSessionManagerStateConnecting = 1,
    MQTTSessionManagerStateError = 2,
    MQTTSessionManagerStateConnected = 3,
    MQTTSessionManagerStateClosing = 4,
    MQTTSessionManagerStateClosed = 5,
};

class MQTTSessionManagerDelegate {
public:
    virtual ~MQTTSessionManagerDelegate() = default;
    virtual void sessionManager(MQTTSessionManager& manager, MQTTSessionManagerState newState) {
        (void)manager, (void)newState;
    }
    virtual void sessionManager(MQTTSessionManager& manager, const platform::Bytes& data, const std::string& topic,
                                bool retained) {
        (void)manager, (void)data, (void)topic, (void)retained;
    }
    virtual void handleMessage(const platform::Bytes& data, const std::string& topic, bool retained) {
        (void)data, (void)topic, (void)retained;
    }
    virtual void sessionManager(MQTTSessionManager& manager, std::uint16_t msgID) { (void)manager, (void)msgID; }
    virtual void messageDelivered(std::uint16_t msgID) { (void)msgID; }
};

class MQTTSessionManager : public MQTTSessionDelegate, public std::enable_shared_from_this<MQTTSessionManager> {
public:
    using ConnectHandler = MQTTSession::ConnectHandler;
    using DisconnectHandler = MQTTSession::DisconnectHandler;

    static constexpr double kMinConnectTimeout = 2.0;
    static constexpr double kMaxConnectTimeout = 30.0;
    // Seconds a session of this manager waits for the CONNACK at this
    // keep-alive (seconds).
    static double connectTimeoutFor(std::int64_t keepalive);

    // No persistence, window 16, 1024 messages, 64 MiB, retries up to 64 s,
    // foreground reconnection, negotiated SSL, the main queue.
    static std::shared_ptr<MQTTSessionManager> create();
    static std::shared_ptr<MQTTSessionManager> initWithPersistence(bool persistent, std::uint64_t maxWindowSize,
                                                                   std::uint64_t maxMessages, std::uint64_t maxSize,
                                                                   double maxConnectionRetryInterval,
                                                                   bool connectInForeground,
                                                                   std::optional<std::string> streamSSLLevel,
                                                                   std::shared_ptr<platform::DispatchQueue> queue);
    ~MQTTSessionManager() override;

    void connectTo(const std::string& host, std::int64_t port, bool tls, std::int64_t keepalive, bool clean, bool auth,
                   const std::optional<std::string>& user, const std::optional<std::string>& pass, bool will,
                   const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg,
                   std::uint8_t willQos, bool willRetainFlag, const std::optional<std::string>& clientId,
                   std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy,
                   std::optional<MQTTCertificates> certificates, std::uint8_t protocolLevel,
                   ConnectHandler connectHandler);
    // Reconnects with the stored parameters at once (delay back to 1 s),
    // unless connected or already connecting; the handler is then dropped.
    void connectToLast(ConnectHandler connectHandler);
    // Publishes into the session (its message id, 0 when refused or without
    // a session); while closed it first starts a connect (connectToLast).
    std::uint16_t sendData(const platform::Bytes& data, const std::string& topic, std::uint8_t qos, bool retain);
    void disconnectWithDisconnectHandler(DisconnectHandler handler);

    platform::Dictionary subscriptions() const { return internalSubscriptions_; }
    void setSubscriptions(const platform::Dictionary& subscriptions);
    platform::Dictionary effectiveSubscriptions() const;

    bool requiresTearDown() const {
        return state_ != MQTTSessionManagerStateStarting && state_ != MQTTSessionManagerStateClosed;
    }
    void reconnect(ConnectHandler connectHandler);
    void connectToInternal(ConnectHandler connectHandler);
    void triggerDelayedReconnect();
    void updateState(MQTTSessionManagerState state);

    MQTTSessionManagerState state() const { return state_; }
    platform::ErrorPtr lastErrorCode() const { return lastErrorCode_; }
    // The accessor shares its name with the delegate's events; keep those
    // reachable through the manager too.
    using MQTTSessionDelegate::session;
    std::shared_ptr<MQTTSession> session() const { return session_; }
    std::shared_ptr<ReconnectTimer> reconnectTimer() const { return reconnectTimer_; }
    std::shared_ptr<ForegroundReconnection> foregroundReconnection() const { return foregroundReconnection_; }
    std::shared_ptr<platform::DispatchQueue> queue() const { return queue_; }
    std::weak_ptr<MQTTSessionManagerDelegate> delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<MQTTSessionManagerDelegate> delegate) { delegate_ = std::move(delegate); }

    // MQTTSessionDelegate
    void handleEvent(MQTTSession& session, MQTTSessionEvent event, platform::ErrorPtr error) override;
    void newMessage(MQTTSession& session, const platform::Bytes& data, const std::string& topic, std::uint8_t qos,
                    bool retained, std::uint32_t mid) override;
    void connected(MQTTSession& session, bool sessionPresent) override;
    void messageDelivered(MQTTSession& session, std::uint16_t msgID) override;

private:
    MQTTSessionManager() = default;

    MQTTSessionManagerState state_ = MQTTSessionManagerStateStarting;
    platform::ErrorPtr lastErrorCode_;
    std::shared_ptr<ReconnectTimer> reconnectTimer_;
    bool reconnectFlag_ = false;
    std::shared_ptr<MQTTSession> session_;

    std::string host_;
    std::uint32_t port_ = 0;
    bool tls_ = false;
    std::int64_t keepalive_ = 0;
    bool clean_ = false;
    bool auth_ = false;
    bool will_ = false;
    std::optional<std::string> user_, pass_, willTopic_;
    std::optional<platform::Bytes> willMsg_;
    std::uint8_t willQos_ = 0;
    bool willRetainFlag_ = false;
    std::optional<std::string> clientId_;
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy_;
    std::optional<MQTTCertificates> certificates_;
    std::uint8_t protocolLevel_ = 0;
    std::shared_ptr<ForegroundReconnection> foregroundReconnection_;
    bool persistent_ = false;
    std::uint64_t maxWindowSize_ = 0, maxSize_ = 0, maxMessages_ = 0;
    std::optional<std::string> streamSSLLevel_;

    platform::Dictionary internalSubscriptions_;
    platform::Dictionary effectiveSubscriptions_;
    mutable std::mutex subscriptionLock_;
    std::weak_ptr<MQTTSessionManagerDelegate> delegate_;
};

}  // namespace pellix
