// The session's timer on a queue, driven by a manual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "MQTTClient/GCDTimer.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchTimer.h"
#include "platform/ManualClock.h"

using pellix::GCDTimer;
using pellix::platform::Clock;
using pellix::platform::DispatchQueue;
using pellix::platform::ManualClock;

namespace {

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override { Clock::setShared(clock); }
    void TearDown() override { Clock::setShared(nullptr); }
    // Advances the clock and lets the queue run what fell due.
    void advance(double seconds) {
        clock->advance(seconds);
        queue->sync([] {});
    }
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial("gcdtimer.test");
};

}  // namespace

TEST_F(TimerTest, RepeatingTimerFiresEveryIntervalUntilInvalidated) {
    std::atomic<int> fired{0};
    std::atomic<bool> onQueue{true};
    auto timer = GCDTimer::scheduledTimerWithTimeInterval(1.0, true, queue, [&] {
        onQueue = onQueue && queue->isCurrent();
        ++fired;
    });
    advance(0.999);
    EXPECT_EQ(fired, 0);  // never at once
    advance(0.001);
    EXPECT_EQ(fired, 1);
    advance(1.0);
    EXPECT_EQ(fired, 2);
    advance(1.0);
    EXPECT_EQ(fired, 3);
    timer->invalidate();
    timer->invalidate();  // again is harmless
    advance(5.0);
    EXPECT_EQ(fired, 3);
    EXPECT_TRUE(onQueue);
}

TEST_F(TimerTest, OneShotIsCancelledBeforeItsBlockAndMayScheduleAnother) {
    std::atomic<int> fired{0};
    std::shared_ptr<GCDTimer> first, second;
    bool cancelledInBlock = false;
    first = GCDTimer::scheduledTimerWithTimeInterval(0.5, false, queue, [&] {
        ++fired;
        cancelledInBlock = first->timer()->isCancelled();
        second = GCDTimer::scheduledTimerWithTimeInterval(0.5, false, queue, [&] { fired += 10; });
    });
    advance(0.5);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(cancelledInBlock);
    advance(0.5);
    EXPECT_EQ(fired, 11);
    advance(3.0);
    EXPECT_EQ(fired, 11);
}

TEST_F(TimerTest, ScheduledTimerKeepsItselfAliveUntilInvalidated) {
    std::atomic<int> fired{0};
    std::weak_ptr<GCDTimer> weak;
    {
        auto timer = GCDTimer::scheduledTimerWithTimeInterval(1.0, true, queue, [&] { ++fired; });
        weak = timer;
    }
    advance(1.0);
    advance(1.0);
    EXPECT_EQ(fired, 2);
    auto timer = weak.lock();
    ASSERT_TRUE(timer);
    timer->invalidate();
    timer.reset();
    queue->sync([] {});
    EXPECT_TRUE(weak.expired());  // the cycle through the handler is gone
}
