#include "platform/Clock.h"

#include <cmath>
#include <mutex>

#include "platform/TimerScheduler.h"

namespace pellix::platform {

namespace {

class SystemClock final : public Clock {
public:
    double wallTime() const override {
        const auto d = std::chrono::system_clock::now().time_since_epoch();
        return std::chrono::duration<double>(d).count();
    }
    TimePoint monotonicTime() const override {
        return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
    }
};

std::mutex& clockMutex() {
    static auto* m = new std::mutex();
    return *m;
}

std::shared_ptr<Clock>& currentClock() {
    static auto* c = new std::shared_ptr<Clock>(Clock::system());
    return *c;
}

}  // namespace

std::shared_ptr<Clock> Clock::system() {
    static auto* c = new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
    return *c;
}

std::shared_ptr<Clock> Clock::shared() {
    std::lock_guard lock(clockMutex());
    return currentClock();
}

void Clock::setShared(std::shared_ptr<Clock> clock) {
    {
        std::lock_guard lock(clockMutex());
        currentClock() = clock ? std::move(clock) : Clock::system();
    }
    detail::TimerScheduler::shared().clockChanged();
}

double Clock::now() { return shared()->wallTime(); }

Clock::TimePoint Clock::monotonic() { return shared()->monotonicTime(); }

Clock::Duration Clock::seconds(double s) {
    if (!(s > 0)) return Duration::zero();
    // About 292 years of nanoseconds fit in int64; cap well below that.
    constexpr double kMax = 100.0 * 365 * 24 * 3600;
    if (s > kMax) s = kMax;
    return Duration(static_cast<std::int64_t>(std::llround(s * 1e9)));
}

double Clock::toSeconds(Duration d) { return std::chrono::duration<double>(d).count(); }

std::optional<std::chrono::steady_clock::time_point> Clock::realDeadline(Duration timeout) {
    using steady = std::chrono::steady_clock;
    const auto now = steady::now();
    if (timeout <= Duration::zero()) return now;
    // Adding Duration::max() to now overflows into the past; such waits are for ever.
    const auto room = std::chrono::duration_cast<Duration>(steady::time_point::max() - now);
    if (timeout >= room) return std::nullopt;
    return now + std::chrono::duration_cast<steady::duration>(timeout);
}

}  // namespace pellix::platform
