// MQTTWebsocketTransport: an MQTT session over a WebSocket connection. Each
// packet the session sends travels as one binary message under the
// subprotocol "mqtt", by default at ws://localhost:80/mqtt.
//
// Nothing in the library creates it: a host that wants MQTT over WebSocket
// builds one, sets host, port, path, tls and certificates, and gives it to a
// session (MQTTSession::setTransport), which uses it like the socket
// transport:
//   open()            a new BWWebSocket each time; state opening
//   handshake done    state open, mqttTransportDidOpen
//   binary message    mqttTransport(t, data), whole (packet boundaries are
//                     the session decoder's concern); text messages are
//                     dropped, the connection stays up
//   client failure    state closed; the socket is closed and detached first,
//                     then mqttTransport(t, error) with the client's error
//                     unchanged (handshake, TLS, pinning, protocol ...)
//   client close      state closed, detached, mqttTransportDidClose
//   close()           state closing; the socket closes normally and its
//                     close callback follows
// An endpoint that forms no URL (a host or path that does not parse) fails
// the open the same way, with "NSURLErrorDomain" -1000, instead of asserting.
//
// Delegate messages, the required one included, are sent only when the
// delegate implements them. queue() and streamSSLLevel() play no part; the
// callbacks arrive on the WebSocket client's delegate queue, the main queue.
// send() and close() may be called from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BWSocket/BWWebSocket.h"
#include "MQTTClient/MQTTTransport.h"
#include "platform/URL.h"

namespace pellix {

class MQTTWebsocketTransport : public MQTTTransport, public BWWebSocketDelegate {
public:
    // Host "localhost", port 80, path "/mqtt", tls off, untrusted
    // certificates refused, no pinned certificates.
    static std::shared_ptr<MQTTWebsocketTransport> create();
    ~MQTTWebsocketTransport() override;

    // "wss" when tls, else "ws"; ":port" unless port is 0; then the path as
    // it is. nullopt when host and path form no URL.
    std::optional<platform::URL> endpointURL() const;

    void open() override;
    // One binary message; false (nothing sent) unless the socket is open.
    bool send(const platform::Bytes& data) override;
    void close() override;

    std::string path() const;
    void setPath(std::string path);
    bool tls() const;
    void setTls(bool tls);
    bool allowUntrustedCertificates() const;
    void setAllowUntrustedCertificates(bool allow);
    // DER certificates the server's chain must contain.
    std::optional<std::vector<platform::Bytes>> pinnedCertificates() const;
    void setPinnedCertificates(std::optional<std::vector<platform::Bytes>> certificates);
    std::shared_ptr<BWWebSocket> websocket() const;

    // BWWebSocketDelegate
    void webSocket(BWWebSocket& socket, const platform::Value& message) override;
    void webSocketDidOpen(BWWebSocket& socket) override;
    void webSocket(BWWebSocket& socket, platform::ErrorPtr error) override;
    void webSocket(BWWebSocket& socket, std::int64_t code, const std::optional<std::string>& reason,
                   bool wasClean) override;
    void webSocket(BWWebSocket& socket, const platform::Bytes& pongPayload) override;
    bool implements(Method method) const override { return method != Method::ShouldConvertTextFrameToString; }

private:
    MQTTWebsocketTransport();
    // Drops this transport as the socket's delegate, if it is still this one's.
    void detach(BWWebSocket& socket);

    std::string path_ = "/mqtt";
    bool tls_ = false;
    bool allowUntrustedCertificates_ = false;
    std::optional<std::vector<platform::Bytes>> pinnedCertificates_;
    std::shared_ptr<BWWebSocket> websocket_;
};

}  // namespace pellix
