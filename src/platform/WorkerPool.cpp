#include "platform/WorkerPool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>
#include <utility>

#include "platform/DispatchQueue.h"

namespace pellix::platform::detail {

namespace {
thread_local bool tlsIsWorker = false;
thread_local int tlsBlockDepth = 0;

// How long a worker that ran out of jobs keeps looking before it sleeps: long
// enough to bridge the gaps of a producer queueing blocks back to back, short
// enough not to matter on an idle machine.
constexpr auto kSpin = std::chrono::microseconds(20);

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}
}  // namespace

void WorkerPool::SpinLock::lock() {
    for (unsigned spins = 0;;) {
        if (!locked_.exchange(true, std::memory_order_acquire)) return;
        while (locked_.load(std::memory_order_relaxed)) {
            // The holder may have been preempted: past a short spin, let it run.
            if (++spins < 64)
                cpuRelax();
            else
                std::this_thread::yield();
        }
    }
}

WorkerPool::JobFifo::~JobFifo() {
    for (Chunk* list : {head_, spare_})
        while (list) delete std::exchange(list, list->next);
}

void WorkerPool::JobFifo::push(PoolJob&& job) {
    if (!tail_ || tailIndex_ == kChunkSlots) {
        Chunk* chunk = spare_;
        if (chunk) {
            spare_ = chunk->next;
            --spareCount_;
            chunk->next = nullptr;
        } else {
            chunk = new Chunk;
        }
        if (tail_)
            tail_->next = chunk;
        else
            head_ = chunk;
        tail_ = chunk;
        tailIndex_ = 0;
    }
    tail_->slots[tailIndex_++] = std::move(job);
}

PoolJob WorkerPool::JobFifo::pop() {
    PoolJob job = std::move(head_->slots[headIndex_++]);
    if (headIndex_ == kChunkSlots || empty()) {
        // Done with this chunk: the next one, or start over in this one.
        Chunk* done = head_;
        if (done == tail_) {
            headIndex_ = tailIndex_ = 0;
            return job;
        }
        head_ = done->next;
        headIndex_ = 0;
        if (spareCount_ < kSpareChunks) {
            done->next = spare_;
            spare_ = done;
            ++spareCount_;
        } else {
            delete done;
        }
    }
    return job;
}

WorkerPool& WorkerPool::shared() {
    static WorkerPool* pool = new WorkerPool();  // never destroyed: workers may outlive static destruction
    return *pool;
}

WorkerPool::WorkerPool()
    : target_(std::max<std::size_t>(2, std::thread::hardware_concurrency())),
      maxSpinners_(std::max<std::size_t>(1, target_ / 4)) {
    shardCount_ = std::min<std::size_t>(target_, 8);
    shards_ = std::make_unique<Shard[]>(shardCount_);
}

namespace {
// Each thread's shard, handed out round robin on first use.
std::size_t threadShard(std::size_t count) {
    static std::atomic<std::size_t> next{0};
    thread_local const std::size_t mine = next.fetch_add(1, std::memory_order_relaxed);
    return mine % count;
}
}  // namespace

void WorkerPool::submit(PoolJob job) {
    {
        Shard& shard = shards_[threadShard(shardCount_)];
        std::lock_guard lock(shard.lock);
        shard.jobs.push(std::move(job));
        shard.size.fetch_add(1, std::memory_order_relaxed);
    }
    // Counted only once the job is in the FIFO: a claim always finds one.
    pending_.fetch_add(1);
    signalWork();
}

// The orderings here are sequentially consistent on purpose: a producer
// raises `pending_` and then reads `spinners_`/`idle_`, while a worker lowers
// `spinners_` or raises `idle_` and then reads `pending_`. One of the two
// always sees the other, so a job is never left with every worker asleep.
void WorkerPool::signalWork() {
    if (spinners_.load() > 0) return;  // a spinner will see the job
    if (idle_.load() > 0) {
        if (waking_.load(std::memory_order_relaxed)) return;  // the one being woken passes the word on
    } else {
        // Enough workers are up (running, or about to look again before they
        // sleep): nothing to start.
        const std::size_t threads = threads_.load();
        if (threads >= blocked_.load() + target_ || threads >= DispatchQueue::kMaxWorkerThreads) return;
    }
    bool notify = false;
    {
        std::lock_guard lock(sleepMutex_);
        if (idle_.load() > 0) {
            if (!waking_.load(std::memory_order_relaxed)) {
                waking_.store(true, std::memory_order_relaxed);
                notify = true;
            }
        } else {
            maybeSpawnLocked();
        }
    }
    // Outside the lock, so the woken worker does not at once block on it.
    // Every worker counted in `idle_` under the lock was waiting, so one of
    // them comes back and clears `waking_`.
    if (notify) cv_.notify_one();
}

void WorkerPool::maybeSpawnLocked() {
    // No worker sleeps. Start a thread only for jobs nobody has claimed and
    // only while fewer than `target_` workers are actually running (blocked
    // ones do not count).
    if (pending_.load() == 0) return;
    const std::size_t threads = threads_.load();
    if (threads >= blocked_.load() + target_ || threads >= DispatchQueue::kMaxWorkerThreads) return;
    threads_.fetch_add(1);
    try {
        std::thread([this] { workerMain(); }).detach();
    } catch (const std::exception& e) {
        threads_.fetch_sub(1);
        std::fprintf(stderr, "pellix: cannot start a worker thread: %s\n", e.what());
    }
}

bool WorkerPool::tryClaim() {
    std::size_t n = pending_.load(std::memory_order_relaxed);
    while (n > 0)
        if (pending_.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel, std::memory_order_relaxed)) return true;
    return false;
}

void WorkerPool::takeClaimed(PoolJob& job) {
    // The claim guarantees a job in some shard; another claimer may take the
    // one first seen, so go round until one is ours.
    thread_local std::size_t cursor = 0;
    for (std::size_t i = cursor++;; ++i) {
        Shard& shard = shards_[i % shardCount_];
        if (shard.size.load(std::memory_order_relaxed) == 0) {
            if (i % shardCount_ == shardCount_ - 1) cpuRelax();
            continue;
        }
        std::lock_guard lock(shard.lock);
        if (shard.jobs.empty()) continue;
        job = shard.jobs.pop();
        shard.size.fetch_sub(1, std::memory_order_relaxed);
        break;
    }
    // More waiting: make sure another worker comes for it, so the wake-ups
    // spread one after the other instead of one per submit.
    if (pending_.load(std::memory_order_relaxed) > 0) signalWork();
}

bool WorkerPool::awaitWork() {
    std::size_t spinning = spinners_.load(std::memory_order_relaxed);
    while (spinning < maxSpinners_) {
        if (!spinners_.compare_exchange_weak(spinning, spinning + 1)) continue;
        const auto deadline = std::chrono::steady_clock::now() + kSpin;
        for (unsigned i = 1;; ++i) {
            if (pending_.load(std::memory_order_relaxed) > 0) {
                spinners_.fetch_sub(1);
                return true;
            }
            cpuRelax();
            if (i % 64 == 0 && std::chrono::steady_clock::now() >= deadline) break;
        }
        spinners_.fetch_sub(1);
        break;
    }

    std::unique_lock lock(sleepMutex_);
    idle_.fetch_add(1);
    while (pending_.load() == 0) {
        const bool timedOut = cv_.wait_for(lock, std::chrono::seconds(kIdleSeconds)) == std::cv_status::timeout;
        // Whatever woke this worker, a later submit may send a new wake-up.
        waking_.store(false, std::memory_order_relaxed);
        if (timedOut && pending_.load() == 0 && threads_.load() > target_) {
            idle_.fetch_sub(1);
            threads_.fetch_sub(1);
            return false;
        }
    }
    idle_.fetch_sub(1);
    return true;
}

bool WorkerPool::beginBlocking() {
    if (!tlsIsWorker) return false;
    if (tlsBlockDepth++ > 0) return true;
    blocked_.fetch_add(1);
    // This worker no longer counts as running: if jobs wait, wake or start
    // another one for them.
    if (pending_.load() > 0) signalWork();
    return true;
}

void WorkerPool::endBlocking() {
    if (!tlsIsWorker || tlsBlockDepth == 0) return;
    if (--tlsBlockDepth > 0) return;
    blocked_.fetch_sub(1);
}

std::size_t WorkerPool::threadCount() const { return threads_.load(); }

void WorkerPool::workerMain() {
    tlsIsWorker = true;
    for (;;) {
        if (!tryClaim()) {
            if (!awaitWork()) return;
            continue;
        }
        PoolJob job;
        takeClaimed(job);
        try {
            job.run(job);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pellix: uncaught exception in a dispatched block: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "pellix: uncaught exception in a dispatched block\n");
        }
        // `job` goes out of scope here: captures and the queue it kept alive
        // are released before this worker looks for the next job.
    }
}

}  // namespace pellix::platform::detail
