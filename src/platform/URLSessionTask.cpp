#include "platform/URLSessionTask.h"

#include "platform/URLSessionEngine.h"

namespace pellix::platform {

URLSessionTask::URLSessionTask(Kind kind, std::uint64_t identifier, URLRequest request,
                               std::weak_ptr<URLSessionEngine> engine)
    : kind_(kind), identifier_(identifier), originalRequest_(request), engine_(std::move(engine)),
      currentRequest_(std::move(request)) {}

URLRequest URLSessionTask::currentRequest() const {
    std::lock_guard lock(mutex_);
    return currentRequest_;
}

std::shared_ptr<const HTTPURLResponse> URLSessionTask::response() const {
    std::lock_guard lock(mutex_);
    return response_;
}

ErrorPtr URLSessionTask::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::optional<std::string> URLSessionTask::taskDescription() const {
    std::lock_guard lock(mutex_);
    return description_;
}

void URLSessionTask::setTaskDescription(std::optional<std::string> description) {
    std::lock_guard lock(mutex_);
    description_ = std::move(description);
}

void URLSessionTask::resume() {
    State expected = State::Suspended;
    if (!state_.compare_exchange_strong(expected, State::Running)) return;
    if (auto e = engine_.lock()) e->resumeTask(identifier_);
}

void URLSessionTask::suspend() {
    State expected = State::Running;
    if (!state_.compare_exchange_strong(expected, State::Suspended)) return;
    if (auto e = engine_.lock()) e->suspendTask(identifier_);
}

void URLSessionTask::cancel() {
    State s = state_.load();
    do {
        if (s == State::Canceling || s == State::Completed) return;
    } while (!state_.compare_exchange_weak(s, State::Canceling));
    cancelRequested_ = true;
    if (auto e = engine_.lock()) e->cancelTask(identifier_);
}

}  // namespace pellix::platform
