// Waits whose time-out means "for ever" (Duration::max(), an infinite or huge
// number of seconds): each must block until another thread wakes it, not
// return at once because "now + time-out" ran past what the clock can count.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>

#include "platform/DispatchGroup.h"
#include "platform/DispatchSemaphore.h"
#include "platform/RunLoop.h"

using namespace pellix::platform;
using namespace std::chrono_literals;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kHuge = std::numeric_limits<double>::max();
constexpr auto kWakeAfter = 60ms;

// One waiting primitive: `prepare` builds fresh state, `wait` blocks on it with
// the long time-out and returns its result, `wake` releases it from elsewhere.
struct Case {
    std::string name;
    std::function<void()> prepare;
    std::function<bool()> wait;
    std::function<void()> wake;
};

// State the cases share; rebuilt by each case's prepare().
struct Fixture {
    std::shared_ptr<DispatchSemaphore> semaphore;
    std::shared_ptr<DispatchGroup> group;
    std::atomic<bool> flag{false};
};

}  // namespace

TEST(LongTimeout, ForeverWaitsBlockUntilWokenFromAnotherThread) {
    Fixture f;
    auto semaphoreCase = [&](std::string name, std::function<bool()> wait) {
        return Case{std::move(name), [&] { f.semaphore = DispatchSemaphore::create(0); }, std::move(wait),
                    [&] { f.semaphore->signal(); }};
    };
    auto groupCase = [&](std::string name, std::function<bool()> wait) {
        return Case{std::move(name),
                    [&] {
                        f.group = DispatchGroup::create();
                        f.group->enter();
                    },
                    std::move(wait), [&] { f.group->leave(); }};
    };
    auto runUntilCase = [&](std::string name, double seconds) {
        return Case{std::move(name), [&] { f.flag = false; },
                    [&f, seconds] { return RunLoop::main()->runUntil([&f] { return f.flag.load(); }, seconds); },
                    [&] { f.flag = true; }};
    };
    const Case cases[] = {
        semaphoreCase("semaphore wait(Duration::max())", [&] { return f.semaphore->wait(Clock::Duration::max()); }),
        semaphoreCase("semaphore waitSeconds(inf)", [&] { return f.semaphore->waitSeconds(kInf); }),
        semaphoreCase("semaphore waitSeconds(DBL_MAX)", [&] { return f.semaphore->waitSeconds(kHuge); }),
        groupCase("group wait(Duration::max())", [&] { return f.group->wait(Clock::Duration::max()); }),
        groupCase("group waitSeconds(inf)", [&] { return f.group->waitSeconds(kInf); }),
        runUntilCase("runUntil(inf)", kInf),
        runUntilCase("runUntil(DBL_MAX)", kHuge),
        runUntilCase("runUntil(1e300)", 1e300),
        Case{"runOnce(inf)", [] { RunLoop::main()->runOnce(0); },
             [] { return RunLoop::main()->runOnce(kInf) == 1; },
             [] { RunLoop::main()->perform([] {}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        std::atomic<bool> woken{false};
        std::thread waker([&] {
            std::this_thread::sleep_for(kWakeAfter);
            woken = true;
            c.wake();
        });
        const auto start = std::chrono::steady_clock::now();
        const bool result = c.wait();
        const auto waited = std::chrono::steady_clock::now() - start;
        const bool wasWoken = woken.load();
        waker.join();
        EXPECT_TRUE(wasWoken) << "returned after " << std::chrono::duration<double>(waited).count()
                              << " s without being woken";
        EXPECT_TRUE(result);
        EXPECT_GE(waited, kWakeAfter - 10ms);
    }
}

TEST(LongTimeout, FiniteTimeoutsStillExpire) {
    // Saturating the far end must leave ordinary time-outs alone.
    auto sem = DispatchSemaphore::create(0);
    auto group = DispatchGroup::create();
    group->enter();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sem->wait(30ms));
    EXPECT_FALSE(group->waitSeconds(0.03));
    EXPECT_FALSE(RunLoop::main()->runUntil([] { return false; }, 0.03));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 80ms);
    EXPECT_LT(waited, 3s);
    group->leave();
}
