#include "platform/URLSessionEngine.h"

#include <fcntl.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/URLError.h"

namespace pellix::platform {

namespace {

// Received bytes waiting for the delegate before the transfer pauses, and
// the level at which it goes on again.
constexpr std::int64_t kHighWater = 4 << 20;
constexpr std::int64_t kLowWater = 1 << 20;
// Bytes of a redirect response's body kept in case it becomes the answer.
constexpr std::size_t kHeldBodyLimit = 1 << 20;
constexpr int kMaxRedirects = 16;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return std::string(s);
}

double positiveMin(double a, double b) {
    if (a <= 0) return b;
    if (b <= 0) return a;
    return std::min(a, b);
}

// Makes a std::function that runs at most once, whichever copy is called.
template <typename... Args, typename F>
std::function<void(Args...)> once(F fn) {
    auto called = std::make_shared<std::atomic<bool>>(false);
    return [fn = std::move(fn), called](Args... args) {
        if (!called->exchange(true)) fn(std::forward<Args>(args)...);
    };
}

}  // namespace

// Bytes and progress handed from the engine thread to the delegate queue.
struct URLSessionEngine::Pending {
    std::mutex mutex;
    Bytes data;
    bool dataPosted = false;
    std::atomic<std::int64_t> queued{0};
    std::int64_t sentDelta = 0, sentTotal = 0;
    bool sentPosted = false;
    std::int64_t writtenDelta = 0, writtenTotal = 0;
    bool writtenPosted = false;
};

struct URLSessionEngine::Transfer {
    URLSessionEngine* engine = nullptr;
    std::shared_ptr<URLSessionTask> task;
    std::shared_ptr<URLSessionCallbackChannel> channel;
    URLSession::DataCompletion dataCompletion;
    URLSession::DownloadCompletion downloadCompletion;
    std::shared_ptr<Bytes> collected;  // body for a data completion handler (delegate queue only)
    std::shared_ptr<Pending> pending = std::make_shared<Pending>();

    URLRequest request;
    Body body;
    std::size_t bodyOffset = 0;
    int bodyFd = -1;
    std::int64_t bodyLength = 0;  // -1 unknown
    int redirects = 0;

    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    bool inMulti = false;
    bool started = false;
    bool finished = false;

    // Response head being read.
    int status = 0;
    std::string version;
    HTTPURLResponse::HeaderFields headers;
    std::shared_ptr<const HTTPURLResponse> response;
    bool redirectCandidate = false;
    Bytes heldBody;

    // Waiting states.
    bool suspended = true;
    bool awaitingResponse = false;
    bool awaitingRedirect = false;
    bool awaitingStream = false;
    bool curlDone = false;
    bool backpressure = false;
    bool paused = false;  // what curl was last told

    // Download file.
    int fileFd = -1;
    std::string filePath;

    // Timing (running time only).
    Clock::TimePoint lastActivity{};
    Clock::TimePoint runningSince{};
    Clock::Duration ranFor{0};
    bool clockRunning = false;
    double requestTimeout = 60;
    double resourceTimeout = 0;

    // Failure noted inside a curl callback, reported when curl returns.
    int failCode = 0;
    std::string failReason;
    ErrorPtr failUnderlying;

    bool hasCompletionHandler() const { return dataCompletion || downloadCompletion; }
    bool isDownload() const { return task->kind() == URLSessionTask::Kind::Download; }
};

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
}

URLSessionEngine::~URLSessionEngine() {
    if (multi_) curl_multi_cleanup(multi_);
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
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(command));
    }
    curl_multi_wakeup(multi_);
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
        curl_easy_cleanup(t.easy);
    }
    t.easy = nullptr;
    t.inMulti = false;
    if (t.headerList) curl_slist_free_all(t.headerList);
    t.headerList = nullptr;
}

bool URLSessionEngine::configureEasy(Transfer& t) {
    tearDownEasy(t);
    CURL* e = curl_easy_init();
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
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 0L);
    // Trust is decided by our verify callback (onVerify); curl must still ask
    // for verification so that a refusal ends the handshake.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &URLSessionEngine::onSSLContext);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &t);

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

// ---- delivery to the delegate ----

void URLSessionEngine::postCallback(Transfer& t, std::function<void()> callback) { t.channel->post(std::move(callback)); }

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
        if (post && !t.hasCompletionHandler()) {
            auto delegate = this->delegate();
            auto task = std::static_pointer_cast<URLSessionDownloadTask>(t.task);
            auto pending = t.pending;
            postCallback(t, [this, delegate, task, pending] {
                std::int64_t delta, total;
                {
                    std::lock_guard lock(pending->mutex);
                    delta = pending->writtenDelta;
                    total = pending->writtenTotal;
                    pending->writtenDelta = 0;
                    pending->writtenPosted = false;
                }
                auto s = session();
                if (delegate && s) delegate->didWriteData(s, task, delta, total, task->countOfBytesExpectedToReceive());
            });
        }
        return;
    }
    t.task->bytesReceived_ += static_cast<std::int64_t>(length);
    bool post = false;
    {
        std::lock_guard lock(t.pending->mutex);
        t.pending->data.insert(t.pending->data.end(), data, data + length);
        post = !t.pending->dataPosted;
        t.pending->dataPosted = true;
    }
    t.pending->queued += static_cast<std::int64_t>(length);
    if (!post) return;
    auto delegate = this->delegate();
    auto task = std::static_pointer_cast<URLSessionDataTask>(t.task);
    auto pending = t.pending;
    auto collected = t.collected;
    auto weak = weak_from_this();
    postCallback(t, [this, delegate, task, pending, collected, weak] {
        Bytes chunk;
        {
            std::lock_guard lock(pending->mutex);
            chunk.swap(pending->data);
            pending->dataPosted = false;
        }
        if (collected) {
            if (collected->empty())
                collected->swap(chunk);
            else
                collected->insert(collected->end(), chunk.begin(), chunk.end());
        } else if (auto s = session(); delegate && s) {
            delegate->didReceiveData(s, task, chunk);
        }
        std::int64_t before = pending->queued.fetch_sub(static_cast<std::int64_t>(chunk.size()));
        if (before >= kLowWater && before - static_cast<std::int64_t>(chunk.size()) < kLowWater)
            if (auto self = weak.lock()) curl_multi_wakeup(self->multi_);
    });
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
        t.heldBody.insert(t.heldBody.end(), data, data + std::min(room, length));
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
        auto delegate = t.engine->delegate();
        auto task = t.task;
        auto pending = t.pending;
        URLSessionEngine* self = t.engine;
        t.engine->postCallback(t, [self, delegate, task, pending] {
            std::int64_t delta, sent;
            {
                std::lock_guard lock(pending->mutex);
                delta = pending->sentDelta;
                sent = pending->sentTotal;
                pending->sentDelta = 0;
                pending->sentPosted = false;
            }
            auto s = self->session();
            if (delegate && s) delegate->didSendBodyData(s, task, delta, sent, task->countOfBytesExpectedToSend());
        });
    }
    return static_cast<std::size_t>(got);
}

CURLcode URLSessionEngine::onSSLContext(CURL*, void* sslContext, void* user) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), &URLSessionEngine::onVerify, user);
    return CURLE_OK;
}

int URLSessionEngine::onVerify(X509_STORE_CTX* ctx, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    std::vector<Bytes> chain;
    auto der = [](X509* x) {
        Bytes out;
        int n = i2d_X509(x, nullptr);
        if (n > 0) {
            out.resize(static_cast<std::size_t>(n));
            unsigned char* p = out.data();
            i2d_X509(x, &p);
        }
        return out;
    };
    X509* leaf = X509_STORE_CTX_get0_cert(ctx);
    if (leaf) chain.push_back(der(leaf));
    if (STACK_OF(X509)* rest = X509_STORE_CTX_get0_untrusted(ctx)) {
        for (int i = 0; i < sk_X509_num(rest); ++i) {
            X509* x = sk_X509_value(rest, i);
            if (x != leaf && X509_cmp(x, leaf) != 0) chain.push_back(der(x));
        }
    }
    const URL& url = t.request.url();
    auto trust = std::make_shared<const ServerTrust>(std::move(chain), url.host(), url.effectivePort());
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

// ---- ends of transfers ----

void URLSessionEngine::onCurlDone(Transfer& t, CURLcode result) {
    if (t.finished) return;
    t.curlDone = true;
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
    transfers_.erase(id);
}

}  // namespace pellix::platform
