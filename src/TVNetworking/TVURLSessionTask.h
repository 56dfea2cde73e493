// TVURLSessionTask: a URL session task as the session managers hand it out.
//
// It wraps the platform task and announces its own resumes and suspends: a
// resume of a task that was not running posts
// TVNSURLSessionTaskDidResumeNotification, a suspend of a task that was not
// suspended posts TVNSURLSessionTaskDidSuspendNotification, each
// synchronously on the calling thread with the task as object. Managers
// observe these per task and relay them publicly (TVURLSessionManager.h).
//
// Once the task has completed through a manager, completionUserInfo() holds
// what the manager's completion notification describes (the notification's
// object is this task).
//
// Thread-safety: every member from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "TVNetworking/TVHTTPResponseSerializer.h"
#include "platform/URL.h"
#include "platform/URLSessionTask.h"

namespace pellix {

// Internal notifications of the layer (names not exported to hosts).
inline constexpr const char* TVNSURLSessionTaskDidResumeNotification =
    "com.tessvale.networking.nsurlsessiontask.resume";
inline constexpr const char* TVNSURLSessionTaskDidSuspendNotification =
    "com.tessvale.networking.nsurlsessiontask.suspend";

// What a completed task's notification carries, as objects.
struct TVTaskCompletionUserInfo {
    std::shared_ptr<const TVURLResponseSerialization> responseSerializer;
    std::optional<platform::Bytes> responseData;
    std::optional<platform::URL> assetPath;
    TVResponseObject serializedResponse;
    platform::ErrorPtr error;
};

class TVURLSessionTask : public std::enable_shared_from_this<TVURLSessionTask> {
public:
    using State = platform::URLSessionTask::State;
    using Kind = platform::URLSessionTask::Kind;

    static std::shared_ptr<TVURLSessionTask> wrap(std::shared_ptr<platform::URLSessionTask> task);

    const std::shared_ptr<platform::URLSessionTask>& platformTask() const { return task_; }

    Kind kind() const { return task_->kind(); }
    std::uint64_t taskIdentifier() const { return task_->taskIdentifier(); }
    const platform::URLRequest& originalRequest() const { return task_->originalRequest(); }
    platform::URLRequest currentRequest() const { return task_->currentRequest(); }
    std::shared_ptr<const platform::HTTPURLResponse> response() const { return task_->response(); }
    platform::ErrorPtr error() const { return task_->error(); }
    State state() const { return task_->state(); }
    std::optional<std::string> taskDescription() const { return task_->taskDescription(); }
    void setTaskDescription(std::optional<std::string> d) { task_->setTaskDescription(std::move(d)); }
    std::int64_t countOfBytesSent() const { return task_->countOfBytesSent(); }
    std::int64_t countOfBytesExpectedToSend() const { return task_->countOfBytesExpectedToSend(); }
    std::int64_t countOfBytesReceived() const { return task_->countOfBytesReceived(); }
    std::int64_t countOfBytesExpectedToReceive() const { return task_->countOfBytesExpectedToReceive(); }

    void resume();
    void suspend();
    void cancel() { task_->cancel(); }

    // Empty until the task has completed through a manager.
    std::shared_ptr<const TVTaskCompletionUserInfo> completionUserInfo() const;
    void setCompletionUserInfo(std::shared_ptr<const TVTaskCompletionUserInfo> info);

private:
    explicit TVURLSessionTask(std::shared_ptr<platform::URLSessionTask> task) : task_(std::move(task)) {}

    const std::shared_ptr<platform::URLSessionTask> task_;
    // One resume or suspend at a time, so the state read before it is the
    // state it changed.
    std::mutex transitionMutex_;
    mutable std::mutex infoMutex_;
    std::shared_ptr<const TVTaskCompletionUserInfo> completionUserInfo_;
};

using TVURLSessionTaskPtr = std::shared_ptr<TVURLSessionTask>;

}  // namespace pellix
