#include "platform/DispatchSemaphore.h"

#include "platform/BlockingScope.h"

namespace pellix::platform {

DispatchSemaphore::DispatchSemaphore(std::int64_t value) : value_(value) {}

void DispatchSemaphore::wait() {
    std::unique_lock lock(mutex_);
    if (value_ > 0) {
        --value_;
        return;
    }
    BlockingScope blocking;
    ++waiters_;
    cv_.wait(lock, [this] { return value_ > 0; });
    --waiters_;
    --value_;
}

bool DispatchSemaphore::wait(Clock::Duration timeout) {
    std::unique_lock lock(mutex_);
    if (value_ > 0) {
        --value_;
        return true;
    }
    if (timeout <= Clock::Duration::zero()) return false;
    BlockingScope blocking;
    ++waiters_;
    const auto deadline = Clock::realDeadline(timeout);
    const auto ready = [this] { return value_ > 0; };
    bool got = true;
    if (deadline)
        got = cv_.wait_until(lock, *deadline, ready);
    else
        cv_.wait(lock, ready);  // a time-out past the clock's range: wait until signalled
    --waiters_;
    if (!got) return false;
    --value_;
    return true;
}

bool DispatchSemaphore::signal() {
    std::lock_guard lock(mutex_);
    ++value_;
    if (waiters_ == 0) return false;
    cv_.notify_one();
    return true;
}

}  // namespace pellix::platform
