// TVURLSessionManager: owns one platform URL session, is all of its
// delegates, and turns each task's callbacks into one completion handler and
// two progress objects.
//
// Tasks come from the factories suspended; resume them. When a task ends, its
// body is parsed by the response serializer the manager had when the task was
// created (on a process-wide concurrent processing queue), then the
// completion handler runs on the completion queue (main queue when none is
// set) as a block of the completion group (one process-wide group when none
// is set), and TVNetworkingTaskDidCompleteNotification follows on the main
// queue. Server-trust challenges are decided by the security policy.
//
// Life: the session holds the manager until the session is invalidated, as
// the platform's sessions hold their delegates. A manager made for one call
// is let go with invalidateSessionCancelingTasks(false) once its task is
// started: the task runs to its end, its completion is delivered, then the
// session and its thread go away with the manager.
//
// Threads: factories, properties and the task lists from any thread (the
// task lists never wait for the delegate queue, so they may be read from a
// callback); session callbacks, override blocks and progress blocks on the
// manager's delegate queue, one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TVNetworking/TVHTTPResponseSerializer.h"
#include "TVNetworking/TVNetworkReachabilityManager.h"
#include "TVNetworking/TVSecurityPolicy.h"
#include "TVNetworking/TVURLSessionManagerTaskDelegate.h"
#include "TVNetworking/TVURLSessionTask.h"
#include "platform/DispatchGroup.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "platform/URLSession.h"
#include "platform/URLSessionDelegate.h"

namespace pellix {

inline constexpr const char* TVNetworkingTaskDidResumeNotification = "com.tessvale.networking.task.resume";
inline constexpr const char* TVNetworkingTaskDidSuspendNotification = "com.tessvale.networking.task.suspend";
inline constexpr const char* TVURLSessionDidInvalidateNotification = "com.tessvale.networking.session.invalidate";
inline constexpr const char* TVURLSessionManagerLockName = "com.tessvale.networking.session.manager.lock";

class TVURLSessionManager : public platform::URLSessionDelegate,
                            public std::enable_shared_from_this<TVURLSessionManager> {
public:
    using SessionPtr = std::shared_ptr<platform::URLSession>;
    using Disposition = platform::URLAuthenticationChallenge::Disposition;
    using DestinationBlock =
        std::function<std::optional<platform::URL>(const platform::URL& targetPath, const TVResponse& response)>;

    // Override blocks; each takes over its callback (see the setters).
    using SessionDidBecomeInvalidBlock = std::function<void(const SessionPtr&, platform::ErrorPtr)>;
    using SessionDidReceiveAuthenticationChallengeBlock = std::function<Disposition(
        const SessionPtr&, const platform::URLAuthenticationChallenge&, platform::URLCredentialPtr& credential)>;
    using TaskWillPerformHTTPRedirectionBlock = std::function<std::optional<platform::URLRequest>(
        const SessionPtr&, const TVURLSessionTaskPtr&, const TVResponse&, const platform::URLRequest&)>;
    using TaskDidReceiveAuthenticationChallengeBlock =
        std::function<Disposition(const SessionPtr&, const TVURLSessionTaskPtr&,
                                  const platform::URLAuthenticationChallenge&, platform::URLCredentialPtr& credential)>;
    using TaskNeedNewBodyStreamBlock =
        std::function<std::shared_ptr<platform::InputStream>(const SessionPtr&, const TVURLSessionTaskPtr&)>;
    using TaskDidSendBodyDataBlock =
        std::function<void(const SessionPtr&, const TVURLSessionTaskPtr&, std::int64_t bytesSent,
                           std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend)>;
    using TaskDidCompleteBlock = std::function<void(const SessionPtr&, const TVURLSessionTaskPtr&, platform::ErrorPtr)>;
    using DataTaskDidReceiveResponseBlock =
        std::function<ResponseDisposition(const SessionPtr&, const TVURLSessionTaskPtr&, const TVResponse&)>;
    using DataTaskDidReceiveDataBlock =
        std::function<void(const SessionPtr&, const TVURLSessionTaskPtr&, const platform::Bytes&)>;
    using DownloadTaskDidWriteDataBlock =
        std::function<void(const SessionPtr&, const TVURLSessionTaskPtr&, std::int64_t bytesWritten,
                           std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite)>;

    // A manager on a session with `configuration` (nullopt: the default one).
    static std::shared_ptr<TVURLSessionManager> create(
        std::optional<platform::URLSessionConfiguration> configuration = std::nullopt);
    ~TVURLSessionManager() override;

    const SessionPtr& session() const { return session_; }
    const std::shared_ptr<platform::OperationQueue>& operationQueue() const { return operationQueue_; }

    std::shared_ptr<TVURLResponseSerialization> responseSerializer() const;
    // Applies to tasks created afterwards; a null serializer is a programming
    // error ("Invalid parameter not satisfying: responseSerializer").
    void setResponseSerializer(std::shared_ptr<TVURLResponseSerialization> serializer);
    std::shared_ptr<TVSecurityPolicy> securityPolicy() const;
    virtual void setSecurityPolicy(std::shared_ptr<TVSecurityPolicy> policy);
    std::shared_ptr<TVNetworkReachabilityManager> reachabilityManager() const;
    void setReachabilityManager(std::shared_ptr<TVNetworkReachabilityManager> manager);

    // The manager's unfinished tasks: data, then upload, then download tasks,
    // each in creation order.
    std::vector<TVURLSessionTaskPtr> tasks() const;
    std::vector<TVURLSessionTaskPtr> dataTasks() const;
    std::vector<TVURLSessionTaskPtr> uploadTasks() const;
    std::vector<TVURLSessionTaskPtr> downloadTasks() const;

    std::shared_ptr<platform::DispatchQueue> completionQueue() const;
    void setCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue);
    std::shared_ptr<platform::DispatchGroup> completionGroup() const;
    void setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group);
    bool attemptsToRecreateUploadTasksForBackgroundSessions() const { return attemptsToRecreate_; }
    void setAttemptsToRecreateUploadTasksForBackgroundSessions(bool v) { attemptsToRecreate_ = v; }

    // true: cancel the tasks and invalidate; false: let them finish first.
    // Afterwards no task can be started.
    void invalidateSessionCancelingTasks(bool cancelPendingTasks);

    // Task factories; the tasks come back suspended.
    TVURLSessionTaskPtr dataTaskWithRequest(const platform::URLRequest& request,
                                            TVURLSessionCompletionHandler completionHandler);
    TVURLSessionTaskPtr dataTaskWithRequest(const platform::URLRequest& request, TVProgressBlock uploadProgress,
                                            TVProgressBlock downloadProgress,
                                            TVURLSessionCompletionHandler completionHandler);
    // nullptr when the session gives no task.
    TVURLSessionTaskPtr uploadTaskWithRequest(const platform::URLRequest& request, const platform::URL& fromFile,
                                              TVProgressBlock uploadProgress,
                                              TVURLSessionCompletionHandler completionHandler);
    TVURLSessionTaskPtr uploadTaskWithRequest(const platform::URLRequest& request, platform::Bytes bodyData,
                                              TVProgressBlock uploadProgress,
                                              TVURLSessionCompletionHandler completionHandler);
    TVURLSessionTaskPtr uploadTaskWithStreamedRequest(const platform::URLRequest& request,
                                                      TVProgressBlock uploadProgress,
                                                      TVURLSessionCompletionHandler completionHandler);
    TVURLSessionTaskPtr downloadTaskWithRequest(const platform::URLRequest& request, TVProgressBlock downloadProgress,
                                                DestinationBlock destination,
                                                TVURLSessionCompletionHandler completionHandler);

    // The task's progress objects; null for a task the manager does not know.
    std::shared_ptr<TVProgress> uploadProgressForTask(const TVURLSessionTaskPtr& task) const;
    std::shared_ptr<TVProgress> downloadProgressForTask(const TVURLSessionTaskPtr& task) const;

    void setSessionDidBecomeInvalidBlock(SessionDidBecomeInvalidBlock block);
    void setSessionDidReceiveAuthenticationChallengeBlock(SessionDidReceiveAuthenticationChallengeBlock block);
    void setTaskNeedNewBodyStreamBlock(TaskNeedNewBodyStreamBlock block);
    void setTaskWillPerformHTTPRedirectionBlock(TaskWillPerformHTTPRedirectionBlock block);
    void setTaskDidReceiveAuthenticationChallengeBlock(TaskDidReceiveAuthenticationChallengeBlock block);
    void setTaskDidSendBodyDataBlock(TaskDidSendBodyDataBlock block);
    void setTaskDidCompleteBlock(TaskDidCompleteBlock block);
    void setDataTaskDidReceiveResponseBlock(DataTaskDidReceiveResponseBlock block);
    void setDataTaskDidReceiveDataBlock(DataTaskDidReceiveDataBlock block);
    void setDownloadTaskDidFinishDownloadingBlock(TVDownloadTaskDidFinishDownloadingBlock block);
    void setDownloadTaskDidWriteDataBlock(DownloadTaskDidWriteDataBlock block);

    // "%p" of the manager: the description its tasks carry.
    std::string taskDescriptionForSessionTasks() const;
    virtual std::string description() const;
    // A new manager of the same class on the same session configuration;
    // serializers, policy and blocks are not carried over.
    virtual std::shared_ptr<TVURLSessionManager> copy() const;

    // Archiving. The platform's session configuration has no archive form,
    // so a manager archives its configuration's identifier under
    // "identifier" (background sessions only); decoding makes a background
    // configuration with it, or the default one.
    static bool supportsSecureCoding() { return true; }
    virtual void encodeWithCoder(platform::Dictionary& coder) const;
    static std::shared_ptr<TVURLSessionManager> initWithCoder(const platform::Dictionary& coder);

    // URLSessionDelegate.
    bool implements(Method method) const override;
    void didBecomeInvalid(const SessionPtr& session, platform::ErrorPtr error) override;
    void didReceiveChallenge(const SessionPtr& session, const platform::URLAuthenticationChallenge& challenge,
                             ChallengeCompletion completion) override;
    void didReceiveChallenge(const SessionPtr& session, const TaskPtr& task,
                             const platform::URLAuthenticationChallenge& challenge,
                             ChallengeCompletion completion) override;
    void willPerformHTTPRedirection(const SessionPtr& session, const TaskPtr& task,
                                    std::shared_ptr<const platform::HTTPURLResponse> response,
                                    platform::URLRequest newRequest, RedirectCompletion completion) override;
    void needNewBodyStream(const SessionPtr& session, const TaskPtr& task, BodyStreamCompletion completion) override;
    void didSendBodyData(const SessionPtr& session, const TaskPtr& task, std::int64_t bytesSent,
                         std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) override;
    void didCompleteWithError(const SessionPtr& session, const TaskPtr& task, platform::ErrorPtr error) override;
    void didReceiveResponse(const SessionPtr& session, const DataTaskPtr& task,
                            std::shared_ptr<const platform::HTTPURLResponse> response,
                            ResponseCompletion completion) override;
    void didReceiveData(const SessionPtr& session, const DataTaskPtr& task, const platform::Bytes& data) override;
    void didWriteData(const SessionPtr& session, const DownloadTaskPtr& task, std::int64_t bytesWritten,
                      std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite) override;
    void didFinishDownloadingToURL(const SessionPtr& session, const DownloadTaskPtr& task,
                                   const platform::URL& location) override;

protected:
    TVURLSessionManager() = default;
    // The second half of construction, once the manager is shared.
    void setUp(std::optional<platform::URLSessionConfiguration> configuration);
    const platform::URLSessionConfiguration& sessionConfiguration() const { return sessionConfiguration_; }
    static platform::URLSessionConfiguration configurationFromCoder(const platform::Dictionary& coder);

private:
    struct Entry {
        std::shared_ptr<TVURLSessionManagerTaskDelegate> delegate;
        platform::NotificationCenter::Token resumeToken = 0;
        platform::NotificationCenter::Token suspendToken = 0;
    };
    struct Blocks {
        SessionDidBecomeInvalidBlock sessionDidBecomeInvalid;
        SessionDidReceiveAuthenticationChallengeBlock sessionDidReceiveAuthenticationChallenge;
        TaskWillPerformHTTPRedirectionBlock taskWillPerformHTTPRedirection;
        TaskDidReceiveAuthenticationChallengeBlock taskDidReceiveAuthenticationChallenge;
        TaskNeedNewBodyStreamBlock taskNeedNewBodyStream;
        TaskDidSendBodyDataBlock taskDidSendBodyData;
        TaskDidCompleteBlock taskDidComplete;
        DataTaskDidReceiveResponseBlock dataTaskDidReceiveResponse;
        DataTaskDidReceiveDataBlock dataTaskDidReceiveData;
        TVDownloadTaskDidFinishDownloadingBlock downloadTaskDidFinishDownloading;
        DownloadTaskDidWriteDataBlock downloadTaskDidWriteData;
    };

    std::shared_ptr<TVURLSessionManagerTaskDelegate> addDelegate(const TVURLSessionTaskPtr& task,
                                                                 TVURLSessionCompletionHandler completionHandler);
    void setDelegate(const std::shared_ptr<TVURLSessionManagerTaskDelegate>& delegate,
                     const TVURLSessionTaskPtr& task);
    std::shared_ptr<TVURLSessionManagerTaskDelegate> delegateForTask(const TaskPtr& task) const;
    void removeDelegateForTask(const TaskPtr& task);
    void taskDidResume(const platform::Notification& notification);
    void taskDidSuspend(const platform::Notification& notification);
    std::vector<TVURLSessionTaskPtr> tasksOfKind(std::optional<platform::URLSessionTask::Kind> kind) const;
    TVURLSessionTaskPtr wrapperFor(const TaskPtr& task) const;
    Disposition evaluateChallenge(const platform::URLAuthenticationChallenge& challenge,
                                  platform::URLCredentialPtr& credential) const;
    Blocks blocks() const;

    platform::URLSessionConfiguration sessionConfiguration_;
    std::shared_ptr<platform::OperationQueue> operationQueue_;
    SessionPtr session_;
    bool attemptsToRecreate_ = false;

    mutable std::mutex propertyMutex_;
    std::shared_ptr<TVURLResponseSerialization> responseSerializer_;
    std::shared_ptr<TVSecurityPolicy> securityPolicy_;
    std::shared_ptr<TVNetworkReachabilityManager> reachabilityManager_;
    std::shared_ptr<platform::DispatchQueue> completionQueue_;
    std::shared_ptr<platform::DispatchGroup> completionGroup_;
    Blocks blocks_;

    // The task-delegate map, keyed by task identifier (TVURLSessionManagerLockName).
    mutable std::mutex lock_;
    std::map<std::uint64_t, Entry> mutableTaskDelegatesKeyedByTaskIdentifier_;
};

// The process-wide objects every manager shares.
std::shared_ptr<platform::DispatchGroup> url_session_manager_completion_group();
std::shared_ptr<platform::DispatchQueue> url_session_manager_processing_queue();

}  // namespace pellix
