// Reachability for the storage runtime: the connection-kind rule, the flag
// log line, and real network changes inside a private network namespace,
// where the reachability manager makes the IPv6 adapter re-judge the network
// and the NAT64 prefix is discovered from a DNS responder on a veth.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "DnsResponder.h"
#include "HOSSDK/HOSHttpdns.h"
#include "HttpdnsPeer.h"
#include "HOSSDK/HOSIPv6/HOSIPv6Adapter.h"
#include "HOSSDK/HOSIPv6/HOSIPv6PrefixResolver.h"
#include "HOSSDK/HOSIPv6/HOSReachability.h"
#include "HOSSDK/HOSIPv6/HOSReachabilityManager.h"
#include "HOSSDK/HOSUtil.h"
#include "NetworkFixture.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"

namespace pellix::hostest {
namespace {

using platform::Reachability;

TEST(HOSReachabilityFlags, ConnectionKindAndLogLine) {
    std::vector<std::string> logged;
    platform::Log::setSink([&](std::string_view line) { logged.emplace_back(line); });
    struct Case {
        std::uint32_t flags;
        HOSNetworkStatus kind;
        const char* line;
    };
    const std::uint32_t R = Reachability::kReachable, C = Reachability::kConnectionRequired,
                        D = Reachability::kConnectionOnDemand, T = Reachability::kConnectionOnTraffic,
                        I = Reachability::kInterventionRequired, W = Reachability::kIsWWAN,
                        t = Reachability::kTransientConnection, l = Reachability::kIsLocalAddress,
                        d = Reachability::kIsDirect;
    const std::vector<Case> cases = {
        {R, HOSReachableViaWiFi, "-R ------- networkStatusForFlags"},
        {R | W, HOSReachableViaWWAN, "WR ------- networkStatusForFlags"},
        {R | C | D | I, HOSNotReachable, "-R -c-iD-- networkStatusForFlags"},
        {R | C | D, HOSReachableViaWiFi, "-R -c--D-- networkStatusForFlags"},
        {R | C | T, HOSReachableViaWiFi, "-R -cC---- networkStatusForFlags"},
        {R | C, HOSNotReachable, "-R -c----- networkStatusForFlags"},
        {R | C | I | W, HOSReachableViaWWAN, "WR -c-i--- networkStatusForFlags"},
        {C | D | W, HOSNotReachable, "W- -c--D-- networkStatusForFlags"},
        {0, HOSNotReachable, "-- ------- networkStatusForFlags"},
        {R | t | l | d, HOSReachableViaWiFi, "-R t----ld networkStatusForFlags"},
    };
    for (const auto& c : cases) {
        logged.clear();
        EXPECT_EQ(HOSReachability::networkStatusForFlags(c.flags), c.kind) << std::hex << c.flags;
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_NE(logged[0].find(std::string("Reachability Flag Status: ") + c.line), std::string::npos) << logged[0];
    }
    platform::Log::setSink(nullptr);
}

TEST(HOSReachabilityFlags, FactoriesNeedSomethingToWatch) {
    EXPECT_FALSE(HOSReachability::reachabilityWithHostName(""));
    EXPECT_FALSE(HOSReachability::reachabilityWithAddress(nullptr));
    sockaddr_storage unix{};
    unix.ss_family = AF_UNIX;
    EXPECT_FALSE(HOSReachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&unix)));
    EXPECT_TRUE(HOSReachability::reachabilityForInternetConnection());
    auto loopback = socketAddress("127.0.0.1", 0);
    auto r = HOSReachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&loopback));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->currentReachabilityStatus(), HOSReachableViaWiFi);
    EXPECT_FALSE(r->connectionRequired());
}

int sh(const std::string& command) { return test::run(command + " >/dev/null 2>&1"); }

bool pumpUntil(const std::function<bool()>& pred, double seconds = 15) {
    return platform::RunLoop::main()->runUntil(pred, seconds);
}

class NetworkNamespace : public LoggedTest {};

// Runs only as the child started below: inside its own network and mount
// namespaces, with /etc/resolv.conf replaced by a file of the test's own.
TEST_F(NetworkNamespace, Child) {
    if (!std::getenv("PELLIX_HOS_NETNS_CHILD")) GTEST_SKIP() << "runs only inside the namespace test";
    test::TempDir dir;
    const std::string conf = dir.file("resolv.conf");
    test::writeFile(conf, "nameserver 10.78.0.53\n");
    ASSERT_EQ(sh("mount --bind " + conf + " /etc/resolv.conf"), 0);
    ASSERT_EQ(sh("ip link set lo up"), 0);

    // The resolver configuration names an IPv4 server: not IPv6-only.
    auto& adapter = HOSIPv6Adapter::getInstance();
    auto& resolver = HOSIPv6PrefixResolver::getInstance();
    EXPECT_EQ(adapter.getDNSServersIpStack(), HOSIPv6Adapter::kDNSServerIPv4);
    EXPECT_FALSE(adapter.isIPv6OnlyNetwork());

    HOSReachabilityManager::setWatchedHostName("10.78.0.2");
    auto& manager = HOSReachabilityManager::shareInstance();
    ASSERT_TRUE(manager.reachabilityRef());
    EXPECT_EQ(HOSUtil::buildNetWorkConnectedMsg(), "[network_state]: disconnected");

    auto peer = socketAddress("10.78.0.2", 0);
    auto watched = HOSReachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&peer));
    ASSERT_TRUE(watched);
    std::atomic<int> notes{0};
    std::atomic<bool> senderRight{true};
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        hosReachabilityChangedNotification, nullptr, nullptr, [&](const platform::Notification& n) {
            senderRight = senderRight && n.objectIdentity() == watched.get();
            ++notes;
        });
    ASSERT_TRUE(watched->startNotifier());
    EXPECT_EQ(watched->currentReachabilityStatus(), HOSNotReachable);

    // The new network: IPv6 name server only, NAT64 with a /56 prefix. Its
    // DNS server answers on the veth before the link comes up.
    test::writeFile(conf, "nameserver fd00:64::1\n");
    ASSERT_EQ(sh("ip link add hv0 type veth peer name hv1"), 0);
    ASSERT_EQ(sh("ip addr add 10.78.0.1/24 dev hv0"), 0);
    ASSERT_EQ(sh("ip -6 addr add fd00:64::1/64 dev hv0 nodad"), 0);
    DnsResponder dns("fd00:64::1", 53);
    dns.answer(*HOSIPv6PrefixResolver::synthesize(
        std::span<const std::uint8_t>(V6_PREFIX_CONTENT_TABLE[4], 7), {192, 0, 0, 170}));
    EXPECT_FALSE(adapter.isIPv6OnlyNetwork()) << "judged again only when the network changes";

    ASSERT_EQ(sh("ip link set hv1 up"), 0);
    ASSERT_EQ(sh("ip link set hv0 up"), 0);
    ASSERT_TRUE(pumpUntil([&] {
        return resolver.ipv6PrefixResolveStatus() == HOSIPv6PrefixResolver::kResolved && resolver.prefixLen() == 7;
    })) << "status " << resolver.ipv6PrefixResolveStatus() << ", " << dns.queries() << " DNS queries";
    EXPECT_TRUE(adapter.isIPv6OnlyNetwork());
    EXPECT_GE(dns.queries(), 1);
    EXPECT_EQ(adapter.handleIpv4Address(std::string("192.0.2.33")), "[2001:db8:122:3c0:0:221::]");
    EXPECT_TRUE(
        log_->has("[Debug]: [HalvaneReachabilityManager]: Network changed, Pre network status is not IPv6-Only."));
    EXPECT_EQ(HOSUtil::buildNetWorkConnectedMsg(), "[network_state]: connected");

    ASSERT_TRUE(pumpUntil([&] { return notes.load() >= 1; }));
    EXPECT_EQ(watched->currentReachabilityStatus(), HOSReachableViaWiFi);

    // HTTP-DNS on this network: its server 127.0.0.1 is reached at the
    // synthesised address (the server listens there only, as if behind
    // NAT64), while TLS still checks the certificate for 127.0.0.1.
    auto synthesised = resolver.convertIPv4toIPv6("127.0.0.1");
    ASSERT_TRUE(synthesised);
    ASSERT_EQ(sh("ip -6 addr add " + *synthesised + "/128 dev lo nodad"), 0);
    HttpdnsPeer httpdns(*synthesised);  // not on 127.0.0.1 itself
    ::setenv("SSL_CERT_FILE", httpdns.certs.ca.cert.c_str(), 1);
    httpdns.setAnswers(R"({"cdn.bucket.test":[{"status":200,"body":"{\"ttl\":600,\"ips\":[\"198.51.100.7\"]}"}]})");
    auto& lookups = HOSHttpdns::sharedInstance();
    lookups.setServer("127.0.0.1", httpdns.port);
    lookups.setAccountId(kAccount);
    EXPECT_EQ(HOSUtil::getIpByHost("cdn.bucket.test"), "cdn.bucket.test");
    ASSERT_TRUE(waitFor([&] { return !lookups.isResolving("cdn.bucket.test"); }));
    EXPECT_EQ(httpdns.queries("cdn.bucket.test"), 1);
    EXPECT_EQ(HOSUtil::getIpByHost("cdn.bucket.test"), "[2001:db8:122:3c6:33:6407::]");

    // Stopped: the wrapper posts nothing more; the manager still watches.
    watched->stopNotifier();
    int seen = notes.load();
    test::writeFile(conf, "nameserver 10.78.0.53\n");
    ASSERT_EQ(sh("ip link set hv0 down"), 0);
    ASSERT_TRUE(pumpUntil([&] { return !adapter.isIPv6OnlyNetwork(); }));
    EXPECT_TRUE(log_->has("[Debug]: [HalvaneReachabilityManager]: Network changed, Pre network status is IPv6-Only."));
    EXPECT_EQ(notes.load(), seen);
    EXPECT_TRUE(senderRight);
    EXPECT_EQ(HOSUtil::buildNetWorkConnectedMsg(), "[network_state]: disconnected");
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(NetworkNamespaceRun, ReachabilityAndPrefixDiscoveryInAPrivateNetwork) {
    auto child = test::runSelfInPrivateNetworkNamespace("NetworkNamespace.Child", {{"PELLIX_HOS_NETNS_CHILD", "1"}},
                                                        {"-m"});
    if (!child.skipReason.empty()) GTEST_SKIP() << child.skipReason;
    EXPECT_EQ(child.status, 0) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test"), std::string::npos) << child.output;
}

}  // namespace
}  // namespace pellix::hostest
