// ManualClock: a clock that moves only when told to, for tests.
//
// Install it with `Clock::setShared(clock)` before scheduling timers. Time
// starts at the system clock's current readings, so deadlines taken earlier
// stay meaningful.
//
// `advance(d)` walks forward through every deadline that falls in the next
// `d`, earliest first: for each one it sets the clock to that deadline and
// fires the timer (a run-loop timer, a queue timer or an `after` block), i.e.
// hands its work to the queue or run loop it belongs to, then moves on; a
// repeating timer re-arms and fires again if it comes due within `d`. The
// handlers themselves run afterwards on their own queues / run loops (pump the
// main run loop, or wait, to see their effects). A timer that comes due again
// before its previous firing has run fires once, as on the real clock.
//
// Thread-safety: any thread may read or advance it; concurrent advances are
// serialised.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/Clock.h"

namespace pellix::platform {

class ManualClock : public Clock {
public:
    ManualClock();

    double wallTime() const override;
    TimePoint monotonicTime() const override;

    // Moves both wall and monotonic time forward by `d` (negative = no-op),
    // firing due timers in deadline order as described above. Returns the
    // number of timer firings it handed out.
    std::size_t advance(Duration d);
    std::size_t advance(double seconds) { return advance(Clock::seconds(seconds)); }
    // Sets the wall time only (monotonic time does not jump; no timer fires).
    void setWallTime(double secondsSince1970);

    // Used by the timer machinery while it steps through deadlines.
    void setMonotonicTimeForTimers(TimePoint t);

private:
    std::atomic<std::int64_t> wallNanos_;
    std::atomic<std::int64_t> monoNanos_;
    std::mutex advanceMutex_;
};

}  // namespace pellix::platform
