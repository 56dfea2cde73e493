// WorkerPool: the threads behind every queue except the main queue.
// Internal to the platform layer; use DispatchQueue.
//
// It keeps about one running thread per core. A worker that enters a blocking
// wait (BlockingScope) stops counting as running, so the pool starts another
// thread when work is waiting, up to DispatchQueue::kMaxWorkerThreads. Threads
// beyond the core count leave after kIdleSeconds without work. The pool lives
// for the whole process.
//
// Hand-off: a submitted job goes into a FIFO under a short lock and bumps
// `pending_`, the count of jobs nobody has claimed yet. Workers claim a job by
// decrementing `pending_` before they take the lock, so only a worker that is
// sure to find a job contends for it. A worker that runs out of jobs spins a
// few microseconds (at most a few workers at a time) before it sleeps, so a
// steady producer does not pay a wake-up per job; a producer wakes a sleeper
// only when nobody spins and no other wake-up is already on its way, and the
// woken worker wakes the next one if more jobs are waiting.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

namespace pellix::platform {
class DispatchQueue;
}

namespace pellix::platform::detail {

// One unit of pool work: `run(job)` on a worker. What `queue`, `context`,
// `block` and `barrier` mean is up to `run`; `keep` holds the queue alive
// while the job waits or runs (empty for the process-wide queues, which live
// for ever, and for concurrent queues, which hold themselves while they have
// work). A plain struct, so a block goes to the pool without being
// wrapped in a second std::function.
struct PoolJob {
    void (*run)(PoolJob&) = nullptr;
    DispatchQueue* queue = nullptr;
    void* context = nullptr;
    std::shared_ptr<DispatchQueue> keep;
    std::function<void()> block;
    bool barrier = false;
};

class WorkerPool {
public:
    static constexpr int kIdleSeconds = 5;

    static WorkerPool& shared();

    // Runs `job` on some worker, in roughly FIFO order.
    void submit(PoolJob job);

    // Called by BlockingScope; returns whether the calling thread is a worker
    // (only then must endBlocking follow).
    bool beginBlocking();
    void endBlocking();

    std::size_t threadCount() const;

private:
    WorkerPool();
    void workerMain();
    bool tryClaim();
    void takeClaimed(PoolJob& job);
    // Makes sure some worker will look at the pending jobs: a spinner, a
    // sleeper being woken, or a new thread.
    void signalWork();
    void maybeSpawnLocked();
    // Spins, then sleeps; false when this (surplus) thread should leave.
    bool awaitWork();

    // A lock for a few instructions of work: spins, then yields, instead of
    // putting the waiter to sleep in the kernel as a contended mutex does.
    class SpinLock {
    public:
        void lock();
        void unlock() { locked_.store(false, std::memory_order_release); }

    private:
        std::atomic<bool> locked_{false};
    };

    // A FIFO of jobs in fixed-size chunks: a steady stream reuses a few
    // spare chunks and allocates nothing; past a burst the chunks beyond the
    // spares are given back as they empty. Nothing is moved when it grows.
    class JobFifo {
    public:
        JobFifo() = default;
        JobFifo(const JobFifo&) = delete;
        JobFifo& operator=(const JobFifo&) = delete;
        ~JobFifo();
        void push(PoolJob&& job);
        PoolJob pop();  // the FIFO is not empty
        bool empty() const { return head_ == tail_ && headIndex_ == tailIndex_; }

    private:
        static constexpr std::size_t kChunkSlots = 128;
        static constexpr std::size_t kSpareChunks = 4;
        struct Chunk {
            PoolJob slots[kChunkSlots];
            Chunk* next = nullptr;
        };
        Chunk* head_ = nullptr;  // pop from head_->slots[headIndex_]
        Chunk* tail_ = nullptr;  // push at tail_->slots[tailIndex_]
        std::size_t headIndex_ = 0, tailIndex_ = 0;
        Chunk* spare_ = nullptr;
        std::size_t spareCount_ = 0;
    };

    // The FIFO is split in shards so that producers on different threads do
    // not all fight for one lock: a thread always queues into the same shard
    // (so its own jobs start in order), workers take from every shard in
    // turn (so no shard waits behind a busy one).
    struct alignas(64) Shard {
        SpinLock lock;
        JobFifo jobs;
        std::atomic<std::size_t> size{0};  // a hint for takers, exact under `lock`
    };
    std::size_t shardCount_;
    std::unique_ptr<Shard[]> shards_;
    // Jobs in the shards that no worker has claimed yet.
    alignas(64) std::atomic<std::size_t> pending_{0};

    // Sleeping, waking and the thread accounting.
    alignas(64) mutable std::mutex sleepMutex_;
    std::condition_variable cv_;
    std::atomic<std::size_t> idle_{0};      // workers inside (or coming back from) the sleep wait
    std::atomic<bool> waking_{false};       // a notify went out and its sleeper has not come back yet
    std::atomic<std::size_t> spinners_{0};  // workers spinning for a job
    std::atomic<std::size_t> threads_{0};
    std::atomic<std::size_t> blocked_{0};
    const std::size_t target_;
    const std::size_t maxSpinners_;
};

}  // namespace pellix::platform::detail
