// RunLoop: a thread's loop of posted blocks and timers; the main run loop
// carries the main queue.
//
// Every thread may have a run loop (`RunLoop::current()` makes one on first
// use), but its blocks and timers only run while some thread drives it with
// `runOnce`, `runUntil` or `run`. A loop must be driven by one thread at a time;
// nested driving from inside a block of the same loop on the same thread is
// allowed (a caller that spins the loop while it waits) and then also runs
// later main-queue blocks.
//
// The main run loop (`RunLoop::main()`) runs the main queue's blocks and the
// timers scheduled on it. Who drives it:
// - by default the library: `startMainLoopThread()` starts a thread of its own
//   that runs it until `stopMainLoopThread()`;
// - a host with its own event loop: watch `fd()` for readability (an eventfd,
//   readable while work may be ready) and call `runOnce(0)` when it is;
// - a test: `RunLoop::main()->runUntil(predicate, timeout)` on the test thread.
// The main thread (`isMainThread()`) is the thread that drives the main run
// loop: the loop thread while it runs, otherwise the last thread that pumped
// the main loop, and before any of that the process's initial thread.
//
// Thread-safety: `perform`, `addTimer`, `wakeUp`, `stop`, `fd` from any
// thread; the run calls from the driving thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

namespace pellix::platform {

class Timer;

class RunLoop : public std::enable_shared_from_this<RunLoop> {
public:
    using Block = std::function<void()>;

    static std::shared_ptr<RunLoop> main();
    // The calling thread's run loop (the main run loop on the main thread).
    static std::shared_ptr<RunLoop> current();
    static bool isMainThread();

    // Starts the library's main-loop thread (no-op when already running) and
    // makes it the main thread. `stopMainLoopThread` stops and joins it (call
    // it from another thread); the process's initial thread is main again.
    static void startMainLoopThread();
    static void stopMainLoopThread();
    static bool isMainLoopThreadRunning();

    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Queues `block` to run in a later turn of this loop, in FIFO order with
    // the other posted blocks (and, on the main loop, with main-queue blocks).
    void perform(Block block);
    // Schedules a timer on this loop (Timer.h); the loop keeps it until it is
    // invalidated (a one-shot timer: until it has fired). Adding a timer that
    // is already scheduled somewhere, or invalid, does nothing.
    void addTimer(const std::shared_ptr<Timer>& timer);

    // Readable while this loop may have work ready; `runOnce` drains it.
    int fd() const;

    // One turn: waits up to `timeoutSeconds` (real time) until something is
    // ready, then runs everything that was ready when the turn started (posted
    // blocks and fired timers, in order). Returns the number of blocks run.
    std::size_t runOnce(double timeoutSeconds = 0);
    // Runs turns until `predicate()` holds (checked before the first turn and
    // after each) or `timeoutSeconds` of real time have passed; returns the
    // last value of the predicate. An infinite or huge time-out never runs
    // out. On a pool worker this is a blocking wait.
    bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds);
    // Runs turns until `stop()`.
    void run();
    // Makes `run` return after its current turn, and wakes the loop.
    void stop();
    // Wakes a loop waiting in `runOnce` without giving it work.
    void wakeUp();

    // Blocks posted and not yet run (for tests and hosts).
    std::size_t pendingCount() const;

    struct State;  // defined in RunLoop.cpp

private:
    friend class Timer;
    RunLoop();
    // The loop owns its scheduled timers until they are invalidated.
    void keepTimer(const std::shared_ptr<Timer>& timer, bool keep);
    static std::shared_ptr<RunLoop> make();
    std::unique_ptr<State> state_;
};

}  // namespace pellix::platform
