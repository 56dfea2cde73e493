// The host-driven cellular call hook.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/CallCenter.h"
#include "platform/RunLoop.h"

namespace pellix {
namespace {

using platform::CallCenter;
using platform::CellularCall;

bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

TEST(CallCenterTest, HostEventsReachLiveHandlersOffTheMainThreadAndTrackCurrentCalls) {
    auto centre = CallCenter::create();
    auto dropped = CallCenter::create();
    std::mutex m;
    std::vector<CellularCall::State> seen;
    std::atomic<bool> onMain{false};
    std::atomic<int> droppedCalls{0};
    centre->setCallEventHandler([&](const CellularCall& call) {
        onMain = onMain || platform::RunLoop::isMainThread();
        std::lock_guard lock(m);
        seen.push_back(call.callState);
    });
    dropped->setCallEventHandler([&](const CellularCall&) { ++droppedCalls; });
    dropped.reset();

    EXPECT_EQ(centre->currentCalls(), std::nullopt);
    CallCenter::reportCallEvent({"c1", CellularCall::State::Incoming});
    CallCenter::reportCallEvent({"c1", CellularCall::State::Connected});
    ASSERT_TRUE(centre->currentCalls());
    ASSERT_EQ(centre->currentCalls()->size(), 1u);
    EXPECT_EQ(centre->currentCalls()->front().callState, CellularCall::State::Connected);
    CallCenter::reportCallEvent({"c1", CellularCall::State::Disconnected});
    EXPECT_EQ(centre->currentCalls(), std::nullopt);

    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(m);
        return seen.size() == 3;
    }));
    EXPECT_EQ(seen, (std::vector{CellularCall::State::Incoming, CellularCall::State::Connected,
                                 CellularCall::State::Disconnected}));
    EXPECT_FALSE(onMain);
    EXPECT_EQ(droppedCalls, 0);

    centre->setCallEventHandler(nullptr);
    CallCenter::reportCallEvent({"c2", CellularCall::State::Dialing});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CallCenter::reportCallEvent({"c2", CellularCall::State::Disconnected});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard lock(m);
    EXPECT_EQ(seen.size(), 3u);
}

}  // namespace
}  // namespace pellix
