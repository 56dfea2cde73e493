// URLSessionDelegate: what a URL session tells its delegate, and asks it.
//
// Every method has a body that does nothing (or, for the questions, answers
// as the platform does when the delegate has no such method). Where the
// session's behaviour depends on whether the delegate has a method at all,
// the session asks `implements(method)` first; a delegate overriding one of
// those methods also answers true for it:
// - TaskDidReceiveChallenge / SessionDidReceiveChallenge: without either the
//   session applies default handling itself (and no callback is made);
// - WillPerformHTTPRedirection: without it redirects are followed;
// - DidReceiveResponse: without it the transfer goes on without waiting;
// - NeedNewBodyStream: without it a body stream that has to be sent again
//   is replaced by its copy(), when it has one.
//
// All calls come on the session's delegate queue, per task in this order:
// challenge, redirect, response, data / sent-body progress, download
// finished, completion (exactly once, last). The answer callbacks may be
// called from any thread, at once or later (the transfer waits); a second call
// is ignored. The session holds its delegate until the session becomes
// invalid (didBecomeInvalid is the last call).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Error.h"
#include "platform/HTTPURLResponse.h"
#include "platform/InputStream.h"
#include "platform/URL.h"
#include "platform/URLAuthenticationChallenge.h"
#include "platform/URLCredential.h"
#include "platform/URLRequest.h"
#include "platform/URLSessionDataTask.h"
#include "platform/URLSessionDownloadTask.h"
#include "platform/URLSessionTask.h"

namespace pellix::platform {

class URLSession;

class URLSessionDelegate {
public:
    enum class Method {
        SessionDidReceiveChallenge,
        TaskDidReceiveChallenge,
        WillPerformHTTPRedirection,
        NeedNewBodyStream,
        DidReceiveResponse,
    };
    // The platform's numbering.
    enum class ResponseDisposition { Cancel = 0, Allow = 1 };

    using ChallengeCompletion =
        std::function<void(URLAuthenticationChallenge::Disposition, URLCredentialPtr credential)>;
    // nullopt: do not follow; the redirect response becomes the task's response.
    using RedirectCompletion = std::function<void(std::optional<URLRequest>)>;
    // null: no stream, the task fails with -1021.
    using BodyStreamCompletion = std::function<void(std::shared_ptr<InputStream>)>;
    using ResponseCompletion = std::function<void(ResponseDisposition)>;

    using SessionPtr = std::shared_ptr<URLSession>;
    using TaskPtr = std::shared_ptr<URLSessionTask>;
    using DataTaskPtr = std::shared_ptr<URLSessionDataTask>;
    using DownloadTaskPtr = std::shared_ptr<URLSessionDownloadTask>;

    virtual ~URLSessionDelegate() = default;

    virtual bool implements(Method) const { return false; }

    // Session.
    virtual void didBecomeInvalid(const SessionPtr&, ErrorPtr) {}
    virtual void didReceiveChallenge(const SessionPtr&, const URLAuthenticationChallenge&,
                                     ChallengeCompletion completion) {
        completion(URLAuthenticationChallenge::Disposition::PerformDefaultHandling, nullptr);
    }

    // Every task.
    virtual void didReceiveChallenge(const SessionPtr&, const TaskPtr&, const URLAuthenticationChallenge&,
                                     ChallengeCompletion completion) {
        completion(URLAuthenticationChallenge::Disposition::PerformDefaultHandling, nullptr);
    }
    virtual void willPerformHTTPRedirection(const SessionPtr&, const TaskPtr&,
                                            std::shared_ptr<const HTTPURLResponse>, URLRequest newRequest,
                                            RedirectCompletion completion) {
        completion(std::move(newRequest));
    }
    virtual void needNewBodyStream(const SessionPtr&, const TaskPtr& task, BodyStreamCompletion completion) {
        auto s = task->originalRequest().httpBodyStream();
        completion(s ? s->copy() : nullptr);
    }
    virtual void didSendBodyData(const SessionPtr&, const TaskPtr&, std::int64_t bytesSent,
                                 std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) {
        (void)bytesSent, (void)totalBytesSent, (void)totalBytesExpectedToSend;
    }
    virtual void didCompleteWithError(const SessionPtr&, const TaskPtr&, ErrorPtr) {}

    // Data and upload tasks.
    virtual void didReceiveResponse(const SessionPtr&, const DataTaskPtr&, std::shared_ptr<const HTTPURLResponse>,
                                    ResponseCompletion completion) {
        completion(ResponseDisposition::Allow);
    }
    virtual void didReceiveData(const SessionPtr&, const DataTaskPtr&, const Bytes&) {}

    // Download tasks.
    virtual void didWriteData(const SessionPtr&, const DownloadTaskPtr&, std::int64_t bytesWritten,
                              std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) {
        (void)bytesWritten, (void)totalBytesWritten, (void)totalBytesExpectedToWrite;
    }
    // `location` is a temporary file, removed once this returns.
    virtual void didFinishDownloadingToURL(const SessionPtr&, const DownloadTaskPtr&, const URL& location) {
        (void)location;
    }
};

}  // namespace pellix::platform
