// Installs a ManualClock for one test and puts the system clock back after.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/ManualClock.h"

namespace pellix::test {

class ManualClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock = std::make_shared<platform::ManualClock>();
        platform::Clock::setShared(clock);
    }
    void TearDown() override { platform::Clock::setShared(nullptr); }

    std::shared_ptr<platform::ManualClock> clock;
};

}  // namespace pellix::test
