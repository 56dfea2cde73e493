// The request road over HTTPS: the client connects to an HTTP-DNS address
// and judges the server's certificate for the bucket host it asked for.
#include <gtest/gtest.h>

#include <cstdlib>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "StandIn.h"
#include "support/TestCerts.h"

namespace pellix::test {
namespace {

class HttpsTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("SSL_CERT_FILE", certs.ca.cert.c_str(), 1); }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    HOSTaskPtr roundTrip(StandIn& standIn, const platform::Bytes& data) {
        auto configuration = std::make_shared<HOSClientConfiguration>();
        configuration->setCrc64Verifiable(true);
        configuration->setMaxRetryCount(0);
        HOSClient client(standIn.httpsEndpoint(),
                         std::make_shared<HOSPlainTextAKSKPairCredentialProvider>(standIn.accessKeyId(),
                                                                                 standIn.accessKeySecret()),
                         configuration);
        auto putTask = waitFor(client.putObject(putRequest("secure.bin", data)));
        if (putTask->error()) return putTask;
        return waitFor(client.getObject(getRequest("secure.bin")));
    }

    TestCerts certs;
    LoopbackResolver resolver;
};

TEST_F(HttpsTest, PutAndGetOverTlsWithTheBucketHostsCertificate) {
    StandIn standIn({"--cert", certs.hosLeaf.cert, "--key", certs.hosLeaf.key});
    const auto data = patternBytes(123457);
    auto task = roundTrip(standIn, data);
    ASSERT_FALSE(task->error()) << task->error()->description();
    auto result = resultOf<HOSGetObjectResult>(task);
    EXPECT_EQ(*result->downloadedData(), data);
    EXPECT_EQ(result->localCRC64ecma(), std::to_string(hos_crc64(data)));
    EXPECT_EQ(standIn.requests("GetObject")[0].get("scheme")->asString(), "https");
}

TEST_F(HttpsTest, ACertificateForAnotherNameIsRefused) {
    StandIn standIn({"--cert", certs.wrongHost.cert, "--key", certs.wrongHost.key});
    auto task = roundTrip(standIn, bytesOf("x"));
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
    EXPECT_EQ(task->error()->code(), HOSClientErrorCodeNetworkError);
    EXPECT_EQ(standIn.requests("PutObject").size(), 0u);
}

}  // namespace
}  // namespace pellix::test
