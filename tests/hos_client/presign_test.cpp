// Presigned and public URLs, fetched by curl from the stand-in: every kind of
// credential yields a URL that works until it expires on the server's clock,
// and the URL keeps the endpoint's port.
#include <gtest/gtest.h>

#include <cmath>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDate+HOS.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

struct Fetch {
    int status = 0;
    std::string body;
};

class PresignTest : public ::testing::Test {
protected:
    // The bucket host is pinned to loopback the way the client's resolver
    // pins it, so curl sends the Host header a real client would.
    Fetch curl(const std::string& url) {
        const std::string pin = std::string(kBucket) + "." + kTestDomain + ":" + std::to_string(standIn.port()) +
                                ":127.0.0.1";
        Process process({"curl", "-s", "-g", "--resolve", pin, "-w", "\n%{http_code}", url});
        EXPECT_EQ(process.wait(), 0) << process.errorOutput();
        const std::string out = process.output();
        const auto nl = out.rfind('\n');
        if (nl == std::string::npos) return {};
        return {std::atoi(out.c_str() + nl + 1), out.substr(0, nl)};
    }
    std::string put(const std::string& key, const std::string& content) {
        HOSClient client(standIn.endpoint(), keyPair());
        auto task = waitFor(client.putObject(putRequest(key, bytesOf(content))));
        EXPECT_FALSE(task->error()) << task->error()->description();
        return content;
    }
    HOSCredentialProviderPtr keyPair() {
        return std::make_shared<HOSPlainTextAKSKPairCredentialProvider>(standIn.accessKeyId(),
                                                                        standIn.accessKeySecret());
    }
    static std::string urlOf(const HOSTaskPtr& task) {
        EXPECT_TRUE(task->isCompleted());
        EXPECT_FALSE(task->error()) << task->error()->description();
        const auto* url = task->resultAs<std::string>();
        return url ? *url : std::string();
    }
    static std::string queryItem(const std::string& url, const std::string& name) {
        const auto at = url.find((url.find("?" + name + "=") != std::string::npos ? "?" : "&") + name + "=");
        if (at == std::string::npos) return "<absent>";
        const auto start = at + name.size() + 2;
        return url.substr(start, url.find('&', start) - start);
    }

    StandIn standIn;
    LoopbackResolver resolver;
};

TEST_F(PresignTest, EveryCredentialKindSignsAURLThatCurlCanFetch) {
    const std::string key = "albums/2026 winter/ü+snow*.jpg";
    const std::string content = put(key, "a photo fetched without credentials");
    auto federation = std::make_shared<HOSAuthCredentialProvider>(standIn.authURL());
    platform::ErrorPtr error;
    auto token = federation->getToken(&error);
    ASSERT_TRUE(token);
    auto sts = std::make_shared<HOSStsTokenCredentialProvider>(*token->tAccessKey(), *token->tSecretKey(),
                                                               *token->tToken());
    auto custom = std::make_shared<HOSCustomSignerCredentialProvider>(
        [secret = standIn.accessKeySecret(), id = standIn.accessKeyId()](const std::string& text, platform::ErrorPtr*) {
            return std::optional<std::string>("HOS " + id + ":" + HOSUtil::calBase64Sha1WithData(text, secret));
        });
    struct Case {
        const char* name;
        HOSCredentialProviderPtr provider;
        bool carriesToken;
    };
    for (const auto& c : {Case{"key pair", keyPair(), false}, Case{"custom signer", custom, false},
                          Case{"federation", federation, true}, Case{"sts", sts, true}}) {
        SCOPED_TRACE(c.name);
        HOSClient client(standIn.endpoint(), c.provider);
        const double before = std::trunc(hos_clockSkewFixedDate());
        const std::string url = urlOf(client.presignConstrainURLWithBucketName(kBucket, key, 3600));
        const std::string origin =
            std::string("http://") + kBucket + "." + kTestDomain + ":" + std::to_string(standIn.port()) + "/";
        EXPECT_EQ(url.rfind(origin + HOSUtil::encodeURL(key) + "?", 0), 0u) << url;
        const std::string expires = queryItem(url, "Expires");
        EXPECT_EQ(expires.find('.'), std::string::npos) << expires;
        EXPECT_GE(std::stod(expires), before + 3600);
        EXPECT_LE(std::stod(expires), before + 3601);
        EXPECT_EQ(queryItem(url, "security-token") != "<absent>", c.carriesToken) << url;
        auto fetched = curl(url);
        EXPECT_EQ(fetched.status, 200) << fetched.body;
        EXPECT_EQ(fetched.body, content);
    }
}

TEST_F(PresignTest, ExtraParametersAreSignedAndAnsweredByTheService) {
    put("report.txt", "plain text");
    HOSClient client(standIn.endpoint(), keyPair());
    const std::string url = urlOf(client.presignConstrainURLWithBucketName(
        kBucket, "report.txt", 600, platform::Dictionary{{"response-content-type", "text/x-report"}}));
    EXPECT_EQ(queryItem(url, "response-content-type"), "text/x-report");
    auto fetched = curl(url);
    EXPECT_EQ(fetched.status, 200) << fetched.body;
    EXPECT_EQ(fetched.body, "plain text");
}

TEST_F(PresignTest, AURLWorksUntilTheServersClockPassesItsExpiry) {
    put("short-lived", "gone soon");
    HOSClient client(standIn.endpoint(), keyPair());
    const std::string url = urlOf(client.presignConstrainURLWithBucketName(kBucket, "short-lived", 60));
    standIn.config(R"({"clockOffsetSeconds": 50})");
    EXPECT_EQ(curl(url).status, 200);
    standIn.config(R"({"clockOffsetSeconds": 70})");
    auto expired = curl(url);
    EXPECT_EQ(expired.status, 403);
    EXPECT_NE(expired.body.find("Request has expired"), std::string::npos) << expired.body;
    // A URL signed after the client learnt the server's clock is good again.
    hos_setClockSkew(-70);
    const std::string fresh = urlOf(client.presignConstrainURLWithBucketName(kBucket, "short-lived", 60));
    hos_setClockSkew(0);
    EXPECT_EQ(curl(fresh).status, 200);
}

TEST_F(PresignTest, SigningFailuresFailTheTask) {
    const auto badForm = std::make_shared<HOSCustomSignerCredentialProvider>(
        [](const std::string&, platform::ErrorPtr*) { return std::optional<std::string>("HOS id-without-colon"); });
    const auto refused = std::make_shared<HOSCustomSignerCredentialProvider>(
        [](const std::string&, platform::ErrorPtr* error) {
            if (error) *error = HOSClientError(HOSClientErrorCodeInvalidArgument, "signer offline");
            return std::optional<std::string>();
        });
    const auto noToken =
        std::make_shared<HOSFederationCredentialProvider>([] { return HOSFederationTokenPtr(); });
    struct Case {
        const char* name;
        HOSCredentialProviderPtr provider;
        std::int64_t code;
        std::string message;
    };
    for (const auto& c : {Case{"bad form", badForm, HOSClientErrorCodeSignFailed, "the returned signature is invalid"},
                          Case{"signer error", refused, HOSClientErrorCodeSignFailed, "signer offline"},
                          Case{"no token", noToken, HOSClientErrorCodeSignFailed, "Can't get a federation token"},
                          Case{"no provider", nullptr, HOSClientErrorCodeSignFailed,
                               "accessKey or secretKey can't be null"}}) {
        SCOPED_TRACE(c.name);
        HOSClient client(standIn.endpoint(), c.provider);
        auto task = client.presignConstrainURLWithBucketName(kBucket, "k", 60);
        ASSERT_TRUE(task->isCompleted());
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
        EXPECT_EQ(task->error()->code(), c.code);
        const auto* message = task->error()->userInfo().find(HOSErrorMessageKey);
        ASSERT_TRUE(message && message->isString());
        EXPECT_EQ(message->asString(), c.message);
        EXPECT_FALSE(task->resultAs<std::string>());
    }
}

TEST_F(PresignTest, PublicURLsNameTheBucketOnlyOnServiceHostsAndKeepThePort) {
    struct Case {
        std::string endpoint;
        platform::Dictionary parameters;
        std::string url;
    };
    const std::vector<Case> cases{
        {"https://test.hos.halvane.com/ignored/path", {}, "https://photos.test.hos.halvane.com/a%20b/c.jpg"},
        {"http://test.hos.halvane.com:8081", {{"x-hos-process", "image/resize,w_100"}},
         "http://photos.test.hos.halvane.com:8081/a%20b/c.jpg?x-hos-process=image/resize%2Cw_100"},
        {"https://cdn.example.net", {}, "https://cdn.example.net/a%20b/c.jpg"},
        {"http://127.0.0.1:9000", {}, "http://127.0.0.1:9000/a%20b/c.jpg"},
        {"http://[::1]:9000", {}, "http://[::1]:9000/a%20b/c.jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoint);
        HOSClient client(c.endpoint, keyPair());
        EXPECT_EQ(urlOf(client.presignPublicURLWithBucketName(kBucket, "a b/c.jpg", c.parameters)), c.url);
    }
}

}  // namespace
}  // namespace pellix::test
