// Timers of every kind on the manual clock: run-loop timers, queue timers and
// `after` blocks all fire in deadline order when the clock is advanced.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ManualClockFixture.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/DispatchTimer.h"
#include "platform/RunLoop.h"
#include "platform/Timer.h"

using namespace pellix::platform;
using pellix::test::ManualClockTest;

namespace {

// Collects labels from whatever thread; read after the work has settled.
struct Log {
    std::mutex mutex;
    std::vector<std::string> items;
    void add(std::string s) {
        std::lock_guard lock(mutex);
        items.push_back(std::move(s));
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex);
        return items;
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return items.size();
    }
};

bool pumpMainUntil(const std::function<bool()>& pred) { return RunLoop::main()->runUntil(pred, 5.0); }

}  // namespace

TEST_F(ManualClockTest, MixedTimersFireInDeadlineOrderOnTheMainLoop) {
    Log log;
    auto main = DispatchQueue::main();
    // Scheduled out of order, on three kinds of timer, all delivered on the main loop.
    main->after(3.0, [&] { log.add("after-3"); });
    auto t1 = Timer::scheduled(1.0, false, [&](Timer&) { log.add("timer-1"); });
    auto qt = DispatchTimer::create(main);
    qt->setEventHandler([&] { log.add("queue-2"); });
    qt->setTimer(2.0, 0);
    qt->resume();
    auto t4 = Timer::scheduled(4.0, false, [&](Timer&) { log.add("timer-4"); });

    RunLoop::main()->runOnce(0);
    EXPECT_EQ(log.size(), 0u) << "nothing may fire before the clock moves";

    clock->advance(2.5);
    pumpMainUntil([&] { return log.size() == 2; });
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"timer-1", "queue-2"}));

    clock->advance(10.0);
    pumpMainUntil([&] { return log.size() == 4; });
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"timer-1", "queue-2", "after-3", "timer-4"}));
    EXPECT_FALSE(t1->isValid()) << "a one-shot timer is spent after firing";
}

TEST_F(ManualClockTest, RepeatingRunLoopTimerFiresEachStepUntilInvalidated) {
    int fired = 0;
    auto t = Timer::scheduled(0.5, true, [&](Timer& self) {
        if (++fired == 3) self.invalidate();
    });
    for (int i = 0; i < 6; ++i) {
        clock->advance(0.5);
        RunLoop::main()->runOnce(0);
    }
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(t->isValid());
}

TEST_F(ManualClockTest, RunLoopTimerMissedFiringsAreMerged) {
    int fired = 0;
    auto t = Timer::scheduled(1.0, true, [&](Timer&) { ++fired; });
    clock->advance(5.0);  // five deadlines pass while nobody pumps
    RunLoop::main()->runOnce(0);
    EXPECT_EQ(fired, 1);
    clock->advance(1.0);
    RunLoop::main()->runOnce(0);
    EXPECT_EQ(fired, 2);
    t->invalidate();
}

TEST_F(ManualClockTest, InvalidatedTimerNeverFiresAndIsReleased) {
    int fired = 0;
    auto marker = std::make_shared<int>(0);
    std::weak_ptr<int> weakMarker = marker;
    auto t = Timer::scheduled(1.0, false, [&fired, marker](Timer&) { ++fired; });
    marker.reset();
    t->invalidate();
    EXPECT_TRUE(weakMarker.expired()) << "invalidate lets go of the block";
    clock->advance(2.0);
    RunLoop::main()->runOnce(0);
    EXPECT_EQ(fired, 0);
}

TEST_F(ManualClockTest, TimerOnAnotherThreadsRunLoopFiresOnlyWhenThatLoopRuns) {
    std::atomic<int> fired{0};
    std::shared_ptr<RunLoop> loop;
    std::thread::id firedOn;
    std::thread th([&] {
        loop = RunLoop::current();
        EXPECT_NE(loop, RunLoop::main());
        Timer::scheduled(1.0, false, [&](Timer&) {
            firedOn = std::this_thread::get_id();
            ++fired;
        });
        clock->advance(1.0);
        EXPECT_EQ(fired.load(), 0) << "handed to the loop, not run by the clock";
        loop->runUntil([&] { return fired.load() == 1; }, 5.0);
        EXPECT_EQ(firedOn, std::this_thread::get_id());
    });
    th.join();
    EXPECT_EQ(fired.load(), 1);
}

TEST_F(ManualClockTest, QueueTimerRepeatsSuspendsResumesAndChangesInterval) {
    auto q = DispatchQueue::serial("timer.queue");
    std::atomic<int> fired{0};
    DispatchSemaphore tick(0);
    auto t = DispatchTimer::create(q);
    t->setEventHandler([&] {
        EXPECT_TRUE(q->isCurrent());
        ++fired;
        tick.signal();
    });
    t->setTimer(1.0, 1.0);
    clock->advance(1.0);
    EXPECT_FALSE(tick.waitSeconds(0.05)) << "created suspended";
    t->resume();
    ASSERT_TRUE(tick.waitSeconds(5)) << "a firing that fell due while suspended is delivered on resume";
    clock->advance(1.0);
    ASSERT_TRUE(tick.waitSeconds(5));
    EXPECT_EQ(fired.load(), 2);

    t->suspend();
    clock->advance(3.0);  // three deadlines, merged into one delivery on resume
    EXPECT_FALSE(tick.waitSeconds(0.05));
    t->resume();
    ASSERT_TRUE(tick.waitSeconds(5));
    EXPECT_FALSE(tick.waitSeconds(0.05));
    EXPECT_EQ(fired.load(), 3);

    t->setTimer(10.0, 10.0);  // re-armed from now
    clock->advance(9.0);
    EXPECT_FALSE(tick.waitSeconds(0.05));
    clock->advance(1.0);
    ASSERT_TRUE(tick.waitSeconds(5));
    EXPECT_EQ(fired.load(), 4);

    DispatchSemaphore cancelled(0);
    t->setCancelHandler([&] { cancelled.signal(); });
    t->cancel();
    ASSERT_TRUE(cancelled.waitSeconds(5));
    clock->advance(100.0);
    EXPECT_FALSE(tick.waitSeconds(0.05));
    EXPECT_EQ(fired.load(), 4);
    EXPECT_TRUE(t->isCancelled());
}

TEST_F(ManualClockTest, QueueTimerKeepsItselfAliveUntilCancelled) {
    auto q = DispatchQueue::serial("timer.alive");
    DispatchSemaphore tick(0);
    std::weak_ptr<DispatchTimer> weak;
    {
        auto t = DispatchTimer::create(q);
        t->setEventHandler([&] { tick.signal(); });
        t->setTimer(1.0, 1.0);
        t->resume();
        weak = t;
    }
    clock->advance(1.0);
    ASSERT_TRUE(tick.waitSeconds(5));
    auto t = weak.lock();
    ASSERT_TRUE(t);
    t->cancel();
    t.reset();
    // The last delivery block may still hold it briefly.
    q->sync([] {});
    EXPECT_TRUE(weak.expired());
}

TEST_F(ManualClockTest, OneShotQueueTimerAndAfterOnSerialQueueKeepDeadlineOrder) {
    auto q = DispatchQueue::serial("order");
    Log log;
    for (int i : {5, 1, 4, 2, 3}) q->after(static_cast<double>(i), [&log, i] { log.add(std::to_string(i)); });
    auto once = DispatchTimer::create(q);
    once->setEventHandler([&] { log.add("t2.5"); });
    once->setTimer(2.5, 0);
    once->resume();
    EXPECT_EQ(clock->advance(10.0), 6u);
    q->sync([] {});
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"1", "2", "t2.5", "3", "4", "5"}));
    clock->advance(10.0);
    q->sync([] {});
    EXPECT_EQ(log.size(), 6u) << "a one-shot timer fires once";
}

TEST_F(ManualClockTest, AdvanceMovesWallTimeAndZeroDelayFiresWithoutAdvance) {
    const double wall = clock->wallTime();
    clock->advance(2.0);
    EXPECT_DOUBLE_EQ(Clock::now(), wall + 2.0);
    clock->setWallTime(1000.0);
    EXPECT_DOUBLE_EQ(Clock::now(), 1000.0);

    DispatchSemaphore done(0);
    DispatchQueue::global()->after(0.0, [&] { done.signal(); });
    EXPECT_TRUE(done.waitSeconds(5));
}

TEST(SystemClockTimers, AfterAndRepeatingTimerFireOnRealTime) {
    DispatchSemaphore done(0);
    const auto start = std::chrono::steady_clock::now();
    DispatchQueue::global()->after(0.05, [&] { done.signal(); });
    ASSERT_TRUE(done.waitSeconds(5));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));

    int fired = 0;
    auto t = Timer::scheduled(0.01, true, [&](Timer&) { ++fired; });
    EXPECT_TRUE(RunLoop::main()->runUntil([&] { return fired >= 3; }, 5.0));
    t->invalidate();
}

TEST(ClockSeconds, ClampsNegativeNanAndHugeIntervals) {
    EXPECT_EQ(Clock::seconds(-1), Clock::Duration::zero());
    EXPECT_EQ(Clock::seconds(std::nan("")), Clock::Duration::zero());
    EXPECT_GT(Clock::seconds(1e300), Clock::seconds(1e9));
    EXPECT_EQ(Clock::seconds(1.5), std::chrono::milliseconds(1500));
}

TEST_F(ManualClockTest, QueueTimerNestedSuspendsAndUnbalancedResume) {
    auto q = DispatchQueue::serial("timer.nest");
    std::atomic<int> fired{0};
    auto t = DispatchTimer::create(q);
    t->setEventHandler([&] { ++fired; });
    t->setTimer(1.0, 1.0);
    t->resume();
    t->resume();  // one too many: ignored, not fatal
    t->suspend();
    t->suspend();
    t->resume();  // still suspended once
    clock->advance(1.0);
    q->sync([] {});
    EXPECT_EQ(fired.load(), 0);
    t->resume();
    q->sync([] {});
    EXPECT_EQ(fired.load(), 1);
    t->suspend();  // the unbalanced resume earlier must not have skewed the count
    clock->advance(1.0);
    q->sync([] {});
    EXPECT_EQ(fired.load(), 1);
    t->cancel();
}

TEST_F(ManualClockTest, HugeDelaysSaturateInsteadOfFiringAtOnce) {
    std::atomic<int> fired{0};
    auto q = DispatchQueue::serial("huge");
    q->after(Clock::Duration::max(), [&] { ++fired; });
    auto t = DispatchTimer::create(q);
    t->setEventHandler([&] { ++fired; });
    t->setTimer(Clock::Duration::max(), Clock::Duration::max());
    t->resume();
    auto rt = Timer::scheduled(1e300, true, [&](Timer&) { ++fired; });
    clock->advance(3600.0 * 24 * 365);
    q->sync([] {});
    RunLoop::main()->runOnce(0);
    EXPECT_EQ(fired.load(), 0);
    t->cancel();
    rt->invalidate();
}
