#include "TVNetworking/TVURLSessionManager.h"

#include <algorithm>
#include <cstdio>

#include "TVNetworking/TVJSONResponseSerializer.h"
#include "TVNetworking/TVNetworkingSupport.h"

namespace pellix {

using platform::URLAuthenticationChallenge;
using platform::URLSessionTask;

std::shared_ptr<platform::DispatchGroup> url_session_manager_completion_group() {
    static auto* group = new std::shared_ptr<platform::DispatchGroup>(platform::DispatchGroup::create());
    return *group;
}

std::shared_ptr<platform::DispatchQueue> url_session_manager_processing_queue() {
    static auto* queue = new std::shared_ptr<platform::DispatchQueue>(
        platform::DispatchQueue::concurrent("com.tessvale.networking.session.manager.processing"));
    return *queue;
}

std::shared_ptr<TVURLSessionManager> TVURLSessionManager::create(
    std::optional<platform::URLSessionConfiguration> configuration) {
    auto manager = std::shared_ptr<TVURLSessionManager>(new TVURLSessionManager());
    manager->setUp(std::move(configuration));
    return manager;
}

void TVURLSessionManager::setUp(std::optional<platform::URLSessionConfiguration> configuration) {
    sessionConfiguration_ =
        configuration ? std::move(*configuration) : platform::URLSessionConfiguration::defaultSessionConfiguration();
    operationQueue_ = platform::OperationQueue::create();
    operationQueue_->setMaxConcurrentOperationCount(1);
    session_ = platform::URLSession::sessionWithConfiguration(sessionConfiguration_, shared_from_this(),
                                                              operationQueue_);
    responseSerializer_ = TVJSONResponseSerializer::serializer();
    securityPolicy_ = TVSecurityPolicy::defaultPolicy();
    reachabilityManager_ = TVNetworkReachabilityManager::sharedManager();
    // Sessions here never outlive the process, so a new session has no tasks
    // of an earlier launch to adopt.
}

TVURLSessionManager::~TVURLSessionManager() {
    std::lock_guard lock(lock_);
    for (auto& [id, entry] : mutableTaskDelegatesKeyedByTaskIdentifier_) {
        platform::NotificationCenter::defaultCenter().removeObserver(entry.resumeToken);
        platform::NotificationCenter::defaultCenter().removeObserver(entry.suspendToken);
    }
}

std::shared_ptr<TVURLResponseSerialization> TVURLSessionManager::responseSerializer() const {
    std::lock_guard lock(propertyMutex_);
    return responseSerializer_;
}

void TVURLSessionManager::setResponseSerializer(std::shared_ptr<TVURLResponseSerialization> serializer) {
    TVParameterAssert(serializer != nullptr, "responseSerializer");
    std::lock_guard lock(propertyMutex_);
    responseSerializer_ = std::move(serializer);
}

std::shared_ptr<TVSecurityPolicy> TVURLSessionManager::securityPolicy() const {
    std::lock_guard lock(propertyMutex_);
    return securityPolicy_;
}

void TVURLSessionManager::setSecurityPolicy(std::shared_ptr<TVSecurityPolicy> policy) {
    std::lock_guard lock(propertyMutex_);
    securityPolicy_ = std::move(policy);
}

std::shared_ptr<TVNetworkReachabilityManager> TVURLSessionManager::reachabilityManager() const {
    std::lock_guard lock(propertyMutex_);
    return reachabilityManager_;
}

void TVURLSessionManager::setReachabilityManager(std::shared_ptr<TVNetworkReachabilityManager> manager) {
    std::lock_guard lock(propertyMutex_);
    reachabilityManager_ = std::move(manager);
}

std::shared_ptr<platform::DispatchQueue> TVURLSessionManager::completionQueue() const {
    std::lock_guard lock(propertyMutex_);
    return completionQueue_;
}

void TVURLSessionManager::setCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(propertyMutex_);
    completionQueue_ = std::move(queue);
}

std::shared_ptr<platform::DispatchGroup> TVURLSessionManager::completionGroup() const {
    std::lock_guard lock(propertyMutex_);
    return completionGroup_;
}

void TVURLSessionManager::setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group) {
    std::lock_guard lock(propertyMutex_);
    completionGroup_ = std::move(group);
}

TVURLSessionManager::Blocks TVURLSessionManager::blocks() const {
    std::lock_guard lock(propertyMutex_);
    return blocks_;
}

#define TV_BLOCK_SETTER(Setter, field)                  \
    void TVURLSessionManager::Setter(decltype(Blocks::field) block) { \
        std::lock_guard lock(propertyMutex_);             \
        blocks_.field = std::move(block);                 \
    }
TV_BLOCK_SETTER(setSessionDidBecomeInvalidBlock, sessionDidBecomeInvalid)
TV_BLOCK_SETTER(setSessionDidReceiveAuthenticationChallengeBlock, sessionDidReceiveAuthenticationChallenge)
TV_BLOCK_SETTER(setTaskNeedNewBodyStreamBlock, taskNeedNewBodyStream)
TV_BLOCK_SETTER(setTaskWillPerformHTTPRedirectionBlock, taskWillPerformHTTPRedirection)
TV_BLOCK_SETTER(setTaskDidReceiveAuthenticationChallengeBlock, taskDidReceiveAuthenticationChallenge)
TV_BLOCK_SETTER(setTaskDidSendBodyDataBlock, taskDidSendBodyData)
TV_BLOCK_SETTER(setTaskDidCompleteBlock, taskDidComplete)
TV_BLOCK_SETTER(setDataTaskDidReceiveResponseBlock, dataTaskDidReceiveResponse)
TV_BLOCK_SETTER(setDataTaskDidReceiveDataBlock, dataTaskDidReceiveData)
TV_BLOCK_SETTER(setDownloadTaskDidFinishDownloadingBlock, downloadTaskDidFinishDownloading)
TV_BLOCK_SETTER(setDownloadTaskDidWriteDataBlock, downloadTaskDidWriteData)
#undef TV_BLOCK_SETTER

void TVURLSessionManager::invalidateSessionCancelingTasks(bool cancelPendingTasks) {
    if (cancelPendingTasks)
        session_->invalidateAndCancel();
    else
        session_->finishTasksAndInvalidate();
}

std::string TVURLSessionManager::taskDescriptionForSessionTasks() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
    return buf;
}

std::string TVURLSessionManager::description() const {
    char buf[160];
    std::snprintf(buf, sizeof buf, "<TVURLSessionManager: %p, session: %p, operationQueue: %p>",
                  static_cast<const void*>(this), static_cast<const void*>(session_.get()),
                  static_cast<const void*>(operationQueue_.get()));
    return buf;
}

std::shared_ptr<TVURLSessionManager> TVURLSessionManager::copy() const { return create(sessionConfiguration_); }

void TVURLSessionManager::encodeWithCoder(platform::Dictionary& coder) const {
    if (const auto& identifier = sessionConfiguration_.identifier()) coder.set("identifier", *identifier);
}

platform::URLSessionConfiguration TVURLSessionManager::configurationFromCoder(const platform::Dictionary& coder) {
    if (const auto* identifier = coder.find("identifier"); identifier && identifier->isString())
        return platform::URLSessionConfiguration::backgroundSessionConfiguration(identifier->asString());
    return platform::URLSessionConfiguration::defaultSessionConfiguration();
}

std::shared_ptr<TVURLSessionManager> TVURLSessionManager::initWithCoder(const platform::Dictionary& coder) {
    return create(configurationFromCoder(coder));
}

// ---- Tasks ----

std::shared_ptr<TVURLSessionManagerTaskDelegate> TVURLSessionManager::addDelegate(
    const TVURLSessionTaskPtr& task, TVURLSessionCompletionHandler completionHandler) {
    auto delegate = TVURLSessionManagerTaskDelegate::create(task);
    delegate->setManager(weak_from_this());
    delegate->setCompletionHandler(std::move(completionHandler));
    // Bound now: a serializer installed later serves later requests only.
    delegate->setResponseSerializer(responseSerializer());
    task->setTaskDescription(taskDescriptionForSessionTasks());
    setDelegate(delegate, task);
    return delegate;
}

void TVURLSessionManager::setDelegate(const std::shared_ptr<TVURLSessionManagerTaskDelegate>& delegate,
                                      const TVURLSessionTaskPtr& task) {
    TVParameterAssert(task != nullptr, "task");
    TVParameterAssert(delegate != nullptr, "delegate");
    std::weak_ptr<TVURLSessionManager> weakSelf = weak_from_this();
    auto& center = platform::NotificationCenter::defaultCenter();
    Entry entry;
    entry.delegate = delegate;
    std::lock_guard lock(lock_);
    entry.resumeToken = center.addObserver(TVNSURLSessionTaskDidResumeNotification, task.get(), nullptr,
                                           [weakSelf](const platform::Notification& n) {
                                               if (auto self = weakSelf.lock()) self->taskDidResume(n);
                                           });
    entry.suspendToken = center.addObserver(TVNSURLSessionTaskDidSuspendNotification, task.get(), nullptr,
                                            [weakSelf](const platform::Notification& n) {
                                                if (auto self = weakSelf.lock()) self->taskDidSuspend(n);
                                            });
    mutableTaskDelegatesKeyedByTaskIdentifier_[task->taskIdentifier()] = std::move(entry);
}

std::shared_ptr<TVURLSessionManagerTaskDelegate> TVURLSessionManager::delegateForTask(const TaskPtr& task) const {
    TVParameterAssert(task != nullptr, "task");
    std::lock_guard lock(lock_);
    auto it = mutableTaskDelegatesKeyedByTaskIdentifier_.find(task->taskIdentifier());
    return it == mutableTaskDelegatesKeyedByTaskIdentifier_.end() ? nullptr : it->second.delegate;
}

void TVURLSessionManager::removeDelegateForTask(const TaskPtr& task) {
    TVParameterAssert(task != nullptr, "task");
    Entry entry;
    {
        std::lock_guard lock(lock_);
        auto it = mutableTaskDelegatesKeyedByTaskIdentifier_.find(task->taskIdentifier());
        if (it == mutableTaskDelegatesKeyedByTaskIdentifier_.end()) return;
        entry = std::move(it->second);
        mutableTaskDelegatesKeyedByTaskIdentifier_.erase(it);
    }
    platform::NotificationCenter::defaultCenter().removeObserver(entry.resumeToken);
    platform::NotificationCenter::defaultCenter().removeObserver(entry.suspendToken);
}

TVURLSessionTaskPtr TVURLSessionManager::wrapperFor(const TaskPtr& task) const {
    if (auto delegate = delegateForTask(task)) return delegate->task();
    return TVURLSessionTask::wrap(task);
}

void TVURLSessionManager::taskDidResume(const platform::Notification& notification) {
    auto task = std::static_pointer_cast<TVURLSessionTask>(notification.object());
    if (!task || task->taskDescription() != taskDescriptionForSessionTasks()) return;
    platform::DispatchQueue::main()->async([task] {
        platform::NotificationCenter::defaultCenter().post(TVNetworkingTaskDidResumeNotification, task);
    });
}

void TVURLSessionManager::taskDidSuspend(const platform::Notification& notification) {
    auto task = std::static_pointer_cast<TVURLSessionTask>(notification.object());
    if (!task || task->taskDescription() != taskDescriptionForSessionTasks()) return;
    platform::DispatchQueue::main()->async([task] {
        platform::NotificationCenter::defaultCenter().post(TVNetworkingTaskDidSuspendNotification, task);
    });
}

std::vector<TVURLSessionTaskPtr> TVURLSessionManager::tasksOfKind(std::optional<URLSessionTask::Kind> kind) const {
    std::vector<TVURLSessionTaskPtr> found;
    {
        std::lock_guard lock(lock_);
        for (const auto& [id, entry] : mutableTaskDelegatesKeyedByTaskIdentifier_) {
            const auto& task = entry.delegate->task();
            if (!kind || task->kind() == *kind) found.push_back(task);
        }
    }
    // The map is ordered by identifier, i.e. creation order; "all" groups
    // data, upload and download tasks in that order.
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a->kind() < b->kind(); });
    return found;
}

std::vector<TVURLSessionTaskPtr> TVURLSessionManager::tasks() const { return tasksOfKind(std::nullopt); }
std::vector<TVURLSessionTaskPtr> TVURLSessionManager::dataTasks() const {
    return tasksOfKind(URLSessionTask::Kind::Data);
}
std::vector<TVURLSessionTaskPtr> TVURLSessionManager::uploadTasks() const {
    return tasksOfKind(URLSessionTask::Kind::Upload);
}
std::vector<TVURLSessionTaskPtr> TVURLSessionManager::downloadTasks() const {
    return tasksOfKind(URLSessionTask::Kind::Download);
}

TVURLSessionTaskPtr TVURLSessionManager::dataTaskWithRequest(const platform::URLRequest& request,
                                                             TVURLSessionCompletionHandler completionHandler) {
    return dataTaskWithRequest(request, nullptr, nullptr, std::move(completionHandler));
}

TVURLSessionTaskPtr TVURLSessionManager::dataTaskWithRequest(const platform::URLRequest& request,
                                                             TVProgressBlock uploadProgress,
                                                             TVProgressBlock downloadProgress,
                                                             TVURLSessionCompletionHandler completionHandler) {
    auto task = TVURLSessionTask::wrap(session_->dataTaskWithRequest(request));
    auto delegate = addDelegate(task, std::move(completionHandler));
    delegate->setUploadProgressBlock(std::move(uploadProgress));
    delegate->setDownloadProgressBlock(std::move(downloadProgress));
    return task;
}

TVURLSessionTaskPtr TVURLSessionManager::uploadTaskWithRequest(const platform::URLRequest& request,
                                                               const platform::URL& fromFile,
                                                               TVProgressBlock uploadProgress,
                                                               TVURLSessionCompletionHandler completionHandler) {
    auto platformTask = session_->uploadTaskWithRequest(request, fromFile);
    if (!platformTask && attemptsToRecreate_ && sessionConfiguration_.identifier())
        for (int attempt = 0; attempt < 3 && !platformTask; ++attempt)
            platformTask = session_->uploadTaskWithRequest(request, fromFile);
    if (!platformTask) return nullptr;
    auto task = TVURLSessionTask::wrap(platformTask);
    addDelegate(task, std::move(completionHandler))->setUploadProgressBlock(std::move(uploadProgress));
    return task;
}

TVURLSessionTaskPtr TVURLSessionManager::uploadTaskWithRequest(const platform::URLRequest& request,
                                                               platform::Bytes bodyData,
                                                               TVProgressBlock uploadProgress,
                                                               TVURLSessionCompletionHandler completionHandler) {
    auto task = TVURLSessionTask::wrap(session_->uploadTaskWithRequest(request, std::move(bodyData)));
    addDelegate(task, std::move(completionHandler))->setUploadProgressBlock(std::move(uploadProgress));
    return task;
}

TVURLSessionTaskPtr TVURLSessionManager::uploadTaskWithStreamedRequest(
    const platform::URLRequest& request, TVProgressBlock uploadProgress,
    TVURLSessionCompletionHandler completionHandler) {
    auto task = TVURLSessionTask::wrap(session_->uploadTaskWithStreamedRequest(request));
    addDelegate(task, std::move(completionHandler))->setUploadProgressBlock(std::move(uploadProgress));
    return task;
}

TVURLSessionTaskPtr TVURLSessionManager::downloadTaskWithRequest(const platform::URLRequest& request,
                                                                 TVProgressBlock downloadProgress,
                                                                 DestinationBlock destination,
                                                                 TVURLSessionCompletionHandler completionHandler) {
    auto task = TVURLSessionTask::wrap(session_->downloadTaskWithRequest(request));
    auto delegate = TVURLSessionManagerTaskDelegate::create(task);
    delegate->setManager(weak_from_this());
    delegate->setCompletionHandler(std::move(completionHandler));
    delegate->setResponseSerializer(responseSerializer());
    if (destination)
        delegate->setDownloadTaskDidFinishDownloading(
            [destination](const SessionPtr&, const TVURLSessionTaskPtr& t, const platform::URL& location) {
                return destination(location, t->response());
            });
    task->setTaskDescription(taskDescriptionForSessionTasks());
    setDelegate(delegate, task);
    delegate->setDownloadProgressBlock(std::move(downloadProgress));
    return task;
}

std::shared_ptr<TVProgress> TVURLSessionManager::uploadProgressForTask(const TVURLSessionTaskPtr& task) const {
    if (!task) return nullptr;
    auto delegate = delegateForTask(task->platformTask());
    return delegate ? delegate->uploadProgress() : nullptr;
}

std::shared_ptr<TVProgress> TVURLSessionManager::downloadProgressForTask(const TVURLSessionTaskPtr& task) const {
    if (!task) return nullptr;
    auto delegate = delegateForTask(task->platformTask());
    return delegate ? delegate->downloadProgress() : nullptr;
}

// ---- Session callbacks ----

bool TVURLSessionManager::implements(Method method) const {
    auto b = blocks();
    switch (method) {
        case Method::WillPerformHTTPRedirection:
            return static_cast<bool>(b.taskWillPerformHTTPRedirection);
        case Method::DidReceiveResponse:
            return static_cast<bool>(b.dataTaskDidReceiveResponse);
        case Method::SessionDidReceiveChallenge:
        case Method::TaskDidReceiveChallenge:
        case Method::NeedNewBodyStream:
            return true;
    }
    return false;
}

void TVURLSessionManager::didBecomeInvalid(const SessionPtr& session, platform::ErrorPtr error) {
    if (auto block = blocks().sessionDidBecomeInvalid) block(session, error);
    platform::NotificationCenter::defaultCenter().post(TVURLSessionDidInvalidateNotification, session);
}

TVURLSessionManager::Disposition TVURLSessionManager::evaluateChallenge(
    const URLAuthenticationChallenge& challenge, platform::URLCredentialPtr& credential) const {
    if (challenge.authenticationMethod() != URLAuthenticationChallenge::kAuthenticationMethodServerTrust ||
        !challenge.serverTrust())
        return Disposition::PerformDefaultHandling;
    auto policy = securityPolicy();
    if (policy && policy->evaluateServerTrust(*challenge.serverTrust(), challenge.host())) {
        credential = platform::URLCredential::credentialForTrust(challenge.serverTrust());
        return credential ? Disposition::UseCredential : Disposition::PerformDefaultHandling;
    }
    return Disposition::CancelAuthenticationChallenge;
}

void TVURLSessionManager::didReceiveChallenge(const SessionPtr& session, const URLAuthenticationChallenge& challenge,
                                              ChallengeCompletion completion) {
    platform::URLCredentialPtr credential;
    Disposition disposition;
    if (auto block = blocks().sessionDidReceiveAuthenticationChallenge)
        disposition = block(session, challenge, credential);
    else
        disposition = evaluateChallenge(challenge, credential);
    if (completion) completion(disposition, credential);
}

void TVURLSessionManager::didReceiveChallenge(const SessionPtr& session, const TaskPtr& task,
                                              const URLAuthenticationChallenge& challenge,
                                              ChallengeCompletion completion) {
    platform::URLCredentialPtr credential;
    Disposition disposition;
    if (auto block = blocks().taskDidReceiveAuthenticationChallenge)
        disposition = block(session, wrapperFor(task), challenge, credential);
    else
        disposition = evaluateChallenge(challenge, credential);
    if (completion) completion(disposition, credential);
}

void TVURLSessionManager::willPerformHTTPRedirection(const SessionPtr& session, const TaskPtr& task,
                                                     std::shared_ptr<const platform::HTTPURLResponse> response,
                                                     platform::URLRequest newRequest, RedirectCompletion completion) {
    std::optional<platform::URLRequest> follow = newRequest;
    if (auto block = blocks().taskWillPerformHTTPRedirection)
        follow = block(session, wrapperFor(task), response, newRequest);
    if (completion) completion(std::move(follow));
}

void TVURLSessionManager::needNewBodyStream(const SessionPtr& session, const TaskPtr& task,
                                            BodyStreamCompletion completion) {
    std::shared_ptr<platform::InputStream> stream;
    if (auto block = blocks().taskNeedNewBodyStream)
        stream = block(session, wrapperFor(task));
    else if (const auto& original = task->originalRequest().httpBodyStream())
        stream = original->copy();  // null for a stream that cannot be replayed
    if (completion) completion(std::move(stream));
}

void TVURLSessionManager::didSendBodyData(const SessionPtr& session, const TaskPtr& task, std::int64_t bytesSent,
                                          std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) {
    std::int64_t total = totalBytesExpectedToSend;
    if (total == URLSessionTask::kTransferSizeUnknown) {
        if (auto length = task->originalRequest().valueForHTTPHeaderField("Content-Length")) {
            try {
                total = std::stoll(*length);
            } catch (const std::exception&) {
                // An unreadable header leaves the total unknown.
            }
        }
    }
    auto delegate = delegateForTask(task);
    if (delegate) delegate->didSendBodyData();
    if (auto block = blocks().taskDidSendBodyData)
        block(session, delegate ? delegate->task() : TVURLSessionTask::wrap(task), bytesSent, totalBytesSent, total);
}

void TVURLSessionManager::didCompleteWithError(const SessionPtr& session, const TaskPtr& task,
                                               platform::ErrorPtr error) {
    auto delegate = delegateForTask(task);
    if (delegate) {
        // Out of the lists before its completion can run anywhere, so a
        // completion handler never sees its own task as still pending.
        removeDelegateForTask(task);
        delegate->didCompleteWithError(session, error);
    }
    if (auto block = blocks().taskDidComplete)
        block(session, delegate ? delegate->task() : TVURLSessionTask::wrap(task), error);
}

void TVURLSessionManager::didReceiveResponse(const SessionPtr& session, const DataTaskPtr& task,
                                             std::shared_ptr<const platform::HTTPURLResponse> response,
                                             ResponseCompletion completion) {
    ResponseDisposition disposition = ResponseDisposition::Allow;
    if (auto block = blocks().dataTaskDidReceiveResponse) disposition = block(session, wrapperFor(task), response);
    if (completion) completion(disposition);
}

void TVURLSessionManager::didReceiveData(const SessionPtr& session, const DataTaskPtr& task,
                                         const platform::Bytes& data) {
    auto delegate = delegateForTask(task);
    if (delegate) delegate->didReceiveData(data);
    if (auto block = blocks().dataTaskDidReceiveData)
        block(session, delegate ? delegate->task() : TVURLSessionTask::wrap(task), data);
}

void TVURLSessionManager::didWriteData(const SessionPtr& session, const DownloadTaskPtr& task,
                                       std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                       std::int64_t totalBytesExpectedToWrite) {
    auto delegate = delegateForTask(task);
    if (delegate) delegate->didWriteData(totalBytesWritten, totalBytesExpectedToWrite);
    if (auto block = blocks().downloadTaskDidWriteData)
        block(session, delegate ? delegate->task() : TVURLSessionTask::wrap(task), bytesWritten, totalBytesWritten,
              totalBytesExpectedToWrite);
}

void TVURLSessionManager::didFinishDownloadingToURL(const SessionPtr& session, const DownloadTaskPtr& task,
                                                    const platform::URL& location) {
    auto delegate = delegateForTask(task);
    if (auto block = blocks().downloadTaskDidFinishDownloading) {
        auto wrapper = delegate ? delegate->task() : TVURLSessionTask::wrap(task);
        if (auto fileURL = block(session, wrapper, location)) {
            auto moveError = TVMoveDownloadedFile(wrapper, location, *fileURL);
            if (delegate) delegate->setDownloadFileURL(fileURL, moveError);
            return;
        }
    }
    if (delegate) delegate->didFinishDownloadingToURL(session, location);
}

}  // namespace pellix
