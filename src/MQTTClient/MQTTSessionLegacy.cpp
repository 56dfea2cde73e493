// MQTTSession legacy API: one-call initialisers, connect-to-host operations
// that build their own transport, and fixed-QoS publish shortcuts.
#include "MQTTClient/MQTTCFSocketTransport.h"
#include "MQTTClient/MQTTSSLSecurityPolicyTransport.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSession.h"
#include "platform/DispatchQueue.h"
#include "platform/JSON.h"

namespace pellix {

namespace {
using Queue = std::shared_ptr<platform::DispatchQueue>;
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(const std::optional<std::string>& clientId) {
    return initWithClientId(clientId, std::nullopt, std::nullopt, 60, true, false, std::nullopt, std::nullopt, 0,
                            false, 4, platform::DispatchQueue::main());
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(const std::optional<std::string>& clientId, Queue queue) {
    return initWithClientId(clientId, std::nullopt, std::nullopt, 60, true, false, std::nullopt, std::nullopt, 0,
                            false, 4, std::move(queue));
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(const std::optional<std::string>& clientId,
                                                           const std::optional<std::string>& userName,
                                                           const std::optional<std::string>& password) {
    return initWithClientId(clientId, userName, password, 60, true, false, std::nullopt, std::nullopt, 0, false, 4,
                            platform::DispatchQueue::main());
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(const std::optional<std::string>& clientId,
                                                           const std::optional<std::string>& userName,
                                                           const std::optional<std::string>& password, Queue queue) {
    return initWithClientId(clientId, userName, password, 60, true, false, std::nullopt, std::nullopt, 0, false, 4,
                            std::move(queue));
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(const std::optional<std::string>& clientId,
                                                           const std::optional<std::string>& userName,
                                                           const std::optional<std::string>& password,
                                                           std::uint16_t keepAlive, bool cleanSession) {
    return initWithClientId(clientId, userName, password, keepAlive, cleanSession, false, std::nullopt, std::nullopt,
                            0, false, 4, platform::DispatchQueue::main());
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(const std::optional<std::string>& clientId,
                                                           const std::optional<std::string>& userName,
                                                           const std::optional<std::string>& password,
                                                           std::uint16_t keepAlive, bool cleanSession, Queue queue) {
    return initWithClientId(clientId, userName, password, keepAlive, cleanSession, false, std::nullopt, std::nullopt,
                            0, false, 4, std::move(queue));
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(
    const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
    const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession,
    const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg, std::uint8_t willQoS,
    bool willRetainFlag) {
    return initWithClientId(clientId, userName, password, keepAlive, cleanSession, true, willTopic, willMsg, willQoS,
                            willRetainFlag, 4, platform::DispatchQueue::main());
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(
    const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
    const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession,
    const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg, std::uint8_t willQoS,
    bool willRetainFlag, Queue queue) {
    return initWithClientId(clientId, userName, password, keepAlive, cleanSession, true, willTopic, willMsg, willQoS,
                            willRetainFlag, 4, std::move(queue));
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(const std::optional<std::string>& clientId,
                                                           std::uint16_t keepAlive, MQTTMessagePtr connectMessage,
                                                           Queue queue) {
    auto session = initWithClientId(clientId, std::nullopt, std::nullopt, keepAlive, true, false, std::nullopt,
                                    std::nullopt, 0, false, 4, std::move(queue));
    session->setConnectMessage(std::move(connectMessage));
    return session;
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(
    const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
    const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession, bool will,
    const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg, std::uint8_t willQoS,
    bool willRetainFlag, std::uint8_t protocolLevel, Queue queue) {
    return initWithClientId(clientId, userName, password, keepAlive, cleanSession, will, willTopic, willMsg, willQoS,
                            willRetainFlag, protocolLevel, std::move(queue), nullptr);
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(
    const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
    const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession, bool will,
    const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg, std::uint8_t willQoS,
    bool willRetainFlag, std::uint8_t protocolLevel, Queue queue, std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy) {
    return initWithClientId(clientId, userName, password, keepAlive, cleanSession, will, willTopic, willMsg, willQoS,
                            willRetainFlag, protocolLevel, std::move(queue), std::move(securityPolicy), std::nullopt);
}

std::shared_ptr<MQTTSession> MQTTSession::initWithClientId(
    const std::optional<std::string>& clientId, const std::optional<std::string>& userName,
    const std::optional<std::string>& password, std::uint16_t keepAlive, bool cleanSession, bool will,
    const std::optional<std::string>& willTopic, const std::optional<platform::Bytes>& willMsg, std::uint8_t willQoS,
    bool willRetainFlag, std::uint8_t protocolLevel, Queue queue, std::shared_ptr<MQTTSSLSecurityPolicy> securityPolicy,
    std::optional<MQTTCertificates> certificates) {
    MQTT_LOG_VERBOSE("[MQTTSessionLegacy] initWithClientId:%s ", clientId ? clientId->c_str() : "(null)");
    auto session = create();
    session->setClientId(clientId);
    session->setUserName(userName);
    session->setPassword(password);
    session->setKeepAliveInterval(keepAlive);
    session->setCleanSessionFlag(cleanSession);
    session->setWillFlag(will);
    session->setWillTopic(willTopic);
    session->setWillMsg(willMsg);
    session->setWillQoS(willQoS);
    session->setWillRetainFlag(willRetainFlag);
    session->setProtocolLevel(protocolLevel);
    session->setQueue(std::move(queue));
    session->setSecurityPolicy(std::move(securityPolicy));
    session->setCertificates(std::move(certificates));
    return session;
}

void MQTTSession::connectToHost(const std::string& host, std::uint32_t port, bool usingSSL,
                                ConnectHandler connectHandler) {
    MQTT_LOG_VERBOSE("MQTTSessionLegacy connectToHost:%s port:%d usingSSL:%d connectHandler:%p", host.c_str(),
                     static_cast<int>(port), usingSSL ? 1 : 0,
                     static_cast<void*>(connectHandler ? &connectHandler : nullptr));
    // A security policy decides about the broker's certificate itself, so it
    // needs the pinned-TLS transport.
    std::shared_ptr<MQTTCFSocketTransport> transport;
    if (securityPolicy_) {
        auto pinned = MQTTSSLSecurityPolicyTransport::create();
        pinned->setSecurityPolicy(securityPolicy_);
        transport = pinned;
    } else {
        transport = MQTTCFSocketTransport::create();
    }
    transport->setHost(host);
    transport->setPort(port);
    transport->setTls(usingSSL);
    transport->setCertificates(certificates_);
    transport->setVoip(voip_);
    transport->setQueue(queue_);
    transport->setStreamSSLLevel(streamSSLLevel_);
    if (transport_ && transport_ != transport) {
        // The old transport must not report into this session any more.
        transport_->setDelegate({});
    }
    transport_ = transport;
    connectWithConnectHandler(std::move(connectHandler));
}

void MQTTSession::connectToHost(const std::string& host, std::uint32_t port, bool usingSSL) {
    connectToHost(host, port, usingSSL, ConnectHandler());
}

void MQTTSession::connectToHost(const std::string& host, std::uint32_t port) { connectToHost(host, port, false); }

void MQTTSession::connectToHost(const std::string& host, std::uint32_t port, ConnectionHandler connectionHandler,
                                MessageHandler messageHandler) {
    connectToHost(host, port, false, std::move(connectionHandler), std::move(messageHandler));
}

void MQTTSession::connectToHost(const std::string& host, std::uint32_t port, bool usingSSL,
                                ConnectionHandler connectionHandler, MessageHandler messageHandler) {
    setMessageHandler(std::move(messageHandler));
    setConnectionHandler(std::move(connectionHandler));
    connectToHost(host, port, usingSSL);
}

void MQTTSession::publishData(const platform::Bytes& data, const std::string& topic) {
    publishData(data, topic, false, 1);
}

void MQTTSession::publishDataAtLeastOnce(const platform::Bytes& data, const std::string& topic, bool retain) {
    publishData(data, topic, retain, 1);
}

void MQTTSession::publishDataAtMostOnce(const platform::Bytes& data, const std::string& topic, bool retain) {
    publishData(data, topic, retain, 0);
}

void MQTTSession::publishDataExactlyOnce(const platform::Bytes& data, const std::string& topic, bool retain) {
    publishData(data, topic, retain, 2);
}

void MQTTSession::publishJson(const platform::Value& payload, const std::string& topic) {
    auto json = platform::JSON::write(payload);
    if (!json) {
        return;
    }
    publishData(platform::Bytes(json->begin(), json->end()), topic, false, 1);
}

void MQTTSession::subscribeTopic(const std::string& topic) { subscribeToTopic(topic, 1); }

}  // namespace pellix
