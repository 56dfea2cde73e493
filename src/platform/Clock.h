// Clock: the one source of "now" for the whole library.
//
// Wall time is seconds since 1970-01-01 UTC as a double (the platform's date
// value); monotonic time never goes backwards and is what every timer, every
// `after` and every time-out of the dispatch layer is measured against.
//
// One clock is installed process-wide (`Clock::shared()`); by default it is
// the system clock. Tests install a `ManualClock` (ManualClock.h) before they
// schedule anything; from then on timers and `after` blocks fire only when the
// test advances that clock. Blocking waits with a time-out (semaphores, groups,
// `RunLoop::runUntil`) are guards against hangs and always measure real time.
//
// Thread-safety: every call may be made from any thread.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

namespace pellix::platform {

class Clock {
public:
    using Duration = std::chrono::nanoseconds;
    using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

    virtual ~Clock() = default;

    // Seconds since 1970-01-01 UTC.
    virtual double wallTime() const = 0;
    // Monotonic time; only differences between two readings mean anything.
    virtual TimePoint monotonicTime() const = 0;

    // The process-wide clock (the system clock until replaced). Never null.
    static std::shared_ptr<Clock> shared();
    // Installs `clock` process-wide; nullptr puts the system clock back.
    // Pending timers keep their deadlines, read against the new clock, and the
    // timer thread re-evaluates them at once.
    static void setShared(std::shared_ptr<Clock> clock);
    // The real clock of the machine.
    static std::shared_ptr<Clock> system();

    // Shorthands for shared()->wallTime() and shared()->monotonicTime().
    static double now();
    static TimePoint monotonic();

    // Seconds (as the platform's APIs give intervals) to a Duration; negative
    // and NaN intervals become zero, huge ones saturate instead of overflowing.
    static Duration seconds(double s);
    // Duration to seconds.
    static double toSeconds(Duration d);

    // The real-time (steady clock) moment `timeout` from now, for blocking
    // waits; nullopt when it lies beyond what the clock can count, which
    // means "never": the wait has no limit. Negative time-outs mean now.
    static std::optional<std::chrono::steady_clock::time_point> realDeadline(Duration timeout);
};

}  // namespace pellix::platform
