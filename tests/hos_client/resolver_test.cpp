// Where the storage road connects when no test resolver is installed:
// HTTP-DNS only once a deployment named its server; the placeholder server
// is never asked.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "HOSSDK/HOSHttpdns.h"
#include "StandIn.h"
#include "hos_network/HttpdnsPeer.h"

namespace pellix::test {
namespace {

class DefaultResolverTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            ::unsetenv(v);
        if (const char* trust = std::getenv("SSL_CERT_FILE")) savedTrust_ = trust;
    }
    void TearDown() override {
        HOSHttpdns::sharedInstance().setServer(HTTPDNS_SERVER_IP);
        if (savedTrust_)
            ::setenv("SSL_CERT_FILE", savedTrust_->c_str(), 1);
        else
            ::unsetenv("SSL_CERT_FILE");
    }

    // Builds (never sends) a request for an object of `bucket` on the test
    // domain; the address it would connect to.
    static std::optional<std::string> connectAddress(const std::string& bucket) {
        auto state = std::make_shared<HOSNetworkingRequestDelegate>();
        state->setAllNeededMessage(std::make_shared<HOSAllRequestNeededMessage>(
            std::string("http://") + kTestDomain + ":1", "GET", bucket, "k", std::nullopt, std::nullopt, std::nullopt,
            "Thu, 10 Dec 2026 22:00:00 GMT", platform::Dictionary{}, platform::Dictionary{}));
        auto built = state->buildInternalHttpRequest();
        EXPECT_FALSE(built->error());
        return state->internalRequest() ? state->internalRequest()->connectToAddress() : std::nullopt;
    }
    static bool settled(const std::string& host) {
        for (int i = 0; i < 500 && HOSHttpdns::sharedInstance().isResolving(host); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return !HOSHttpdns::sharedInstance().isResolving(host);
    }

    std::optional<std::string> savedTrust_;
};

TEST_F(DefaultResolverTest, HttpdnsIsAskedOnlyOnceItsServerIsConfigured) {
    auto& dns = HOSHttpdns::sharedInstance();
    const std::string host = std::string("unasked.") + kTestDomain;
    ASSERT_FALSE(dns.hasServer());
    EXPECT_FALSE(connectAddress("unasked"));
    EXPECT_FALSE(dns.isResolving(host));
    EXPECT_FALSE(dns.ipObjectForHost(host));

    hostest::HttpdnsPeer peer;
    const std::string answer = R"([{"status":200,"body":"{\"ttl\":300,\"ips\":[\"127.0.0.1\"]}"}])";
    const std::string bucketHost = std::string(kBucket) + "." + kTestDomain;
    peer.setAnswers("{\"" + host + "\":" + answer + ",\"" + bucketHost + "\":" + answer + "}");
    ::setenv("SSL_CERT_FILE", peer.certs.ca.cert.c_str(), 1);
    dns.setServer("127.0.0.1", peer.port);
    dns.setAccountId(hostest::kAccount);
    ASSERT_TRUE(dns.hasServer());

    // The first request starts the lookup and goes by name; later ones are
    // connected to the answer, the name kept in the URL.
    EXPECT_FALSE(connectAddress("unasked"));
    ASSERT_TRUE(settled(host));
    EXPECT_EQ(connectAddress("unasked"), "127.0.0.1");
    EXPECT_EQ(peer.queries(host), 1);

    // The whole road over the HTTP-DNS answer, to the stand-in.
    dns.resolveHost(bucketHost);
    ASSERT_TRUE(settled(bucketHost));
    ASSERT_TRUE(dns.ipObjectForHost(bucketHost));
    StandIn standIn;
    HOSClient client(standIn.endpoint(), std::make_shared<HOSPlainTextAKSKPairCredentialProvider>(
                                             standIn.accessKeyId(), standIn.accessKeySecret()));
    auto task = waitFor(client.putObject(putRequest("via-httpdns.txt", bytesOf("x"))));
    ASSERT_FALSE(task->error()) << task->error()->description();
    EXPECT_EQ(standIn.requests("PutObject")[0].get("host")->asString(),
              bucketHost + ":" + std::to_string(standIn.port()));
}

}  // namespace
}  // namespace pellix::test
