// DispatchQueue: serial and concurrent queues of blocks over a shared pool of
// worker threads, the main queue, and the global queues.
//
// Kinds of queue
// - `main()`: serial; its blocks run on the main thread, i.e. the thread that
//   drives `RunLoop::main()` (RunLoop.h). Nothing runs there until someone
//   drives that run loop: the library's own loop thread
//   (`RunLoop::startMainLoopThread()`), a host pumping it, or a test calling
//   `RunLoop::main()->runUntil(...)`.
// - `serial(label)`: one block at a time, in submission order.
// - `concurrent(label)`: blocks may run at the same time; barrier blocks run
//   alone, after everything submitted before them and before everything
//   submitted after them.
// - `global(qos)`: process-wide concurrent queues. The quality of service only
//   names the queue: all of them share one pool of workers. Barriers submitted
//   to a global queue behave as ordinary blocks (the platform's rule).
//
// Worker pool: blocks of non-main queues run on pool threads. The pool keeps
// about as many threads busy as there are cores, and adds a thread whenever a
// worker blocks in a marked wait (`DispatchSemaphore::wait`,
// `DispatchGroup::wait`, `sync`, `OperationQueue::waitUntil...`, a
// `BlockingScope`) while other work is waiting, up to a bound of
// `kMaxWorkerThreads`; surplus threads leave after a few idle seconds. So a
// task that waits for a later task does not deadlock the pool.
//
// Queues are shared objects (`std::shared_ptr`). A queue stays alive while it
// has blocks pending or running, even if its creator drops it.
//
// Thread-safety: every member may be called from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/Clock.h"

namespace pellix::platform {

enum class QoS { UserInteractive, UserInitiated, Default, Utility, Background };

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
public:
    using Block = std::function<void()>;
    // A queue-specific key is any address the caller owns (typically the
    // address of a static or of the object that marks the queue).
    using SpecificKey = const void*;

    enum class Kind { Main, Serial, Concurrent, Global };

    static constexpr std::size_t kMaxWorkerThreads = 256;

    static std::shared_ptr<DispatchQueue> main();
    static std::shared_ptr<DispatchQueue> global(QoS qos = QoS::Default);
    static std::shared_ptr<DispatchQueue> serial(std::string label);
    static std::shared_ptr<DispatchQueue> concurrent(std::string label);

    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }
    Kind kind() const { return kind_; }

    // Queues `block` and returns at once. An exception escaping a block is
    // caught and logged to stderr; the queue goes on.
    void async(Block block);

    // Runs `block` as a block of this queue and returns when it has finished.
    // - If the calling thread already holds this queue (it is running one of
    //   its blocks, directly or further out through nested `sync` calls), the
    //   block runs inline at once: a re-entrant sync never deadlocks.
    // - Serial and concurrent queues: waits for the blocks ahead of it (for a
    //   concurrent queue: a barrier ahead), then runs `block` on the CALLING
    //   thread while holding the queue. So a block running on queue A that
    //   syncs onto B, which syncs back onto A, runs inline (A is held by this
    //   thread) instead of deadlocking.
    // - Global queue: nothing to wait for; runs inline at once.
    // - Main queue: on the main thread it runs inline; elsewhere it is queued
    //   on the main run loop and the caller waits (a marked, blocking wait).
    //   Deadlocks if the main thread is itself waiting for the caller.
    void sync(const Block& block);

    // Queues `block` after `delay` measured on the process clock (Clock.h);
    // with a ManualClock it fires when the test advances past the deadline.
    void after(Clock::Duration delay, Block block);
    void after(double delaySeconds, Block block) { after(Clock::seconds(delaySeconds), std::move(block)); }

    // Barrier blocks: on a concurrent queue they run alone (see above); on a
    // serial queue, the main queue and a global queue they are plain
    // `async` / `sync`.
    void asyncBarrier(Block block);
    void syncBarrier(const Block& block);

    // Queue-specific values: `setSpecific(key, value)` marks this queue
    // (nullptr removes the mark); the value is not owned. `getSpecific` reads
    // this queue's mark.
    void setSpecific(SpecificKey key, void* value);
    void* getSpecific(SpecificKey key) const;
    // The mark `key` of the queue the calling thread runs on: the innermost
    // held queue first, then the queues held further out (nested syncs); the
    // main thread also counts as holding the main queue. nullptr when none.
    static void* getCurrentSpecific(SpecificKey key);

    // True when the calling thread holds this queue (runs one of its blocks,
    // or holds it further out through nested `sync` calls). For the main queue:
    // true on the main thread.
    bool isCurrent() const;

    // Label of the innermost queue the calling thread runs on; "main" on the
    // main thread outside any other queue; "" on other threads.
    static std::string currentLabel();

    // Number of pool worker threads alive right now (for tests and benchmarks).
    static std::size_t workerThreadCount();

    struct State;  // defined in DispatchQueue.cpp

private:
    DispatchQueue(Kind kind, std::string label);
    Kind kind_;
    std::string label_;
    std::unique_ptr<State> state_;
};

}  // namespace pellix::platform
