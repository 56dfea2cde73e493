#include "platform/URLSessionEngine.h"

#include <openssl/ssl.h>

#include "platform/URLSessionTransfer.h"

namespace pellix::platform {

using namespace urlsession_detail;

// ---- construction and life cycle ----

URLSessionEngine::URLSessionEngine(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
                                   std::shared_ptr<OperationQueue> delegateQueue, bool shared)
    : configuration_(std::move(configuration)), queue_(std::move(delegateQueue)), shared_(shared),
      delegate_(std::move(delegate)) {
    initCurlOnce();
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(configuration_.httpMaximumConnectionsPerHost()));
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS,
                      static_cast<long>(std::max(16, configuration_.httpMaximumConnectionsPerHost() * 4)));
    cookies_ = curl_share_init();
    if (cookies_) curl_share_setopt(cookies_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
}

URLSessionEngine::~URLSessionEngine() {
    for (CURL* e : spareEasy_) curl_easy_cleanup(e);
    if (multi_) curl_multi_cleanup(multi_);
    // Every transfer's handle is gone by now; were one left, the store is
    // kept rather than freed under it.
    if (cookies_) curl_share_cleanup(cookies_);
}

void URLSessionEngine::start(const std::shared_ptr<URLSession>& session) {
    {
        std::lock_guard lock(mutex_);
        session_ = session;
    }
    std::thread([self = shared_from_this()] { self->run(); }).detach();
}

std::shared_ptr<URLSessionDelegate> URLSessionEngine::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

std::shared_ptr<URLSession> URLSessionEngine::session() const {
    std::lock_guard lock(mutex_);
    return session_;
}

std::optional<std::string> URLSessionEngine::sessionDescription() const {
    std::lock_guard lock(mutex_);
    return description_;
}

void URLSessionEngine::setSessionDescription(std::optional<std::string> d) {
    std::lock_guard lock(mutex_);
    description_ = std::move(d);
}

void URLSessionEngine::post(std::function<void()> command) {
    bool wake;
    {
        std::lock_guard lock(mutex_);
        // Only the first command of a batch wakes the thread: it takes the
        // whole queue at once, and checks for more before it sleeps again.
        wake = commands_.empty();
        commands_.push_back(std::move(command));
    }
    if (wake) curl_multi_wakeup(multi_);
}

void URLSessionEngine::runCommands() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(commands_);
    }
    for (auto& c : batch) c();
}

void URLSessionEngine::run() {
    while (!exit_) {
        runCommands();
        int running = 0;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
            if (m->msg != CURLMSG_DONE) continue;
            Transfer* t = nullptr;
            curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
            if (t) onCurlDone(*t, m->data.result);
        }
        for (auto id : flushing_)
            if (Transfer* t = find(id)) flush(*t);
        flushing_.clear();
        relieveBackpressure();
        long wait = checkTimeouts();
        maybeFinishInvalidation();
        if (exit_) break;
        long curlWait = -1;
        curl_multi_timeout(multi_, &curlWait);
        if (curlWait >= 0) wait = std::min(wait, curlWait);
        {
            std::lock_guard lock(mutex_);
            if (!commands_.empty()) wait = 0;
        }
        if (wait > 0) curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait), nullptr);
    }
    runCommands();
}

// ---- tasks ----

std::shared_ptr<URLSessionTask> URLSessionEngine::makeTask(URLSessionTask::Kind kind, const URLRequest& request,
                                                           Body body, URLSession::DataCompletion dataCompletion,
                                                           URLSession::DownloadCompletion downloadCompletion) {
    std::uint64_t id;
    {
        std::lock_guard lock(mutex_);
        if (invalidating_)
            throw Exception(Exception::kGenericException, "Task created in a session that has been invalidated");
        id = nextIdentifier_++;
        ++callbacksOutstanding_;
    }
    std::shared_ptr<URLSessionTask> task;
    auto weak = std::weak_ptr<URLSessionEngine>(shared_from_this());
    switch (kind) {
        case URLSessionTask::Kind::Data: task = std::make_shared<URLSessionDataTask>(id, request, weak); break;
        case URLSessionTask::Kind::Upload: task = std::make_shared<URLSessionUploadTask>(id, request, weak); break;
        case URLSessionTask::Kind::Download:
            task = std::make_shared<URLSessionDownloadTask>(id, request, weak);
            break;
    }
    auto t = std::make_unique<Transfer>();
    t->engine = this;
    t->task = task;
    t->channel = std::make_shared<URLSessionCallbackChannel>(queue_);
    t->dataCompletion = std::move(dataCompletion);
    t->downloadCompletion = std::move(downloadCompletion);
    if (t->dataCompletion) t->collected = std::make_shared<Bytes>();
    t->request = request;
    t->body = std::move(body);
    std::int64_t expected = 0;
    switch (t->body.kind) {
        case BodyKind::None: break;
        case BodyKind::Bytes: expected = static_cast<std::int64_t>(t->body.bytes->size()); break;
        case BodyKind::File: expected = InputStream::withFile(t->body.path)->knownLength(); break;
        case BodyKind::Stream: expected = t->body.stream->knownLength(); break;
    }
    t->bodyLength = expected;
    task->bytesExpectedToSend_ = expected;
    t->requestTimeout = positiveMin(request.timeoutInterval(), configuration_.timeoutIntervalForRequest());
    t->resourceTimeout = configuration_.timeoutIntervalForResource();
    auto holder = std::make_shared<std::unique_ptr<Transfer>>(std::move(t));
    post([this, id, holder] { transfers_.emplace(id, std::move(*holder)); });
    return task;
}

URLSessionEngine::Transfer* URLSessionEngine::find(std::uint64_t id) {
    auto it = transfers_.find(id);
    return it == transfers_.end() ? nullptr : it->second.get();
}

void URLSessionEngine::resumeTask(std::uint64_t id) {
    post([this, id] {
        Transfer* t = find(id);
        if (!t || t->finished || !t->suspended) return;
        t->suspended = false;
        if (!t->started) {
            startTransfer(*t);
        } else {
            startClock(*t);
            applyPause(*t);
        }
    });
}

void URLSessionEngine::suspendTask(std::uint64_t id) {
    post([this, id] {
        Transfer* t = find(id);
        if (!t || t->finished || t->suspended) return;
        t->suspended = true;
        stopClock(*t);
        applyPause(*t);
    });
}

void URLSessionEngine::cancelTask(std::uint64_t id) {
    post([this, id] {
        Transfer* t = find(id);
        if (!t || t->finished) return;
        fail(*t, URLError::Cancelled);
    });
}

void URLSessionEngine::invalidate(bool cancelTasks) {
    if (shared_) return;
    {
        std::lock_guard lock(mutex_);
        invalidating_ = true;
        if (cancelTasks) cancelAll_ = true;
    }
    post([this, cancelTasks] {
        if (!cancelTasks) return;
        std::vector<std::uint64_t> ids;
        for (auto& [id, t] : transfers_) ids.push_back(id);
        for (auto id : ids) {
            Transfer* t = find(id);
            if (!t || t->finished) continue;
            t->task->cancelRequested_ = true;
            fail(*t, URLError::Cancelled);
        }
    });
}

void URLSessionEngine::getTasks(std::function<void(std::vector<std::shared_ptr<URLSessionTask>>)> handler) {
    post([this, handler = std::move(handler)] {
        std::vector<std::shared_ptr<URLSessionTask>> tasks;
        for (auto& [id, t] : transfers_)
            if (!t->finished) tasks.push_back(t->task);
        queue_->addOperation([handler, tasks = std::move(tasks)] { handler(tasks); });
    });
}

void URLSessionEngine::startClock(Transfer& t) {
    auto now = Clock::monotonic();
    t.lastActivity = now;
    if (!t.clockRunning) {
        t.runningSince = now;
        t.clockRunning = true;
    }
}

void URLSessionEngine::stopClock(Transfer& t) {
    if (!t.clockRunning) return;
    t.ranFor += Clock::monotonic() - t.runningSince;
    t.clockRunning = false;
}

void URLSessionEngine::startTransfer(Transfer& t) {
    t.started = true;
    const URL& url = t.request.url();
    if (!url.isAbsolute() || !url.hasAuthority() || url.host().empty()) {
        if (url.isAbsolute() && url.scheme() != "http" && url.scheme() != "https")
            return fail(t, URLError::UnsupportedURL);
        return fail(t, URLError::BadURL);
    }
    if (url.scheme() != "http" && url.scheme() != "https") return fail(t, URLError::UnsupportedURL);
    if (t.isDownload() && t.fileFd < 0) {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/CFNetworkDownload_XXXXXX.tmp";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        t.fileFd = mkstemps(buf.data(), 4);
        if (t.fileFd < 0) return fail(t, URLError::CannotWriteToFile, std::strerror(errno));
        t.filePath = buf.data();
    }
    if (t.body.kind == BodyKind::File && t.bodyFd < 0) {
        t.bodyFd = ::open(t.body.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (t.bodyFd < 0) return fail(t, URLError::Unknown, "cannot read the body file: " + std::string(std::strerror(errno)));
    }
    if (t.body.kind == BodyKind::Stream && t.body.stream->streamStatus() == InputStream::Status::NotOpen)
        t.body.stream->open();
    if (!configureEasy(t)) return;
    startClock(t);
    curl_multi_add_handle(multi_, t.easy);
    t.inMulti = true;
    t.paused = false;
    if (t.suspended) applyPause(t);
}

void URLSessionEngine::tearDownEasy(Transfer& t) {
    if (t.easy) {
        if (t.inMulti) curl_multi_remove_handle(multi_, t.easy);
        // A handle keeps its buffers for the next transfer: making them anew
        // for every request was a large part of a small request's cost. The
        // next user resets every option before setting its own.
        // Only a handle whose transfer ran to its end is kept: one cut off
        // mid-way (cancelled, failed, paused) is not worth trusting to a reset.
        if (t.easyClean && spareEasy_.size() < kSpareEasyHandles)
            spareEasy_.push_back(t.easy);
        else
            curl_easy_cleanup(t.easy);
    }
    t.easy = nullptr;
    t.easyClean = false;
    t.inMulti = false;
    if (t.headerList) curl_slist_free_all(t.headerList);
    t.headerList = nullptr;
    if (t.connectToList) curl_slist_free_all(t.connectToList);
    t.connectToList = nullptr;
}

bool URLSessionEngine::configureEasy(Transfer& t) {
    tearDownEasy(t);
    CURL* e = nullptr;
    if (!spareEasy_.empty()) {
        e = spareEasy_.back();
        spareEasy_.pop_back();
        // The reset leaves a handle in the session's cookie store (a request
        // that does not handle cookies must not see them), and would drop the
        // empty cookie-file entry that turned curl's cookie engine on without
        // freeing it. So the handle leaves the store first, then the entry is
        // freed, with no store left for that to touch.
        curl_easy_setopt(e, CURLOPT_SHARE, nullptr);
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, nullptr);
        curl_easy_reset(e);
    } else {
        e = curl_easy_init();
    }
    t.easy = e;
    t.status = 0;
    t.headers.clear();
    t.response.reset();
    t.redirectCandidate = false;
    t.heldBody.clear();
    t.curlDone = false;
    t.errorText[0] = 0;

    const URLRequest& r = t.request;
    std::string url = r.url().stringWithoutFragment();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorText);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &URLSessionEngine::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &URLSessionEngine::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // curl makes both buffers afresh for every transfer. At one TLS record
    // (16 KiB) each, a small request's buffers no longer leave the top of
    // the heap free enough for malloc to trim it and fault it back in for the
    // next request, and bulk transfers run as fast as with bigger ones.
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 16L * 1024);
    // A file sent whole is read in bigger pieces: fewer reads and fewer,
    // larger writes to the socket, which is what a busy peer or machine feels.
    curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, t.body.kind == BodyKind::File ? 256L * 1024 : 16L * 1024);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 0L);
    // Trust is decided by our verify callback (onVerify); curl must still ask
    // for verification so that a refusal ends the handshake.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    // Nor should curl load a CA bundle into every connection's context: the
    // verify callback never reads it.
    curl_easy_setopt(e, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &URLSessionEngine::onSSLContext);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &t);

    // Cookies: the session's store, or none at all.
    if (r.HTTPShouldHandleCookies() && cookies_) {
        curl_easy_setopt(e, CURLOPT_SHARE, cookies_);
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
    }
    // Cellular access off: every socket is checked against the route it
    // takes, and no connection opened without that check is reused.
    if (!r.allowsCellularAccess()) {
        curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &URLSessionEngine::onOpenSocket);
        curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, &t);
        curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
    }

    // Proxy: only what the configuration names; never the environment's.
    std::string proxy;
    const Dictionary& p = configuration_.connectionProxyDictionary();
    bool https = r.url().scheme() == "https";
    const Value* enable = p.find(https ? URLSessionConfiguration::kHTTPSEnable : URLSessionConfiguration::kHTTPEnable);
    const Value* host = p.find(https ? URLSessionConfiguration::kHTTPSProxyHost : URLSessionConfiguration::kHTTPProxyHost);
    const Value* port = p.find(https ? URLSessionConfiguration::kHTTPSProxyPort : URLSessionConfiguration::kHTTPProxyPort);
    if (enable && enable->boolValue() && host && port && !host->description().empty() && port->intValue() > 0)
        proxy = "http://" + host->description() + ":" + std::to_string(port->intValue());
    curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str());

    // A pinned address applies to the URL's own host and port only, so the
    // name stays what TLS and the "Host" field see.
    if (const auto& address = r.connectToAddress()) {
        std::string port = std::to_string(r.url().effectivePort());
        std::string host = r.url().host();
        if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
        std::string entry = host + ":" + port + ":" + *address + ":" + port;
        t.connectToList = curl_slist_append(nullptr, entry.c_str());
        curl_easy_setopt(e, CURLOPT_CONNECT_TO, t.connectToList);
    }

    // Header fields: the request's, then the configuration's extras.
    curl_slist* list = nullptr;
    auto add = [&](const std::string& name, const std::string& value) {
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        list = curl_slist_append(list, line.c_str());
    };
    for (const auto& [name, value] : r.allHTTPHeaderFields()) {
        if (!URLRequest::isToken(name) || !URLRequest::isSafeHeaderValue(value)) {
            t.headerList = list;
            fail(t, URLError::BadURL, "unacceptable header field " + name);
            return false;
        }
        if (sameName(name, "Content-Length") || sameName(name, "Transfer-Encoding")) continue;
        add(name, value);
    }
    for (const auto& [name, value] : configuration_.httpAdditionalHeaders()) {
        if (r.valueForHTTPHeaderField(name)) continue;
        if (!URLRequest::isToken(name) || !URLRequest::isSafeHeaderValue(value)) continue;
        add(name, value);
    }
    list = curl_slist_append(list, "Expect:");

    const std::string& method = r.httpMethod();
    if (!URLRequest::isToken(method)) {
        t.headerList = list;
        fail(t, URLError::BadURL, "unacceptable method");
        return false;
    }
    if (t.body.kind != BodyKind::None) {
        std::int64_t length = t.bodyLength;
        if (length < 0) {
            // A stream of unknown length goes chunked unless the caller
            // announced its length.
            if (auto cl = r.valueForHTTPHeaderField("Content-Length")) {
                char* end = nullptr;
                long long v = std::strtoll(cl->c_str(), &end, 10);
                if (end && *end == 0 && v >= 0) length = v;
            }
        }
        if (length < 0) list = curl_slist_append(list, "Transfer-Encoding: chunked");
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_READFUNCTION, &URLSessionEngine::onRead);
        curl_easy_setopt(e, CURLOPT_READDATA, &t);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(length));
        if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (method == "POST") {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
    } else {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        if (method != "GET") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    t.headerList = list;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);
    return true;
}

void URLSessionEngine::applyPause(Transfer& t) {
    if (!t.easy || !t.inMulti) return;
    bool want = t.suspended || t.awaitingResponse || t.backpressure;
    if (want == t.paused) return;
    t.paused = want;
    curl_easy_pause(t.easy, want ? CURLPAUSE_ALL : CURLPAUSE_CONT);
}

void URLSessionEngine::relieveBackpressure() {
    for (auto it = backpressured_.begin(); it != backpressured_.end();) {
        Transfer* t = find(*it);
        if (!t || t->finished) {
            it = backpressured_.erase(it);
            continue;
        }
        if (t->pending->queued.load() < kLowWater) {
            t->backpressure = false;
            // curl paused itself when onWrite refused the bytes.
            t->paused = true;
            applyPause(*t);
            it = backpressured_.erase(it);
        } else {
            ++it;
        }
    }
}

long URLSessionEngine::checkTimeouts() {
    long wait = 1000;
    auto now = Clock::monotonic();
    std::vector<std::uint64_t> expired;
    for (auto& [id, t] : transfers_) {
        if (t->finished || !t->started || !t->clockRunning) continue;
        // Waiting for the delegate is not the server's silence.
        if (t->awaitingResponse || t->awaitingRedirect || t->awaitingStream || t->backpressure) {
            t->lastActivity = now;
            continue;
        }
        double idle = Clock::toSeconds(now - t->lastActivity);
        double ran = Clock::toSeconds(t->ranFor + (now - t->runningSince));
        bool late = (t->requestTimeout > 0 && idle >= t->requestTimeout) ||
                    (t->resourceTimeout > 0 && ran >= t->resourceTimeout);
        if (late) {
            expired.push_back(id);
            continue;
        }
        double left = 1e9;
        if (t->requestTimeout > 0) left = std::min(left, t->requestTimeout - idle);
        if (t->resourceTimeout > 0) left = std::min(left, t->resourceTimeout - ran);
        wait = std::min(wait, static_cast<long>(left * 1000) + 1);
    }
    for (auto id : expired)
        if (Transfer* t = find(id)) fail(*t, URLError::TimedOut);
    return std::max(wait, 0L);
}

void URLSessionEngine::maybeFinishInvalidation() {
    {
        std::lock_guard lock(mutex_);
        if (!invalidating_ || !transfers_.empty() || !commands_.empty()) return;
        // Every task has ended, so the engine thread is no longer needed.
        exit_ = true;
        engineDone_ = true;
    }
    auto self = shared_from_this();
    queue_->addOperation([self] { self->deliverInvalidIfDone(); });
}

void URLSessionEngine::taskCallbacksDone() {
    {
        std::lock_guard lock(mutex_);
        if (callbacksOutstanding_ > 0) --callbacksOutstanding_;
    }
    deliverInvalidIfDone();
}

// didBecomeInvalid follows the last task's completion callback; then the
// session lets go of its delegate and of itself.
void URLSessionEngine::deliverInvalidIfDone() {
    std::shared_ptr<URLSessionDelegate> delegate;
    std::shared_ptr<URLSession> session;
    {
        std::lock_guard lock(mutex_);
        if (!engineDone_ || callbacksOutstanding_ > 0 || invalidDelivered_) return;
        invalidDelivered_ = true;
        delegate = std::move(delegate_);
        session = std::move(session_);
    }
    if (delegate && session) delegate->didBecomeInvalid(session, nullptr);
}

// ---- ends of transfers ----

void URLSessionEngine::onCurlDone(Transfer& t, CURLcode result) {
    if (t.finished) return;
    t.curlDone = true;
    t.easyClean = result == CURLE_OK && !t.paused;
    if (t.inMulti) {
        curl_multi_remove_handle(multi_, t.easy);
        t.inMulti = false;
    }
    if (t.task->cancelRequested_.load()) return fail(t, URLError::Cancelled);
    if (t.failCode) return fail(t, t.failCode, t.failReason, t.failUnderlying);
    if (result != CURLE_OK) {
        std::string reason = t.errorText[0] ? t.errorText : curl_easy_strerror(result);
        long osErrno = 0;
        curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &osErrno);
        switch (result) {
            case CURLE_UNSUPPORTED_PROTOCOL: return fail(t, URLError::UnsupportedURL, reason);
            case CURLE_URL_MALFORMAT: return fail(t, URLError::BadURL, reason);
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_RESOLVE_PROXY: return fail(t, URLError::CannotFindHost, reason);
            case CURLE_COULDNT_CONNECT:
                if (osErrno == ENETUNREACH || osErrno == ENETDOWN)
                    return fail(t, URLError::NotConnectedToInternet, reason);
                return fail(t, URLError::CannotConnectToHost, reason);
            case CURLE_OPERATION_TIMEDOUT: return fail(t, URLError::TimedOut, reason);
            case CURLE_SSL_CONNECT_ERROR:
            case CURLE_SSL_ENGINE_NOTFOUND:
            case CURLE_SSL_CERTPROBLEM:
            case CURLE_SSL_CIPHER: return fail(t, URLError::SecureConnectionFailed, reason);
            case CURLE_PEER_FAILED_VERIFICATION:
            case CURLE_SSL_CACERT_BADFILE:
            case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return fail(t, URLError::ServerCertificateUntrusted, reason);
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR:
            case CURLE_GOT_NOTHING:
            case CURLE_PARTIAL_FILE:
            case CURLE_HTTP2:
            case CURLE_HTTP2_STREAM: return fail(t, URLError::NetworkConnectionLost, reason);
            case CURLE_WRITE_ERROR: return fail(t, URLError::CannotWriteToFile, reason);
            default: return fail(t, URLError::Unknown, reason);
        }
    }
    if (!t.response) return fail(t, URLError::NetworkConnectionLost, "no response");
    if (t.redirectCandidate) return considerRedirect(t);
    if (t.awaitingResponse) return;  // the delegate's answer finishes it
    finishSuccess(t);
}

void URLSessionEngine::considerRedirect(Transfer& t) {
    // Where a redirect is not followed, the redirect response is the answer.
    auto answerWithRedirect = [this, &t] {
        t.redirectCandidate = false;
        announceResponse(t);
        if (!t.awaitingResponse) finishSuccess(t);
    };
    const URL& from = t.request.url();
    auto to = URL::parse(*t.response->valueForHTTPHeaderField("Location"), from);
    if (!to || (to->scheme() != "http" && to->scheme() != "https") || to->host().empty()) return answerWithRedirect();
    // Leaving TLS for plain text is never done on the server's word.
    if (from.scheme() == "https" && to->scheme() == "http") return answerWithRedirect();
    if (t.redirects >= kMaxRedirects) return fail(t, URLError::HTTPTooManyRedirects);

    URLRequest next = t.request;
    next.setURL(*to);
    int s = t.status;
    const std::string& method = t.request.httpMethod();
    if ((s == 303 && method != "HEAD") || ((s == 301 || s == 302) && method == "POST")) {
        next.setHTTPMethod("GET");
        next.setHTTPBody(std::nullopt);
        next.setHTTPBodyStream(nullptr);
        for (const char* h : {"Content-Type", "Content-Length", "Transfer-Encoding"}) next.setValue(std::nullopt, h);
    }
    if (to->scheme() != from.scheme() || to->host() != from.host() || to->effectivePort() != from.effectivePort())
        next.setValue(std::nullopt, "Authorization");

    auto delegate = this->delegate();
    if (!delegate || !delegate->implements(URLSessionDelegate::Method::WillPerformHTTPRedirection))
        return followRedirect(t, std::move(next));
    t.awaitingRedirect = true;
    auto weak = weak_from_this();
    std::uint64_t id = t.task->taskIdentifier();
    auto task = t.task;
    auto response = t.response;
    postCallback(t, [this, delegate, weak, id, task, response, next] {
        auto answer = once<std::optional<URLRequest>>([weak, id](std::optional<URLRequest> r) {
            auto self = weak.lock();
            if (!self) return;
            self->post([self = self.get(), id, r = std::move(r)]() mutable {
                Transfer* t = self->find(id);
                if (!t || t->finished || !t->awaitingRedirect) return;
                t->awaitingRedirect = false;
                if (!r) {
                    t->redirectCandidate = false;
                    self->announceResponse(*t);
                    if (!t->awaitingResponse) self->finishSuccess(*t);
                    return;
                }
                self->followRedirect(*t, std::move(*r));
            });
        });
        if (auto s = session()) delegate->willPerformHTTPRedirection(s, task, response, next, answer);
    });
}

void URLSessionEngine::followRedirect(Transfer& t, URLRequest request) {
    ++t.redirects;
    bool keepsBody = request.httpMethod() == t.request.httpMethod() && request.httpMethod() != "GET" &&
                     request.httpMethod() != "HEAD";
    t.request = std::move(request);
    {
        std::lock_guard lock(t.task->mutex_);
        t.task->currentRequest_ = t.request;
    }
    t.response.reset();
    if (t.isDownload() && t.fileFd >= 0) {
        if (::ftruncate(t.fileFd, 0) != 0 || ::lseek(t.fileFd, 0, SEEK_SET) != 0)
            return fail(t, URLError::CannotWriteToFile, std::strerror(errno));
        t.task->bytesReceived_ = 0;
    }
    if (!keepsBody) {
        t.body = Body{};
        t.bodyLength = 0;
    } else {
        t.bodyOffset = 0;
        if (t.bodyFd >= 0 && ::lseek(t.bodyFd, 0, SEEK_SET) != 0)
            return fail(t, URLError::RequestBodyStreamExhausted, std::strerror(errno));
        if (t.body.kind == BodyKind::Stream) {
            // A stream cannot be rewound: ask for a new one.
            auto delegate = this->delegate();
            auto install = [this](std::uint64_t id, std::shared_ptr<InputStream> s) {
                Transfer* t = find(id);
                if (!t || t->finished || !t->awaitingStream) return;
                t->awaitingStream = false;
                if (!s) return fail(*t, URLError::RequestBodyStreamExhausted);
                t->body.stream = std::move(s);
                t->bodyLength = t->body.stream->knownLength();
                t->started = false;
                startTransfer(*t);
            };
            t.awaitingStream = true;
            std::uint64_t id = t.task->taskIdentifier();
            if (!delegate || !delegate->implements(URLSessionDelegate::Method::NeedNewBodyStream)) {
                auto s = t.body.stream->copy();
                return install(id, s);
            }
            auto weak = weak_from_this();
            auto task = t.task;
            postCallback(t, [this, delegate, weak, id, task, install] {
                auto answer = once<std::shared_ptr<InputStream>>([weak, id, install](std::shared_ptr<InputStream> s) {
                    auto self = weak.lock();
                    if (!self) return;
                    self->post([id, install, s] { install(id, s); });
                });
                if (auto s = session()) delegate->needNewBodyStream(s, task, answer);
            });
            return;
        }
    }
    t.task->bytesSent_ = 0;
    t.task->bytesExpectedToSend_ = t.bodyLength;
    t.started = false;
    startTransfer(t);
}

void URLSessionEngine::fail(Transfer& t, int code, const std::string& reason, ErrorPtr underlying) {
    finish(t, URLError::make(code, t.request.url(), reason, std::move(underlying)));
}

void URLSessionEngine::finishSuccess(Transfer& t) {
    if (!t.heldBody.empty()) {
        Bytes held;
        held.swap(t.heldBody);
        deliverBody(t, reinterpret_cast<const char*>(held.data()), held.size());
        if (t.failCode) return fail(t, t.failCode, t.failReason);
    }
    finish(t, nullptr);
}

void URLSessionEngine::finish(Transfer& t, ErrorPtr error) {
    if (t.finished) return;
    t.finished = true;
    stopClock(t);
    tearDownEasy(t);
    if (t.bodyFd >= 0) ::close(t.bodyFd);
    t.bodyFd = -1;
    if (t.body.kind == BodyKind::Stream && t.body.stream) t.body.stream->close();
    if (t.fileFd >= 0) ::close(t.fileFd);
    t.fileFd = -1;

    auto task = t.task;
    {
        std::lock_guard lock(task->mutex_);
        task->error_ = error;
        if (t.response) task->response_ = t.response;
    }
    auto state = task->state_.load();
    while (state != URLSessionTask::State::Completed &&
           !task->state_.compare_exchange_weak(state, URLSessionTask::State::Completed)) {
    }

    auto delegate = this->delegate();
    auto response = t.response;
    std::string file = t.filePath;
    auto dataCompletion = std::move(t.dataCompletion);
    auto downloadCompletion = std::move(t.downloadCompletion);
    auto collected = t.collected;
    auto self = shared_from_this();
    postCallback(t, [self, delegate, task, response, error, file, dataCompletion, downloadCompletion, collected] {
        auto s = self->session();
        if (task->kind() == URLSessionTask::Kind::Download) {
            std::optional<URL> location;
            if (!error && !file.empty()) location = URL::fileURL(file);
            if (downloadCompletion) {
                downloadCompletion(location, response, error);
            } else if (location && delegate && s) {
                delegate->didFinishDownloadingToURL(s, std::static_pointer_cast<URLSessionDownloadTask>(task),
                                                    *location);
            }
            if (!file.empty()) ::unlink(file.c_str());
        }
        if (dataCompletion) {
            std::optional<Bytes> data;
            if (!error) data = std::move(*collected);
            dataCompletion(std::move(data), response, error);
        } else if (!downloadCompletion && delegate && s) {
            delegate->didCompleteWithError(s, task, error);
        }
        self->taskCallbacksDone();
    });
    std::uint64_t id = task->taskIdentifier();
    backpressured_.erase(id);
    flushing_.erase(id);
    transfers_.erase(id);
}

}  // namespace pellix::platform
