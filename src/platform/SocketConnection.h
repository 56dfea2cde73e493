// SocketConnection: the shared state of one SocketStreamPair — the socket,
// its TLS session, the two stream buffers and the event bookkeeping. The
// streams are thin fronts over it (see SocketStreamPair.h for the contract).
//
// The socket, the TLS session and the connect/handshake steps are touched
// only on the reactor thread; the buffers and flags are guarded by one mutex
// that stream calls from any thread take briefly. Events are handed to each
// stream's scheduler (its queue or run loop) and delivered there without the
// lock, so a delegate may call back into its streams.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/InputStream.h"
#include "platform/OutputStream.h"
#include "platform/SocketStreamPair.h"
#include "platform/TLSSettings.h"
#include "platform/Value.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace pellix::platform {

class SocketConnection : public std::enable_shared_from_this<SocketConnection> {
public:
    enum class Side { Input = 0, Output = 1 };
    using Scheduler = std::function<void(std::function<void()>)>;
    // Size of each stream's buffer.
    static constexpr std::size_t kBufferCapacity = 256 * 1024;

    SocketConnection(std::string host, std::uint32_t port);
    ~SocketConnection();
    SocketConnection(const SocketConnection&) = delete;
    SocketConnection& operator=(const SocketConnection&) = delete;

    void attach(std::weak_ptr<SocketInputStream> input, std::weak_ptr<SocketOutputStream> output);

    void open(Side side);
    void close(Side side);
    void setDelegate(Side side, std::weak_ptr<SocketStreamDelegate> delegate);
    void schedule(Side side, Scheduler scheduler);
    bool setTLSSettings(const TLSSettings& settings);
    void setVoIP(bool voip);

    std::int64_t read(std::uint8_t* buffer, std::size_t maxLength);
    std::int64_t write(const std::uint8_t* buffer, std::size_t length);
    bool hasBytesAvailable() const;
    bool hasSpaceAvailable() const;
    InputStream::Status inputStatus() const;
    OutputStream::Status outputStatus() const;
    ErrorPtr error() const;

    const std::string& host() const { return host_; }
    std::uint32_t port() const { return port_; }

private:
    enum class State { Idle, Resolving, Connecting, Handshaking, Open, Failed, Shut };
    struct SideState {
        bool opened = false;
        bool closed = false;
        std::weak_ptr<SocketStreamDelegate> delegate;
        Scheduler scheduler;
    };

    // Lock held.
    void post(Side side, StreamEvent event);
    void postInputEvents(bool newBytes);
    void maybeShut();
    // Runs on a stream's scheduler.
    void deliver(Side side, StreamEvent event);

    // Reactor thread.
    void resolved(std::vector<sockaddr_storage> addresses, std::vector<socklen_t> lengths, ErrorPtr error);
    void connectNext();
    void onEvents(std::uint32_t events);
    void startTLS();
    void handshake();
    void becomeOpen();
    void doRead();
    void flush();
    void fail(ErrorPtr error);
    void teardown();
    void shutNow();
    ErrorPtr tlsError(int sslError);

    const std::string host_;
    const std::uint32_t port_;
    std::weak_ptr<SocketInputStream> input_;
    std::weak_ptr<SocketOutputStream> output_;

    mutable std::recursive_mutex mutex_;
    State state_ = State::Idle;
    SideState sides_[2];
    std::optional<TLSSettings> tls_;
    bool voip_ = false;
    ErrorPtr error_;

    Bytes in_;
    std::size_t inOffset_ = 0;
    bool eof_ = false;
    bool readPaused_ = false;
    bool bytesPending_ = false;
    bool endPosted_ = false;
    std::uint64_t reads_ = 0;

    Bytes out_;
    std::size_t outOffset_ = 0;
    bool spaceWanted_ = true;
    bool flushPosted_ = false;
    bool shutPosted_ = false;

    // Reactor thread only.
    std::vector<sockaddr_storage> addresses_;
    std::vector<socklen_t> lengths_;
    std::size_t next_ = 0;
    int lastErrno_ = 0;
    int fd_ = -1;
    bool registered_ = false;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
};

}  // namespace pellix::platform
