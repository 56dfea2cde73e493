// Timer: a one-shot or repeating timer on a run loop.
//
// The block runs on the thread that drives the run loop the timer is scheduled
// on, `interval` seconds (process clock, Clock.h) after scheduling and, when
// repeating, every `interval` after that. A run loop that is not driven never
// fires its timers. When a repeating timer falls behind (its loop was busy),
// missed firings are skipped, not queued up. Intervals below 0.1 ms are
// raised to 0.1 ms.
//
// The run loop keeps a scheduled timer alive until it is invalidated; a
// one-shot timer invalidates itself after firing (before its block runs, so
// the block may re-arm a new timer). `invalidate` may be called from any
// thread: no firing starts after it returns; a block already running finishes.
//
// Thread-safety: all members from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace pellix::platform {

class RunLoop;

class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Block = std::function<void(Timer&)>;

    // A timer not yet scheduled: add it with `RunLoop::addTimer`.
    static std::shared_ptr<Timer> create(double intervalSeconds, bool repeats, Block block);
    // A timer scheduled on the calling thread's run loop (`RunLoop::current()`).
    static std::shared_ptr<Timer> scheduled(double intervalSeconds, bool repeats, Block block);

    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void invalidate();
    bool isValid() const;
    bool repeats() const { return repeats_; }
    double timeInterval() const { return interval_; }
    // Runs the block now, on the calling thread; a one-shot timer is then
    // invalidated, a repeating one keeps its schedule.
    void fire();

    struct State;  // defined in Timer.cpp
    // Called by the timer machinery when a deadline is reached.
    void onDueImpl();

private:
    friend class RunLoop;
    Timer(double intervalSeconds, bool repeats, Block block);
    void schedule(const std::shared_ptr<RunLoop>& loop);
    void deliverFire();

    double interval_;
    bool repeats_;
    std::unique_ptr<State> state_;
};

}  // namespace pellix::platform
