// OperationQueue: width, cancellation, suspension and the main operation queue.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/BlockingScope.h"
#include "platform/DispatchSemaphore.h"
#include "platform/OperationQueue.h"
#include "platform/RunLoop.h"

using namespace pellix::platform;

class OperationQueueWidth : public ::testing::TestWithParam<int> {};

TEST_P(OperationQueueWidth, NeverRunsMoreThanTheWidthAndReachesIt) {
    const int width = GetParam();
    auto q = OperationQueue::create("width");
    q->setMaxConcurrentOperationCount(width);
    std::atomic<int> running{0}, peak{0}, done{0};
    constexpr int kOps = 40;
    for (int i = 0; i < kOps; ++i) {
        q->addOperation([&] {
            const int r = ++running;
            int p = peak.load();
            while (r > p && !peak.compare_exchange_weak(p, r)) {}
            {
                BlockingScope blocked;  // so a small machine's pool can still reach the width
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            --running;
            ++done;
        });
    }
    q->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done.load(), kOps);
    EXPECT_LE(peak.load(), width);
    EXPECT_EQ(peak.load(), width) << "the width should be used";
    EXPECT_EQ(q->operationCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Widths, OperationQueueWidth, ::testing::Values(1, 3, 5));

TEST(OperationQueueTest, WidthOneRunsInOrder) {
    auto q = OperationQueue::create();
    q->setMaxConcurrentOperationCount(1);
    std::vector<int> order;
    std::mutex m;
    for (int i = 0; i < 50; ++i)
        q->addOperation([&, i] {
            std::lock_guard lock(m);
            order.push_back(i);
        });
    q->waitUntilAllOperationsAreFinished();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(OperationQueueTest, CancelAllSkipsQueuedOperationsAndFlagsRunningOnes) {
    auto q = OperationQueue::create();
    q->setMaxConcurrentOperationCount(1);
    DispatchSemaphore started(0), release(0);
    std::atomic<bool> sawCancel{false};
    std::atomic<int> mainsRun{0}, completions{0};
    auto first = Operation::block([&] {});
    // The running one waits and then looks at its own flag.
    struct Watching : Operation {
        DispatchSemaphore* started;
        DispatchSemaphore* release;
        std::atomic<bool>* sawCancel;
        void main() override {
            started->signal();
            release->wait();
            *sawCancel = isCancelled();
        }
    };
    auto running = std::make_shared<Watching>();
    running->started = &started;
    running->release = &release;
    running->sawCancel = &sawCancel;
    running->setCompletionBlock([&] { ++completions; });
    q->addOperation(running);
    std::vector<std::shared_ptr<Operation>> queued;
    for (int i = 0; i < 5; ++i) {
        auto op = Operation::block([&] { ++mainsRun; });
        op->setCompletionBlock([&] { ++completions; });
        queued.push_back(op);
        q->addOperation(op);
    }
    ASSERT_TRUE(started.waitSeconds(5));
    EXPECT_EQ(q->operationCount(), 6u);
    q->cancelAllOperations();
    release.signal();
    q->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sawCancel.load());
    EXPECT_EQ(mainsRun.load(), 0);
    EXPECT_EQ(completions.load(), 6) << "cancelled operations still finish and complete";
    for (auto& op : queued) EXPECT_TRUE(op->isFinished() && op->isCancelled());
}

TEST(OperationQueueTest, SuspendedQueueHoldsOperationsUntilResumed) {
    auto q = OperationQueue::create();
    q->setSuspended(true);
    std::atomic<int> ran{0};
    auto op = Operation::block([&] { ++ran; });
    q->addOperation(op);
    q->addOperation(op);  // a second add is ignored
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(q->operationCount(), 1u);
    q->setSuspended(false);
    op->waitUntilFinished();
    q->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 1);
}

// A thread that finishes an operation goes on with the queue's next one; a
// queue suspended, or narrowed to nothing, by a running operation must still
// hold the rest until it is let go.
TEST(OperationQueueTest, StoppedFromInsideARunningOperationHoldsTheRest) {
    struct Case {
        const char* name;
        std::function<void(OperationQueue&)> stop, go;
    };
    const std::vector<Case> cases = {
        {"suspended", [](OperationQueue& q) { q.setSuspended(true); }, [](OperationQueue& q) { q.setSuspended(false); }},
        {"width 0", [](OperationQueue& q) { q.setMaxConcurrentOperationCount(0); },
         [](OperationQueue& q) { q.setMaxConcurrentOperationCount(1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto q = OperationQueue::create();
        q->setMaxConcurrentOperationCount(1);
        DispatchSemaphore gate(0);
        std::atomic<int> ran{0};
        q->addOperation([&] {
            gate.wait();
            c.stop(*q);
            ++ran;
        });
        for (int i = 0; i < 3; ++i) q->addOperation([&] { ++ran; });
        gate.signal();
        for (int i = 0; i < 500 && ran.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(ran.load(), 1);
        EXPECT_EQ(q->operationCount(), 3u);
        c.go(*q);
        q->waitUntilAllOperationsAreFinished();
        EXPECT_EQ(ran.load(), 4);
    }
}

TEST(OperationQueueTest, ZeroWidthHoldsUntilWidened) {
    auto q = OperationQueue::create();
    q->setMaxConcurrentOperationCount(0);
    auto op = Operation::block([] {});
    q->addOperation(op);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(op->isFinished());
    q->setMaxConcurrentOperationCount(2);
    op->waitUntilFinished();
    EXPECT_TRUE(op->isFinished());
}

TEST(OperationQueueTest, OperationsThatBlockOnLaterOperationsDoNotStarveThePool) {
    // Width 5 queue whose operations each block on a part "upload" done by
    // another queue, as the multipart uploader does.
    auto parts = OperationQueue::create("parts");
    parts->setMaxConcurrentOperationCount(5);
    auto uploads = OperationQueue::create("uploads");
    std::atomic<int> done{0};
    for (int i = 0; i < 30; ++i) {
        parts->addOperation([&] {
            DispatchSemaphore finished(0);
            uploads->addOperation([&] { finished.signal(); });
            finished.wait();
            ++done;
        });
    }
    parts->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done.load(), 30);
}

TEST(OperationQueueTest, MainOperationQueueRunsOnTheMainThreadOneAtATime) {
    auto q = OperationQueue::mainQueue();
    EXPECT_EQ(q->maxConcurrentOperationCount(), 1);
    q->setMaxConcurrentOperationCount(4);
    EXPECT_EQ(q->maxConcurrentOperationCount(), 1);
    std::vector<int> order;
    bool allMain = true;
    for (int i = 0; i < 5; ++i)
        q->addOperation([&, i] {
            allMain = allMain && RunLoop::isMainThread();
            order.push_back(i);
        });
    EXPECT_TRUE(RunLoop::main()->runUntil([&] { return q->operationCount() == 0; }, 5.0));
    EXPECT_TRUE(allMain);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}
