// The state of one transfer of a URLSessionEngine, and helpers shared by
// the engine's sources. Internal to URLSession.
#pragma once

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "platform/URLError.h"
#include "platform/URLSessionEngine.h"

namespace pellix::platform {

namespace urlsession_detail {

// Received bytes waiting for the delegate before the transfer pauses, and
// the level at which it goes on again.
constexpr std::int64_t kHighWater = 8 << 20;
constexpr std::int64_t kLowWater = 2 << 20;
// Small writes are gathered into chunks of about this size.
constexpr std::size_t kChunkSize = 256 << 10;
// The first chunk of a body of unknown length; later ones double up to kChunkSize.
constexpr std::size_t kFirstChunkSize = 16 << 10;
// Delivered chunks kept for reuse: allocating them afresh costs page faults.
constexpr std::size_t kSpareChunks = 40;
// Bytes of a redirect response's body kept in case it becomes the answer.
constexpr std::size_t kHeldBodyLimit = 1 << 20;
constexpr int kMaxRedirects = 16;
// Finished transfers' curl handles kept for reuse.
constexpr std::size_t kSpareEasyHandles = 32;

inline void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

inline bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

inline std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return std::string(s);
}

inline double positiveMin(double a, double b) {
    if (a <= 0) return b;
    if (b <= 0) return a;
    return std::min(a, b);
}

// Makes a std::function that runs at most once, whichever copy is called.
template <typename... Args, typename F>
inline std::function<void(Args...)> once(F fn) {
    auto called = std::make_shared<std::atomic<bool>>(false);
    return [fn = std::move(fn), called](Args... args) {
        if (!called->exchange(true)) fn(std::forward<Args>(args)...);
    };
}

}  // namespace urlsession_detail


// Bytes and progress handed from the engine thread to the delegate queue.
struct URLSessionEngine::Pending {
    std::mutex mutex;
    std::deque<Bytes> chunks;
    std::vector<Bytes> spare;
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
    curl_slist* connectToList = nullptr;  // CURLOPT_CONNECT_TO of the request's connect-to address
    char errorText[CURL_ERROR_SIZE] = {};
    bool inMulti = false;
    bool easyClean = false;  // `easy` ran its transfer to the end and may serve another
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
    bool flushData = false, flushWritten = false, flushSent = false;

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

}  // namespace pellix::platform
