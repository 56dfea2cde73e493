// The worker pool under stress: wake-ups that must not get lost when many
// producers race workers going to sleep, growth when every worker blocks,
// surplus threads leaving, barriers on a concurrent queue fed from many
// threads, and queues kept alive by their pending blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/DispatchGroup.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/WorkerPool.h"

using namespace pellix::platform;

namespace {

std::shared_ptr<DispatchQueue> queueOfKind(const std::string& kind) {
    return kind == "global" ? DispatchQueue::global() : DispatchQueue::concurrent("pool." + kind);
}

std::size_t coreTarget() { return std::max<std::size_t>(2, std::thread::hardware_concurrency()); }

}  // namespace

class PoolQueues : public ::testing::TestWithParam<const char*> {};

// Producers queue small bursts and wait for them, over and over, with uneven
// gaps around the workers' spin: submits keep landing while workers are
// finishing, spinning or just going to sleep. A lost wake-up shows as a burst
// that waits until a sleeping worker's idle time-out, so the wait is bounded
// below that. One producer alone is the sharpest case: no other traffic
// wakes a worker for it.
TEST_P(PoolQueues, BurstsFromProducersAllRunWhileWorkersComeAndGo) {
    auto q = queueOfKind(GetParam());
    const double stallSeconds = detail::WorkerPool::kIdleSeconds - 1.0;
    const int burstSizes[] = {1, 1, 2, 5, 1, 64};
    for (const int producerCount : {1, 8}) {
        SCOPED_TRACE(std::to_string(producerCount) + " producers");
        const int rounds = producerCount == 1 ? 600 : 150;
        std::atomic<int> stuck{0};
        std::atomic<long> ran{0}, expected{0};
        std::vector<std::thread> producers;
        for (int p = 0; p < producerCount; ++p) {
            producers.emplace_back([&, p] {
                std::minstd_rand rng(p + 1);
                auto done = DispatchSemaphore::create(0);
                for (int r = 0; r < rounds && stuck.load() == 0; ++r) {
                    const int burst = burstSizes[(r + p) % std::size(burstSizes)];
                    expected.fetch_add(burst);
                    auto left = std::make_shared<std::atomic<int>>(burst);
                    for (int i = 0; i < burst; ++i)
                        q->async([&ran, left, done] {
                            ran.fetch_add(1);
                            if (left->fetch_sub(1) == 1) done->signal();
                        });
                    if (!done->waitSeconds(stallSeconds)) {
                        ++stuck;
                        done->wait();  // the blocks still use `left` and `done`, which they share
                        return;
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 60));
                }
            });
        }
        for (auto& t : producers) t.join();
        EXPECT_EQ(stuck.load(), 0) << "a burst waited for a worker's idle time-out: a wake-up was lost";
        EXPECT_EQ(ran.load(), expected.load());
    }
}

// Every worker ends up blocked in a marked wait; the block that releases them
// is queued only after that. The pool must start a thread for it.
TEST_P(PoolQueues, GrowsWhenEveryWorkerBlocksAndSurplusThreadsLeaveWhenIdle) {
    auto q = queueOfKind(GetParam());
    const std::size_t blockers = 2 * coreTarget();
    DispatchSemaphore entered(0), gate(0);
    auto group = DispatchGroup::create();
    for (std::size_t i = 0; i < blockers; ++i)
        group->async(q, [&] {
            entered.signal();
            gate.wait();
        });
    for (std::size_t i = 0; i < blockers; ++i)
        ASSERT_TRUE(entered.waitSeconds(30)) << "only " << i << " blockers started: the pool did not grow";
    EXPECT_GE(DispatchQueue::workerThreadCount(), blockers);

    q->async([&] {
        for (std::size_t i = 0; i < blockers; ++i) gate.signal();
    });
    ASSERT_TRUE(group->waitSeconds(30)) << "the releasing block never ran";

    // Threads beyond the core count leave after a few idle seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (DispatchQueue::workerThreadCount() > coreTarget() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LE(DispatchQueue::workerThreadCount(), coreTarget());

    // The pool still works after shrinking.
    DispatchSemaphore again(0);
    q->async([&] { again.signal(); });
    EXPECT_TRUE(again.waitSeconds(30));
}

INSTANTIATE_TEST_SUITE_P(Kinds, PoolQueues, ::testing::Values("global", "concurrent"));

// Plain blocks from eight threads (queued and synchronous) interleaved with
// barriers: a barrier runs alone, after every block its thread queued before
// it, and before every block its thread queues after it.
TEST(ConcurrentQueueStress, BarriersStayExclusiveAndOrderedAmongManyProducers) {
    auto q = DispatchQueue::concurrent("stress.barriers");
    constexpr int kThreads = 8;
    constexpr int kPerThread = 600;
    std::atomic<int> inFlight{0};
    std::atomic<bool> barrierRunning{false};
    std::atomic<int> faults{0};
    std::vector<std::atomic<int>> blocksDone(kThreads), barriersDone(kThreads);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            int submitted = 0, barriers = 0;
            for (int i = 0; i < kPerThread; ++i) {
                if (i % 40 == 39) {
                    const int before = submitted;
                    ++barriers;
                    q->asyncBarrier([&, t, before] {
                        if (barrierRunning.exchange(true)) ++faults;
                        if (inFlight.load() != 0) ++faults;
                        if (blocksDone[t].load() < before) ++faults;
                        barrierRunning = false;
                        barriersDone[t].fetch_add(1);
                    });
                    continue;
                }
                const int barriersBefore = barriers;
                auto block = [&, t, barriersBefore] {
                    inFlight.fetch_add(1);
                    if (barrierRunning.load()) ++faults;
                    if (barriersDone[t].load() < barriersBefore) ++faults;
                    inFlight.fetch_sub(1);
                    blocksDone[t].fetch_add(1);
                };
                ++submitted;
                if (i % 7 == 0)
                    q->sync(block);
                else
                    q->async(block);
            }
        });
    }
    for (auto& th : threads) th.join();
    q->syncBarrier([] {});
    EXPECT_EQ(faults.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(barriersDone[t].load(), kPerThread / 40);
        EXPECT_EQ(blocksDone[t].load(), kPerThread - kPerThread / 40);
    }
}

// Short-lived queues, let go of as soon as their blocks have signalled and
// one more was queued: a block's end, still running on a worker while the
// next block starts and ends on another, must not find its queue gone. A
// race of a few instructions, so this only makes it likely, under ASan.
TEST(QueueLifetime, QueuesDroppedRightAfterTheirBlocksSignalled) {
    std::atomic<int> late{0};
    for (int round = 0; round < 2000; ++round) {
        auto q = DispatchQueue::concurrent("short-lived");
        auto group = DispatchGroup::create();
        for (int i = 0; i < 3; ++i) group->async(q, [] {});
        ASSERT_TRUE(group->waitSeconds(30));
        q->async([&late] { late.fetch_add(1); });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (late.load() < 2000 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(late.load(), 2000);
}

// A queue whose creator lets go of it while blocks wait still runs them all,
// barriers included, and is freed after the last one; also a concurrent
// queue that has only ever run plain blocks, after it went idle and busy
// again many times.
TEST(QueueLifetime, PendingBlocksKeepADroppedQueueAliveUntilTheyRan) {
    enum Kind { kSerial, kConcurrent, kConcurrentNoBarrier };
    for (const Kind kind : {kSerial, kConcurrent, kConcurrentNoBarrier}) {
        SCOPED_TRACE(kind == kSerial ? "serial" : kind == kConcurrent ? "concurrent" : "concurrent, no barrier");
        auto q = kind == kSerial ? DispatchQueue::serial("dropped") : DispatchQueue::concurrent("dropped");
        std::weak_ptr<DispatchQueue> weak = q;
        std::atomic<int> ran{0};
        for (int i = 0; i < 200; ++i) {
            q->async([&] { ran.fetch_add(1); });
            if (i % 2) q->sync([] {});
        }
        q->syncBarrier([] {});
        EXPECT_EQ(ran.exchange(0), 200);
        DispatchSemaphore gate(0);
        auto group = DispatchGroup::create();
        group->async(q, [&] { gate.wait(); });
        for (int i = 0; i < 50; ++i) group->async(q, [&] { ran.fetch_add(1); });
        if (kind != kConcurrentNoBarrier) {
            group->enter();
            q->asyncBarrier([&, group] {
                ran.fetch_add(1);
                group->leave();
            });
        }
        for (int i = 0; i < 50; ++i) group->async(q, [&] { ran.fetch_add(1); });
        q.reset();
        gate.signal();
        ASSERT_TRUE(group->waitSeconds(30));
        EXPECT_EQ(ran.load(), kind == kConcurrentNoBarrier ? 100 : 101);
        // The last job lets go of the queue just after its block finished.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!weak.expired() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(weak.expired());
    }
}
