#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "platform/RunLoop.h"
#include "platform/Timer.h"

using namespace pellix::platform;

// An interval that is not a number counts as the smallest one, like any
// interval below it; the repeating timer must go on firing, not bring the
// timer thread down when it computes the next deadline.
TEST(TimerReview, NotANumberIntervalRepeatsAtTheMinimum) {
    std::atomic<int> fired{0};
    auto timer = Timer::create(std::numeric_limits<double>::quiet_NaN(), true, [&](Timer&) { ++fired; });
    EXPECT_DOUBLE_EQ(timer->timeInterval(), 0.0001);
    bool reached = false;
    std::thread([&] {
        auto loop = RunLoop::current();  // this thread's own loop
        loop->addTimer(timer);
        reached = loop->runUntil([&] { return fired.load() >= 3; }, 5.0);
        timer->invalidate();
    }).join();
    EXPECT_TRUE(reached);
    EXPECT_FALSE(timer->isValid());
}
