// URLSession: the platform's URL-loading service, on libcurl.
//
// A session owns one engine thread running a libcurl multi handle; the
// transfers of its tasks share that thread and its connection pool
// (keep-alive, at most httpMaximumConnectionsPerHost connections per host).
// Every delegate callback and every completion handler runs on the session's
// delegate queue: an OperationQueue given at creation (one of width 1 makes
// all callbacks of the session run one at a time), or a queue of width 1 the
// session makes. On a wider queue callbacks of different tasks may overlap,
// while each task's callbacks still come one at a time in order (see
// URLSessionDelegate.h for the order).
//
// Life cycle: the session keeps itself and its delegate alive until it is
// invalidated. `finishTasksAndInvalidate` lets the existing tasks run to the
// end, `invalidateAndCancel` cancels them; either way didBecomeInvalid is the
// last callback. Creating a task on an invalidated session raises
// platform::Exception "NSGenericException". The shared session cannot be
// invalidated (both calls do nothing on it).
//
// Redirects are ours: 301/302 after POST and 303 become GET without a body,
// 307/308 keep method and body (a body stream is replaced through the
// delegate's needNewBodyStream, else the stream's copy(), else -1021), a
// redirect from https to http is not followed (the redirect response is the
// task's answer), and the 17th redirect fails with -1007. Authorization is
// not carried to another origin.
//
// Server trust: every new TLS connection raises a server-trust challenge
// with the server's chain (see URLAuthenticationChallenge.h). TLS sessions
// are never resumed, so each connection is judged afresh. While the delegate
// is answering, the session's other transfers wait: answer promptly.
//
// Errors are NSURLErrorDomain errors (URLError.h).
//
// Thread-safety: every member may be called from any thread, including the
// delegate's callbacks; none waits for the network.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/HTTPURLResponse.h"
#include "platform/OperationQueue.h"
#include "platform/URL.h"
#include "platform/URLRequest.h"
#include "platform/URLSessionConfiguration.h"
#include "platform/URLSessionDataTask.h"
#include "platform/URLSessionDelegate.h"
#include "platform/URLSessionDownloadTask.h"
#include "platform/URLSessionUploadTask.h"

namespace pellix::platform {

class URLSessionEngine;

class URLSession : public std::enable_shared_from_this<URLSession> {
public:
    // data: the body (empty when there was none), nullopt on error.
    using DataCompletion =
        std::function<void(std::optional<Bytes> data, std::shared_ptr<const HTTPURLResponse>, ErrorPtr)>;
    // location: the temporary file, removed once the handler returns; nullopt on error.
    using DownloadCompletion =
        std::function<void(std::optional<URL> location, std::shared_ptr<const HTTPURLResponse>, ErrorPtr)>;

    using DataTaskPtr = std::shared_ptr<URLSessionDataTask>;
    using UploadTaskPtr = std::shared_ptr<URLSessionUploadTask>;
    using DownloadTaskPtr = std::shared_ptr<URLSessionDownloadTask>;
    using TaskPtr = std::shared_ptr<URLSessionTask>;

    // One process-wide session with the default configuration and no
    // delegate; never invalidated.
    static std::shared_ptr<URLSession> sharedSession();
    static std::shared_ptr<URLSession> sessionWithConfiguration(const URLSessionConfiguration& configuration);
    static std::shared_ptr<URLSession> sessionWithConfiguration(const URLSessionConfiguration& configuration,
                                                                std::shared_ptr<URLSessionDelegate> delegate,
                                                                std::shared_ptr<OperationQueue> delegateQueue);
    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    const URLSessionConfiguration& configuration() const;
    // Null once the session has become invalid.
    std::shared_ptr<URLSessionDelegate> delegate() const;
    const std::shared_ptr<OperationQueue>& delegateQueue() const;

    std::optional<std::string> sessionDescription() const;
    void setSessionDescription(std::optional<std::string> description);

    // Task factories. Tasks start suspended; call resume(). Tasks with a
    // completion handler report body and end through it instead of the
    // delegate's response, data, download and completion callbacks.
    DataTaskPtr dataTaskWithRequest(const URLRequest& request);
    DataTaskPtr dataTaskWithRequest(const URLRequest& request, DataCompletion completion);
    DataTaskPtr dataTaskWithURL(const URL& url);
    DataTaskPtr dataTaskWithURL(const URL& url, DataCompletion completion);
    UploadTaskPtr uploadTaskWithRequest(const URLRequest& request, const URL& fromFile);
    UploadTaskPtr uploadTaskWithRequest(const URLRequest& request, const URL& fromFile, DataCompletion completion);
    UploadTaskPtr uploadTaskWithRequest(const URLRequest& request, Bytes fromData);
    UploadTaskPtr uploadTaskWithRequest(const URLRequest& request, Bytes fromData, DataCompletion completion);
    // The body is the request's httpBodyStream.
    UploadTaskPtr uploadTaskWithStreamedRequest(const URLRequest& request);
    DownloadTaskPtr downloadTaskWithRequest(const URLRequest& request);
    DownloadTaskPtr downloadTaskWithRequest(const URLRequest& request, DownloadCompletion completion);

    void finishTasksAndInvalidate();
    void invalidateAndCancel();

    // The tasks not yet completed, on the delegate queue.
    void getTasksWithCompletionHandler(
        std::function<void(std::vector<DataTaskPtr>, std::vector<UploadTaskPtr>, std::vector<DownloadTaskPtr>)>
            handler);
    void getAllTasksWithCompletionHandler(std::function<void(std::vector<TaskPtr>)> handler);

private:
    friend class URLSessionEngine;
    URLSession() = default;
    static std::shared_ptr<URLSession> make(const URLSessionConfiguration& configuration,
                                            std::shared_ptr<URLSessionDelegate> delegate,
                                            std::shared_ptr<OperationQueue> queue, bool shared);
    std::shared_ptr<URLSessionEngine> engine_;
};

}  // namespace pellix::platform
