// Dispatch throughput: how fast blocks go through serial, concurrent and
// global queues, how long an idle pool takes to start a block, and what
// scheduling and firing timers costs.
//
// Two throughput figures per queue kind:
// - BM_Async<Kind>: every block goes through a DispatchGroup (enter/leave per
//   block), as the library's callers mostly do;
// - BM_Queue<Kind>: the queue alone; each block counts an atomic down and the
//   last one signals a semaphore the producer waits on. With Threads(8) eight
//   producers feed the same queue, each waiting for its own batch.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/DispatchGroup.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/DispatchTimer.h"
#include "platform/ManualClock.h"
#include "platform/RunLoop.h"
#include "platform/Timer.h"

using namespace pellix::platform;

namespace {

constexpr int kBatch = 10000;

// Queues a batch of empty-ish blocks and waits for the last one.
void asyncBatch(benchmark::State& state, const std::shared_ptr<DispatchQueue>& q) {
    std::atomic<int> counter{0};
    for (auto _ : state) {
        auto group = DispatchGroup::create();
        for (int i = 0; i < kBatch; ++i) group->async(q, [&counter] { counter.fetch_add(1, std::memory_order_relaxed); });
        group->wait();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_AsyncSerial(benchmark::State& state) { asyncBatch(state, DispatchQueue::serial("bench.serial")); }
BENCHMARK(BM_AsyncSerial)->UseRealTime();

void BM_AsyncConcurrent(benchmark::State& state) { asyncBatch(state, DispatchQueue::concurrent("bench.concurrent")); }
BENCHMARK(BM_AsyncConcurrent)->UseRealTime();

void BM_AsyncGlobal(benchmark::State& state) { asyncBatch(state, DispatchQueue::global()); }
BENCHMARK(BM_AsyncGlobal)->UseRealTime();

// The queue alone: no group around the blocks.
void queueBatch(benchmark::State& state, const std::shared_ptr<DispatchQueue>& q) {
    std::atomic<int> remaining{0};
    DispatchSemaphore done(0);
    for (auto _ : state) {
        remaining.store(kBatch, std::memory_order_relaxed);
        for (int i = 0; i < kBatch; ++i)
            q->async([&remaining, &done] {
                if (remaining.fetch_sub(1, std::memory_order_acq_rel) == 1) done.signal();
            });
        done.wait();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_QueueSerial(benchmark::State& state) {
    static auto q = DispatchQueue::serial("bench.queue.serial");
    queueBatch(state, q);
}
BENCHMARK(BM_QueueSerial)->Threads(1)->UseRealTime();

void BM_QueueConcurrent(benchmark::State& state) {
    static auto q = DispatchQueue::concurrent("bench.queue.concurrent");
    queueBatch(state, q);
}
BENCHMARK(BM_QueueConcurrent)->Threads(1)->Threads(8)->UseRealTime();

void BM_QueueGlobal(benchmark::State& state) { queueBatch(state, DispatchQueue::global()); }
BENCHMARK(BM_QueueGlobal)->Threads(1)->Threads(8)->UseRealTime();

// From `async` to the block starting, on an idle pool: each sample waits
// until the workers have gone back to sleep before queueing the next block.
// Samples of the first second are left out: right after the throughput runs
// above, wake-ups are several times slower for a while, whichever queue kind
// comes first; that is the machine settling, not the pool's idle state.
void startLatency(benchmark::State& state, const std::shared_ptr<DispatchQueue>& q) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> micros;
    DispatchSemaphore started(0);
    Clock::time_point begin, began;
    const auto sample = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        begin = Clock::now();
        q->async([&began, &started] {
            began = Clock::now();
            started.signal();
        });
        started.wait();
        return std::chrono::duration<double, std::micro>(began - begin).count();
    };
    for (const auto warm = Clock::now() + std::chrono::seconds(1); Clock::now() < warm;) sample();
    for (auto _ : state) micros.push_back(sample());
    std::sort(micros.begin(), micros.end());
    const auto at = [&micros](double f) {
        return micros.empty() ? 0.0 : micros[std::min(micros.size() - 1, static_cast<std::size_t>(f * micros.size()))];
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = micros.empty() ? 0.0 : micros.back();
}

void BM_StartLatencyGlobal(benchmark::State& state) { startLatency(state, DispatchQueue::global()); }
BENCHMARK(BM_StartLatencyGlobal)->Iterations(2000)->UseRealTime();

void BM_StartLatencyConcurrent(benchmark::State& state) {
    static auto q = DispatchQueue::concurrent("bench.latency.concurrent");
    startLatency(state, q);
}
BENCHMARK(BM_StartLatencyConcurrent)->Iterations(2000)->UseRealTime();

// Several producer threads feeding one serial queue.
void BM_AsyncSerialContended(benchmark::State& state) {
    static std::shared_ptr<DispatchQueue> q = DispatchQueue::serial("bench.contended");
    std::atomic<int> counter{0};
    for (auto _ : state) {
        for (int i = 0; i < kBatch / 10; ++i) q->async([&counter] { counter.fetch_add(1, std::memory_order_relaxed); });
    }
    q->sync([] {});
    state.SetItemsProcessed(state.iterations() * (kBatch / 10));
}
BENCHMARK(BM_AsyncSerialContended)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();

// Uncontended sync onto a serial queue (runs inline on the caller).
void BM_SyncSerial(benchmark::State& state) {
    auto q = DispatchQueue::serial("bench.sync");
    int x = 0;
    for (auto _ : state) q->sync([&x] { ++x; });
    benchmark::DoNotOptimize(x);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SyncSerial);

// Main-queue blocks through the run loop, pumped on this thread.
void BM_MainQueuePumped(benchmark::State& state) {
    auto main = DispatchQueue::main();
    auto loop = RunLoop::main();
    int x = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) main->async([&x] { ++x; });
        while (loop->runOnce(0) > 0) {}
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MainQueuePumped);

// Scheduling and cancelling timers (deadline list insert/remove).
void BM_TimerScheduleInvalidate(benchmark::State& state) {
    std::vector<std::shared_ptr<Timer>> timers;
    timers.reserve(kBatch);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) timers.push_back(Timer::scheduled(3600.0 + i, false, [](Timer&) {}));
        for (auto& t : timers) t->invalidate();
        timers.clear();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_TimerScheduleInvalidate);

// Scheduling `after` blocks and firing them all through a manual clock.
void BM_AfterFireManualClock(benchmark::State& state) {
    auto clock = std::make_shared<ManualClock>();
    Clock::setShared(clock);
    auto q = DispatchQueue::serial("bench.after");
    std::atomic<int> fired{0};
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) q->after(0.001 * (i + 1), [&fired] { fired.fetch_add(1, std::memory_order_relaxed); });
        clock->advance(0.001 * (kBatch + 1));
        q->sync([] {});
    }
    Clock::setShared(nullptr);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_AfterFireManualClock)->UseRealTime();

// A repeating queue timer firing as fast as the clock allows.
void BM_QueueTimerFiring(benchmark::State& state) {
    auto clock = std::make_shared<ManualClock>();
    Clock::setShared(clock);
    auto q = DispatchQueue::serial("bench.timer");
    auto t = DispatchTimer::create(q);
    DispatchSemaphore tick(0);
    t->setEventHandler([&tick] { tick.signal(); });
    t->setTimer(0.001, 0.001);
    t->resume();
    for (auto _ : state) {
        clock->advance(0.001);
        tick.wait();
    }
    t->cancel();
    Clock::setShared(nullptr);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueueTimerFiring)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
