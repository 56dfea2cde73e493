// The main run loop driven three ways: pumped by a test, pumped by a host
// through its fd, and run by the library's own loop thread.
#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ManualClockFixture.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/RunLoop.h"
#include "platform/Timer.h"

using namespace pellix::platform;
using pellix::test::ManualClockTest;

TEST_F(ManualClockTest, PumpedMainLoopDeliversBlocksAndTimersInOrder) {
    auto loop = RunLoop::main();
    std::vector<std::string> seen;  // main thread only
    DispatchQueue::main()->async([&] { seen.push_back("block-1"); });
    loop->perform([&] { seen.push_back("perform-2"); });
    auto t = Timer::scheduled(1.0, false, [&](Timer&) { seen.push_back("timer"); });
    DispatchQueue::main()->async([&] { seen.push_back("block-3"); });
    EXPECT_TRUE(seen.empty()) << "nothing runs until the loop is pumped";

    EXPECT_EQ(loop->runOnce(0), 3u);
    EXPECT_EQ(seen, (std::vector<std::string>{"block-1", "perform-2", "block-3"}));

    clock->advance(1.0);
    EXPECT_TRUE(loop->runUntil([&] { return seen.size() == 4; }, 5.0));
    EXPECT_EQ(seen.back(), "timer");
}

TEST(RunLoopTest, BlocksPostedDuringATurnRunInTheNextTurn) {
    auto loop = RunLoop::main();
    int turnOf2 = 0, turn = 0;
    loop->perform([&] { loop->perform([&] { turnOf2 = turn; }); });
    turn = 1;
    EXPECT_EQ(loop->runOnce(0), 1u);
    turn = 2;
    EXPECT_EQ(loop->runOnce(0), 1u);
    EXPECT_EQ(turnOf2, 2);
}

TEST(RunLoopTest, HostPollsTheFdAndPumpsWithRunOnce) {
    auto loop = RunLoop::main();
    loop->runOnce(0);  // start from a quiet loop
    pollfd p{loop->fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "not readable without work";

    std::atomic<int> ran{0};
    std::thread poster([&] { DispatchQueue::main()->async([&] { ++ran; }); });
    poster.join();
    p.revents = 0;
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_EQ(loop->runOnce(0), 1u);
    EXPECT_EQ(ran.load(), 1);
    p.revents = 0;
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "drained";
}

TEST(RunLoopTest, RunUntilTimesOutOnRealTimeAndReportsThePredicate) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunLoop::main()->runUntil([] { return false; }, 0.05));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    std::atomic<bool> flag{false};
    std::thread setter([&] { flag = true; });  // nothing posted: the loop must still notice
    EXPECT_TRUE(RunLoop::main()->runUntil([&] { return flag.load(); }, 5.0));
    setter.join();
}

TEST(RunLoopTest, NestedSpinInsideAMainBlockRunsLaterMainBlocks) {
    // A main-thread caller waiting for an answer that arrives on the main queue.
    bool answered = false, finished = false;
    DispatchQueue::main()->async([&] {
        DispatchQueue::global()->async([&] { DispatchQueue::main()->async([&] { answered = true; }); });
        EXPECT_TRUE(RunLoop::current()->runUntil([&] { return answered; }, 5.0));
        finished = true;
    });
    EXPECT_TRUE(RunLoop::main()->runUntil([&] { return finished; }, 5.0));
}

TEST(MainLoopThread, RunsMainQueueOnItsOwnThreadAndStops) {
    RunLoop::startMainLoopThread();
    RunLoop::startMainLoopThread();  // second start is a no-op
    EXPECT_TRUE(RunLoop::isMainLoopThreadRunning());
    EXPECT_FALSE(RunLoop::isMainThread()) << "the loop thread is main now";

    DispatchSemaphore done(0);
    std::thread::id ranOn;
    bool wasMain = false;
    DispatchQueue::main()->async([&] {
        ranOn = std::this_thread::get_id();
        wasMain = RunLoop::isMainThread() && DispatchQueue::main()->isCurrent();
        done.signal();
    });
    ASSERT_TRUE(done.waitSeconds(5));
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(wasMain);

    int syncRan = 0;
    DispatchQueue::main()->sync([&] { syncRan = RunLoop::isMainThread() ? 1 : -1; });
    EXPECT_EQ(syncRan, 1);

    std::atomic<int> ticks{0};
    DispatchQueue::main()->sync([&] { Timer::scheduled(0.01, true, [&](Timer& t) {
                                          if (++ticks == 3) t.invalidate();
                                      }); });
    for (int i = 0; i < 500 && ticks.load() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ticks.load(), 3);

    RunLoop::stopMainLoopThread();
    EXPECT_FALSE(RunLoop::isMainLoopThreadRunning());
    EXPECT_TRUE(RunLoop::isMainThread()) << "back to the initial thread";
}

TEST(RunLoopTest, EachThreadHasItsOwnLoop) {
    std::shared_ptr<RunLoop> other;
    std::thread th([&] { other = RunLoop::current(); });
    th.join();
    EXPECT_NE(other, RunLoop::main());
    EXPECT_EQ(RunLoop::current(), RunLoop::main());
}
