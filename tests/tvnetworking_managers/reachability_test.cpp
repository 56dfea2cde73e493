// TVNetworkReachabilityManager: the flag rule, and real route changes seen
// inside a private network namespace (a child process of this test, so no
// traffic or route ever touches the host's network).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "ManagerFixture.h"
#include "TVNetworking/TVNetworkReachabilityManager.h"
#include "platform/NotificationCenter.h"

namespace pellix::tvtest {
namespace {

using platform::Reachability;

TEST(TVNetworkReachability, StatusFromFlags) {
    struct Case {
        std::uint32_t flags;
        int status;
    };
    const std::uint32_t R = Reachability::kReachable, C = Reachability::kConnectionRequired,
                        D = Reachability::kConnectionOnDemand, T = Reachability::kConnectionOnTraffic,
                        I = Reachability::kInterventionRequired, W = Reachability::kIsWWAN;
    for (const auto& k : {Case{R, 2}, Case{R | W, 1}, Case{R | C, 0}, Case{R | C | D, 2}, Case{R | C | T, 2},
                          Case{R | C | D | I, 0}, Case{R | C | D | W, 1}, Case{0, 0}, Case{C | D | T | W, 0},
                          Case{W, 0}})
        EXPECT_EQ(TVNetworkReachabilityStatusForFlags(k.flags), k.status) << std::hex << k.flags;
}

TEST(TVNetworkReachability, StatusTexts) {
    EXPECT_EQ(TVStringFromNetworkReachabilityStatus(-1), "Unknown");
    EXPECT_EQ(TVStringFromNetworkReachabilityStatus(0), "Not Reachable");
    EXPECT_EQ(TVStringFromNetworkReachabilityStatus(1), "Reachable via WWAN");
    EXPECT_EQ(TVStringFromNetworkReachabilityStatus(2), "Reachable via WiFi");
    EXPECT_EQ(TVStringFromNetworkReachabilityStatus(7), "Unknown");
}

TEST(TVNetworkReachability, FreshManagerAndMissingReference) {
    auto shared = TVNetworkReachabilityManager::sharedManager();
    EXPECT_EQ(shared, TVNetworkReachabilityManager::sharedManager());
    EXPECT_TRUE(shared->networkReachability());
    EXPECT_EQ(shared->networkReachabilityStatus(), -1);
    EXPECT_FALSE(shared->isReachable());
    EXPECT_EQ(shared->localizedNetworkReachabilityStatusString(), "Unknown");

    // No reference: starting does nothing, the status stays unknown.
    auto none = TVNetworkReachabilityManager::managerForDomain("");
    EXPECT_FALSE(none->networkReachability());
    std::atomic<int> calls{0};
    none->setReachabilityStatusChangeBlock([&](int) { ++calls; });
    none->startMonitoring();
    pumpFor(0.2);
    EXPECT_EQ(calls.load(), 0);
    EXPECT_EQ(none->networkReachabilityStatus(), -1);
}

// What one manager reported, in order, on which thread.
struct Reports {
    std::mutex mutex;
    std::vector<std::string> events;  // "block:<s>" / "note:<s>"
    bool allOnMain = true;
    void add(std::string e) {
        std::lock_guard lock(mutex);
        allOnMain = allOnMain && platform::RunLoop::isMainThread();
        events.push_back(std::move(e));
    }
    std::size_t size() {
        std::lock_guard lock(mutex);
        return events.size();
    }
    std::vector<std::string> get() {
        std::lock_guard lock(mutex);
        return events;
    }
};

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// Runs only as the child started below, inside its own network namespace.
TEST(TVNetworkReachabilityNamespace, Child) {
    if (!std::getenv("PELLIX_REACHABILITY_NETNS_CHILD")) GTEST_SKIP() << "runs only inside the namespace test";

    auto manager = TVNetworkReachabilityManager::manager();
    Reports reports;
    manager->setReachabilityStatusChangeBlock([&](int s) {
        EXPECT_EQ(manager->networkReachabilityStatus(), s);  // the property is set before the block
        reports.add("block:" + std::to_string(s));
    });
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        TVNetworkingReachabilityDidChangeNotification, nullptr, nullptr, [&](const platform::Notification& n) {
            EXPECT_EQ(n.objectIdentity(), nullptr);
            reports.add("note:" + std::to_string(n.userInfo().find(TVNetworkingReachabilityNotificationStatusItem)
                                                     ->intValue()));
        });

    // No route at all: the first reading says so, block then notification.
    manager->startMonitoring();
    ASSERT_TRUE(pumpUntil([&] { return reports.size() >= 2; }, 10));
    EXPECT_EQ(reports.get(), (std::vector<std::string>{"block:0", "note:0"}));
    EXPECT_EQ(manager->localizedNetworkReachabilityStatusString(), "Not Reachable");

    // Starting again keeps one watch, and makes its own first report.
    manager->startMonitoring();
    ASSERT_TRUE(pumpUntil([&] { return reports.size() >= 4; }, 10));

    ASSERT_EQ(run("ip link add tvv0 type veth peer name tvv1"), 0);
    ASSERT_EQ(run("ip addr add 10.77.0.1/24 dev tvv0"), 0);
    ASSERT_EQ(run("ip link set tvv1 up"), 0);
    ASSERT_EQ(run("ip link set tvv0 up"), 0);
    // A link without a default route does not make the network reachable.
    pumpFor(0.3);
    EXPECT_EQ(manager->networkReachabilityStatus(), 0);

    ASSERT_EQ(run("ip route add default via 10.77.0.2"), 0);
    ASSERT_TRUE(pumpUntil([&] { return manager->isReachableViaWiFi(); }, 10));
    ASSERT_TRUE(pumpUntil([&] { return reports.size() >= 6; }, 10));
    pumpFor(0.3);
    ASSERT_EQ(reports.get(), (std::vector<std::string>{"block:0", "note:0", "block:0", "note:0", "block:2",
                                                       "note:2"}));

    ASSERT_EQ(run("ip route del default"), 0);
    ASSERT_TRUE(pumpUntil([&] { return reports.size() >= 8; }, 10));
    EXPECT_EQ(reports.get().back(), "note:0");
    EXPECT_FALSE(manager->isReachable());

    // Stopped: changes are no longer reported, the status keeps its value.
    manager->stopMonitoring();
    ASSERT_EQ(run("ip route add default via 10.77.0.2"), 0);
    pumpFor(0.5);
    EXPECT_EQ(reports.size(), 8u);
    EXPECT_EQ(manager->networkReachabilityStatus(), 0);

    EXPECT_TRUE(reports.allOnMain);
    platform::NotificationCenter::defaultCenter().removeObserver(token);

    // An address (given as such or as a name) on the link is reachable while
    // the link is up, whatever the default route.
    sockaddr_in peerAddress{};
    peerAddress.sin_family = AF_INET;
    inet_pton(AF_INET, "10.77.0.2", &peerAddress.sin_addr);
    auto byAddress = TVNetworkReachabilityManager::managerForAddress(reinterpret_cast<sockaddr*>(&peerAddress));
    auto byName = TVNetworkReachabilityManager::managerForDomain("10.77.0.2");
    byAddress->startMonitoring();
    byName->startMonitoring();
    ASSERT_TRUE(pumpUntil([&] { return byAddress->isReachableViaWiFi() && byName->isReachableViaWiFi(); }, 10));
    ASSERT_EQ(run("ip link set tvv0 down"), 0);
    ASSERT_TRUE(pumpUntil([&] { return byAddress->networkReachabilityStatus() == 0; }, 10));
    ASSERT_TRUE(pumpUntil([&] { return byName->networkReachabilityStatus() == 0; }, 10));
}

TEST(TVNetworkReachabilityNamespace, RouteChangesInPrivateNamespace) {
    auto child = test::runSelfInPrivateNetworkNamespace("TVNetworkReachabilityNamespace.Child",
                                                        {{"PELLIX_REACHABILITY_NETNS_CHILD", "1"}});
    if (!child.skipReason.empty()) GTEST_SKIP() << child.skipReason;
    EXPECT_EQ(child.status, 0) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test"), std::string::npos) << child.output;
}

}  // namespace
}  // namespace pellix::tvtest
