// HTTP-DNS against a local HTTPS stand-in: the cache windows on a manual
// clock, one lookup per host, untrusted answers, and the utilities' address
// choice built on it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "DnsResponder.h"
#include "HttpdnsPeer.h"
#include "HOSSDK/HOSHttpdns.h"
#include "HOSSDK/HOSIPv6/HOSIPv6Adapter.h"
#include "HOSSDK/HOSIPv6/HOSIPv6PrefixResolver.h"
#include "HOSSDK/HOSUtil.h"
#include "NetworkFixture.h"
#include "platform/Clock.h"
#include "platform/ManualClock.h"

namespace pellix::hostest {
namespace {


// A host name no earlier test of this process has used: the resolver's
// cache lives as long as the process.
std::string freshHost(const std::string& label) {
    static std::atomic<int> n{0};
    return label + "-" + std::to_string(++n) + ".bucket.test";
}

class Httpdns : public LoggedTest {
protected:
    static void SetUpTestSuite() { peer = new HttpdnsPeer(); }
    static void TearDownTestSuite() {
        delete peer;
        peer = nullptr;
    }
    void SetUp() override {
        LoggedTest::SetUp();
        for (const char* v : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            ::unsetenv(v);
        ::setenv("SSL_CERT_FILE", peer->certs.ca.cert.c_str(), 1);
        platform::Clock::setShared(clock);
        dns.setServer("127.0.0.1", peer->port);
        dns.setAccountId(kAccount);
    }
    void TearDown() override {
        platform::Clock::setShared(nullptr);
        LoggedTest::TearDown();
    }
    // Waits until the host's lookup has ended and the stand-in has seen
    // `queries` of them.
    void settle(const std::string& host, int queries) {
        ASSERT_TRUE(waitFor([&] { return !dns.isResolving(host); })) << host;
        EXPECT_EQ(peer->queries(host), queries) << host;
    }
    static std::string answer(int status, const std::string& body) {
        std::string escaped;
        for (char c : body) escaped += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
        return "{\"status\":" + std::to_string(status) + ",\"body\":\"" + escaped + "\"}";
    }

    static inline HttpdnsPeer* peer = nullptr;
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    HOSHttpdns& dns = HOSHttpdns::sharedInstance();
};

TEST_F(Httpdns, AnAnswerServesItsTtlPlusOneMinuteAndRefreshesFromTenSecondsBefore) {
    const std::string host = freshHost("window");
    peer->setAnswers("{\"" + host + "\":[" + answer(200, R"({"ttl":300,"ips":["10.1.2.3","10.1.2.4"]})") + "," +
                     answer(500, "oops") + "]}");
    const double t0 = platform::Clock::now();

    // Unknown: nothing yet, one lookup however often it is asked.
    EXPECT_EQ(dns.asynGetIpByHost(host), std::nullopt);
    EXPECT_TRUE(dns.isResolving(host));
    EXPECT_EQ(dns.asynGetIpByHost(host), std::nullopt);
    settle(host, 1);
    auto entry = dns.ipObjectForHost(host);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->ip(), "10.1.2.3");
    EXPECT_DOUBLE_EQ(entry->expiredTime(), t0 + 300);
    char expiry[64];
    std::snprintf(expiry, sizeof expiry, "%lf", t0 + 300);
    EXPECT_TRUE(log_->has("[Debug]: Httpdns resolve host: " + host + " success, ip: 10.1.2.3, expiredTime: " + expiry));

    // Later asks, on the manual clock (every refresh gets the 500).
    struct Step {
        double at;
        std::optional<std::string> answer;
        bool refresh;
    };
    int queries = 1;
    for (const auto& s : {Step{0, "10.1.2.3", false}, Step{289, "10.1.2.3", false}, Step{291, "10.1.2.3", true},
                          Step{300, "10.1.2.3", true}, Step{359, "10.1.2.3", true}, Step{361, std::nullopt, true}}) {
        SCOPED_TRACE(s.at);
        clock->advance(t0 + s.at - platform::Clock::now());
        EXPECT_EQ(dns.asynGetIpByHost(host), s.answer);
        if (s.refresh) ++queries;
        settle(host, queries);
    }
    // The failed refreshes left the answer as it was.
    entry = dns.ipObjectForHost(host);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->ip(), "10.1.2.3");
    EXPECT_DOUBLE_EQ(entry->expiredTime(), t0 + 300);
    EXPECT_TRUE(log_->has("[Error]: Httpdns resolve host: " + host + " failed, responseCode: 500"));
}

TEST_F(Httpdns, AnswersThatCannotBeUsedChangeNothingAndAreLogged) {
    struct Case {
        std::string reply;
        std::string logged;
    };
    const std::vector<Case> cases = {
        {answer(200, R"({"ttl":300,"ips":[]})"), "failed, ip list empty."},
        {answer(200, R"({"ttl":300})"), "failed, ip list empty."},
        {answer(200, "not json"), "failed, malformed answer: body is not a JSON object."},
        {answer(200, R"(["10.1.2.3"])"), "failed, malformed answer: body is not a JSON object."},
        {answer(200, R"({"ips":"10.1.2.3"})"), "failed, malformed answer: \"ips\" is not a list."},
        {answer(200, R"({"ips":["evil.example"]})"), "failed, malformed answer: first entry of \"ips\" is not an IP address."},
        {answer(200, R"({"ips":["10.1.2.3/8"]})"), "failed, malformed answer: first entry of \"ips\" is not an IP address."},
        {answer(200, R"({"ips":[167838211]})"), "failed, malformed answer: first entry of \"ips\" is not an IP address."},
        {answer(404, ""), "failed, responseCode: 404"},
    };
    std::vector<std::string> hosts;
    std::string answers = "{";
    for (std::size_t i = 0; i < cases.size(); ++i) {
        hosts.push_back(freshHost("bad"));
        answers += (i ? ",\"" : "\"") + hosts[i] + "\":[" + cases[i].reply + "]";
    }
    peer->setAnswers(answers + "}");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string& host = hosts[i];
        SCOPED_TRACE(cases[i].reply);
        EXPECT_EQ(dns.asynGetIpByHost(host), std::nullopt);
        settle(host, 1);
        EXPECT_FALSE(dns.ipObjectForHost(host));
        EXPECT_TRUE(log_->has("[Error]: Httpdns resolve host: " + host + " " + cases[i].logged));
        // Nothing in flight any more: the next ask tries again.
        EXPECT_EQ(dns.asynGetIpByHost(host), std::nullopt);
        settle(host, 2);
    }
}

TEST_F(Httpdns, AServerThatCannotBeReachedIsStatusZero) {
    int closedPort = test::freePort();
    dns.setServer("127.0.0.1", closedPort);
    const std::string host = freshHost("down");
    EXPECT_EQ(dns.asynGetIpByHost(host), std::nullopt);
    ASSERT_TRUE(waitFor([&] { return !dns.isResolving(host); }));
    EXPECT_TRUE(log_->has("[Error]: Httpdns resolve host: " + host + " failed, responseCode: 0"));
}

TEST_F(Httpdns, GetIpByHostUsesTheAddressOnlyWhenKnownAndNoProxyIsSet) {
    const std::string v4 = freshHost("v4"), v6 = freshHost("v6"), viaProxy = freshHost("proxy");
    peer->setAnswers("{\"" + v4 + "\":[" + answer(200, R"({"ttl":600,"ips":["10.9.8.7"]})") + "],\"" + v6 + "\":[" +
                     answer(200, R"({"ttl":600,"ips":["2001:db8::5"]})") + "],\"" + viaProxy + "\":[" +
                     answer(200, R"({"ttl":600,"ips":["10.0.0.1"]})") + "]}");

    EXPECT_EQ(HOSUtil::getIpByHost(v4), v4) << "nothing known yet: the name itself";
    EXPECT_EQ(HOSUtil::getIpByHost(v6), v6);
    settle(v4, 1);
    settle(v6, 1);
    EXPECT_EQ(HOSUtil::getIpByHost(v4), "10.9.8.7");
    EXPECT_EQ(HOSUtil::getIpByHost(v6), "[2001:db8::5]");
    EXPECT_TRUE(log_->has("[Debug]: resolved host " + v4 + " and get ip: (null)"));
    EXPECT_TRUE(log_->has("[Debug]: resolved host " + v4 + " and get ip: 10.9.8.7"));

    // On an IPv6-only network the IPv4 answer becomes a synthesised address.
    DnsResponder nat64;
    nat64.answer("64:ff9b::c000:aa");
    auto& resolver = HOSIPv6PrefixResolver::getInstance();
    resolver.setNameserver(nat64.address());
    auto& adapter = HOSIPv6Adapter::getInstance();
    adapter.setDNSServers(std::vector{socketAddress("2001:db8::53")});
    ASSERT_TRUE(adapter.reResolveIPv6OnlyStatus());
    ASSERT_TRUE(waitFor([&] { return resolver.ipv6PrefixResolveStatus() == HOSIPv6PrefixResolver::kResolved; }));
    EXPECT_EQ(HOSUtil::getIpByHost(v4), "[64:ff9b::a09:807]");
    adapter.setDNSServers(std::vector{socketAddress("127.0.0.1")});
    adapter.reResolveIPv6OnlyStatus();

    // Behind a proxy HTTP-DNS is not asked at all.
    ::setenv("https_proxy", "http://127.0.0.1:3128", 1);
    EXPECT_EQ(HOSUtil::getIpByHost(viaProxy), viaProxy);
    EXPECT_FALSE(dns.isResolving(viaProxy));
    ::unsetenv("https_proxy");
    EXPECT_EQ(peer->queries(viaProxy), 0);
    EXPECT_TRUE(log_->has("[Debug]: current network is delegate state"));
}

}  // namespace
}  // namespace pellix::hostest
