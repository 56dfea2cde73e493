// URLSessionEngine: the engine behind one URLSession: a thread running a
// libcurl multi handle, the transfers of the session's tasks, and the hand-off
// of their events to the delegate queue. Internal to URLSession; its callers
// are URLSession and URLSessionTask.
//
// Threading: everything about a transfer (curl handles, response parsing,
// redirects, completion) happens on the engine thread. Other threads reach it
// only through post(), which queues a command and wakes the thread with
// curl_multi_wakeup. The single exception is a server-trust challenge, during
// which the engine thread waits for the delegate's answer.
#pragma once

#include <curl/curl.h>
#include <openssl/x509.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/OperationQueue.h"
#include "platform/URLSession.h"
#include "platform/URLSessionCallbackChannel.h"

namespace pellix::platform {

class URLSessionEngine : public std::enable_shared_from_this<URLSessionEngine> {
public:
    URLSessionEngine(URLSessionConfiguration configuration, std::shared_ptr<URLSessionDelegate> delegate,
                     std::shared_ptr<OperationQueue> delegateQueue, bool shared);
    ~URLSessionEngine();

    static void attach(URLSession& session, std::shared_ptr<URLSessionEngine> engine) {
        session.engine_ = std::move(engine);
    }
    // Starts the engine thread; the engine holds `session` until it has become
    // invalid.
    void start(const std::shared_ptr<URLSession>& session);

    const URLSessionConfiguration& configuration() const { return configuration_; }
    std::shared_ptr<URLSessionDelegate> delegate() const;
    const std::shared_ptr<OperationQueue>& delegateQueue() const { return queue_; }
    std::optional<std::string> sessionDescription() const;
    void setSessionDescription(std::optional<std::string> d);

    enum class BodyKind { None, Bytes, File, Stream };
    struct Body {
        BodyKind kind = BodyKind::None;
        std::shared_ptr<const platform::Bytes> bytes;
        std::string path;
        std::shared_ptr<InputStream> stream;
    };
    // Creates a task of the kind, registered with the engine and suspended.
    // Raises platform::Exception once the session is invalidated.
    std::shared_ptr<URLSessionTask> makeTask(URLSessionTask::Kind kind, const URLRequest& request, Body body,
                                             URLSession::DataCompletion dataCompletion,
                                             URLSession::DownloadCompletion downloadCompletion);

    // From URLSessionTask, any thread.
    void resumeTask(std::uint64_t id);
    void suspendTask(std::uint64_t id);
    void cancelTask(std::uint64_t id);

    void invalidate(bool cancelTasks);
    void getTasks(std::function<void(std::vector<std::shared_ptr<URLSessionTask>>)> handler);

private:
    struct Transfer;
    struct Pending;

    void post(std::function<void()> command);
    void run();
    void runCommands();
    std::shared_ptr<URLSession> session() const;

    // Engine thread only.
    Transfer* find(std::uint64_t id);
    void startTransfer(Transfer& t);
    bool configureEasy(Transfer& t);
    void applyPause(Transfer& t);
    void onCurlDone(Transfer& t, CURLcode result);
    void finish(Transfer& t, ErrorPtr error);
    void finishSuccess(Transfer& t);
    void fail(Transfer& t, int code, const std::string& reason = {}, ErrorPtr underlying = nullptr);
    void announceResponse(Transfer& t);
    void deliverBody(Transfer& t, const char* data, std::size_t length);
    void considerRedirect(Transfer& t);
    void followRedirect(Transfer& t, URLRequest request);
    void relieveBackpressure();
    long checkTimeouts();
    void maybeFinishInvalidation();
    void tearDownEasy(Transfer& t);
    void startClock(Transfer& t);
    void stopClock(Transfer& t);

    // libcurl and OpenSSL callbacks (engine thread, inside curl_multi_perform).
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t onRead(char* data, std::size_t size, std::size_t count, void* user);
    static CURLcode onSSLContext(CURL* easy, void* sslContext, void* user);
    // Opens each connection's socket; refuses one that would leave through a
    // mobile-broadband interface when the request forbids cellular access.
    static curl_socket_t onOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);
    static int onVerify(X509_STORE_CTX* ctx, void* user);
    bool decideTrust(Transfer& t, std::shared_ptr<const ServerTrust> trust);
    void onHeadComplete(Transfer& t);

    // Posting to a task's delegate channel; `last` marks the completion.
    void postCallback(Transfer& t, std::function<void()> callback);
    void flushSoon(Transfer& t);
    void flush(Transfer& t);
    void taskCallbacksDone();
    void deliverInvalidIfDone();

    const URLSessionConfiguration configuration_;
    const std::shared_ptr<OperationQueue> queue_;
    const bool shared_;
    CURLM* multi_ = nullptr;
    // The session's cookie store: libcurl's cookie engine, shared by the
    // session's transfers that handle cookies (engine thread only).
    CURLSH* cookies_ = nullptr;

    mutable std::mutex mutex_;  // guards the members below
    std::shared_ptr<URLSessionDelegate> delegate_;
    std::shared_ptr<URLSession> session_;
    std::optional<std::string> description_;
    std::deque<std::function<void()>> commands_;
    bool invalidating_ = false;
    bool cancelAll_ = false;
    std::uint64_t nextIdentifier_ = 1;
    std::size_t callbacksOutstanding_ = 0;  // tasks whose completion callback has not run
    bool engineDone_ = false;
    bool invalidDelivered_ = false;

    // Engine thread only.
    std::map<std::uint64_t, std::unique_ptr<Transfer>> transfers_;
    std::set<std::uint64_t> backpressured_;
    std::set<std::uint64_t> flushing_;
    std::vector<CURL*> spareEasy_;  // finished transfers' handles, for the next ones
    bool exit_ = false;
};

}  // namespace pellix::platform
