// DispatchSemaphore: a counting semaphore with time-outs.
//
// `wait` takes one unit, blocking until one is available; `signal` gives one
// back and wakes one waiter. A wait that has to block is a marked blocking wait
// (BlockingScope.h), so pool workers waiting here do not starve the pool.
// Time-outs measure real time, never the ManualClock.
//
// Thread-safety: all members from any thread. Destroying a semaphore that has
// waiters is the caller's fault (as on the platform); the library never does.
// When a block may still signal after its waiter gave up (a wait with a
// time-out), share the semaphore with the block (`create`) instead of keeping
// it on the waiter's stack.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/Clock.h"

namespace pellix::platform {

class DispatchSemaphore {
public:
    explicit DispatchSemaphore(std::int64_t value = 0);
    static std::shared_ptr<DispatchSemaphore> create(std::int64_t value = 0) {
        return std::make_shared<DispatchSemaphore>(value);
    }
    DispatchSemaphore(const DispatchSemaphore&) = delete;
    DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

    // Waits without limit.
    void wait();
    // Waits at most `timeout`; true when a unit was taken, false on time-out.
    // A time-out beyond the clock's range (Duration::max(), an infinite
    // number of seconds) waits without limit.
    bool wait(Clock::Duration timeout);
    bool waitSeconds(double seconds) { return wait(Clock::seconds(seconds)); }
    // Gives one unit back; true when it woke a waiter (the platform's non-zero
    // return of signal).
    bool signal();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::int64_t value_;
    std::int64_t waiters_ = 0;
};

}  // namespace pellix::platform
