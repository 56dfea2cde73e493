#include "MQTTClient/MQTTWebsocketTransport.h"

#include "MQTTClient/MQTTLog.h"
#include "platform/DispatchQueue.h"
#include "platform/URLError.h"

namespace pellix {

std::shared_ptr<MQTTWebsocketTransport> MQTTWebsocketTransport::create() {
    return std::shared_ptr<MQTTWebsocketTransport>(new MQTTWebsocketTransport());
}

MQTTWebsocketTransport::MQTTWebsocketTransport() {
    setHost("localhost");
    setPort(80);
}

MQTTWebsocketTransport::~MQTTWebsocketTransport() {
    if (websocket_) websocket_->setDelegate({});
}

std::string MQTTWebsocketTransport::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}
void MQTTWebsocketTransport::setPath(std::string path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
}
bool MQTTWebsocketTransport::tls() const {
    std::lock_guard lock(mutex_);
    return tls_;
}
void MQTTWebsocketTransport::setTls(bool tls) {
    std::lock_guard lock(mutex_);
    tls_ = tls;
}
bool MQTTWebsocketTransport::allowUntrustedCertificates() const {
    std::lock_guard lock(mutex_);
    return allowUntrustedCertificates_;
}
void MQTTWebsocketTransport::setAllowUntrustedCertificates(bool allow) {
    std::lock_guard lock(mutex_);
    allowUntrustedCertificates_ = allow;
}
std::optional<std::vector<platform::Bytes>> MQTTWebsocketTransport::pinnedCertificates() const {
    std::lock_guard lock(mutex_);
    return pinnedCertificates_;
}
void MQTTWebsocketTransport::setPinnedCertificates(std::optional<std::vector<platform::Bytes>> certificates) {
    std::lock_guard lock(mutex_);
    pinnedCertificates_ = std::move(certificates);
}
std::shared_ptr<BWWebSocket> MQTTWebsocketTransport::websocket() const {
    std::lock_guard lock(mutex_);
    return websocket_;
}

std::optional<platform::URL> MQTTWebsocketTransport::endpointURL() const {
    const std::string scheme = tls() ? "wss" : "ws";
    const std::uint32_t p = port();
    const std::string portPart = p != 0 ? ":" + std::to_string(p) : std::string();
    auto url = platform::URL::parse(scheme + "://" + host().value_or(std::string()) + portPart + path());
    // A URL without a host (an empty or unparsable host) is no endpoint.
    if (!url || url->host().empty()) return std::nullopt;
    return url;
}

void MQTTWebsocketTransport::open() {
    MQTT_LOG_VERBOSE("[MQTTWebsocketTransport] open");
    setState(MQTTTransportStateOpening);
    auto url = endpointURL();
    if (!url) {
        setState(MQTTTransportStateClosed);
        const std::string text = (tls() ? "wss://" : "ws://") + host().value_or(std::string()) + path();
        auto error = platform::Error::make(
            platform::URLError::kDomain, platform::URLError::BadURL,
            platform::Dictionary{{platform::Error::kLocalizedDescriptionKey, platform::Value("unsupported URL")},
                                 {"NSErrorFailingURLStringKey", platform::Value(text)}});
        MQTT_LOG_WARNING("[MQTTWebsocketTransport] Failed to connect : %s", error->description().c_str());
        // Reported where the client's own callbacks would arrive, never from inside open().
        std::weak_ptr<MQTTTransport> weak = shared_from_this();
        platform::DispatchQueue::main()->async([weak, error] {
            auto self = weak.lock();
            if (!self) return;
            auto d = self->delegate();
            if (d && d->implements(MQTTTransportDelegate::Method::DidFailWithError)) d->mqttTransport(*self, error);
        });
        return;
    }
    auto socket = BWWebSocket::create(platform::URLRequest(*url), std::vector<std::string>{"mqtt"},
                                      allowUntrustedCertificates());
    socket->setSSLPinnedCertificates(pinnedCertificates());
    std::shared_ptr<BWWebSocket> old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(websocket_, socket);
    }
    if (old) old->setDelegate({});
    socket->setDelegate(std::static_pointer_cast<MQTTWebsocketTransport>(shared_from_this()));
    socket->open();
}

bool MQTTWebsocketTransport::send(const platform::Bytes& data) {
    MQTT_LOG_VERBOSE("[MQTTWebsocketTransport] send(%ld):%s", static_cast<long>(data.size()),
                     MQTTLog::describe(data).c_str());
    auto socket = websocket();
    if (!socket || socket->readyState() != BWReadyStateOpen) return false;
    socket->send(platform::Value(data));
    return true;
}

void MQTTWebsocketTransport::close() {
    MQTT_LOG_VERBOSE("[MQTTWebsocketTransport] close");
    setState(MQTTTransportStateClosing);
    if (auto socket = websocket()) socket->close();
}

void MQTTWebsocketTransport::detach(BWWebSocket& socket) {
    if (socket.delegate().get() == this) socket.setDelegate({});
}

void MQTTWebsocketTransport::webSocketDidOpen(BWWebSocket&) {
    MQTT_LOG_VERBOSE("[MQTTWebsocketTransport] connected to websocket");
    setState(MQTTTransportStateOpen);
    auto d = delegate();
    if (d && d->implements(MQTTTransportDelegate::Method::DidOpen)) d->mqttTransportDidOpen(*this);
}

void MQTTWebsocketTransport::webSocket(BWWebSocket&, const platform::Value& message) {
    MQTT_LOG_VERBOSE("[MQTTWebsocketTransport] didReceiveMessage(%ld)",
                     message.isBytes() ? static_cast<long>(message.asBytes().size()) : -1L);
    if (!message.isBytes()) return;
    if (auto d = delegate()) d->mqttTransport(*this, message.asBytes());
}

void MQTTWebsocketTransport::webSocket(BWWebSocket& socket, platform::ErrorPtr error) {
    MQTT_LOG_INFO("[MQTTWebsocketTransport] Failed to connect : %s", error ? error->description().c_str() : "(null)");
    setState(MQTTTransportStateClosed);
    detach(socket);
    socket.close();
    auto d = delegate();
    if (d && d->implements(MQTTTransportDelegate::Method::DidFailWithError)) d->mqttTransport(*this, error);
}

void MQTTWebsocketTransport::webSocket(BWWebSocket& socket, std::int64_t, const std::optional<std::string>& reason,
                                       bool) {
    MQTT_LOG_VERBOSE("[MQTTWebsocketTransport] ConnectionClosed : %s", reason ? reason->c_str() : "(null)");
    setState(MQTTTransportStateClosed);
    detach(socket);
    auto d = delegate();
    if (d && d->implements(MQTTTransportDelegate::Method::DidClose)) d->mqttTransportDidClose(*this);
}

void MQTTWebsocketTransport::webSocket(BWWebSocket&, const platform::Bytes& pongPayload) {
    MQTT_LOG_VERBOSE("[MQTTWebsocketTransport] webSocket didReceivePong:%s", MQTTLog::describe(pongPayload).c_str());
}

}  // namespace pellix
