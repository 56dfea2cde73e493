#include "platform/DispatchQueue.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/BlockingScope.h"
#include "platform/RunLoop.h"
#include "platform/TimerScheduler.h"
#include "platform/WorkerPool.h"

namespace pellix::platform {

namespace {

// Queues the calling thread holds, outermost first: the queue whose block it
// runs, and the queues it reached through nested sync calls.
thread_local std::vector<const DispatchQueue*> tlsHeld;

struct HeldFrame {
    explicit HeldFrame(const DispatchQueue* q) { tlsHeld.push_back(q); }
    ~HeldFrame() { tlsHeld.pop_back(); }
    HeldFrame(const HeldFrame&) = delete;
    HeldFrame& operator=(const HeldFrame&) = delete;
};

void runLogged(const DispatchQueue& q, const std::function<void()>& block) {
    try {
        block();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pellix: uncaught exception in a block of queue \"%s\": %s\n", q.label().c_str(), e.what());
    } catch (...) {
        std::fprintf(stderr, "pellix: uncaught exception in a block of queue \"%s\"\n", q.label().c_str());
    }
}

// One waiting sync caller: the queue grants it its turn, the caller runs its
// block on its own thread and then hands the queue back.
struct SyncTurn {
    std::mutex mutex;
    std::condition_variable cv;
    bool granted = false;

    void grant() {
        std::lock_guard lock(mutex);
        granted = true;
        cv.notify_one();
    }
    void await() {
        std::unique_lock lock(mutex);
        if (granted) return;
        BlockingScope blocking;
        cv.wait(lock, [this] { return granted; });
    }
};

// Serial queues drain at most this many blocks per pool turn, then requeue
// themselves so that one busy queue cannot hold a worker for ever.
constexpr int kDrainBatch = 64;

}  // namespace

struct DispatchQueue::State {
    struct Item {
        Block block;
        bool barrier = false;
        std::shared_ptr<SyncTurn> turn;  // set for a sync caller
    };

    // Concurrent queues: the number of blocks in flight (low bits) and
    // kSlow, set while anything waits in `items` or a barrier runs. A block
    // that finds kSlow clear starts at once without the queue's lock; the bit
    // changes only under `mutex`.
    static constexpr std::uint64_t kSlow = std::uint64_t{1} << 63;
    static constexpr std::uint64_t kCount = kSlow - 1;
    std::atomic<std::uint64_t> gate{0};

    mutable std::mutex mutex;
    std::deque<Item> items;
    // Serial: a drainer is scheduled or a sync caller holds the queue.
    bool busy = false;
    // Concurrent: a barrier runs.
    bool barrierRunning = false;
    // Concurrent: the queue itself, held while any of its blocks is in
    // flight, runs as a barrier or waits in `items`, so that it outlives
    // them when its owners let go. One reference for all of them: the
    // blocks themselves hold none, which would cost two atomic operations
    // on one contended count per block.
    std::shared_ptr<DispatchQueue> alive;

    mutable std::mutex specificMutex;
    std::unordered_map<SpecificKey, void*> specifics;
};

namespace {

// The queue machinery, kept out of the header.
struct Engine {
    using State = DispatchQueue::State;
    using Kind = DispatchQueue::Kind;

    // ---- global ----
    static void runGlobalJob(detail::PoolJob& job) {
        HeldFrame frame(job.queue);
        runLogged(*job.queue, job.block);
    }

    // ---- serial ----
    static void submitDrain(std::shared_ptr<DispatchQueue> q, State& s) {
        detail::PoolJob job;
        job.run = runSerialJob;
        job.queue = q.get();
        job.context = &s;
        job.keep = std::move(q);
        detail::WorkerPool::shared().submit(std::move(job));
    }

    static void runSerialJob(detail::PoolJob& job) { serialDrain(job.keep, *static_cast<State*>(job.context)); }

    static void serialDrain(const std::shared_ptr<DispatchQueue>& q, State& s) {
        for (int n = 0; n < kDrainBatch; ++n) {
            State::Item item;
            {
                std::lock_guard lock(s.mutex);
                if (s.items.empty()) {
                    s.busy = false;
                    return;
                }
                item = std::move(s.items.front());
                s.items.pop_front();
                if (item.turn) {
                    // The sync caller now holds the queue; it releases it.
                    item.turn->grant();
                    return;
                }
            }
            HeldFrame frame(q.get());
            runLogged(*q, item.block);
        }
        submitDrain(q, s);
    }

    static void serialScheduleLocked(DispatchQueue& q, State& s) {
        if (s.busy) return;
        s.busy = true;
        submitDrain(q.shared_from_this(), s);
    }

    static void serialRelease(const std::shared_ptr<DispatchQueue>& q, State& s) {
        std::lock_guard lock(s.mutex);
        if (s.items.empty()) {
            s.busy = false;
            return;
        }
        submitDrain(q, s);
    }

    // ---- concurrent ----
    // The queue is kept alive by `s.alive` while the job waits or runs.
    static void submitConcurrent(DispatchQueue& q, State& s, DispatchQueue::Block block, bool barrier) {
        detail::PoolJob job;
        job.run = runConcurrentJob;
        job.queue = &q;
        job.context = &s;
        job.block = std::move(block);
        job.barrier = barrier;
        detail::WorkerPool::shared().submit(std::move(job));
    }

    static void runConcurrentJob(detail::PoolJob& job) {
        {
            HeldFrame frame(job.queue);
            runLogged(*job.queue, job.block);
        }
        concurrentDone(*job.queue, *static_cast<State*>(job.context), job.barrier);
    }

    static void holdLocked(DispatchQueue& q, State& s) {
        if (!s.alive) s.alive = q.shared_from_this();
    }

    // Counts one more block in flight unless the queue is on its slow path.
    // The first block in flight makes the queue hold itself.
    static bool tryEnterFast(DispatchQueue& q, State& s) {
        std::uint64_t g = s.gate.load(std::memory_order_acquire);
        while (!(g & State::kSlow)) {
            if (s.gate.compare_exchange_weak(g, g + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
                if ((g & State::kCount) == 0) {
                    std::lock_guard lock(s.mutex);
                    holdLocked(q, s);
                }
                return true;
            }
        }
        return false;
    }

    static void concurrentPumpLocked(DispatchQueue& q, State& s) {
        while (!s.items.empty() && !s.barrierRunning) {
            State::Item& front = s.items.front();
            const bool barrier = front.barrier;
            if (barrier) {
                // Wait for the blocks in flight; the last one to finish pumps again.
                if ((s.gate.load(std::memory_order_acquire) & State::kCount) != 0) return;
                s.barrierRunning = true;
            } else {
                s.gate.fetch_add(1, std::memory_order_relaxed);
            }
            State::Item item = std::move(front);
            s.items.pop_front();
            if (item.turn)
                item.turn->grant();
            else
                submitConcurrent(q, s, std::move(item.block), barrier);
            if (barrier) return;
        }
        if (s.items.empty() && !s.barrierRunning) s.gate.fetch_and(~State::kSlow, std::memory_order_release);
    }

    static void concurrentDone(DispatchQueue& q, State& s, bool barrier) {
        if (!barrier) {
            // A block that is not the last one out counts itself out and is
            // done. The last one counts itself out under the lock: until
            // then its count keeps the queue held, and once it is out the
            // queue may go at any time.
            std::uint64_t g = s.gate.load(std::memory_order_acquire);
            while ((g & State::kCount) != 1)
                if (s.gate.compare_exchange_weak(g, g - 1, std::memory_order_acq_rel, std::memory_order_acquire))
                    return;
        }
        // Released after the lock: it may be the last reference, and the
        // lock is the queue's own.
        std::shared_ptr<DispatchQueue> release;
        {
            std::lock_guard lock(s.mutex);
            if (barrier) {
                s.barrierRunning = false;
            } else if ((s.gate.fetch_sub(1, std::memory_order_acq_rel) & State::kCount) != 1) {
                return;  // another block came in meanwhile
            }
            // The last block out: start what waits in front of a barrier,
            // or let the queue go.
            concurrentPumpLocked(q, s);
            if ((s.gate.load(std::memory_order_acquire) & State::kCount) == 0 && !s.barrierRunning &&
                s.items.empty())
                release = std::move(s.alive);
        }
    }

    static void concurrentQueueLocked(DispatchQueue& q, State& s, State::Item item) {
        holdLocked(q, s);
        s.items.push_back(std::move(item));
        s.gate.fetch_or(State::kSlow, std::memory_order_acq_rel);
        concurrentPumpLocked(q, s);
    }

    // ---- any queue ----
    static void submit(DispatchQueue& q, State& s, DispatchQueue::Block block, bool barrier) {
        switch (q.kind()) {
        case Kind::Main:
            RunLoop::main()->perform([q = q.shared_from_this(), block = std::move(block)] {
                HeldFrame frame(q.get());
                runLogged(*q, block);
            });
            return;
        case Kind::Global: {
            // No barriers and no width: straight to the pool. Global queues
            // live for ever, so the job holds no reference.
            detail::PoolJob job;
            job.run = runGlobalJob;
            job.queue = &q;
            job.block = std::move(block);
            detail::WorkerPool::shared().submit(std::move(job));
            return;
        }
        case Kind::Concurrent:
            if (!barrier && tryEnterFast(q, s)) {
                submitConcurrent(q, s, std::move(block), false);
                return;
            }
            {
                std::lock_guard lock(s.mutex);
                concurrentQueueLocked(q, s, State::Item{std::move(block), barrier, nullptr});
            }
            return;
        case Kind::Serial: {
            std::lock_guard lock(s.mutex);
            s.items.push_back(State::Item{std::move(block), false, nullptr});
            serialScheduleLocked(q, s);
            return;
        }
        }
    }

    static void syncMain(const std::shared_ptr<DispatchQueue>& q, const DispatchQueue::Block& block) {
        struct Done {
            std::mutex mutex;
            std::condition_variable cv;
            bool done = false;
            std::exception_ptr error;
        };
        auto done = std::make_shared<Done>();
        RunLoop::main()->perform([q, done, &block] {
            {
                HeldFrame frame(q.get());
                try {
                    block();
                } catch (...) {
                    done->error = std::current_exception();
                }
            }
            std::lock_guard lock(done->mutex);
            done->done = true;
            done->cv.notify_one();
        });
        {
            std::unique_lock lock(done->mutex);
            BlockingScope blocking;
            done->cv.wait(lock, [&] { return done->done; });
        }
        if (done->error) std::rethrow_exception(done->error);
    }

    static void sync(DispatchQueue& q, State& s, const DispatchQueue::Block& block, bool barrier) {
        if (q.isCurrent() || q.kind() == Kind::Global) {
            // Re-entrant (this thread already holds the queue), or a global
            // queue, where there is nothing to wait for: run it here.
            HeldFrame frame(&q);
            block();
            return;
        }
        if (q.kind() == Kind::Main) {
            syncMain(q.shared_from_this(), block);
            return;
        }
        const bool serial = q.kind() == Kind::Serial;
        const bool realBarrier = barrier && !serial;
        const std::shared_ptr<DispatchQueue> self = q.shared_from_this();
        struct Release {
            const std::shared_ptr<DispatchQueue>& q;
            State& s;
            bool serial, barrier;
            ~Release() {
                if (serial)
                    serialRelease(q, s);
                else
                    concurrentDone(*q, s, barrier);
            }
        };
        if (!serial && !realBarrier && tryEnterFast(q, s)) {
            Release release{self, s, false, false};
            HeldFrame frame(&q);
            block();
            return;
        }
        auto turn = std::make_shared<SyncTurn>();
        {
            std::lock_guard lock(s.mutex);
            if (serial) {
                if (!s.busy && s.items.empty()) {
                    s.busy = true;
                    turn->granted = true;
                } else {
                    s.items.push_back(State::Item{nullptr, false, turn});
                    serialScheduleLocked(q, s);
                }
            } else {
                concurrentQueueLocked(q, s, State::Item{nullptr, realBarrier, turn});
            }
        }
        turn->await();
        Release release{self, s, serial, realBarrier};
        HeldFrame frame(&q);
        block();
    }
};

}  // namespace

DispatchQueue::DispatchQueue(Kind kind, std::string label)
    : kind_(kind), label_(std::move(label)), state_(std::make_unique<State>()) {}

DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
    static auto* q = new std::shared_ptr<DispatchQueue>(new DispatchQueue(Kind::Main, "main"));
    return *q;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos) {
    static auto* queues = [] {
        auto* v = new std::vector<std::shared_ptr<DispatchQueue>>();
        for (const char* name : {"global.user-interactive", "global.user-initiated", "global.default",
                                 "global.utility", "global.background"})
            v->push_back(std::shared_ptr<DispatchQueue>(new DispatchQueue(Kind::Global, name)));
        return v;
    }();
    return (*queues)[static_cast<std::size_t>(qos)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::serial(std::string label) {
    return std::shared_ptr<DispatchQueue>(new DispatchQueue(Kind::Serial, std::move(label)));
}

std::shared_ptr<DispatchQueue> DispatchQueue::concurrent(std::string label) {
    return std::shared_ptr<DispatchQueue>(new DispatchQueue(Kind::Concurrent, std::move(label)));
}

void DispatchQueue::async(Block block) { Engine::submit(*this, *state_, std::move(block), false); }

void DispatchQueue::asyncBarrier(Block block) { Engine::submit(*this, *state_, std::move(block), true); }

void DispatchQueue::sync(const Block& block) { Engine::sync(*this, *state_, block, false); }

void DispatchQueue::syncBarrier(const Block& block) { Engine::sync(*this, *state_, block, true); }

void DispatchQueue::after(Clock::Duration delay, Block block) {
    auto self = shared_from_this();
    detail::TimerScheduler::shared().schedule(detail::TimerScheduler::deadlineAfter(delay),
                                              [self, block = std::move(block)]() mutable { self->async(std::move(block)); });
}

void DispatchQueue::setSpecific(SpecificKey key, void* value) {
    std::lock_guard lock(state_->specificMutex);
    if (value)
        state_->specifics[key] = value;
    else
        state_->specifics.erase(key);
}

void* DispatchQueue::getSpecific(SpecificKey key) const {
    std::lock_guard lock(state_->specificMutex);
    auto it = state_->specifics.find(key);
    return it == state_->specifics.end() ? nullptr : it->second;
}

void* DispatchQueue::getCurrentSpecific(SpecificKey key) {
    for (auto it = tlsHeld.rbegin(); it != tlsHeld.rend(); ++it)
        if (void* v = (*it)->getSpecific(key)) return v;
    if (RunLoop::isMainThread()) return main()->getSpecific(key);
    return nullptr;
}

bool DispatchQueue::isCurrent() const {
    for (const DispatchQueue* q : tlsHeld)
        if (q == this) return true;
    return kind_ == Kind::Main && RunLoop::isMainThread();
}

std::string DispatchQueue::currentLabel() {
    if (!tlsHeld.empty()) return tlsHeld.back()->label();
    if (RunLoop::isMainThread()) return main()->label();
    return {};
}

std::size_t DispatchQueue::workerThreadCount() { return detail::WorkerPool::shared().threadCount(); }

}  // namespace pellix::platform
