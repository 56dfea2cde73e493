#include "platform/WorkerPool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "platform/DispatchQueue.h"

namespace pellix::platform::detail {

namespace {
thread_local bool tlsIsWorker = false;
thread_local int tlsBlockDepth = 0;
}  // namespace

WorkerPool& WorkerPool::shared() {
    static WorkerPool* pool = new WorkerPool();  // never destroyed: workers may outlive static destruction
    return *pool;
}

WorkerPool::WorkerPool() : target_(std::max<std::size_t>(2, std::thread::hardware_concurrency())) {}

void WorkerPool::submit(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    if (idle_ > 0) cv_.notify_one();
    maybeSpawnLocked();
}

void WorkerPool::maybeSpawnLocked() {
    // Idle workers will pick up as many tasks as there are of them; start a new
    // thread only for work beyond that, and only while fewer than `target_`
    // workers are actually running (blocked ones do not count).
    if (tasks_.size() <= idle_) return;
    const std::size_t running = threads_ - idle_ - blocked_;
    if (running >= target_ || threads_ >= DispatchQueue::kMaxWorkerThreads) return;
    ++threads_;
    try {
        std::thread([this] { workerMain(); }).detach();
    } catch (const std::exception& e) {
        --threads_;
        std::fprintf(stderr, "pellix: cannot start a worker thread: %s\n", e.what());
    }
}

bool WorkerPool::beginBlocking() {
    if (!tlsIsWorker) return false;
    if (tlsBlockDepth++ > 0) return true;
    std::lock_guard lock(mutex_);
    ++blocked_;
    maybeSpawnLocked();
    return true;
}

void WorkerPool::endBlocking() {
    if (!tlsIsWorker || tlsBlockDepth == 0) return;
    if (--tlsBlockDepth > 0) return;
    std::lock_guard lock(mutex_);
    --blocked_;
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

void WorkerPool::workerMain() {
    tlsIsWorker = true;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (tasks_.empty()) {
            ++idle_;
            const bool woke = cv_.wait_for(lock, std::chrono::seconds(kIdleSeconds), [this] { return !tasks_.empty(); });
            --idle_;
            if (!woke && threads_ > target_) {
                --threads_;
                return;
            }
            continue;
        }
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        try {
            task();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pellix: uncaught exception in a dispatched block: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "pellix: uncaught exception in a dispatched block\n");
        }
        task = nullptr;  // destroy captures before taking the lock again
        lock.lock();
    }
}

}  // namespace pellix::platform::detail
