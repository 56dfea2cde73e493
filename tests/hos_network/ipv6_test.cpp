// IPv6 adaptation: RFC 6052 synthesis, NAT64 prefix discovery against a DNS
// responder on loopback, and the IPv6-only judgement from the name servers.
#include <gtest/gtest.h>

#include <sys/un.h>

#include "DnsResponder.h"
#include "HOSSDK/HOSIPv6/HOSIPv6Adapter.h"
#include "HOSSDK/HOSIPv6/HOSIPv6PrefixResolver.h"
#include "NetworkFixture.h"
#include "platform/Application.h"
#include "platform/DNSResolver.h"
#include "platform/NotificationCenter.h"

namespace pellix::hostest {
namespace {

// Every test of this program starts with the system resolver out of reach:
// prefix lookups go to a closed loopback port and the name servers judged
// are one IPv4 loopback address, so nothing leaves the machine.
class LoopbackOnlyEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (std::getenv("PELLIX_HOS_NETNS_CHILD")) return;
        sockaddr_storage closed = socketAddress("127.0.0.1", 9);
        HOSIPv6PrefixResolver::getInstance().setNameserver(reinterpret_cast<const sockaddr_in&>(closed));
        HOSIPv6Adapter::getInstance().setDNSServers(std::vector{socketAddress("127.0.0.1")});
        HOSIPv6Adapter::getInstance().reResolveIPv6OnlyStatus();
    }
};
[[maybe_unused]] auto* const loopbackOnly = ::testing::AddGlobalTestEnvironment(new LoopbackOnlyEnvironment);

using Address6 = std::array<std::uint8_t, 16>;

void append(std::vector<std::uint8_t>& to, std::initializer_list<int> bytes) {
    for (int b : bytes) to.push_back(static_cast<std::uint8_t>(b));
}

std::string text6(const Address6& a) {
    char t[INET6_ADDRSTRLEN];
    return ::inet_ntop(AF_INET6, a.data(), t, sizeof t);
}

std::span<const std::uint8_t> row(int r) {
    return {V6_PREFIX_CONTENT_TABLE[r], static_cast<std::size_t>(V6_PREFIX_SIZE_TABLE[r])};
}

// The discovery answer a NAT64 network with table row `r` gives.
Address6 discoveryAnswer(int r, std::uint8_t last = 170) {
    return *HOSIPv6PrefixResolver::synthesize(row(r), {192, 0, 0, last});
}

// Points the resolver at `dns`, has it look the prefix up again, and waits
// until that lookup has ended.
void rediscover(DnsResponder& dns) {
    auto& resolver = HOSIPv6PrefixResolver::getInstance();
    resolver.setNameserver(dns.address());
    resolver.updateIPv6Prefix();
    ASSERT_TRUE(waitFor([&] { return resolver.ipv6PrefixResolveStatus() != HOSIPv6PrefixResolver::kResolving; }));
}

TEST(IPv6Synthesis, RFC6052Table) {
    // RFC 6052 section 2.4: 192.0.2.33 under each of the table's prefixes.
    const char* expected[V6_PREFIX_TABLE_SIZE] = {
        "64:ff9b::c000:221",          "2001:db8:c000:221::",       "2001:db8:1c0:2:21::",
        "2001:db8:122:c000:2:2100::", "2001:db8:122:3c0:0:221::", "2001:db8:122:344:c0:2:2100:0",
        "2001:db8:122:344::c000:221",
    };
    for (int r = 0; r < V6_PREFIX_TABLE_SIZE; ++r) {
        auto out = HOSIPv6PrefixResolver::synthesize(row(r), {192, 0, 2, 33});
        ASSERT_TRUE(out) << r;
        EXPECT_EQ(text6(*out), expected[r]) << "row " << r;
        EXPECT_EQ((*out)[8], 0) << "bits 64-71 stay zero, row " << r;
    }
    std::uint8_t three[3] = {0x20, 0x01, 0x0d};
    EXPECT_FALSE(HOSIPv6PrefixResolver::synthesize(three, {192, 0, 2, 33}));
}

TEST(IPv6Synthesis, PrefixComparison) {
    const std::uint8_t a[4] = {0x20, 0x01, 0x0d, 0xb8}, b[4] = {0x20, 0x01, 0x0d, 0xb9};
    EXPECT_TRUE(HOSIPv6PrefixResolver::isIPv6Prefix(a, 4, b, 3));
    EXPECT_FALSE(HOSIPv6PrefixResolver::isIPv6Prefix(a, 4, b, 4));
    EXPECT_TRUE(HOSIPv6PrefixResolver::isIPv6Prefix(a, 2, b, 16));
}

TEST(IPv6Synthesis, TextThatIsNotAnIPv4AddressGivesNothing) {
    auto& resolver = HOSIPv6PrefixResolver::getInstance();
    // The classic conversion reads these as 255.255.255.255 or as partial
    // addresses; none may become a connection target.
    for (const char* bad : {"", "256.1.1.1", "1.2.3", "abc", "1.2.3.4 ", "1.2.3.4.5", "0x7f.1", "::1"})
        EXPECT_FALSE(resolver.convertIPv4toIPv6(bad)) << '"' << bad << '"';
    // The all-ones address itself is an address like any other.
    auto prefix = resolver.ipv6Prefix();
    auto expected = HOSIPv6PrefixResolver::synthesize(
        std::span<const std::uint8_t>(prefix.data(), static_cast<std::size_t>(resolver.prefixLen())), {255, 255, 255, 255});
    ASSERT_TRUE(expected);
    EXPECT_EQ(resolver.convertIPv4toIPv6("255.255.255.255"), text6(*expected));
}

class PrefixDiscovery : public LoggedTest {};

TEST_F(PrefixDiscovery, FindsTheNetworkPrefixAndKeepsIt) {
    DnsResponder dns;
    auto& resolver = HOSIPv6PrefixResolver::getInstance();

    // A /40 network: its bytes also start like the /32 row, so only the
    // well-known address in the answer tells the two apart.
    dns.answer(discoveryAnswer(2));
    rediscover(dns);
    EXPECT_EQ(resolver.ipv6PrefixResolveStatus(), HOSIPv6PrefixResolver::kResolved);
    EXPECT_EQ(resolver.prefixLen(), 5);
    EXPECT_EQ(resolver.convertIPv4toIPv6("192.0.2.33"), "2001:db8:1c0:2:21::");
    int asked = dns.queries();
    EXPECT_EQ(asked, 1);

    // Resolved: conversions start no lookup until the next update.
    for (int i = 0; i < 5; ++i) resolver.convertIPv4toIPv6("192.0.2.1");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(dns.queries(), asked);

    // 192.0.0.171 marks a prefix as well; the /56 row.
    dns.answer(discoveryAnswer(4, 171));
    rediscover(dns);
    EXPECT_EQ(resolver.prefixLen(), 7);
    EXPECT_EQ(resolver.convertIPv4toIPv6("192.0.2.33"), "2001:db8:122:3c0:0:221::");
}

TEST_F(PrefixDiscovery, UnusableAnswersKeepThePrefixAndRetryOnTheNextConversion) {
    DnsResponder dns;
    auto& resolver = HOSIPv6PrefixResolver::getInstance();
    dns.answer(discoveryAnswer(0));
    rediscover(dns);
    ASSERT_EQ(resolver.prefixLen(), 12);
    ASSERT_EQ(resolver.ipv6Prefix()[1], 0x64);

    struct Case {
        const char* what;
        std::function<void()> configure;
    };
    // After the question as asked: an AAAA record of four bytes, and one
    // whose length runs past the reply.
    const std::vector<std::uint8_t> shortRecord = {0xC0, 12, 0, 28, 0, 1, 0, 0, 0, 60, 0, 4, 1, 2, 3, 4};
    const std::vector<std::uint8_t> pastEnd = {0xC0, 12, 0, 28, 0, 1, 0, 0, 0, 60, 0xFF, 0xFF, 1, 2};
    const std::vector<Case> cases = {
        {"a prefix outside the table", [&] { dns.answer("fd00:1:2:3:4:5:c000:aa"); }},
        {"the table's bytes without 192.0.0.170", [&] { dns.answer("2001:db8:122:344::1"); }},
        {"no such name", [&] { dns.nameError(); }},
        {"an AAAA record of four bytes", [&] { dns.raw(shortRecord); }},
        {"a record running past the reply", [&] { dns.raw(pastEnd); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.configure();
        int before = dns.queries();
        rediscover(dns);
        EXPECT_EQ(dns.queries(), before + 1);
        EXPECT_EQ(resolver.ipv6PrefixResolveStatus(), HOSIPv6PrefixResolver::kIdle);
        EXPECT_EQ(resolver.prefixLen(), 12);
        EXPECT_EQ(resolver.convertIPv4toIPv6("192.0.2.33"), "64:ff9b::c000:221");
        // Idle: that conversion started the next lookup.
        EXPECT_TRUE(waitFor([&] { return dns.queries() == before + 2; }));
        ASSERT_TRUE(waitFor([&] { return resolver.ipv6PrefixResolveStatus() != HOSIPv6PrefixResolver::kResolving; }));
    }
    EXPECT_TRUE(log_->hasPart("[Debug]: NAT64 prefix lookup of ipv4only.arpa failed: malformed reply"));
    EXPECT_TRUE(log_->has("[Debug]: NAT64 prefix of ipv4only.arpa matches no known prefix"));
}

TEST(DNSReplyReader, RefusesRepliesItCannotRead) {
    auto parse = [](std::vector<std::uint8_t> m) {
        return platform::DNSResolver::parseAAAAReply(std::span<const std::uint8_t>(m));
    };
    const std::vector<std::uint8_t> okHead = {0, 1, 0x81, 0x80, 0, 1, 0, 2, 0, 0, 0, 0};
    std::vector<std::uint8_t> good = okHead;
    append(good, {1, 'a', 0, 0, 28, 0, 1});
    // A CNAME first (skipped), then the AAAA.
    append(good, {0xC0, 12, 0, 5, 0, 1, 0, 0, 0, 60, 0, 2, 0xC0, 12});
    append(good, {0xC0, 12, 0, 28, 0, 1, 0, 0, 0, 60, 0, 16});
    for (int i = 0; i < 16; ++i) good.push_back(static_cast<std::uint8_t>(i));
    auto ok = parse(good);
    ASSERT_TRUE(ok);
    ASSERT_EQ(ok->size(), 1u);
    EXPECT_EQ((*ok)[0][15], 15);

    // Every shorter cut of a good reply is refused, never read past.
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(parse(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n)))) << n;
    auto query = good;
    query[2] = 0x01;  // not a response
    EXPECT_FALSE(parse(query));
    auto failure = good;
    failure[3] = 0x82;  // server failure
    EXPECT_FALSE(parse(failure));
    auto badLabel = good;
    badLabel[12] = 0x80;  // a label length no name may have
    EXPECT_FALSE(parse(badLabel));
}

class IPv6OnlyJudgement : public LoggedTest {
protected:
    void TearDown() override {
        adapter.setDNSServers(std::vector{socketAddress("127.0.0.1")});
        adapter.reResolveIPv6OnlyStatus();
        LoggedTest::TearDown();
    }
    HOSIPv6Adapter& adapter = HOSIPv6Adapter::getInstance();
};

TEST_F(IPv6OnlyJudgement, NameServersDecide) {
    DnsResponder dns;
    dns.answer(discoveryAnswer(0));
    HOSIPv6PrefixResolver::getInstance().setNameserver(dns.address());

    sockaddr_storage unix{};
    unix.ss_family = AF_UNIX;
    struct Case {
        const char* what;
        std::vector<sockaddr_storage> servers;
        int flags;
        bool ipv6Only;
        std::optional<std::string> hostFor192_0_2_33;
    };
    const std::vector<Case> cases = {
        {"IPv4 and IPv6", {socketAddress("192.0.2.53"), socketAddress("2001:db8::53")}, 3, false, "192.0.2.33"},
        {"IPv4 only", {socketAddress("192.0.2.53")}, 1, false, "192.0.2.33"},
        {"IPv6 only", {socketAddress("2001:db8::53"), socketAddress("2001:db8::54")}, 2, true, "[64:ff9b::c000:221]"},
        {"none", {}, 0, false, "192.0.2.33"},
        {"another family", {unix}, 0, false, "192.0.2.33"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        adapter.setDNSServers(c.servers);
        EXPECT_EQ(adapter.getDNSServersIpStack(), c.flags);
        EXPECT_EQ(adapter.reResolveIPv6OnlyStatus(), c.ipv6Only);
        if (c.ipv6Only) {
            // Each IPv6-only judgement looks the prefix up again.
            ASSERT_TRUE(waitFor([&] { return dns.queries() >= 1; }));
            ASSERT_TRUE(waitFor([] {
                return HOSIPv6PrefixResolver::getInstance().ipv6PrefixResolveStatus() == HOSIPv6PrefixResolver::kResolved;
            }));
        }
        EXPECT_EQ(adapter.handleIpv4Address(std::string("192.0.2.33")), c.hostFor192_0_2_33);
        // An IPv6 literal is bracketed on any network; nothing gives nothing.
        EXPECT_EQ(adapter.handleIpv4Address(std::string("2001:db8::7")), "[2001:db8::7]");
        EXPECT_EQ(adapter.handleIpv4Address(std::string()), std::nullopt);
        EXPECT_EQ(adapter.handleIpv4Address(std::nullopt), std::nullopt);
    }
    EXPECT_TRUE(log_->has("[Debug]: [isIPv6OnlyNetwork]: Error."));
    EXPECT_TRUE(log_->has("[Debug]: getDNSServersIpStack: Undefined family."));
    EXPECT_TRUE(log_->has("[Debug]: [isIPv6OnlyNetwork]: IPv6-Only network now."));
    EXPECT_TRUE(log_->has("[Debug]: [isIPv6OnlyNetwork]: Not IPv6-Only network now."));
}

TEST_F(IPv6OnlyJudgement, OnAnIPv6OnlyNetworkBadAddressesGiveNothingNotABrokenHost) {
    DnsResponder dns;
    dns.answer(discoveryAnswer(0));
    HOSIPv6PrefixResolver::getInstance().setNameserver(dns.address());
    adapter.setDNSServers(std::vector{socketAddress("2001:db8::53")});
    ASSERT_TRUE(adapter.reResolveIPv6OnlyStatus());
    for (const char* bad : {"not-an-address", "300.1.1.1", "10.0.0"})
        EXPECT_EQ(adapter.handleIpv4Address(std::string(bad)), std::nullopt) << bad;
}

TEST_F(IPv6OnlyJudgement, CachedUntilTheApplicationBecomesActive) {
    adapter.setDNSServers(std::vector{socketAddress("192.0.2.53")});
    ASSERT_FALSE(adapter.reResolveIPv6OnlyStatus());
    adapter.setDNSServers(std::vector{socketAddress("2001:db8::53")});
    EXPECT_FALSE(adapter.isIPv6OnlyNetwork()) << "the cached judgement stands";
    platform::NotificationCenter::defaultCenter().post(platform::Application::DidBecomeActiveNotification);
    EXPECT_TRUE(adapter.isIPv6OnlyNetwork());
    EXPECT_TRUE(log_->has("[Debug]: [appDidBecomeActiveFunc]: App become active, refresh IPv6-Only status."));
}

}  // namespace
}  // namespace pellix::hostest
