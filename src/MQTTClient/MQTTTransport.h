// MQTTTransport: the seam between an MQTT session and the bytes on the wire.
//
// A session never touches a socket. It talks to the broker through a
// transport that it opens, hands each encoded control packet to whole, and
// closes; the transport reports received bytes and the life of its
// connection to its delegate. Concrete transports (the socket transport
// MQTTCFSocketTransport, later the pinned-TLS and WebSocket ones) derive from
// the abstract base class below.
//
// Calling order every transport supports and the session follows:
//   1. The creator builds the transport and sets host, port and its own
//      settings (TLS, certificates, queue ...).
//   2. The session sets itself as delegate (setDelegate) and calls open().
//   3. The transport sends mqttTransportDidOpen(); only then may the session
//      send CONNECT.
//   4. The session calls send() once per encoded packet; false means the
//      bytes were not taken (not open yet, or the write side failed).
//   5. Received bytes arrive through mqttTransport(transport, data) in chunks
//      whose boundaries are those of the underlying reads; packet boundaries
//      are the decoder's concern.
//   6. mqttTransport(transport, error) and mqttTransportDidClose() end the
//      connection from the transport's side. A failed connection is reported
//      once.
//   7. To end the connection the session calls close() and then clears the
//      delegate (setDelegate({})); after that the transport sends nothing
//      more to the session. close() itself sends no delegate message.
//
// States: 0 created (after construction) -> 1 opening (open) -> 2 open
// (mqttTransportDidOpen) -> 3 closing (close, or a write-side failure) /
// 4 closed (the peer ended the connection). A closed transport may be opened
// again; each open() builds a new connection. The session never reads state.
//
// Threads: delegate messages arrive on one queue (the socket transport's
// queue(), the main queue by default). send() and close() may be called from
// any thread. Transports never throw; failures reach the delegate only.
//
// Ownership: the delegate is held weakly; whoever creates the transport owns
// it (std::shared_ptr). Dropping the last reference to a socket transport
// closes it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/TLSIdentity.h"
#include "platform/Value.h"

namespace pellix {

namespace platform {
class DispatchQueue;
}

enum MQTTTransportState : std::int64_t {
    MQTTTransportStateCreated = 0,
    MQTTTransportStateOpening = 1,
    MQTTTransportStateOpen = 2,
    MQTTTransportStateClosing = 3,
    MQTTTransportStateClosed = 4,
};

// Client identity and certificates for TLS: the first element an identity
// (key and certificate, e.g. from MQTTCFSocketTransport::clientCertsFromP12),
// then extra certificates to send with it. See platform/TLSIdentity.h.
using MQTTCertificates = std::vector<platform::TLSCertificateItem>;

class MQTTTransport;

// Receiver of a transport's data and connection events. mqttTransport(t,
// data) is required; the other three are optional. The socket transports
// send all four without asking; the WebSocket transport sends an optional
// one only when implements() says so (a delegate that leaves one out
// overrides implements() to answer false for it).
class MQTTTransportDelegate {
public:
    enum class Method { DidOpen, DidFailWithError, DidClose };

    virtual ~MQTTTransportDelegate() = default;
    // didReceiveMessage: bytes arrived (any chunking; possibly empty).
    virtual void mqttTransport(MQTTTransport& transport, const platform::Bytes& message) = 0;
    // The connection became usable (state open).
    virtual void mqttTransportDidOpen(MQTTTransport& transport) { (void)transport; }
    // didFailWithError: the connection failed; error keeps its own domain and code.
    virtual void mqttTransport(MQTTTransport& transport, platform::ErrorPtr error) {
        (void)transport;
        (void)error;
    }
    // The peer closed the connection.
    virtual void mqttTransportDidClose(MQTTTransport& transport) { (void)transport; }
    // Whether an optional method is implemented (the responds-to test).
    virtual bool implements(Method method) const {
        (void)method;
        return true;
    }
};

// The abstract base: holds the six common properties. open(), close() and
// send() only log "MQTTTransport is abstract class" (error level) here.
//
// Every accessor takes the object's lock, so any thread may call it; set the
// endpoint and settings before open().
class MQTTTransport : public std::enable_shared_from_this<MQTTTransport> {
public:
    MQTTTransport();  // state created, no host, port 0, no queue, no level, no delegate
    virtual ~MQTTTransport();
    MQTTTransport(const MQTTTransport&) = delete;
    MQTTTransport& operator=(const MQTTTransport&) = delete;

    // Starts connecting; returns at once, the outcome arrives through the delegate.
    virtual void open();
    // Queues or writes one chunk (one complete packet); true when accepted.
    virtual bool send(const platform::Bytes& data);
    // Tears the connection down; sends nothing to the delegate.
    virtual void close();

    virtual std::shared_ptr<platform::DispatchQueue> queue() const;
    virtual void setQueue(std::shared_ptr<platform::DispatchQueue> queue);
    // The stream security level used when TLS is on (e.g.
    // "kCFStreamSocketSecurityLevelNegotiatedSSL"); nullopt when unset.
    virtual std::optional<std::string> streamSSLLevel() const;
    virtual void setStreamSSLLevel(std::optional<std::string> level);
    virtual std::optional<std::string> host() const;
    virtual void setHost(std::optional<std::string> host);
    virtual std::uint32_t port() const;
    virtual void setPort(std::uint32_t port);
    virtual std::shared_ptr<MQTTTransportDelegate> delegate() const;
    virtual void setDelegate(std::weak_ptr<MQTTTransportDelegate> delegate);
    virtual MQTTTransportState state() const;
    virtual void setState(MQTTTransportState state);

    // Client certificates: a session given certificates passes them on only
    // when implementsSetCertificates() is true (the socket transports).
    virtual bool implementsSetCertificates() const { return false; }
    virtual void setCertificates(std::optional<MQTTCertificates> certificates) { (void)certificates; }

protected:
    mutable std::mutex mutex_;  // guards the fields below
    std::uint32_t port_ = 0;
    MQTTTransportState state_ = MQTTTransportStateCreated;
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::optional<std::string> streamSSLLevel_;
    std::weak_ptr<MQTTTransportDelegate> delegate_;
    std::optional<std::string> host_;
};

}  // namespace pellix
