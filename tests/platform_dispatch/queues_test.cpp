// Serial, concurrent, global and main queues: order, barriers, sync without
// deadlock, queue-specific marks, and a pool that grows when workers block.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <stdexcept>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/BlockingScope.h"
#include "platform/DispatchGroup.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/RunLoop.h"

using namespace pellix::platform;

TEST(SerialQueue, KeepsEachProducersOrderAndRunsOneBlockAtATime) {
    constexpr int kProducers = 8;
    constexpr int kPerProducer = 2000;
    auto q = DispatchQueue::serial("serial.order");
    std::vector<int> lastSeen(kProducers, -1);  // touched only on the queue
    std::atomic<int> inFlight{0};
    std::atomic<bool> overlapped{false}, outOfOrder{false};
    int total = 0;  // touched only on the queue

    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                q->async([&, p, i] {
                    if (inFlight.fetch_add(1) != 0) overlapped = true;
                    if (lastSeen[p] != i - 1) outOfOrder = true;
                    lastSeen[p] = i;
                    ++total;
                    inFlight.fetch_sub(1);
                });
            }
        });
    }
    for (auto& t : producers) t.join();
    int seen = 0;
    q->sync([&] { seen = total; });
    EXPECT_EQ(seen, kProducers * kPerProducer);
    EXPECT_FALSE(overlapped.load());
    EXPECT_FALSE(outOfOrder.load());
}

TEST(SerialQueue, SyncWaitsForEarlierBlocksAndRunsOnTheCallingThread) {
    auto q = DispatchQueue::serial("serial.sync");
    std::vector<int> order;
    DispatchSemaphore gate(0);
    q->async([&] {
        gate.wait();
        order.push_back(1);
    });
    q->async([&] { order.push_back(2); });
    std::thread::id ranOn;
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate.signal();
    });
    q->sync([&] {
        order.push_back(3);
        ranOn = std::this_thread::get_id();
        EXPECT_TRUE(q->isCurrent());
        EXPECT_EQ(DispatchQueue::currentLabel(), "serial.sync");
    });
    releaser.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(q->isCurrent());
}

TEST(SerialQueue, NestedSyncAcrossQueuesDoesNotDeadlock) {
    auto a = DispatchQueue::serial("a");
    auto b = DispatchQueue::serial("b");
    auto c = DispatchQueue::concurrent("c");
    DispatchSemaphore done(0);
    std::vector<std::string> trail;  // only touched while holding a
    a->async([&] {
        trail.push_back("a");
        b->sync([&] {
            EXPECT_TRUE(a->isCurrent()) << "a is still held further out";
            EXPECT_TRUE(b->isCurrent());
            c->syncBarrier([&] {
                a->sync([&] { trail.push_back("a-again"); });  // re-entrant: inline
                b->sync([&] { trail.push_back("b-again"); });
            });
        });
        a->sync([&] { trail.push_back("a-self"); });
        done.signal();
    });
    ASSERT_TRUE(done.waitSeconds(5)) << "deadlock";
    a->sync([&] { EXPECT_EQ(trail, (std::vector<std::string>{"a", "a-again", "b-again", "a-self"})); });
}

TEST(SerialQueue, SyncFromTwoQueuesOntoEachOtherFromOutsideCompletes) {
    // Two queues that keep syncing onto a shared third one while it is busy.
    auto shared = DispatchQueue::serial("shared");
    auto q1 = DispatchQueue::serial("q1");
    auto q2 = DispatchQueue::serial("q2");
    std::atomic<int> n{0};
    auto group = DispatchGroup::create();
    for (int i = 0; i < 200; ++i) {
        group->async(q1, [&] { shared->sync([&] { ++n; }); });
        group->async(q2, [&] { shared->sync([&] { ++n; }); });
        shared->async([&] { ++n; });
    }
    ASSERT_TRUE(group->waitSeconds(10));
    shared->sync([] {});
    EXPECT_EQ(n.load(), 600);
}

TEST(ConcurrentQueue, BarrierRunsAloneBetweenEarlierAndLaterBlocks) {
    auto q = DispatchQueue::concurrent("conc");
    std::atomic<int> running{0}, maxRunning{0};
    std::atomic<int> beforeDone{0};
    std::atomic<bool> barrierAlone{true}, barrierSawAllBefore{false}, afterSawBarrier{true};
    std::atomic<bool> barrierDone{false};
    DispatchSemaphore started(0), release(0);
    constexpr int kBefore = 6;
    for (int i = 0; i < kBefore; ++i) {
        q->async([&] {
            int r = ++running;
            int m = maxRunning.load();
            while (r > m && !maxRunning.compare_exchange_weak(m, r)) {}
            started.signal();
            release.wait();
            ++beforeDone;
            --running;
        });
    }
    q->asyncBarrier([&] {
        if (running.load() != 0) barrierAlone = false;
        barrierSawAllBefore = beforeDone.load() == kBefore;
        barrierDone = true;
    });
    for (int i = 0; i < 4; ++i)
        q->async([&] {
            if (!barrierDone.load()) afterSawBarrier = false;
        });
    for (int i = 0; i < kBefore; ++i) ASSERT_TRUE(started.waitSeconds(5)) << "blocks before a barrier run together";
    for (int i = 0; i < kBefore; ++i) release.signal();
    q->syncBarrier([] {});
    EXPECT_EQ(maxRunning.load(), kBefore);
    EXPECT_TRUE(barrierAlone.load());
    EXPECT_TRUE(barrierSawAllBefore.load());
    EXPECT_TRUE(afterSawBarrier.load());
}

TEST(ConcurrentQueue, SyncReadsSeeEarlierBarrierWrites) {
    // The header-map pattern: writes as async barriers, reads as sync blocks.
    auto q = DispatchQueue::concurrent("headers");
    std::map<std::string, int> map;
    std::vector<std::thread> threads;
    std::atomic<bool> stale{false};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                const std::string key = "k" + std::to_string(t);
                q->asyncBarrier([&, key, i] { map[key] = i; });
                int v = -1;
                q->sync([&] { v = map.count(key) ? map[key] : -1; });
                if (v != i) stale = true;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_FALSE(stale.load());
}

TEST(GlobalQueue, BarrierIsAPlainBlock) {
    auto g = DispatchQueue::global(QoS::Utility);
    DispatchSemaphore inside(0), release(0), barrierRan(0);
    auto group = DispatchGroup::create();
    group->async(g, [&] {
        inside.signal();
        release.wait();
    });
    ASSERT_TRUE(inside.waitSeconds(5));
    g->asyncBarrier([&] { barrierRan.signal(); });
    EXPECT_TRUE(barrierRan.waitSeconds(5)) << "a global barrier must not wait for running blocks";
    release.signal();
    group->wait();  // the block still uses `release`
}

// A chain of tasks where each waits for the next one to start: the pool has
// to grow past its core count or the chain never ends.
class BlockedWorkers : public ::testing::TestWithParam<const char*> {};

TEST_P(BlockedWorkers, TasksWaitingOnLaterTasksAllComplete) {
    constexpr int kTasks = 96;
    const std::string kind = GetParam();
    auto q = kind == "global" ? DispatchQueue::global() : DispatchQueue::concurrent("chain");
    std::vector<std::unique_ptr<DispatchSemaphore>> released;
    for (int i = 0; i < kTasks; ++i) released.push_back(std::make_unique<DispatchSemaphore>(0));
    // For the BlockingScope flavour the waits are plain condition variables.
    std::mutex m;
    std::condition_variable cv;
    std::vector<bool> flags(kTasks, false);

    auto group = DispatchGroup::create();
    for (int i = 0; i < kTasks; ++i) {
        group->async(q, [&, i] {
            if (i > 0) {
                if (kind == "scope") {
                    std::lock_guard lock(m);
                    flags[i - 1] = true;
                    cv.notify_all();
                } else {
                    released[i - 1]->signal();
                }
            }
            if (i == kTasks - 1) return;
            if (kind == "scope") {
                BlockingScope blocking;
                std::unique_lock lock(m);
                cv.wait(lock, [&] { return flags[i]; });
            } else {
                released[i]->wait();
            }
        });
    }
    EXPECT_TRUE(group->waitSeconds(20)) << "workers starved";
    EXPECT_LE(DispatchQueue::workerThreadCount(), DispatchQueue::kMaxWorkerThreads);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BlockedWorkers, ::testing::Values("concurrent", "global", "scope"));

TEST(SerialQueues, ManyQueuesBlockedOnALaterQueueStillComplete) {
    // Each serial queue's block waits for the one queued after it: the same
    // starvation risk through serial queues' drainers.
    constexpr int kQueues = 48;
    std::vector<std::shared_ptr<DispatchQueue>> queues;
    std::vector<std::unique_ptr<DispatchSemaphore>> sems;
    for (int i = 0; i < kQueues; ++i) {
        queues.push_back(DispatchQueue::serial("s" + std::to_string(i)));
        sems.push_back(std::make_unique<DispatchSemaphore>(0));
    }
    auto group = DispatchGroup::create();
    for (int i = 0; i < kQueues; ++i) {
        group->async(queues[i], [&, i] {
            if (i > 0) sems[i - 1]->signal();
            if (i < kQueues - 1) sems[i]->wait();
        });
    }
    EXPECT_TRUE(group->waitSeconds(20));
}

TEST(QueueSpecific, MarksAreSeenOnlyOnTheMarkedQueueAndPerKey) {
    static int keyA, keyB;
    auto a = DispatchQueue::serial("spec.a");
    auto b = DispatchQueue::serial("spec.b");
    int valueA = 1, valueB = 2;
    a->setSpecific(&keyA, &valueA);
    b->setSpecific(&keyB, &valueB);
    EXPECT_EQ(a->getSpecific(&keyA), &valueA);
    EXPECT_EQ(a->getSpecific(&keyB), nullptr);
    EXPECT_EQ(DispatchQueue::getCurrentSpecific(&keyA), nullptr) << "the test thread is on no queue";

    a->sync([&] {
        EXPECT_EQ(DispatchQueue::getCurrentSpecific(&keyA), &valueA);
        EXPECT_EQ(DispatchQueue::getCurrentSpecific(&keyB), nullptr);
        b->sync([&] {
            EXPECT_EQ(DispatchQueue::getCurrentSpecific(&keyB), &valueB);
            EXPECT_EQ(DispatchQueue::getCurrentSpecific(&keyA), &valueA) << "a is held further out";
        });
    });
    DispatchSemaphore done(0);
    void* seen = nullptr;
    b->async([&] {
        seen = DispatchQueue::getCurrentSpecific(&keyB);
        done.signal();
    });
    ASSERT_TRUE(done.waitSeconds(5));
    EXPECT_EQ(seen, &valueB);

    a->setSpecific(&keyA, nullptr);
    a->sync([&] { EXPECT_EQ(DispatchQueue::getCurrentSpecific(&keyA), nullptr); });
}

TEST(MainQueue, BlocksRunOnTheThreadPumpingTheMainLoop) {
    auto main = DispatchQueue::main();
    EXPECT_TRUE(RunLoop::isMainThread()) << "the test thread is the process's initial thread";
    EXPECT_TRUE(main->isCurrent());
    EXPECT_EQ(DispatchQueue::currentLabel(), "main");

    std::atomic<int> ranOnMain{0};
    std::atomic<bool> done{false};
    // From a worker: async and sync onto main while the test thread pumps.
    DispatchQueue::global()->async([&] {
        EXPECT_FALSE(RunLoop::isMainThread());
        EXPECT_FALSE(main->isCurrent());
        main->async([&] {
            if (RunLoop::isMainThread()) ++ranOnMain;
        });
        main->sync([&] {
            if (RunLoop::isMainThread() && main->isCurrent()) ++ranOnMain;
        });
        done = true;
    });
    EXPECT_TRUE(RunLoop::main()->runUntil([&] { return done.load(); }, 5.0));
    EXPECT_EQ(ranOnMain.load(), 2);

    int inline_ = 0;
    main->sync([&] { ++inline_; });  // on the main thread: runs inline
    EXPECT_EQ(inline_, 1);
}

TEST(MainQueue, SyncFromWorkerRethrowsAndLoopSurvivesThrowingBlocks) {
    std::atomic<bool> caught{false}, done{false};
    DispatchQueue::main()->async([] { throw std::runtime_error("boom"); });
    DispatchQueue::global()->async([&] {
        try {
            DispatchQueue::main()->sync([] { throw std::runtime_error("sync boom"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        done = true;
    });
    EXPECT_TRUE(RunLoop::main()->runUntil([&] { return done.load(); }, 5.0));
    EXPECT_TRUE(caught.load());
}

TEST(SerialQueue, ThrowingBlockDoesNotStopTheQueue) {
    auto q = DispatchQueue::serial("throws");
    q->async([] { throw std::runtime_error("first"); });
    int after = 0;
    q->async([&] { after = 1; });
    q->sync([] {});
    EXPECT_EQ(after, 1);
}

TEST(DispatchGroupTest, NotifyBlocksRunInRegistrationOrderAfterAllWork) {
    auto group = DispatchGroup::create();
    auto work = DispatchQueue::concurrent("work");
    auto notifyQ = DispatchQueue::serial("notify");
    std::atomic<int> finished{0};
    DispatchSemaphore release(0);
    for (int i = 0; i < 5; ++i)
        group->async(work, [&] {
            release.wait();
            ++finished;
        });
    group->enter();  // manual work, too
    std::vector<int> order;  // touched on notifyQ only
    std::vector<int> finishedSeen;
    for (int i = 0; i < 3; ++i)
        group->notify(notifyQ, [&, i] {
            order.push_back(i);
            finishedSeen.push_back(finished.load());
        });
    EXPECT_FALSE(group->waitSeconds(0.05));
    for (int i = 0; i < 5; ++i) release.signal();
    EXPECT_FALSE(group->waitSeconds(0.05)) << "the manual enter is still open";
    group->leave();
    EXPECT_TRUE(group->waitSeconds(5));
    notifyQ->sync([] {});
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(finishedSeen, (std::vector<int>{5, 5, 5}));

    // An idle group notifies at once; an extra leave is ignored.
    DispatchSemaphore now(0);
    group->leave();
    EXPECT_EQ(group->count(), 0);
    group->notify(notifyQ, [&] { now.signal(); });
    EXPECT_TRUE(now.waitSeconds(5));
}

TEST(DispatchSemaphoreTest, CountsTimesOutAndWakesWaiters) {
    DispatchSemaphore s(2);
    EXPECT_TRUE(s.waitSeconds(0));
    EXPECT_TRUE(s.waitSeconds(0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.waitSeconds(0.05));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    EXPECT_FALSE(s.signal()) << "nobody waits";
    EXPECT_TRUE(s.waitSeconds(0));

    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        s.wait();
        woke = true;
    });
    while (!woke.load()) {
        s.signal();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    waiter.join();
}
