#include "platform/DispatchQueue.h"

#include <condition_variable>
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

    mutable std::mutex mutex;
    std::deque<Item> items;
    // Serial: a drainer is scheduled or a sync caller holds the queue.
    bool busy = false;
    // Concurrent: blocks in flight, and whether a barrier runs.
    std::size_t running = 0;
    bool barrierRunning = false;

    mutable std::mutex specificMutex;
    std::unordered_map<SpecificKey, void*> specifics;
};

namespace {

// The queue machinery, kept out of the header.
struct Engine {
    using State = DispatchQueue::State;

    // ---- serial ----
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
        detail::WorkerPool::shared().submit([q, &s] { serialDrain(q, s); });
    }

    static void serialScheduleLocked(const std::shared_ptr<DispatchQueue>& q, State& s) {
        if (s.busy) return;
        s.busy = true;
        detail::WorkerPool::shared().submit([q, &s] { serialDrain(q, s); });
    }

    static void serialRelease(const std::shared_ptr<DispatchQueue>& q, State& s) {
        std::lock_guard lock(s.mutex);
        if (s.items.empty()) {
            s.busy = false;
            return;
        }
        detail::WorkerPool::shared().submit([q, &s] { serialDrain(q, s); });
    }

    // ---- concurrent ----
    static void concurrentPumpLocked(const std::shared_ptr<DispatchQueue>& q, State& s) {
        while (!s.items.empty() && !s.barrierRunning) {
            State::Item& front = s.items.front();
            const bool barrier = front.barrier && q->kind() == DispatchQueue::Kind::Concurrent;
            if (barrier) {
                if (s.running > 0) return;
                s.barrierRunning = true;
            } else {
                ++s.running;
            }
            State::Item item = std::move(front);
            s.items.pop_front();
            if (item.turn) {
                item.turn->grant();
            } else {
                detail::WorkerPool::shared().submit([q, &s, barrier, block = std::move(item.block)] {
                    {
                        HeldFrame frame(q.get());
                        runLogged(*q, block);
                    }
                    concurrentDone(q, s, barrier);
                });
            }
            if (barrier) return;
        }
    }

    static void concurrentDone(const std::shared_ptr<DispatchQueue>& q, State& s, bool barrier) {
        std::lock_guard lock(s.mutex);
        if (barrier)
            s.barrierRunning = false;
        else
            --s.running;
        concurrentPumpLocked(q, s);
    }

    static void submit(const std::shared_ptr<DispatchQueue>& q, State& s, DispatchQueue::Block block, bool barrier) {
        if (q->kind() == DispatchQueue::Kind::Main) {
            RunLoop::main()->perform([q, block = std::move(block)] {
                HeldFrame frame(q.get());
                runLogged(*q, block);
            });
            return;
        }
        if (q->kind() == DispatchQueue::Kind::Global) {
            // No barriers and no width: straight to the pool.
            detail::WorkerPool::shared().submit([q, block = std::move(block)] {
                HeldFrame frame(q.get());
                runLogged(*q, block);
            });
            return;
        }
        std::lock_guard lock(s.mutex);
        s.items.push_back(State::Item{std::move(block), barrier, nullptr});
        if (q->kind() == DispatchQueue::Kind::Serial)
            serialScheduleLocked(q, s);
        else
            concurrentPumpLocked(q, s);
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

    static void sync(const std::shared_ptr<DispatchQueue>& q, State& s, const DispatchQueue::Block& block,
                     bool barrier) {
        if (q->isCurrent()) {
            // Re-entrant: this thread already holds the queue.
            HeldFrame frame(q.get());
            block();
            return;
        }
        if (q->kind() == DispatchQueue::Kind::Main) {
            syncMain(q, block);
            return;
        }
        if (q->kind() == DispatchQueue::Kind::Global) {
            // Nothing to wait for on a global queue: run it here.
            HeldFrame frame(q.get());
            block();
            return;
        }
        const bool serial = q->kind() == DispatchQueue::Kind::Serial;
        const bool realBarrier = barrier && q->kind() == DispatchQueue::Kind::Concurrent;
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
                s.items.push_back(State::Item{nullptr, realBarrier, turn});
                concurrentPumpLocked(q, s);
            }
        }
        turn->await();
        struct Release {
            const std::shared_ptr<DispatchQueue>& q;
            State& s;
            bool serial, barrier;
            ~Release() {
                if (serial)
                    serialRelease(q, s);
                else
                    concurrentDone(q, s, barrier);
            }
        } release{q, s, serial, realBarrier};
        HeldFrame frame(q.get());
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

void DispatchQueue::async(Block block) { Engine::submit(shared_from_this(), *state_, std::move(block), false); }

void DispatchQueue::asyncBarrier(Block block) { Engine::submit(shared_from_this(), *state_, std::move(block), true); }

void DispatchQueue::sync(const Block& block) { Engine::sync(shared_from_this(), *state_, block, false); }

void DispatchQueue::syncBarrier(const Block& block) { Engine::sync(shared_from_this(), *state_, block, true); }

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
