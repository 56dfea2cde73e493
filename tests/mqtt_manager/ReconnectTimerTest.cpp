// The reconnect timer's back-off on the manual clock.
#include <gtest/gtest.h>

#include "MQTTClient/ReconnectTimer.h"
#include "platform/DispatchQueue.h"
#include "platform/ManualClock.h"

using namespace pellix;

namespace {

class ReconnectTimerTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Clock::setShared(clock); }
    void TearDown() override {
        timer.reset();
        platform::Clock::setShared(nullptr);
    }
    // Moves the clock on and lets the queue run what came due.
    void advance(double seconds) {
        clock->advance(seconds);
        queue->sync([] {});
    }
    std::shared_ptr<ReconnectTimer> make(double first = 1, double max = 64) {
        timer = ReconnectTimer::initWithRetryInterval(first, max, queue, [this] { ++runs; });
        return timer;
    }
    // Schedules and returns the delay after which the block ran.
    double delayOfNextRun() {
        const int before = runs;
        timer->schedule();
        double waited = 0;
        while (runs == before && waited < 200) {
            advance(0.5);
            waited += 0.5;
        }
        return waited;
    }

    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    std::shared_ptr<platform::DispatchQueue> queue = platform::DispatchQueue::serial("test.reconnect-timer");
    std::shared_ptr<ReconnectTimer> timer;
    std::atomic<int> runs{0};
};

TEST_F(ReconnectTimerTest, DelaysDoubleUpToTheMaximumAndResetToTheFirst) {
    make(1, 64);
    std::vector<double> delays;
    for (int i = 0; i < 9; ++i) delays.push_back(delayOfNextRun());
    EXPECT_EQ(delays, (std::vector<double>{1, 2, 4, 8, 16, 32, 64, 64, 64}));
    timer->resetRetryInterval();
    EXPECT_EQ(delayOfNextRun(), 1);

    // The last doubling may pass a maximum that is no power of two.
    make(1, 60);
    delays.clear();
    for (int i = 0; i < 8; ++i) delays.push_back(delayOfNextRun());
    EXPECT_EQ(delays, (std::vector<double>{1, 2, 4, 8, 16, 32, 64, 64}));
}

TEST_F(ReconnectTimerTest, StopAndRescheduleLeaveNoStaleRun) {
    make(4, 64);
    timer->schedule();
    advance(3);
    timer->stop();
    advance(10);
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(timer->timer());

    // Scheduling again replaces the pending timer instead of adding one.
    timer->schedule();
    advance(2);
    timer->schedule();
    advance(2.5);  // the first one would be due now
    EXPECT_EQ(runs, 0);
    advance(2);
    EXPECT_EQ(runs, 1);
    advance(100);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(timer->currentRetryInterval(), 8);
}

TEST_F(ReconnectTimerTest, ADroppedTimerNeverRuns) {
    make(1, 64);
    timer->schedule();
    timer.reset();
    advance(5);
    EXPECT_EQ(runs, 0);
}

}  // namespace
