#include "platform/ManualClock.h"

#include <cmath>

#include "platform/TimerScheduler.h"

namespace pellix::platform {

ManualClock::ManualClock() {
    const auto sys = Clock::system();
    wallNanos_.store(static_cast<std::int64_t>(std::llround(sys->wallTime() * 1e9)));
    monoNanos_.store(sys->monotonicTime().time_since_epoch().count());
}

double ManualClock::wallTime() const { return static_cast<double>(wallNanos_.load()) / 1e9; }

Clock::TimePoint ManualClock::monotonicTime() const { return TimePoint(Duration(monoNanos_.load())); }

std::size_t ManualClock::advance(Duration d) {
    if (d <= Duration::zero()) return 0;
    std::lock_guard lock(advanceMutex_);
    const TimePoint target = monotonicTime() + d;
    if (Clock::shared().get() == this) return detail::TimerScheduler::shared().advance(*this, target);
    setMonotonicTimeForTimers(target);
    return 0;
}

void ManualClock::setWallTime(double secondsSince1970) {
    wallNanos_.store(static_cast<std::int64_t>(std::llround(secondsSince1970 * 1e9)));
}

void ManualClock::setMonotonicTimeForTimers(TimePoint t) {
    const std::int64_t next = t.time_since_epoch().count();
    const std::int64_t prev = monoNanos_.exchange(next);
    // Wall time moves with monotonic time.
    wallNanos_.fetch_add(next - prev);
}

}  // namespace pellix::platform
