// Executors and cancellation tokens.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <thread>

#include "HOSSDK/HOSTask/HOSCancellationTokenRegistration.h"
#include "HOSSDK/HOSTask/HOSCancellationTokenSource.h"
#include "HOSSDK/HOSTask/HOSExecutor.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"
#include "platform/OperationQueue.h"
#include "platform/RunLoop.h"

using namespace pellix;
using platform::Exception;

namespace {

// Eats stack in 4 KiB frames until less than `fraction` of it is left, then
// runs `at`.
[[gnu::noinline]] void eatStack(double fraction, const std::function<void()>& at) {
    volatile char pad[4096];
    pad[0] = 1;
    std::size_t total = 0;
    const std::size_t remaining = HOSExecutor::remainingStackSize(&total);
    if (remaining < static_cast<std::size_t>(static_cast<double>(total) * fraction))
        at();
    else
        eatStack(fraction, at);
    pad[1] = pad[0];
}

void* runOnThread(void* arg) {
    (*static_cast<std::function<void()>*>(arg))();
    return nullptr;
}

// Runs `body` on a fresh thread with a stack of `size` bytes and joins it.
void withSmallStack(std::size_t size, std::function<void()> body) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size);
    pthread_t th;
    ASSERT_EQ(pthread_create(&th, &attr, runOnThread, &body), 0);
    pthread_join(th, nullptr);
    pthread_attr_destroy(&attr);
}

}  // namespace

TEST(HOSExecutor, DefaultRunsInlineWithAmpleStack) {
    bool ran = false;
    auto here = std::this_thread::get_id();
    std::thread::id where;
    HOSExecutor::defaultExecutor()->execute([&] {
        ran = true;
        where = std::this_thread::get_id();
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(where, here);
    std::size_t total = 0;
    EXPECT_GT(HOSExecutor::remainingStackSize(&total), 0u);
    EXPECT_GT(total, 0u);
}

TEST(HOSExecutor, DefaultMovesToAnotherThreadWhenStackIsNearlyUsedUp) {
    for (std::size_t stack : {std::size_t(256 * 1024), std::size_t(1024 * 1024)}) {
        std::promise<std::thread::id> ranOn;
        std::thread::id smallThread;
        withSmallStack(stack, [&] {
            smallThread = std::this_thread::get_id();
            eatStack(0.08, [&] {
                HOSExecutor::defaultExecutor()->execute([&ranOn] { ranOn.set_value(std::this_thread::get_id()); });
            });
        });
        auto f = ranOn.get_future();
        ASSERT_EQ(f.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_NE(f.get(), smallThread);
    }
    // Just above the tenth it still runs inline.
    withSmallStack(512 * 1024, [] {
        eatStack(0.2, [] {
            auto here = std::this_thread::get_id();
            std::thread::id where;
            HOSExecutor::defaultExecutor()->execute([&] { where = std::this_thread::get_id(); });
            EXPECT_EQ(where, here);
        });
    });
}

TEST(HOSExecutor, MainThreadExecutorInlineOnMainLaterElsewhere) {
    auto loop = platform::RunLoop::main();
    bool inlineRan = false;
    // Pumping the main loop makes this thread the main thread.
    loop->runOnce(0);
    ASSERT_TRUE(platform::RunLoop::isMainThread());
    HOSExecutor::mainThreadExecutor()->execute([&] { inlineRan = true; });
    EXPECT_TRUE(inlineRan);

    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> returned{false};
    std::thread other([&] {
        HOSExecutor::mainThreadExecutor()->execute([&] { ranOnMain = platform::RunLoop::isMainThread(); });
        returned = true;
    });
    other.join();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(loop->runUntil([&] { return ranOnMain.load(); }, 5));
}

TEST(HOSExecutor, QueueAndOperationQueueExecutors) {
    auto queue = platform::DispatchQueue::serial("hos.test.q");
    std::promise<bool> onQueue;
    HOSExecutor::executorWithDispatchQueue(queue)->execute([&] { onQueue.set_value(queue->isCurrent()); });
    EXPECT_TRUE(onQueue.get_future().get());

    auto ops = platform::OperationQueue::create("hos.test.ops");
    std::atomic<int> n{0};
    auto exec = HOSExecutor::executorWithOperationQueue(ops);
    for (int i = 0; i < 10; ++i) exec->execute([&] { n.fetch_add(1); });
    ops->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(n.load(), 10);

    std::vector<int> order;
    auto custom = HOSExecutor::executorWithBlock([&](HOSExecutor::Work w) {
        order.push_back(0);
        w();
    });
    custom->execute([&] { order.push_back(1); });
    EXPECT_EQ(order, (std::vector<int>{0, 1}));
}

TEST(HOSCancellationToken, ObserversOnceInOrderAndDisposedOnesSkipped) {
    auto cts = HOSCancellationTokenSource::cancellationTokenSource();
    std::vector<int> calls;
    cts->token()->registerCancellationObserverWithBlock([&] { calls.push_back(1); });
    auto second = cts->token()->registerCancellationObserverWithBlock([&] { calls.push_back(2); });
    cts->token()->registerCancellationObserverWithBlock([&] { calls.push_back(3); });
    second->dispose();
    EXPECT_TRUE(second->isDisposed());
    cts->cancel();
    cts->cancel();
    EXPECT_EQ(calls, (std::vector<int>{1, 3}));
    EXPECT_TRUE(cts->isCancellationRequested());
}

// An observer that comes after the cancellation is told at once instead of
// never.
TEST(HOSCancellationToken, ObserverRegisteredAfterCancelIsCalledAtOnce) {
    auto cts = HOSCancellationTokenSource::cancellationTokenSource();
    cts->cancel();
    int calls = 0;
    cts->token()->registerCancellationObserverWithBlock([&] { ++calls; });
    EXPECT_EQ(calls, 1);
}

TEST(HOSCancellationToken, ObserverDisposedDuringNotificationOfAnotherIsSkipped) {
    auto cts = HOSCancellationTokenSource::cancellationTokenSource();
    std::shared_ptr<HOSCancellationTokenRegistration> later;
    int laterCalls = 0;
    cts->token()->registerCancellationObserverWithBlock([&] { later->dispose(); });
    later = cts->token()->registerCancellationObserverWithBlock([&] { ++laterCalls; });
    cts->cancel();
    EXPECT_EQ(laterCalls, 0);
}

TEST(HOSCancellationToken, DelayedCancellation) {
    auto now = HOSCancellationTokenSource::cancellationTokenSource();
    now->cancelAfterDelay(0);
    EXPECT_TRUE(now->isCancellationRequested());

    auto withdrawn = HOSCancellationTokenSource::cancellationTokenSource();
    withdrawn->cancelAfterDelay(20);
    withdrawn->cancelAfterDelay(-1);
    auto fires = HOSCancellationTokenSource::cancellationTokenSource();
    std::promise<void> fired;
    fires->token()->registerCancellationObserverWithBlock([&] { fired.set_value(); });
    fires->cancelAfterDelay(1000);
    fires->cancelAfterDelay(20);  // replaces the longer one
    ASSERT_EQ(fired.get_future().wait_for(std::chrono::seconds(2)), std::future_status::ready);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_FALSE(withdrawn->isCancellationRequested());

    try {
        withdrawn->cancelAfterDelay(-2);
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), "NSInvalidArgumentException");
        EXPECT_EQ(e.reason(), "Delay must be >= -1");
    }
}

TEST(HOSCancellationToken, DisposedTokenRaisesAndPendingDelayIsWithdrawn) {
    auto cts = HOSCancellationTokenSource::cancellationTokenSource();
    int calls = 0;
    auto reg = cts->token()->registerCancellationObserverWithBlock([&] { ++calls; });
    cts->cancelAfterDelay(10);
    cts->dispose();
    cts->dispose();
    EXPECT_TRUE(reg->isDisposed());
    // The timer fires on a disposed token: nothing happens, nothing raises.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(calls, 0);
    for (auto op : std::vector<std::function<void()>>{[&] { cts->isCancellationRequested(); }, [&] { cts->cancel(); },
                                                      [&] { cts->cancelAfterDelay(5); }}) {
        try {
            op();
            ADD_FAILURE();
        } catch (const Exception& e) {
            EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
            EXPECT_EQ(e.reason(), "Object already disposed");
        }
    }
    // Registering on a disposed token hands back a registration that is kept nowhere.
    auto orphan = cts->token()->registerCancellationObserverWithBlock([&] { ++calls; });
    EXPECT_NE(orphan, nullptr);
}

TEST(HOSCancellationToken, ConcurrentCancelAndDisposeOfRegistrations) {
    for (int round = 0; round < 200; ++round) {
        auto cts = HOSCancellationTokenSource::cancellationTokenSource();
        std::atomic<int> calls{0};
        std::vector<std::shared_ptr<HOSCancellationTokenRegistration>> regs;
        for (int i = 0; i < 8; ++i)
            regs.push_back(cts->token()->registerCancellationObserverWithBlock([&] { calls.fetch_add(1); }));
        std::thread disposer([&] {
            for (auto& r : regs) r->dispose();
        });
        cts->cancel();
        disposer.join();
        EXPECT_LE(calls.load(), 8);
    }
}
