// URLSessionEngine: handing events to the delegate, libcurl's callbacks and
// the server-trust decision.
#include "platform/URLSessionEngine.h"

#include <openssl/ssl.h>
#include <sys/socket.h>

#include "platform/Reachability.h"
#include "platform/URLSessionTransfer.h"
#include "platform/X509DER.h"

namespace pellix::platform {

using namespace urlsession_detail;

// ---- delivery to the delegate ----

// Progress and received bytes are handed over once per round of the engine
// loop (and before any other callback of the task), not per network read:
// fewer, larger deliveries and far fewer thread wake-ups.
void URLSessionEngine::flushSoon(Transfer& t) { flushing_.insert(t.task->taskIdentifier()); }

void URLSessionEngine::flush(Transfer& t) {
    auto delegate = this->delegate();
    auto pending = t.pending;
    if (t.flushSent) {
        t.flushSent = false;
        auto task = t.task;
        t.channel->post([this, delegate, task, pending] {
            std::int64_t delta, sent;
            {
                std::lock_guard lock(pending->mutex);
                delta = pending->sentDelta;
                sent = pending->sentTotal;
                pending->sentDelta = 0;
                pending->sentPosted = false;
            }
            auto s = session();
            if (delegate && s) delegate->didSendBodyData(s, task, delta, sent, task->countOfBytesExpectedToSend());
        });
    }
    if (t.flushWritten) {
        t.flushWritten = false;
        auto task = std::static_pointer_cast<URLSessionDownloadTask>(t.task);
        bool tell = !t.hasCompletionHandler();
        t.channel->post([this, delegate, task, pending, tell] {
            std::int64_t delta, total;
            {
                std::lock_guard lock(pending->mutex);
                delta = pending->writtenDelta;
                total = pending->writtenTotal;
                pending->writtenDelta = 0;
                pending->writtenPosted = false;
            }
            auto s = session();
            if (tell && delegate && s)
                delegate->didWriteData(s, task, delta, total, task->countOfBytesExpectedToReceive());
        });
    }
    if (t.flushData) {
        t.flushData = false;
        auto task = std::static_pointer_cast<URLSessionDataTask>(t.task);
        auto collected = t.collected;
        auto weak = weak_from_this();
        t.channel->post([this, delegate, task, pending, collected, weak] {
            std::deque<Bytes> chunks;
            {
                std::lock_guard lock(pending->mutex);
                chunks.swap(pending->chunks);
                pending->dataPosted = false;
            }
            auto s = session();
            for (auto& chunk : chunks) {
                if (collected)
                    collected->insert(collected->end(), chunk.begin(), chunk.end());
                else if (delegate && s)
                    delegate->didReceiveData(s, task, chunk);
                // Below the low-water mark the engine may take in more.
                auto size = static_cast<std::int64_t>(chunk.size());
                std::int64_t before = pending->queued.fetch_sub(size);
                if (before >= kLowWater && before - size < kLowWater) {
                    if (auto self = weak.lock()) curl_multi_wakeup(self->multi_);
                }
            }
            std::lock_guard lock(pending->mutex);
            for (auto& chunk : chunks) {
                if (pending->spare.size() >= kSpareChunks) break;
                chunk.clear();
                pending->spare.push_back(std::move(chunk));
            }
        });
    }
}

void URLSessionEngine::postCallback(Transfer& t, std::function<void()> callback) {
    flush(t);
    t.channel->post(std::move(callback));
}

void URLSessionEngine::announceResponse(Transfer& t) {
    {
        std::lock_guard lock(t.task->mutex_);
        t.task->response_ = t.response;
    }
    t.task->bytesExpectedToReceive_ = t.response->expectedContentLength();
    if (t.isDownload() || t.hasCompletionHandler()) return;
    auto delegate = this->delegate();
    if (!delegate || !delegate->implements(URLSessionDelegate::Method::DidReceiveResponse)) return;
    t.awaitingResponse = true;
    applyPause(t);
    auto weak = weak_from_this();
    std::uint64_t id = t.task->taskIdentifier();
    auto task = std::static_pointer_cast<URLSessionDataTask>(t.task);
    auto response = t.response;
    postCallback(t, [this, delegate, weak, id, task, response] {
        auto answer = once<URLSessionDelegate::ResponseDisposition>(
            [weak, id](URLSessionDelegate::ResponseDisposition d) {
                auto self = weak.lock();
                if (!self) return;
                self->post([self = self.get(), id, d] {
                    Transfer* t = self->find(id);
                    if (!t || t->finished || !t->awaitingResponse) return;
                    t->awaitingResponse = false;
                    if (d != URLSessionDelegate::ResponseDisposition::Allow)
                        return self->fail(*t, URLError::Cancelled);
                    if (t->curlDone) return self->finishSuccess(*t);
                    self->applyPause(*t);
                });
            });
        if (auto s = session()) delegate->didReceiveResponse(s, task, response, answer);
    });
}

// The room to set aside for a new chunk of received bytes. A full-sized
// chunk is above malloc's mmap threshold, and a small answer paying for its
// mapping and page faults costs more than the whole exchange; so a chunk
// holds what the response still announces, or, of unknown length, grows with
// what has come so far.
static std::size_t chunkCapacity(std::int64_t expected, std::int64_t received) {
    if (expected >= 0 && expected > received) return static_cast<std::size_t>(std::min<std::int64_t>(expected - received, kChunkSize));
    if (expected >= 0) return kChunkSize;  // more than announced (a decoded body): no guess left
    return static_cast<std::size_t>(std::clamp<std::int64_t>(received, kFirstChunkSize, kChunkSize));
}

void URLSessionEngine::deliverBody(Transfer& t, const char* data, std::size_t length) {
    if (length == 0) return;
    if (t.isDownload()) {
        std::size_t done = 0;
        while (done < length) {
            ssize_t n = ::write(t.fileFd, data + done, length - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                t.failCode = URLError::CannotWriteToFile;
                t.failReason = std::strerror(errno);
                return;
            }
            done += static_cast<std::size_t>(n);
        }
        std::int64_t total = t.task->bytesReceived_ += static_cast<std::int64_t>(length);
        bool post = false;
        {
            std::lock_guard lock(t.pending->mutex);
            t.pending->writtenDelta += static_cast<std::int64_t>(length);
            t.pending->writtenTotal = total;
            post = !t.pending->writtenPosted;
            t.pending->writtenPosted = true;
        }
        if (post) {
            t.flushWritten = true;
            flushSoon(t);
        }
        return;
    }
    const std::int64_t before = t.task->bytesReceived_.fetch_add(static_cast<std::int64_t>(length));
    bool post = false;
    {
        std::lock_guard lock(t.pending->mutex);
        auto& chunks = t.pending->chunks;
        if (chunks.empty() || chunks.back().size() + length > chunks.back().capacity()) {
            if (!t.pending->spare.empty()) {
                chunks.push_back(std::move(t.pending->spare.back()));
                t.pending->spare.pop_back();
            } else {
                chunks.emplace_back();
            }
            chunks.back().reserve(std::max(length, chunkCapacity(t.task->bytesExpectedToReceive_.load(), before)));
        }
        // Same element type on both sides, so this is one memcpy.
        auto bytes = reinterpret_cast<const std::uint8_t*>(data);
        chunks.back().insert(chunks.back().end(), bytes, bytes + length);
        post = !t.pending->dataPosted;
        t.pending->dataPosted = true;
    }
    t.pending->queued += static_cast<std::int64_t>(length);
    if (post) {
        t.flushData = true;
        flushSoon(t);
    }
}

// ---- libcurl callbacks ----

std::size_t URLSessionEngine::onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    std::size_t length = size * count;
    std::string_view line(data, length);
    t.lastActivity = Clock::monotonic();
    if (line.rfind("HTTP/", 0) == 0) {
        auto sp = line.find(' ');
        t.version = std::string(line.substr(0, sp));
        t.status = sp == std::string_view::npos ? 0 : std::atoi(std::string(line.substr(sp + 1, 3)).c_str());
        t.headers.clear();
    } else if (line == "\r\n" || line == "\n") {
        // 1xx heads are interim; the final head follows.
        if (t.status >= 200 || t.status < 100) t.engine->onHeadComplete(t);
    } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !t.headers.empty()) {
        t.headers.back().second += " " + trim(line);
    } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
        t.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return length;
}

void URLSessionEngine::onHeadComplete(Transfer& t) {
    t.response = std::make_shared<const HTTPURLResponse>(t.request.url(), t.status, t.version, t.headers);
    int s = t.status;
    if ((s == 301 || s == 302 || s == 303 || s == 307 || s == 308) && t.response->valueForHTTPHeaderField("Location")) {
        t.redirectCandidate = true;
        return;
    }
    announceResponse(t);
}

std::size_t URLSessionEngine::onWrite(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    std::size_t length = size * count;
    t.lastActivity = Clock::monotonic();
    if (t.redirectCandidate) {
        std::size_t room = kHeldBodyLimit - std::min(kHeldBodyLimit, t.heldBody.size());
        auto bytes = reinterpret_cast<const std::uint8_t*>(data);
        t.heldBody.insert(t.heldBody.end(), bytes, bytes + std::min(room, length));
        return length;
    }
    if (t.awaitingResponse || t.suspended) {
        t.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (!t.isDownload() && t.pending->queued.load() >= kHighWater) {
        t.backpressure = true;
        t.paused = true;
        t.engine->backpressured_.insert(t.task->taskIdentifier());
        return CURL_WRITEFUNC_PAUSE;
    }
    t.engine->deliverBody(t, data, length);
    return t.failCode ? 0 : length;
}

std::size_t URLSessionEngine::onRead(char* data, std::size_t size, std::size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    std::size_t room = size * count;
    std::int64_t got = 0;
    switch (t.body.kind) {
        case BodyKind::None: break;
        case BodyKind::Bytes: {
            std::size_t n = std::min(room, t.body.bytes->size() - t.bodyOffset);
            std::memcpy(data, t.body.bytes->data() + t.bodyOffset, n);
            t.bodyOffset += n;
            got = static_cast<std::int64_t>(n);
            break;
        }
        case BodyKind::File: {
            ssize_t n;
            do n = ::read(t.bodyFd, data, room);
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                t.failCode = URLError::Unknown;
                t.failReason = std::string("cannot read the body file: ") + std::strerror(errno);
                return CURL_READFUNC_ABORT;
            }
            got = n;
            break;
        }
        case BodyKind::Stream:
            got = t.body.stream->read(reinterpret_cast<std::uint8_t*>(data), room);
            if (got < 0) {
                t.failCode = URLError::Unknown;
                t.failReason = "the body stream failed";
                t.failUnderlying = t.body.stream->streamError();
                return CURL_READFUNC_ABORT;
            }
            break;
    }
    t.lastActivity = Clock::monotonic();
    if (got <= 0) return 0;
    std::int64_t total = t.task->bytesSent_ += got;
    bool post;
    {
        std::lock_guard lock(t.pending->mutex);
        t.pending->sentDelta += got;
        t.pending->sentTotal = total;
        post = !t.pending->sentPosted;
        t.pending->sentPosted = true;
    }
    if (post) {
        t.flushSent = true;
        t.engine->flushSoon(t);
    }
    return static_cast<std::size_t>(got);
}

curl_socket_t URLSessionEngine::onOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address) {
    auto& t = *static_cast<Transfer*>(user);
    if (purpose == CURLSOCKTYPE_IPCXN) {
        auto route = Reachability::withAddress(&address->addr);
        auto flags = route ? route->flags() : std::nullopt;
        if (flags && (*flags & Reachability::kIsWWAN)) {
            t.failCode = URLError::NotConnectedToInternet;
            t.failReason = "cellular access is not allowed for this request, and the route to the server is cellular";
            return CURL_SOCKET_BAD;
        }
    }
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

CURLcode URLSessionEngine::onSSLContext(CURL*, void* sslContext, void* user) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), &URLSessionEngine::onVerify, user);
    return CURLE_OK;
}

int URLSessionEngine::onVerify(X509_STORE_CTX* ctx, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    std::vector<Bytes> chain;
    std::vector<X509*> parsed;
    auto add = [&](X509* x) {
        chain.push_back(x509ToDER(x));
        parsed.push_back(x);
    };
    X509* leaf = X509_STORE_CTX_get0_cert(ctx);
    if (leaf) add(leaf);
    if (STACK_OF(X509)* rest = X509_STORE_CTX_get0_untrusted(ctx)) {
        for (int i = 0; i < sk_X509_num(rest); ++i) {
            X509* x = sk_X509_value(rest, i);
            if (x != leaf && X509_cmp(x, leaf) != 0) add(x);
        }
    }
    const URL& url = t.request.url();
    // The trust evaluates the certificates the handshake parsed, rather than
    // parsing their DER again.
    auto trust = std::make_shared<const ServerTrust>(std::move(chain), parsed, url.host(), url.effectivePort());
    bool ok = t.engine->decideTrust(t, trust);
    X509_STORE_CTX_set_error(ctx, ok ? X509_V_OK : X509_V_ERR_CERT_REJECTED);
    return ok ? 1 : 0;
}

bool URLSessionEngine::decideTrust(Transfer& t, std::shared_ptr<const ServerTrust> trust) {
    using Disposition = URLAuthenticationChallenge::Disposition;
    auto delegate = this->delegate();
    bool taskLevel = delegate && delegate->implements(URLSessionDelegate::Method::TaskDidReceiveChallenge);
    bool sessionLevel = delegate && delegate->implements(URLSessionDelegate::Method::SessionDidReceiveChallenge);
    Disposition disposition = Disposition::PerformDefaultHandling;
    URLCredentialPtr credential;
    if (taskLevel || sessionLevel) {
        struct Slot {
            std::mutex mutex;
            std::condition_variable cv;
            std::optional<std::pair<Disposition, URLCredentialPtr>> answer;
        };
        auto slot = std::make_shared<Slot>();
        URLAuthenticationChallenge challenge(trust->host(), trust->port(), t.request.url().scheme(),
                                             URLAuthenticationChallenge::kAuthenticationMethodServerTrust, trust);
        auto answer = once<Disposition, URLCredentialPtr>([slot](Disposition d, URLCredentialPtr c) {
            std::lock_guard lock(slot->mutex);
            slot->answer.emplace(d, std::move(c));
            slot->cv.notify_all();
        });
        auto task = t.task;
        postCallback(t, [this, delegate, task, challenge, answer, taskLevel] {
            auto s = session();
            if (!s) return answer(Disposition::CancelAuthenticationChallenge, nullptr);
            if (taskLevel)
                delegate->didReceiveChallenge(s, task, challenge, answer);
            else
                delegate->didReceiveChallenge(s, challenge, answer);
        });
        std::unique_lock lock(slot->mutex);
        for (;;) {
            if (slot->cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return slot->answer.has_value(); })) break;
            // Cancelling the task (or the session) ends the wait.
            if (t.task->cancelRequested_.load() || [this] {
                    std::lock_guard l(mutex_);
                    return cancelAll_;
                }()) {
                t.failCode = URLError::Cancelled;
                return false;
            }
        }
        disposition = slot->answer->first;
        credential = slot->answer->second;
        // The delegate's thinking time is not the server's silence.
        t.lastActivity = Clock::monotonic();
    }
    if (disposition == Disposition::CancelAuthenticationChallenge) {
        t.failCode = URLError::Cancelled;
        return false;
    }
    if (disposition == Disposition::UseCredential && credential) return true;
    if (trust->evaluateDefault()) return true;
    t.failCode = URLError::ServerCertificateUntrusted;
    t.failReason = trust->evaluate({trust->host(), std::nullopt}).reason;
    return false;
}

}  // namespace pellix::platform
