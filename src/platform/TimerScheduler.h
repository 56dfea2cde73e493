// TimerScheduler: the one list of deadlines behind every timer, `after` block
// and run-loop timer. Internal to the platform layer.
//
// A deadline is a monotonic time of the process clock. When it is reached the
// entry's `fire` callback is called once, on the scheduler's own thread (or on
// the thread advancing a ManualClock). `fire` must only hand work on (queue a
// block, post to a run loop, re-arm) and never block. With the system clock
// the scheduler thread sleeps until the earliest deadline; with a ManualClock
// it fires only what is already due and otherwise waits for the clock to move.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "platform/Clock.h"

namespace pellix::platform {
class ManualClock;
}

namespace pellix::platform::detail {

class TimerScheduler {
public:
    using Fire = std::function<void()>;

    static TimerScheduler& shared();

    // Returns an id (never 0) for `cancel`.
    std::uint64_t schedule(Clock::TimePoint deadline, Fire fire);
    // True when the entry was still pending (it will not fire).
    bool cancel(std::uint64_t id);
    // The process clock was replaced: look at the deadlines again.
    void clockChanged();
    // Steps `clock` forward to `target` through every pending deadline up to
    // it, earliest first, firing each; returns the number fired.
    std::size_t advance(ManualClock& clock, Clock::TimePoint target);

    std::size_t pendingCount() const;

    // Now (process clock) plus `delay`, saturating instead of overflowing for
    // huge delays; negative delays count as zero.
    static Clock::TimePoint deadlineAfter(Clock::Duration delay);

private:
    TimerScheduler() = default;
    void startLocked();
    void threadMain();

    using Key = std::pair<Clock::TimePoint, std::uint64_t>;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<Key, Fire> entries_;
    std::unordered_map<std::uint64_t, Clock::TimePoint> deadlines_;
    std::uint64_t nextId_ = 1;
    std::uint64_t changes_ = 0;
    bool started_ = false;
};

}  // namespace pellix::platform::detail
