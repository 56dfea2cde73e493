// Reachability watchers started from more than one thread at once.
#include <gtest/gtest.h>

#include <netinet/in.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Reachability.h"

namespace pellix {
namespace {

sockaddr_in loopback() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Two threads scheduling the same reference: a watcher replaced while its
// thread still runs must be stopped, not destroyed with a joinable thread
// (which ends the process).
TEST(ReachabilityReview, ConcurrentScheduleKeepsOneWatcher) {
    auto address = loopback();
    auto reachability = platform::Reachability::withAddress(reinterpret_cast<const sockaddr*>(&address));
    ASSERT_TRUE(reachability);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 40; ++i) reachability->schedule();
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    reachability->unschedule();
    SUCCEED();
}

}  // namespace
}  // namespace pellix
