// MQTTSession: one client session of MQTT 3.1 (level 3), 3.1.1 (level 4) or
// 5.0 (level 5).
//
// The session owns a transport (MQTTTransport) that carries bytes to and from
// the broker, makes a packet decoder for each connection, keeps every QoS 1
// and 2 exchange as a flow in its store (MQTTPersistence), runs a 1 s
// retransmission timer and a keep-alive timer while connected, and reports to
// a weakly held delegate (MQTTSessionDelegate) and to handler blocks.
//
// Life: status created (0) -> connect() -> connecting (1) -> accepted CONNACK
// -> connected (2) -> close()/disconnect() -> disconnecting (3) -> closed (4).
// Any failure goes to error (5) and at once to closed (4). A closed session
// can be connected again; flows, handlers and the message-id counter survive
// unless cleanSessionFlag is set (then connect() deletes the client's flows
// and drops pending handlers without calling them). On every accepted
// CONNACK the flows still in flight are sent again at once; at level 5 a
// CONNACK without session present first drops them (their handlers fail).
// A malformed packet from the broker ends the connection with the
// protocol-error event; a broker that goes silent (no CONNACK within
// connectTimeout, no PINGRESP within a keep-alive interval) with the
// connection-error event.
//
// Failures never throw (unless MQTTStrict is on, where argument checks raise
// platform::Exception): they reach the caller as errors of domain "MQTT"
// (MQTTSessionError codes) through the handlers and the delegate.
//
// Threads: the session is not thread-safe. Call it on its queue() (the main
// queue unless set), where the decoder, the transport and both timers also
// call back; nextMsgId() alone takes a lock and may be called anywhere. The
// blocking calls (MQTTSessionSynchron.cpp) may be made on any thread: they
// start their operation on the session's queue and wait on the calling
// thread's run loop.
//
// Ownership: create with MQTTSession::create() (or a legacy initWithClientId
// form); the session is shared. Handlers and delegate methods may close,
// reconnect or drop the session from inside their call: the session keeps
// itself alive until the call returns and walks copies of its handler maps.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "MQTTClient/MQTTDecoder.h"
#include "MQTTClient/MQTTMessage.h"
#include "MQTTClient/MQTTPersistence.h"
#include "MQTTClient/MQTTSessionDelegate.h"
#include "MQTTClient/MQTTTransport.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix {

namespace platform {
class DispatchQueue;
}

class GCDTimer;
// Pinning policy of the pinned-TLS transport; held for the legacy connect.
class MQTTSSLSecurityPolicy;

class MQTTSession : public MQTTDecoderDelegate,
                    public MQTTTransportDelegate,
                    public std::enable_shared_from_this<MQTTSession> {
public:
    using ConnectHandler = std::function<void(platform::ErrorPtr error)>;
    using DisconnectHandler = std::function<void(platform::ErrorPtr error)>;
    // gQoss is unset when the request failed (closed before its SUBACK).
    using SubscribeHandler = std::function<void(platform::ErrorPtr error, const std::optional<platform::Array>& gQoss)>;
    using UnsubscribeHandler = std::function<void(platform::ErrorPtr error)>;
    using PublishHandler = std::function<void(platform::ErrorPtr error)>;
    using ConnectionHandler = std::function<void(MQTTSessionEvent event)>;
    using MessageHandler = std::function<void(const platform::Bytes& data, const std::string& topic)>;

    // The system's name of the negotiated TLS level (the default streamSSLLevel).
    static constexpr const char* kStreamSocketSecurityLevelNegotiatedSSL = "kCFStreamSocketSecurityLevelNegotiatedSSL";

    // `init`: every default of the session (status created, keep-alive 60,
    // duplicate time-out 20 s, clean session on, level 4, the main queue, a
    // generated client id, a memory-only flow store).
    static std::shared_ptr<MQTTSession> create();
    ~MQTTSession() override;
    MQTTSession(const MQTTSession&) = delete;
    MQTTSession& operator=(const MQTTSession&) = delete;

    // ---- Configuration (set before connect) ------------------------------
    std::shared_ptr<MQTTSessionDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MQTTSessionDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<MQTTPersistence> persistence() const { return persistence_; }
    void setPersistence(std::shared_ptr<MQTTPersistence> persistence) { persistence_ = std::move(persistence); }
    ConnectHandler connectHandler() const { return connectHandler_; }
    void setConnectHandler(ConnectHandler handler) { connectHandler_ = std::move(handler); }
    // The two blocks may be read and set from any thread.
    ConnectionHandler connectionHandler() const;
    void setConnectionHandler(ConnectionHandler handler);
    MessageHandler messageHandler() const;
    void setMessageHandler(MessageHandler handler);

    MQTTSessionStatus status() const { return status_.load(); }
    bool sessionPresent() const { return sessionPresent_; }
    // Level 5: the client id the broker assigned in the last accepted CONNACK
    // (sent when the session connected with an empty client id).
    const std::optional<std::string>& assignedClientIdentifier() const { return assignedClientIdentifier_; }
    const std::optional<std::string>& streamSSLLevel() const { return streamSSLLevel_; }
    // Stores the level and passes it on to the transport.
    void setStreamSSLLevel(std::optional<std::string> level);
    // The transport's host and port (none / 0 without a transport).
    std::optional<std::string> host() const;
    std::uint32_t port() const;
    const std::string& clientId() const { return clientId_; }
    // nullopt stores a generated id: "MQTTClient" and the microseconds within
    // the current second.
    void setClientId(std::optional<std::string> clientId);
    const std::optional<std::string>& userName() const { return userName_; }
    void setUserName(std::optional<std::string> userName) { userName_ = std::move(userName); }
    const std::optional<std::string>& password() const { return password_; }
    void setPassword(std::optional<std::string> password) { password_ = std::move(password); }
    std::uint16_t keepAliveInterval() const { return keepAliveInterval_; }
    void setKeepAliveInterval(std::uint16_t seconds) { keepAliveInterval_ = seconds; }
    double dupTimeout() const { return dupTimeout_; }
    void setDupTimeout(double seconds) { dupTimeout_ = seconds; }
    // Seconds from connect() to the CONNACK before the attempt fails with
    // the connection-error event (MQTTSessionErrorNoConnackInTime); 0 waits
    // for ever. A half-open TCP connection must not leave the session
    // "connecting" with nobody to reconnect it.
    double connectTimeout() const { return connectTimeout_; }
    void setConnectTimeout(double seconds) { connectTimeout_ = seconds; }
    bool cleanSessionFlag() const { return cleanSessionFlag_; }
    void setCleanSessionFlag(bool clean) { cleanSessionFlag_ = clean; }
    bool willFlag() const { return willFlag_; }
    void setWillFlag(bool will) { willFlag_ = will; }
    const std::optional<std::string>& willTopic() const { return willTopic_; }
    void setWillTopic(std::optional<std::string> topic) { willTopic_ = std::move(topic); }
    const std::optional<platform::Bytes>& willMsg() const { return willMsg_; }
    void setWillMsg(std::optional<platform::Bytes> msg) { willMsg_ = std::move(msg); }
    std::uint8_t willQoS() const { return willQoS_; }
    void setWillQoS(std::uint8_t qos) { willQoS_ = qos; }
    bool willRetainFlag() const { return willRetainFlag_; }
    void setWillRetainFlag(bool retain) { willRetainFlag_ = retain; }
    std::uint8_t protocolLevel() const { return protocolLevel_; }
    void setProtocolLevel(std::uint8_t level) { protocolLevel_ = level; }
    // Level-5 CONNECT properties, passed unchanged to the CONNECT builder.
    std::optional<std::uint32_t> sessionExpiryInterval;
    std::optional<std::string> authMethod;
    std::optional<platform::Bytes> authData;
    std::optional<std::uint32_t> requestProblemInformation;
    std::optional<std::uint32_t> willDelayInterval;
    std::optional<std::uint32_t> requestResponseInformation;
    std::optional<std::uint32_t> receiveMaximum;
    std::optional<std::uint32_t> topicAliasMaximum;
    std::optional<platform::Dictionary> userProperty;
    std::optional<std::uint32_t> maximumPacketSize;
    std::shared_ptr<platform::DispatchQueue> queue() const { return queue_; }
    void setQueue(std::shared_ptr<platform::DispatchQueue> queue) { queue_ = std::move(queue); }
    // When set, sent instead of a CONNECT built from the properties.
    MQTTMessagePtr connectMessage() const { return connectMessage_; }
    void setConnectMessage(MQTTMessagePtr message) { connectMessage_ = std::move(message); }
    std::shared_ptr<MQTTTransport> transport() const { return transport_; }
    void setTransport(std::shared_ptr<MQTTTransport> transport) { transport_ = std::move(transport); }
    const std::optional<MQTTCertificates>& certificates() const { return certificates_; }
    // Stores them and hands them to the transport when it takes certificates.
    void setCertificates(std::optional<MQTTCertificates> certificates);
    bool voip() const { return voip_; }
    void setVoip(bool voip) { voip_ = voip; }
    std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy() const { return securityPolicy_; }
    void setSecurityPolicy(std::shared_ptr<MQTTSSLSecurityPolicy> policy) { securityPolicy_ = std::move(policy); }

    // ---- Connect (MQTTSession.cpp) ------------------------------------------
    // Starts a connection through the transport (which must be set); the
    // outcome arrives through the delegate, connectionHandler and connectHandler.
    void connect();
    void connectWithConnectHandler(ConnectHandler handler);
    // Writes one packet (the single exit for everything the session sends);
    // false when the message is null, unencodable or the transport refused it.
    bool encode(const MQTTMessagePtr& message);
    // Reports the flow counts to the delegate.
    void tell();

    // ---- Publishing (MQTTSessionPublish.cpp) ---------------------------------
    // Message id of a QoS 1/2 message; 0 for QoS 0 and for a refused message
    // (the handler then gets -6 "Dropping outgoing Message" when no id is
    // free or the store refused it, MQTTSessionErrorMessageTooLarge when the
    // packet cannot be encoded or exceeds the broker's level-5 Maximum Packet
    // Size; nothing is stored then). QoS 0: the
    // handler is called before this returns (-5 "Encoder not ready" when the
    // transport did not take the packet). QoS 1/2: the handler is called when
    // the flow completes (no error), or with the reason of a level-5
    // acknowledgement that reports failure (code = reason, 0x80 and up).
    // A QoS 1/2 message goes out at once while the store's maxWindowSize + 1
    // messages (at most the broker's level-5 Receive Maximum) are not yet in
    // flight and none is queued; else it is queued
    // and sent, in the store's order, as acknowledgements free the window
    // (and by the once-a-second check, also after a reconnect).
    std::uint16_t publishData(const platform::Bytes& data, const std::string& topic, bool retain, std::uint8_t qos,
                              PublishHandler publishHandler = nullptr);
    // Next free message id: never 0, never one held by an outgoing flow. 0
    // when all 65,535 ids are taken. Any thread.
    std::uint16_t nextMsgId();
    // Runs the 1 s timer's work: sends queued flows and repeats overdue ones.
    void checkDup();
    // Takes over the unfinished outgoing flows of `from` (a closed session
    // that is being replaced) with their message ids and publish handlers,
    // under this session's client id and into its store: they go out, in
    // their order, when this session connects. A flow that cannot be taken
    // (this store refuses it, or its message id is held here by another
    // message) fails its handler with MQTTSessionErrorDroppingOutgoingMessage
    // and is logged. Flows already visible here under the same triple (one
    // store, or stores over one file) only move their handlers. Answers the
    // number of flows now held for this session.
    std::size_t adoptOutgoingFlows(MQTTSession& from);

    // ---- Subscriptions, keep-alive, closing (MQTTSessionSubscribe.cpp) ------
    // Subscribe and unsubscribe answer 0 and call the handler with
    // MQTTSessionErrorNoFreeMessageId when every id is taken. A SUBACK with a
    // failure code (0x80 and up) for any filter gives the handler
    // MQTTSessionErrorSubscriptionRefused along with the codes.
    std::uint16_t subscribeToTopic(const std::optional<std::string>& topic, std::uint8_t qos,
                                   SubscribeHandler subscribeHandler = nullptr);
    std::uint16_t subscribeToTopics(const platform::Dictionary& topics, SubscribeHandler subscribeHandler = nullptr);
    std::uint16_t unsubscribeTopic(const std::optional<std::string>& topic,
                                   UnsubscribeHandler unsubscribeHandler = nullptr);
    std::uint16_t unsubscribeTopics(const std::vector<std::string>& topics,
                                    UnsubscribeHandler unsubscribeHandler = nullptr);
    // Strict-mode checks of topic filters (MQTT 3.1.1 section 4.7).
    void checkTopicFilters(const std::vector<std::string>& topics);
    // Sends PINGREQ (the keep-alive timer's work); when the previous one is
    // still unanswered, ends the connection instead with the connection-error
    // event (MQTTSessionErrorNoPingResponse).
    void keepAlive();
    // Sends DISCONNECT (status disconnecting) and closes at once.
    void disconnect();
    void disconnectWithReturnCode(std::uint64_t returnCode, std::optional<std::uint32_t> sessionExpiryInterval,
                                  const std::optional<std::string>& reasonString,
                                  const std::optional<platform::Dictionary>& userProperty);
    // DISCONNECT when connected, then the internal close; the handler is
    // always called, without error.
    void close();
    void closeWithDisconnectHandler(DisconnectHandler handler);
    void closeWithReturnCode(std::uint64_t returnCode, std::optional<std::uint32_t> sessionExpiryInterval,
                             const std::optional<std::string>& reasonString,
                             const std::optional<platform::Dictionary>& userProperty,
                             DisconnectHandler disconnectHandler);
    // Tears the connection down: timers, transport, decoder, flow deadlines,
    // status closed, event 2, pending subscribe/unsubscribe handlers fail
    // with -6 "No response" (publish handlers are kept).
    void closeInternal();

    // ---- Legacy API (MQTTSessionLegacy.cpp) ----------------------------------
    static std::shared_ptr<MQTTSession> initWithClientId(const std::optional<std::string>& clientId);
    static std::shared_ptr<MQTTSession> initWithClientId(const std::optional<std::string>& clientId,
                                                         std::shared_ptr<platform::DispatchQueue> queue);
    static std::shared_ptr<MQTTSession> initWithClientId(const std::optional<std::string>& clientId,
                                                         const std::optional<std::string>& userName,
                                                         const std::optional<std::string>& password);
    static std::shared_ptr<MQTTSession> initWithClientId(const std::optional<std::string>& clientId,
                                                         const std::optional<std::string>& userName,
                                                         const std::optional<std::string>& password,
                                                         std::shared_ptr<platform::DispatchQueue> queue);
    static std::shared_ptr<MQTTSession> initWithClientId(const std::optional<std::string>& clientId,
                                                         const std::optional<std::string>& userName,
                                                         const std::optional<std::string>& password,
                                                         std::uint16_t keepAlive, bool cleanSession);
    static std::shared_ptr<MQTTSession> initWithClientId(const std::optional<std::string>& clientId,
                                                         const std::optional<std::string>& userName,
                                                         const std::optional<std::string>& password,
                                                         std::uint16_t keepAlive, bool cleanSession,
                                                         std::shared_ptr<platform::DispatchQueue> queue);
    // The will forms without a `will` argument always set the will flag.
    static std::shared_ptr<MQTTSession> initWithClientId(
        const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
        const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession,
        const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg,
        std::uint8_t willQoS, bool willRetainFlag);
    static std::shared_ptr<MQTTSession> initWithClientId(
        const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
        const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession,
        const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg,
        std::uint8_t willQoS, bool willRetainFlag, std::shared_ptr<platform::DispatchQueue> queue);
    // Keeps the ready-made CONNECT; clean session on, level 4.
    static std::shared_ptr<MQTTSession> initWithClientId(const std::optional<std::string>& clientId,
                                                         std::uint16_t keepAlive, MQTTMessagePtr connectMessage,
                                                         std::shared_ptr<platform::DispatchQueue> queue);
    static std::shared_ptr<MQTTSession> initWithClientId(
        const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
        const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession, bool will,
        const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg,
        std::uint8_t willQoS, bool willRetainFlag, std::uint8_t protocolLevel,
        std::shared_ptr<platform::DispatchQueue> queue);
    static std::shared_ptr<MQTTSession> initWithClientId(
        const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
        const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession, bool will,
        const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg,
        std::uint8_t willQoS, bool willRetainFlag, std::uint8_t protocolLevel,
        std::shared_ptr<platform::DispatchQueue> queue, std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy);
    static std::shared_ptr<MQTTSession> initWithClientId(
        const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
        const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession, bool will,
        const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg,
        std::uint8_t willQoS, bool willRetainFlag, std::uint8_t protocolLevel,
        std::shared_ptr<platform::DispatchQueue> queue, std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy,
        std::optional<MQTTCertificates> certificates);

    // Builds a new socket transport (host, port, tls = usingSSL, the
    // session's certificates, voip, queue and SSL level), makes it the
    // session's transport and connects.
    void connectToHost(const std::string& host, std::uint32_t port, bool usingSSL, ConnectHandler connectHandler);
    void connectToHost(const std::string& host, std::uint32_t port, bool usingSSL);
    void connectToHost(const std::string& host, std::uint32_t port);
    void connectToHost(const std::string& host, std::uint32_t port, ConnectionHandler connectionHandler,
                       MessageHandler messageHandler);
    void connectToHost(const std::string& host, std::uint32_t port, bool usingSSL, ConnectionHandler connectionHandler,
                       MessageHandler messageHandler);

    void publishData(const platform::Bytes& data, const std::string& topic);  // QoS 1
    void publishDataAtLeastOnce(const platform::Bytes& data, const std::string& topic, bool retain = false);
    void publishDataAtMostOnce(const platform::Bytes& data, const std::string& topic, bool retain = false);
    void publishDataExactlyOnce(const platform::Bytes& data, const std::string& topic, bool retain = false);
    // Compact JSON of the payload at QoS 1; nothing when it has no JSON form.
    void publishJson(const platform::Value& payload, const std::string& topic);
    void subscribeTopic(const std::string& topic);  // QoS 1

    // ---- Blocking API (MQTTSessionSynchron.cpp) ------------------------------
    // Time-outs in seconds of real time; 0 waits without limit. Each starts
    // its operation on the session's queue, then runs the calling thread's
    // run loop in steps of 0.1 s until the acknowledgement or the time-out.
    bool connectAndWaitTimeout(double timeout);
    bool connectAndWaitToHost(const std::string& host, std::uint32_t port, bool usingSSL, double timeout = 0);
    bool subscribeAndWaitToTopic(const std::string& topic, std::uint8_t qos, double timeout = 0);
    bool subscribeAndWaitToTopics(const platform::Dictionary& topics, double timeout = 0);
    bool unsubscribeAndWaitTopic(const std::string& topic, double timeout = 0);
    bool unsubscribeAndWaitTopics(const std::vector<std::string>& topics, double timeout = 0);
    // QoS 0: true at once. QoS 1/2: true when the flow completed.
    bool publishAndWaitData(const platform::Bytes& data, const std::string& topic, bool retain, std::uint8_t qos,
                            double timeout = 0);
    // Without a time-out it returns once the session is closed.
    void closeAndWait(double timeout = 0);

    // ---- Transport and decoder callbacks ------------------------------------
    void mqttTransport(MQTTTransport& transport, const platform::Bytes& message) override;
    void mqttTransportDidOpen(MQTTTransport& transport) override;
    void mqttTransport(MQTTTransport& transport, platform::ErrorPtr error) override;
    void mqttTransportDidClose(MQTTTransport& transport) override;
    void decoder(MQTTDecoder& decoder, std::span<const std::uint8_t> message) override;
    void decoder(MQTTDecoder& decoder, MQTTDecoderEvent event, platform::ErrorPtr error) override;

    // An error of domain "MQTT" with its description.
    static platform::ErrorPtr makeError(std::int64_t code, const std::string& description);

private:
    MQTTSession();

    // Error path.
    void error(MQTTSessionEvent event, platform::ErrorPtr error);
    void connectionError(platform::ErrorPtr error);
    void protocolError(platform::ErrorPtr error);
    void callConnectHandler(platform::ErrorPtr error);
    void reportEvent(MQTTSessionEvent event);
    void clearWaitFlags(bool all);
    // Invalidates the resend and keep-alive timers of the current connection.
    void stopTimers();

    // Receiving.
    void handleConnecting(const MQTTMessagePtr& message);
    void handleConnack(const MQTTMessagePtr& message);
    void handlePublish(const MQTTMessagePtr& message);
    void handlePuback(const MQTTMessagePtr& message);
    void handlePubrec(const MQTTMessagePtr& message);
    void handlePubrel(const MQTTMessagePtr& message);
    void handlePubcomp(const MQTTMessagePtr& message);
    void handleSuback(const MQTTMessagePtr& message);
    void handleUnsuback(const MQTTMessagePtr& message);
    void deliver(const platform::Bytes& payload, const std::string& topic, std::uint8_t qos, bool retained,
                 std::uint32_t mid, bool& processed);
    // A level-5 acknowledgement carrying a failure reason ends the flow.
    void failFlow(const MQTTFlowPtr& flow, std::uint16_t mid, unsigned reason);
    void completeFlow(const MQTTFlowPtr& flow, std::uint16_t mid);
    // Hands the outcome to the publish handler; the freed place in the window
    // goes to the next queued message.
    void endFlow(std::uint16_t mid, const platform::ErrorPtr& error);

    // Sending. checkTxFlows is the once-a-second pass (queued sends and
    // resends); sendQueuedFlows only sends queued flows the window now admits.
    void checkTxFlows();
    // resendAll: every PUBLISH and PUBREL in flight goes out again at once,
    // whatever its deadline (the first pass on an accepted CONNACK).
    void sendTxFlows(bool queuedOnly, bool resendAll = false);
    void sendQueuedFlows();
    // How many outgoing flows may be in flight: the store's window, capped
    // at the broker's Receive Maximum.
    std::uint64_t windowLimit() const;
    // Whether the packet fits the protocol and the broker's Maximum Packet
    // Size; sets `error` when it does not.
    bool fitsBroker(const MQTTMessagePtr& message, platform::ErrorPtr& error) const;
    // Level 5, no session on the broker: in-flight flows are dropped.
    void discardSessionState();
    // A malformed packet from the broker closes the connection.
    void malformed(const std::string& what);
    MQTTMessagePtr publishFromFlow(const MQTTFlowPtr& flow, bool dup) const;
    void wait(std::atomic<bool>& flag, double timeout, const char* waiting, const char* end,
              const std::atomic<std::uint16_t>* mid);
    void runOnQueue(const std::function<void()>& block);

    std::weak_ptr<MQTTSessionDelegate> delegate_;
    std::shared_ptr<MQTTPersistence> persistence_;
    ConnectHandler connectHandler_;
    mutable std::mutex blocksMutex_;  // guards the two atomic blocks below
    ConnectionHandler connectionHandler_;
    MessageHandler messageHandler_;
    std::atomic<MQTTSessionStatus> status_{MQTTSessionStatusCreated};
    bool sessionPresent_ = false;
    std::optional<std::string> streamSSLLevel_;
    std::string clientId_;
    std::optional<std::string> userName_;
    std::optional<std::string> password_;
    std::uint16_t keepAliveInterval_ = 60;
    double dupTimeout_ = 20.0;
    bool cleanSessionFlag_ = true;
    double connectTimeout_ = 30.0;
    std::optional<std::string> assignedClientIdentifier_;
    bool willFlag_ = false;
    std::optional<std::string> willTopic_;
    std::optional<platform::Bytes> willMsg_;
    std::uint8_t willQoS_ = 0;
    bool willRetainFlag_ = false;
    std::uint8_t protocolLevel_ = 4;
    std::shared_ptr<platform::DispatchQueue> queue_;
    MQTTMessagePtr connectMessage_;
    std::shared_ptr<MQTTTransport> transport_;
    std::optional<MQTTCertificates> certificates_;
    bool voip_ = false;
    std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy_;

    std::shared_ptr<GCDTimer> keepAliveTimer_;
    std::shared_ptr<GCDTimer> checkDupTimer_;
    std::shared_ptr<GCDTimer> connackTimer_;
    // A PINGREQ went out and its PINGRESP has not come yet.
    bool pingOutstanding_ = false;
    // What the broker's level-5 CONNACK allows on this connection.
    std::optional<std::uint64_t> serverReceiveMaximum_;
    std::optional<std::uint64_t> serverMaximumPacketSize_;
    // Incoming topic aliases of this connection (alias -> topic).
    std::map<std::uint16_t, std::string> topicAliases_;
    // Outgoing QoS 2 flows whose PUBREL was sent again on this connection: a
    // PUBCOMP "packet identifier not found" then means already delivered.
    std::set<std::uint16_t> resentPubrels_;
    std::optional<std::int32_t> serverKeepAlive_;
    std::uint16_t effectiveKeepAlive_ = 0;
    std::shared_ptr<MQTTDecoder> decoder_;
    DisconnectHandler disconnectHandler_;
    std::map<std::uint16_t, SubscribeHandler> subscribeHandlers_;
    std::map<std::uint16_t, UnsubscribeHandler> unsubscribeHandlers_;
    std::map<std::uint16_t, PublishHandler> publishHandlers_;
    std::mutex msgIdMutex_;
    std::uint16_t txMsgId_ = 1;
    // One received packet is handled at a time (re-entrant: handlers call back in).
    std::recursive_mutex receiveMutex_;
    // Bumped by connect(): steps that follow a delegate call skip what a
    // reconnect made from inside that call has taken over.
    std::uint64_t attempt_ = 0;
    // Set whenever an outgoing flow may be queued; cleared by a pass that
    // found none, so acknowledgements only look at the store when it pays.
    bool mayHaveQueued_ = true;

    // Wait flags of the blocking API; read by waiting threads.
    std::atomic<bool> synchronPub_{false};
    std::atomic<std::uint16_t> synchronPubMid_{0};
    std::atomic<bool> synchronSub_{false};
    std::atomic<std::uint16_t> synchronSubMid_{0};
    std::atomic<bool> synchronUnsub_{false};
    std::atomic<std::uint16_t> synchronUnsubMid_{0};
    std::atomic<bool> synchronConnect_{false};
    std::atomic<bool> synchronDisconnect_{false};
};

}  // namespace pellix
