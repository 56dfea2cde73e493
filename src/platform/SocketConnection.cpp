#include "platform/SocketConnection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/DispatchQueue.h"
#include "platform/ServerTrust.h"
#include "platform/SocketInputStream.h"
#include "platform/SocketOutputStream.h"
#include "platform/SocketReactor.h"
#include "platform/X509DER.h"

namespace pellix::platform {

namespace {

constexpr const char* kPOSIXDomain = "NSPOSIXErrorDomain";
constexpr const char* kOSStatusDomain = "NSOSStatusErrorDomain";
constexpr const char* kCFNetworkDomain = "kCFErrorDomainCFNetwork";

// The platform's secure-transport status codes.
constexpr std::int64_t errSSLClosedAbort = -9806;
constexpr std::int64_t errSSLXCertChainInvalid = -9807;
constexpr std::int64_t errSSLUnknownRootCert = -9812;
constexpr std::int64_t errSSLNoRootCert = -9813;
constexpr std::int64_t errSSLCertExpired = -9814;
constexpr std::int64_t errSSLPeerHandshakeFail = -9824;
constexpr std::int64_t errSSLHostNameMismatch = -9843;

ErrorPtr posixError(int err) {
    return Error::make(kPOSIXDomain, err, Dictionary{{Error::kLocalizedDescriptionKey, Value(std::strerror(err))}});
}

ErrorPtr tlsStatus(std::int64_t code, const std::string& reason) {
    return Error::make(kOSStatusDomain, code, Dictionary{{Error::kLocalizedDescriptionKey, Value(reason)}});
}

std::string opensslReason() {
    unsigned long e = ERR_peek_last_error();
    if (!e) return "TLS handshake failed";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

bool isIPAddress(const std::string& host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host.c_str(), &a4) == 1 || inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

}  // namespace

SocketConnection::SocketConnection(std::string host, std::uint32_t port) : host_(std::move(host)), port_(port) {}

SocketConnection::~SocketConnection() {
    // Normally the reactor has shut the socket already; this covers a pair
    // dropped before it was ever opened or while still resolving.
    if (ssl_) SSL_free(ssl_);
    if (ctx_) SSL_CTX_free(ctx_);
    if (fd_ >= 0) ::close(fd_);
}

void SocketConnection::attach(std::weak_ptr<SocketInputStream> input, std::weak_ptr<SocketOutputStream> output) {
    input_ = std::move(input);
    output_ = std::move(output);
}

// ---- stream side -----------------------------------------------------------

void SocketConnection::open(Side side) {
    std::lock_guard lock(mutex_);
    auto& s = sides_[static_cast<int>(side)];
    if (s.opened || s.closed) return;
    s.opened = true;
    if (state_ == State::Open) {
        // The other stream opened the pair already: catch this one up.
        post(side, StreamEvent::OpenCompleted);
        if (side == Side::Output) {
            spaceWanted_ = false;
            post(side, StreamEvent::HasSpaceAvailable);
        } else {
            postInputEvents(true);
        }
        return;
    }
    if (state_ == State::Failed) {
        post(side, StreamEvent::ErrorOccurred);
        return;
    }
    if (state_ != State::Idle) return;
    state_ = State::Resolving;
    auto self = shared_from_this();
    DispatchQueue::global()->async([self] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* result = nullptr;
        std::string service = std::to_string(self->port_);
        // getaddrinfo would wrap a port past 65535 round to another one.
        int rc = self->port_ > 65535 ? EAI_SERVICE
                                     : ::getaddrinfo(self->host_.c_str(), service.c_str(), &hints, &result);
        std::vector<sockaddr_storage> addresses;
        std::vector<socklen_t> lengths;
        ErrorPtr error;
        if (rc != 0) {
            error = Error::make(kCFNetworkDomain, 2,
                                Dictionary{{"kCFGetAddrInfoFailureKey", Value(rc)},
                                           {Error::kLocalizedDescriptionKey, Value(::gai_strerror(rc))}});
        } else {
            for (addrinfo* ai = result; ai; ai = ai->ai_next) {
                if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
                sockaddr_storage ss{};
                std::memcpy(&ss, ai->ai_addr, ai->ai_addrlen);
                addresses.push_back(ss);
                lengths.push_back(ai->ai_addrlen);
            }
            ::freeaddrinfo(result);
        }
        SocketReactor::shared().post([self, addresses = std::move(addresses), lengths = std::move(lengths),
                                      error]() mutable { self->resolved(std::move(addresses), std::move(lengths), error); });
    });
}

void SocketConnection::close(Side side) {
    std::lock_guard lock(mutex_);
    auto& s = sides_[static_cast<int>(side)];
    if (s.closed) return;
    s.closed = true;
    s.delegate.reset();
    maybeShut();
}

void SocketConnection::maybeShut() {
    auto done = [](const SideState& s) { return s.closed || !s.opened; };
    if (shutPosted_ || !done(sides_[0]) || !done(sides_[1])) return;
    if (!sides_[0].opened && !sides_[1].opened && state_ == State::Idle) return;
    shutPosted_ = true;
    auto self = shared_from_this();
    SocketReactor::shared().post([self] { self->shutNow(); });
}

void SocketConnection::setDelegate(Side side, std::weak_ptr<SocketStreamDelegate> delegate) {
    std::lock_guard lock(mutex_);
    sides_[static_cast<int>(side)].delegate = std::move(delegate);
}

void SocketConnection::schedule(Side side, Scheduler scheduler) {
    std::lock_guard lock(mutex_);
    sides_[static_cast<int>(side)].scheduler = std::move(scheduler);
}

bool SocketConnection::setTLSSettings(const TLSSettings& settings) {
    if (settings.refusal()) return false;
    std::lock_guard lock(mutex_);
    if (state_ != State::Idle) return false;
    tls_ = settings;
    return true;
}

void SocketConnection::setVoIP(bool voip) {
    std::lock_guard lock(mutex_);
    voip_ = voip;
}

std::int64_t SocketConnection::read(std::uint8_t* buffer, std::size_t maxLength) {
    std::lock_guard lock(mutex_);
    const auto& s = sides_[0];
    if (!s.opened || s.closed || state_ == State::Failed) return -1;
    std::size_t n = std::min(maxLength, in_.size() - inOffset_);
    if (n) {
        std::memcpy(buffer, in_.data() + inOffset_, n);
        inOffset_ += n;
        if (inOffset_ == in_.size()) {
            in_.clear();
            inOffset_ = 0;
        }
    }
    ++reads_;
    if (readPaused_ && in_.size() - inOffset_ < kBufferCapacity / 2) {
        readPaused_ = false;
        auto self = shared_from_this();
        SocketReactor::shared().post([self] {
            std::lock_guard lock(self->mutex_);
            self->doRead();
        });
    }
    if (in_.size() == inOffset_ && eof_ && !endPosted_) {
        endPosted_ = true;
        post(Side::Input, StreamEvent::EndEncountered);
    }
    return static_cast<std::int64_t>(n);
}

std::int64_t SocketConnection::write(const std::uint8_t* buffer, std::size_t length) {
    std::lock_guard lock(mutex_);
    const auto& s = sides_[1];
    if (!s.opened || s.closed || state_ == State::Failed || state_ == State::Shut) return -1;
    std::size_t pending = out_.size() - outOffset_;
    std::size_t n = std::min(length, kBufferCapacity - std::min(pending, kBufferCapacity));
    spaceWanted_ = true;
    if (n == 0) return 0;
    if (outOffset_ > 0 && outOffset_ >= out_.size() / 2) {
        out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outOffset_));
        outOffset_ = 0;
    }
    out_.insert(out_.end(), buffer, buffer + n);
    if (state_ == State::Open && !flushPosted_) {
        flushPosted_ = true;
        auto self = shared_from_this();
        SocketReactor::shared().post([self] {
            std::lock_guard lock(self->mutex_);
            self->flushPosted_ = false;
            self->flush();
        });
    }
    return static_cast<std::int64_t>(n);
}

bool SocketConnection::hasBytesAvailable() const {
    std::lock_guard lock(mutex_);
    return in_.size() > inOffset_;
}

bool SocketConnection::hasSpaceAvailable() const {
    std::lock_guard lock(mutex_);
    return state_ == State::Open && out_.size() - outOffset_ < kBufferCapacity;
}

InputStream::Status SocketConnection::inputStatus() const {
    std::lock_guard lock(mutex_);
    const auto& s = sides_[0];
    if (s.closed) return InputStream::Status::Closed;
    if (!s.opened) return InputStream::Status::NotOpen;
    if (state_ == State::Failed) return InputStream::Status::Error;
    if (eof_ && in_.size() == inOffset_) return InputStream::Status::AtEnd;
    return InputStream::Status::Open;
}

OutputStream::Status SocketConnection::outputStatus() const {
    std::lock_guard lock(mutex_);
    const auto& s = sides_[1];
    if (s.closed) return OutputStream::Status::Closed;
    if (!s.opened) return OutputStream::Status::NotOpen;
    if (state_ == State::Failed) return OutputStream::Status::Error;
    return OutputStream::Status::Open;
}

ErrorPtr SocketConnection::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

// ---- events ----------------------------------------------------------------

void SocketConnection::post(Side side, StreamEvent event) {
    auto& s = sides_[static_cast<int>(side)];
    if (!s.opened || s.closed || !s.scheduler) {
        if (event == StreamEvent::HasBytesAvailable) bytesPending_ = false;
        return;
    }
    auto self = shared_from_this();
    s.scheduler([self, side, event] { self->deliver(side, event); });
}

void SocketConnection::postInputEvents(bool newBytes) {
    bool waiting = in_.size() > inOffset_;
    if (waiting && newBytes && !bytesPending_) {
        bytesPending_ = true;
        post(Side::Input, StreamEvent::HasBytesAvailable);
    }
    if (!waiting && eof_ && !endPosted_) {
        endPosted_ = true;
        post(Side::Input, StreamEvent::EndEncountered);
    }
}

void SocketConnection::deliver(Side side, StreamEvent event) {
    std::shared_ptr<SocketStreamDelegate> delegate;
    std::uint64_t readsBefore;
    {
        std::lock_guard lock(mutex_);
        if (event == StreamEvent::HasBytesAvailable) bytesPending_ = false;
        const auto& s = sides_[static_cast<int>(side)];
        if (!s.opened || s.closed) return;
        delegate = s.delegate.lock();
        readsBefore = reads_;
    }
    if (delegate) {
        if (side == Side::Input) {
            if (auto stream = input_.lock()) delegate->stream(*stream, event);
        } else {
            if (auto stream = output_.lock()) delegate->stream(*stream, event);
        }
    }
    if (event == StreamEvent::HasBytesAvailable) {
        // A handler that read and left bytes behind hears about them again.
        std::lock_guard lock(mutex_);
        postInputEvents(reads_ != readsBefore);
    }
}

// ---- reactor thread --------------------------------------------------------

void SocketConnection::resolved(std::vector<sockaddr_storage> addresses, std::vector<socklen_t> lengths,
                                ErrorPtr error) {
    std::lock_guard lock(mutex_);
    if (state_ != State::Resolving) return;
    if (error) return fail(error);
    addresses_ = std::move(addresses);
    lengths_ = std::move(lengths);
    next_ = 0;
    lastErrno_ = EHOSTUNREACH;
    state_ = State::Connecting;
    connectNext();
}

void SocketConnection::connectNext() {
    while (next_ < addresses_.size()) {
        const auto& ss = addresses_[next_];
        int fd = ::socket(ss.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            lastErrno_ = errno;
            ++next_;
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (voip_) {
            int priority = 6;
            ::setsockopt(fd, SOL_SOCKET, SO_PRIORITY, &priority, sizeof priority);
        }
        int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&ss), lengths_[next_]);
        if (rc != 0 && errno != EINPROGRESS) {
            lastErrno_ = errno;
            ::close(fd);
            ++next_;
            continue;
        }
        fd_ = fd;
        auto self = shared_from_this();
        if (!SocketReactor::shared().add(fd, [self](std::uint32_t events) { self->onEvents(events); })) {
            lastErrno_ = errno;
            ::close(fd);
            fd_ = -1;
            ++next_;
            continue;
        }
        registered_ = true;
        return;
    }
    fail(posixError(lastErrno_));
}

void SocketConnection::onEvents(std::uint32_t events) {
    std::lock_guard lock(mutex_);
    switch (state_) {
    case State::Connecting: {
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        if (err == 0 && !(events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) return;
        if (err != 0) {
            lastErrno_ = err;
            teardown();
            ++next_;
            connectNext();
            return;
        }
        if (tls_ && tls_->level != TLSSettings::kLevelNone) {
            startTLS();
        } else {
            becomeOpen();
        }
        return;
    }
    case State::Handshaking:
        handshake();
        return;
    case State::Open:
        flush();
        if (state_ == State::Open) doRead();
        return;
    default:
        return;
    }
}

void SocketConnection::startTLS() {
    state_ = State::Handshaking;
    const TLSSettings& t = *tls_;
    crypto::initialiseOpenSSL();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) return fail(tlsStatus(errSSLPeerHandshakeFail, opensslReason()));
    SSL_CTX_set_default_verify_paths(ctx_);  // system store, SSL_CERT_FILE, SSL_CERT_DIR
    if (t.level == TLSSettings::kLevelTLSv1) SSL_CTX_set_min_proto_version(ctx_, TLS1_VERSION);
    ssl_ = SSL_new(ctx_);
    if (!ssl_) return fail(tlsStatus(errSSLPeerHandshakeFail, opensslReason()));
    SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Brokers often drop the connection without a close_notify: an end, not an error.
    SSL_set_options(ssl_, SSL_OP_IGNORE_UNEXPECTED_EOF);
    const std::string name = t.peerName.value_or(host_);
    bool ip = isIPAddress(name);
    if (!ip && !name.empty()) SSL_set_tlsext_host_name(ssl_, name.c_str());
    if (t.validatesCertificateChain && !t.trustEvaluator) {
        SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
        if (ip) {
            X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str());
        } else if (!name.empty()) {
            X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            SSL_set1_host(ssl_, name.c_str());
        }
    } else {
        SSL_set_verify(ssl_, SSL_VERIFY_NONE, nullptr);
    }
    if (t.certificates && !t.certificates->empty()) {
        const auto& identity = std::get<std::shared_ptr<const TLSIdentity>>(t.certificates->front());
        if (SSL_use_certificate(ssl_, identity->x509()) != 1 || SSL_use_PrivateKey(ssl_, identity->privateKey()) != 1) {
            return fail(tlsStatus(errSSLPeerHandshakeFail, "client identity refused: " + opensslReason()));
        }
        const Bytes own = identity->certificate();
        for (std::size_t i = 1; i < t.certificates->size(); ++i) {
            const auto* der = std::get_if<Bytes>(&(*t.certificates)[i]);
            // [identity, its own certificate] is the usual array: don't send the leaf twice.
            if (!der || *der == own) continue;
            if (X509Ptr extra = x509FromDER(*der)) SSL_add0_chain_cert(ssl_, extra.release());
        }
    }
    SSL_set_fd(ssl_, fd_);
    SSL_set_connect_state(ssl_);
    handshake();
}

void SocketConnection::handshake() {
    ERR_clear_error();
    int rc = SSL_connect(ssl_);
    if (rc != 1) {
        int e = SSL_get_error(ssl_, rc);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return;
        return fail(tlsError(e));
    }
    if (tls_->trustEvaluator) {
        std::vector<Bytes> chain;
        STACK_OF(X509)* peer = SSL_get_peer_cert_chain(ssl_);
        for (int i = 0; peer && i < sk_X509_num(peer); ++i) {
            Bytes der = x509ToDER(sk_X509_value(peer, i));
            if (!der.empty()) chain.push_back(std::move(der));
        }
        ServerTrust trust(std::move(chain), tls_->peerName.value_or(host_), static_cast<int>(port_));
        bool trusted = false;
        try {
            trusted = tls_->trustEvaluator(trust);
        } catch (...) {
            trusted = false;
        }
        if (!trusted) return fail(tlsStatus(errSSLXCertChainInvalid, "the server's certificate was not trusted"));
    }
    becomeOpen();
}

ErrorPtr SocketConnection::tlsError(int sslError) {
    long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
        std::string reason = X509_verify_cert_error_string(verify);
        switch (verify) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return tlsStatus(errSSLHostNameMismatch, reason);
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return tlsStatus(errSSLCertExpired, reason);
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return tlsStatus(errSSLNoRootCert, reason);
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
            return tlsStatus(errSSLUnknownRootCert, reason);
        default:
            return tlsStatus(errSSLXCertChainInvalid, reason);
        }
    }
    if ((sslError == SSL_ERROR_SYSCALL || sslError == SSL_ERROR_ZERO_RETURN) && ERR_peek_error() == 0) {
        if (sslError == SSL_ERROR_SYSCALL && errno != 0 && errno != EAGAIN) return posixError(errno);
        return tlsStatus(errSSLClosedAbort, "the connection closed during the TLS handshake");
    }
    return tlsStatus(errSSLPeerHandshakeFail, opensslReason());
}

void SocketConnection::becomeOpen() {
    state_ = State::Open;
    post(Side::Input, StreamEvent::OpenCompleted);
    post(Side::Output, StreamEvent::OpenCompleted);
    spaceWanted_ = false;
    post(Side::Output, StreamEvent::HasSpaceAvailable);
    flush();
    if (state_ == State::Open) doRead();
}

void SocketConnection::doRead() {
    if (state_ != State::Open || eof_) return;
    bool got = false;
    std::uint8_t chunk[16384];
    for (;;) {
        std::size_t waiting = in_.size() - inOffset_;
        if (waiting >= kBufferCapacity) {
            readPaused_ = true;
            break;
        }
        std::size_t want = std::min(sizeof chunk, kBufferCapacity - waiting);
        ssize_t n;
        if (ssl_) {
            ERR_clear_error();
            int r = SSL_read(ssl_, chunk, static_cast<int>(want));
            if (r > 0) {
                n = r;
            } else {
                int e = SSL_get_error(ssl_, r);
                if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) break;
                if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && errno == 0)) {
                    eof_ = true;
                    break;
                }
                if (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) return fail(posixError(errno));
                return fail(tlsStatus(errSSLClosedAbort, opensslReason()));
            }
        } else {
            n = ::recv(fd_, chunk, want, 0);
            if (n == 0) {
                eof_ = true;
                break;
            }
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                return fail(posixError(errno));
            }
        }
        if (inOffset_ > 0 && inOffset_ >= in_.size() / 2) {
            in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(inOffset_));
            inOffset_ = 0;
        }
        in_.insert(in_.end(), chunk, chunk + n);
        got = true;
    }
    postInputEvents(got);
}

void SocketConnection::flush() {
    if (state_ != State::Open) return;
    while (out_.size() > outOffset_) {
        std::size_t len = out_.size() - outOffset_;
        ssize_t n;
        if (ssl_) {
            ERR_clear_error();
            int r = SSL_write(ssl_, out_.data() + outOffset_, static_cast<int>(std::min<std::size_t>(len, 1 << 30)));
            if (r > 0) {
                n = r;
            } else {
                int e = SSL_get_error(ssl_, r);
                if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) return;
                if (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && errno != 0) return fail(posixError(errno));
                return fail(tlsStatus(errSSLClosedAbort, opensslReason()));
            }
        } else {
            n = ::send(fd_, out_.data() + outOffset_, len, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) return;
                return fail(posixError(errno));
            }
        }
        outOffset_ += static_cast<std::size_t>(n);
    }
    out_.clear();
    outOffset_ = 0;
    if (spaceWanted_) {
        spaceWanted_ = false;
        post(Side::Output, StreamEvent::HasSpaceAvailable);
    }
}

void SocketConnection::fail(ErrorPtr error) {
    if (state_ == State::Failed || state_ == State::Shut) return;
    state_ = State::Failed;
    error_ = std::move(error);
    teardown();
    post(Side::Input, StreamEvent::ErrorOccurred);
    post(Side::Output, StreamEvent::ErrorOccurred);
}

void SocketConnection::teardown() {
    if (ssl_) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (ctx_) {
        SSL_CTX_free(ctx_);
        ctx_ = nullptr;
    }
    if (fd_ >= 0) {
        if (registered_) SocketReactor::shared().remove(fd_);
        registered_ = false;
        ::close(fd_);
        fd_ = -1;
    }
}

void SocketConnection::shutNow() {
    std::lock_guard lock(mutex_);
    if (state_ == State::Open) {
        flush();  // what was written before close() still goes out, as far as the socket takes it now
        if (ssl_ && state_ == State::Open) {
            ERR_clear_error();
            SSL_shutdown(ssl_);
        }
    }
    if (state_ != State::Failed) state_ = State::Shut;
    teardown();
}

}  // namespace pellix::platform
