// WorkerPool: the threads behind every queue except the main queue.
// Internal to the platform layer; use DispatchQueue.
//
// It keeps about one running thread per core. A worker that enters a blocking
// wait (BlockingScope) stops counting as running, so the pool starts another
// thread when work is waiting, up to DispatchQueue::kMaxWorkerThreads. Threads
// beyond the core count leave after kIdleSeconds without work. The pool lives
// for the whole process.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace pellix::platform::detail {

class WorkerPool {
public:
    static constexpr int kIdleSeconds = 5;

    static WorkerPool& shared();

    // Runs `task` on some worker, in roughly FIFO order.
    void submit(std::function<void()> task);

    // Called by BlockingScope; returns whether the calling thread is a worker
    // (only then must endBlocking follow).
    bool beginBlocking();
    void endBlocking();

    std::size_t threadCount() const;

private:
    WorkerPool();
    void maybeSpawnLocked();
    void workerMain();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    std::size_t threads_ = 0;
    std::size_t idle_ = 0;
    std::size_t blocked_ = 0;
    std::size_t target_;
};

}  // namespace pellix::platform::detail
