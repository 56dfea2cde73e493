#include "TVNetworking/TVURLSessionTask.h"

#include "platform/NotificationCenter.h"

namespace pellix {

std::shared_ptr<TVURLSessionTask> TVURLSessionTask::wrap(std::shared_ptr<platform::URLSessionTask> task) {
    if (!task) return nullptr;
    return std::shared_ptr<TVURLSessionTask>(new TVURLSessionTask(std::move(task)));
}

void TVURLSessionTask::resume() {
    bool announce;
    {
        std::lock_guard lock(transitionMutex_);
        announce = task_->state() != State::Running;
        task_->resume();
    }
    if (announce)
        platform::NotificationCenter::defaultCenter().post(TVNSURLSessionTaskDidResumeNotification, shared_from_this());
}

void TVURLSessionTask::suspend() {
    bool announce;
    {
        std::lock_guard lock(transitionMutex_);
        announce = task_->state() != State::Suspended;
        task_->suspend();
    }
    if (announce)
        platform::NotificationCenter::defaultCenter().post(TVNSURLSessionTaskDidSuspendNotification,
                                                           shared_from_this());
}

std::shared_ptr<const TVTaskCompletionUserInfo> TVURLSessionTask::completionUserInfo() const {
    std::lock_guard lock(infoMutex_);
    return completionUserInfo_;
}

void TVURLSessionTask::setCompletionUserInfo(std::shared_ptr<const TVTaskCompletionUserInfo> info) {
    std::lock_guard lock(infoMutex_);
    completionUserInfo_ = std::move(info);
}

}  // namespace pellix
