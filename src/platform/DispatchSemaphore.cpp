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
    const bool got = cv_.wait_for(lock, timeout, [this] { return value_ > 0; });
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
