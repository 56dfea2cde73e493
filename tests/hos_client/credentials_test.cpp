// Credential providers and the signer against the stand-in's authorisation
// server: one fetch shared by concurrent callers, refresh below 300 s, the
// server's failures, and secrets kept out of every text.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSRequestInterceptor.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDate+HOS.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

class CredentialsTest : public ::testing::Test {
protected:
    std::size_t fetches() { return standIn.requests("GetCredentials").size(); }
    StandIn standIn;
    LoopbackResolver resolver;
};

TEST_F(CredentialsTest, EightThreadsShareOneFetchAndTheTokenSignsRequests) {
    auto provider = std::make_shared<HOSAuthCredentialProvider>(standIn.authURL());
    std::vector<HOSFederationTokenPtr> tokens(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            platform::ErrorPtr error;
            tokens[i] = provider->getToken(&error);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(fetches(), 1u);
    for (const auto& token : tokens) {
        ASSERT_TRUE(token);
        EXPECT_EQ(token, tokens[0]);
    }
    // Converted once from the GMT text.
    EXPECT_FALSE(tokens[0]->expirationTimeInGMTFormat());
    EXPECT_NEAR(tokens[0]->expirationTimeInMilliSecond() / 1000.0, hos_clockSkewFixedDate() + 3600, 10);

    HOSClient client(standIn.endpoint(), provider, std::make_shared<HOSClientConfiguration>());
    auto task = waitFor(client.putObject(putRequest("with-token", bytesOf("signed with a temporary key"))));
    ASSERT_FALSE(task->error()) << task->error()->description();
    auto puts = standIn.requests("PutObject");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].get("accessKeyId")->asString(), *tokens[0]->tAccessKey());
    EXPECT_NE(puts[0].get("stringToSign")->asString().find("x-hos-security-token:"), std::string::npos);
    EXPECT_EQ(fetches(), 1u);
}

TEST_F(CredentialsTest, ATokenIsRefreshedWhenLessThan300SecondsRemain) {
    struct Case {
        int ttl;
        std::size_t fetchesAfterSecondCall;
    };
    for (const auto& c : {Case{299, 2}, Case{310, 1}}) {
        SCOPED_TRACE(c.ttl);
        standIn.admin("DELETE", "/__admin/requests");
        standIn.config("{\"authTtlSeconds\":" + std::to_string(c.ttl) + "}");
        HOSAuthCredentialProvider provider(standIn.authURL());
        platform::ErrorPtr error;
        ASSERT_TRUE(provider.getToken(&error));
        ASSERT_TRUE(provider.getToken(&error));
        EXPECT_EQ(fetches(), c.fetchesAfterSecondCall);
    }
}

TEST_F(CredentialsTest, AuthorisationServerFailuresGiveNoTokenAndNothingIsSent) {
    int closedPort = freePort();
    struct Case {
        const char* name;
        std::string url;
        const char* knobs;
    };
    const Case cases[] = {
        {"status 403", standIn.authURL(), R"({"authStatus":403})"},
        {"unreachable", "http://127.0.0.1:" + std::to_string(closedPort) + "/__auth/credentials", nullptr},
        {"not JSON", "http://127.0.0.1:" + std::to_string(standIn.port()) + "/__admin/nothing", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.knobs) standIn.config(c.knobs);
        auto provider = std::make_shared<HOSAuthCredentialProvider>(c.url);
        platform::ErrorPtr error;
        EXPECT_FALSE(provider->getToken(&error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), HOSClientErrorCodeSignFailed);
        EXPECT_EQ(error->userInfo().find(HOSErrorMessageKey)->asString(), "Can't get a federation token");

        HOSClient client(standIn.endpoint(), provider, std::make_shared<HOSClientConfiguration>());
        auto task = waitFor(client.putObject(putRequest("never-sent", bytesOf("x"))));
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->code(), HOSClientErrorCodeSignFailed);
        standIn.config(R"({"authStatus":200})");
    }
    EXPECT_EQ(standIn.requests("PutObject").size(), 0u);
}

TEST_F(CredentialsTest, SecretsStayOutOfDescriptions) {
    auto provider = std::make_shared<HOSAuthCredentialProvider>(standIn.authURL());
    platform::ErrorPtr error;
    auto token = provider->getToken(&error);
    ASSERT_TRUE(token);
    const std::string description = token->description();
    EXPECT_NE(description.find(*token->tAccessKey()), std::string::npos);
    EXPECT_EQ(description.find(*token->tSecretKey()), std::string::npos);
    EXPECT_EQ(description.find(*token->tToken()), std::string::npos);

    HOSAllRequestNeededMessage message("http://e", "GET", kBucket, "k", std::nullopt, std::nullopt, std::nullopt,
                                       "date", platform::Dictionary{}, platform::Dictionary{});
    HOSSignerInterceptor signer(provider);
    ASSERT_FALSE(signer.interceptRequestMessage(message)->error());
    const std::string text = message.description();
    EXPECT_EQ(text.find(*token->tToken()), std::string::npos);
    EXPECT_EQ(text.find(message.headerParams().find("Authorization")->asString()), std::string::npos);
}

// The caller's own signer: it sees exactly the text the service signs, its
// answer is the Authorization value, and its error fails the request
// unsent, with client code 1 and the signer's user info.
TEST_F(CredentialsTest, ACustomSignerSignsWhatTheServiceChecksAndItsErrorStopsTheRequest) {
    std::vector<std::string> seen;
    std::mutex seenLock;
    const auto id = standIn.accessKeyId(), secret = standIn.accessKeySecret();
    auto signer = std::make_shared<HOSCustomSignerCredentialProvider>(
        [&, id, secret](const std::string& content, platform::ErrorPtr*) -> std::optional<std::string> {
            std::lock_guard<std::mutex> guard(seenLock);
            seen.push_back(content);
            return "HOS " + id + ":" + HOSUtil::calBase64Sha1WithData(content, secret);
        });
    HOSClient client(standIn.endpoint(), signer);
    auto task = waitFor(client.putObject(putRequest("signed.txt", bytesOf("by the caller"))));
    ASSERT_FALSE(task->error()) << task->error()->description();
    auto puts = standIn.requests("PutObject");
    ASSERT_EQ(puts.size(), 1u);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], puts[0].get("stringToSign")->asString());

    HOSClient refusing(standIn.endpoint(), std::make_shared<HOSCustomSignerCredentialProvider>(
                                                  [](const std::string&, platform::ErrorPtr* error) {
                                                      *error = platform::Error::make(
                                                          "signer", 42, platform::Dictionary{{"why", "locked"}});
                                                      return std::optional<std::string>();
                                                  }));
    auto refused = waitFor(refusing.putObject(putRequest("unsigned.txt", bytesOf("x"))));
    ASSERT_TRUE(refused->error());
    EXPECT_EQ(refused->error()->domain(), HOSClientErrorDomain);
    EXPECT_EQ(refused->error()->code(), HOSClientErrorCodeSignFailed);
    EXPECT_EQ(refused->error()->userInfo().find("why")->asString(), "locked");
    EXPECT_EQ(standIn.requests("PutObject").size(), 1u);
}

}  // namespace
}  // namespace pellix::test
