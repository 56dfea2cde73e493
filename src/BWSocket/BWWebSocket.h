// BWWebSocket: a WebSocket client (RFC 6455, version 13) for one ws, wss,
// http or https URL.
//
// Life cycle: create() makes a socket in state connecting whose streams
// exist but are not open; open() (once) connects, wraps the connection in
// TLS for wss/https, performs the upgrade handshake and then exchanges
// frames. readyState only moves forward:
//   connecting -> open     the handshake response passed every check
//   -> closing             close() / closeWithCode(), or the answer to the
//                          server's close frame (a clean close stays here)
//   -> closed              failure, or the end of the stream
// An opened socket keeps itself alive until its connection has ended, so the
// caller may drop it; a socket never opened goes with its last reference.
//
// Delegate (held weakly), one callback per event, in order:
//   webSocketDidOpen                        handshake accepted
//   webSocket(ws, Value message)            a whole message: a string for text
//                                           (bytes when the delegate declines
//                                           conversion), bytes for binary
//   webSocket(ws, Bytes pong)               a pong
//   webSocket(ws, code, reason, wasClean)   the closing handshake completed
//                                           (clean), or the stream ended
//                                           (1001 "Stream end encountered",
//                                           not clean), or the server did not
//                                           answer our close frame in time
//                                           (not clean)
//   webSocket(ws, ErrorPtr)                 failure; nothing follows it
// Failures (each once; the first wins):
//   "BWWebSocketErrorDomain" 2132 status not 101 ("HTTPResponseStatusCode"),
//     2133 bad upgrade / accept key / subprotocol / response head,
//     2145 write refused,
//     1002, 1007, 1009 the server broke the protocol: the close frame with
//     that code was sent, then the connection closed; the text is the reason
//   "com.brimwick.BWSocket" 504 "Timeout Connecting to Server"
//   "org.quennel.BWSocket" 23556 "Invalid server cert" (pinning)
//   the stream's own error (connect, name look-up, TLS, I/O).
//
// Caps: the response head (16 KiB), one message (maxMessageSize), and the
// closing handshake (closingTimeout seconds after our close frame, then the
// connection is cut).
//
// A protocol violation by the server fails the connection only after the
// messages that came before the violating frame have been handed to the
// delegate and the replies it sent from those callbacks have been written:
// those messages were sound, and the server may wait for their answers.
// Nothing from the violating frame on is delivered.
//
// Threads: every state change runs on the socket's own serial work queue;
// the socket layer's one shared I/O thread carries all sockets. send(),
// sendPing(), close() and closeWithCode() may be called from any thread and
// return at once. Callbacks run on delegateOperationQueue when set, else on
// delegateDispatchQueue (the main queue unless set);
// webSocketShouldConvertTextFrameToString runs on the work queue. With a
// serial dispatch queue (not the main queue) as delegate queue, a received
// message is delivered in one hop: the work queue's thread runs the callback
// while holding that queue (so it still runs after the blocks queued there
// before it, never beside them), and a send() from the callback is written
// at once instead of going round through the work queue. A delegate on such
// a queue must not wait in its callbacks for this socket's work queue.
//
// Misuse (open twice, send while connecting, ping while not open, a zero
// close code, an unsupported scheme) throws platform::Exception.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "BWSocket/BWFrameReader.h"
#include "BWSocket/BWHandshake.h"
#include "platform/Error.h"
#include "platform/SocketStreamPair.h"
#include "platform/URLRequest.h"
#include "platform/Value.h"

namespace pellix {

namespace platform {
class DispatchQueue;
class OperationQueue;
}  // namespace platform

enum BWReadyState : std::int64_t {
    BWReadyStateConnecting = 0,
    BWReadyStateOpen = 1,
    BWReadyStateClosing = 2,
    BWReadyStateClosed = 3,
};

inline constexpr const char* BWSocketTimeoutErrorDomain = "com.brimwick.BWSocket";
inline constexpr std::int64_t BWSocketTimeoutErrorCode = 504;
inline constexpr const char* BWSocketPinningErrorDomain = "org.quennel.BWSocket";
inline constexpr std::int64_t BWSocketPinningErrorCode = 23556;

class BWWebSocket;

class BWWebSocketDelegate {
public:
    enum class Method { DidOpen, DidFailWithError, DidClose, DidReceivePong, ShouldConvertTextFrameToString };

    virtual ~BWWebSocketDelegate() = default;
    // didReceiveMessage (required): a string or bytes Value.
    virtual void webSocket(BWWebSocket& socket, const platform::Value& message) = 0;
    virtual void webSocketDidOpen(BWWebSocket& socket) { (void)socket; }
    // didFailWithError
    virtual void webSocket(BWWebSocket& socket, platform::ErrorPtr error) {
        (void)socket;
        (void)error;
    }
    // didCloseWithCode:reason:wasClean:
    virtual void webSocket(BWWebSocket& socket, std::int64_t code, const std::optional<std::string>& reason,
                           bool wasClean) {
        (void)socket;
        (void)code;
        (void)reason;
        (void)wasClean;
    }
    // didReceivePong
    virtual void webSocket(BWWebSocket& socket, const platform::Bytes& pongPayload) {
        (void)socket;
        (void)pongPayload;
    }
    // false: deliver text messages as bytes. Asked only when implemented.
    virtual bool webSocketShouldConvertTextFrameToString(BWWebSocket& socket) {
        (void)socket;
        return true;
    }
    // The responds-to test: a delegate that leaves an optional method out
    // answers false for it.
    virtual bool implements(Method method) const { return method != Method::ShouldConvertTextFrameToString; }
};

class BWWebSocket final : public platform::SocketStreamDelegate, public std::enable_shared_from_this<BWWebSocket> {
public:
    static constexpr double kDefaultClosingTimeout = 10.0;

    // The request's URL must be ws, wss, http or https (else Exception);
    // its headers are sent with the handshake and its timeoutInterval (> 0)
    // limits connecting. protocols: subprotocols offered (nullopt: none).
    static std::shared_ptr<BWWebSocket> create(platform::URLRequest request,
                                               std::optional<std::vector<std::string>> protocols = std::nullopt,
                                               bool allowsUntrustedSSLCertificates = false);
    static std::shared_ptr<BWWebSocket> create(platform::URL url,
                                               std::optional<std::vector<std::string>> protocols = std::nullopt,
                                               bool allowsUntrustedSSLCertificates = false);
    ~BWWebSocket() override;
    BWWebSocket(const BWWebSocket&) = delete;
    BWWebSocket& operator=(const BWWebSocket&) = delete;

    // Certificates (DER) the server's chain must contain (its own, or one
    // that really signs it); trust then rests on them alone. An empty array
    // on a secure socket refuses every server. Set before open(); a socket
    // created from a request starts with the request's own
    // (BW_SSLPinnedCertificates, BWAdditions.h).
    void setSSLPinnedCertificates(std::optional<std::vector<platform::Bytes>> certificates);
    std::optional<std::vector<platform::Bytes>> SSLPinnedCertificates() const;

    void open();
    // A string Value goes as one text frame, bytes as one binary frame, null
    // sends nothing; never fragmented. Dropped once the connection closes.
    void send(const platform::Value& message);
    void sendPing(std::optional<platform::Bytes> data = std::nullopt);
    // closeWithCode(1000, nullopt).
    void close();
    void closeWithCode(std::int64_t code, std::optional<std::string> reason);

    std::shared_ptr<BWWebSocketDelegate> delegate() const;
    void setDelegate(std::weak_ptr<BWWebSocketDelegate> delegate);
    std::shared_ptr<platform::DispatchQueue> delegateDispatchQueue() const;
    void setDelegateDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue);
    std::shared_ptr<platform::OperationQueue> delegateOperationQueue() const;
    void setDelegateOperationQueue(std::shared_ptr<platform::OperationQueue> queue);

    const platform::URL& url() const { return request_.url(); }
    BWReadyState readyState() const { return readyState_.load(); }
    // The subprotocol the server accepted; nullopt when it named none.
    std::optional<std::string> protocol() const;
    // The handshake response, once it has been read whole.
    std::optional<BWHandshakeResponse> receivedHTTPHeaders() const;
    std::optional<std::vector<BWHTTPCookie>> requestCookies() const;
    void setRequestCookies(std::optional<std::vector<BWHTTPCookie>> cookies);
    bool allowsUntrustedSSLCertificates() const { return allowsUntrusted_; }

    // Largest message accepted (BWFrameReader's default unless set); set before open().
    void setMaxMessageSize(std::uint64_t bytes);
    // Seconds the server has to answer our close frame; set before open().
    void setClosingTimeout(double seconds);

    // SocketStreamDelegate (the streams' events, on the work queue).
    void stream(platform::SocketInputStream& stream, platform::StreamEvent event) override;
    void stream(platform::SocketOutputStream& stream, platform::StreamEvent event) override;

private:
    class Reader;

    BWWebSocket(platform::URLRequest request, std::optional<std::vector<std::string>> protocols, bool allowsUntrusted);

    // Work queue only.
    void didConnect();
    void readAvailable();
    void handleBytes(std::span<const std::uint8_t> bytes);
    void handshakeFinished();
    void writeData(std::span<const std::uint8_t> bytes);
    void sendFrame(BWOpcode opcode, std::span<const std::uint8_t> payload);
    void pumpWriting();
    void closeConnection();
    void closeStreams(bool clean);
    // closeNow false: the connection ends later (protocol errors).
    void failOnQueue(platform::ErrorPtr error, bool closeNow = true);
    void startClose(std::int64_t code, std::optional<std::string> reason);
    void protocolError(std::uint16_t code, std::string reason);
    // The reader found a violation: fails once every message before it has
    // been delivered (see deliverMessage).
    void violation(std::uint16_t code, std::string reason);
    void fireViolation();
    void deliverMessage(platform::Value message);
    void scheduleCleanup();
    void advanceState(BWReadyState state);
    void performDelegate(std::function<void(BWWebSocketDelegate&, BWWebSocket&)> call);
    void streamEnded();

    const platform::URLRequest request_;
    const std::optional<std::vector<std::string>> requestedProtocols_;
    const bool allowsUntrusted_;
    const bool secure_;
    const std::shared_ptr<platform::DispatchQueue> workQueue_;

    mutable std::mutex mutex_;  // guards the settings and results below
    std::weak_ptr<BWWebSocketDelegate> delegate_;
    std::shared_ptr<platform::DispatchQueue> delegateQueue_;
    std::shared_ptr<platform::OperationQueue> delegateOperationQueue_;
    std::optional<std::vector<platform::Bytes>> pinned_;
    std::optional<std::vector<BWHTTPCookie>> cookies_;
    std::optional<std::string> protocol_;
    std::optional<BWHandshakeResponse> response_;
    std::uint64_t maxMessageSize_ = BWFrameReader::kDefaultMaxMessageSize;
    double closingTimeout_ = kDefaultClosingTimeout;

    std::atomic<BWReadyState> readyState_{BWReadyStateConnecting};
    std::atomic<bool> opened_{false};
    // Set on the I/O thread by the pinning check when no pinned certificate matched.
    std::shared_ptr<std::atomic<bool>> pinRefused_ = std::make_shared<std::atomic<bool>>(false);

    // Work queue only.
    std::shared_ptr<platform::SocketInputStream> input_;
    std::shared_ptr<platform::SocketOutputStream> output_;
    std::string secKey_;
    std::unique_ptr<BWHandshakeResponseParser> handshake_;
    std::unique_ptr<BWFrameReader> reader_;
    std::unique_ptr<Reader> readerHandler_;
    platform::Bytes outputBuffer_;
    std::size_t outputOffset_ = 0;
    bool outputDrained_ = true;  // everything handed to the stream has gone to the socket
    bool closeWhenFinishedWriting_ = false;
    bool sentClose_ = false;
    bool failed_ = false;
    bool cleanupScheduled_ = false;
    bool receivedClose_ = false;  // the server's close frame arrived
    std::unique_ptr<std::uint8_t[]> readBuffer_;
    std::int64_t closeCode_ = 0;
    std::optional<std::string> closeReason_;
    std::shared_ptr<BWWebSocket> selfRetain_;
    // Messages handed to the delegate's queue whose callback has not yet
    // returned, and a violation waiting for them (its code and reason are
    // work-queue only).
    std::atomic<int> deliveriesPending_{0};
    std::atomic<bool> violationPending_{false};
    bool deliveredElsewhere_ = false;  // a message went to the delegate's queue (work queue only)
    std::uint16_t violationCode_ = 0;
    std::string violationReason_;
};

}  // namespace pellix
