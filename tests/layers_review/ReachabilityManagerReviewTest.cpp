// The reachability manager's status block, replaced while reports arrive.
#include <gtest/gtest.h>

#include <netinet/in.h>

#include <atomic>
#include <thread>

#include "TVNetworking/TVNetworkReachabilityManager.h"
#include "platform/RunLoop.h"

namespace pellix {
namespace {

sockaddr_in loopbackAddress() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// The status block may be replaced from any thread while monitoring reports
// on the main queue.
TEST(ReachabilityReview, StatusBlockReplacedWhileReporting) {
    auto address = loopbackAddress();
    auto manager = TVNetworkReachabilityManager::managerForAddress(reinterpret_cast<const sockaddr*>(&address));
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::thread setter([&] {
        while (!stop.load()) manager->setReachabilityStatusChangeBlock([&calls](int) { ++calls; });
    });
    for (int i = 0; i < 30; ++i) manager->startMonitoring();
    // The reports run here, on the main queue, while the setter keeps going.
    platform::RunLoop::main()->runUntil([&] { return calls.load() >= 30; }, 3.0);
    stop = true;
    setter.join();
    manager->stopMonitoring();
    EXPECT_GT(calls.load(), 0);
}

}  // namespace
}  // namespace pellix
