// What names the object on the wire, against the stand-in: the "Host" field
// keeps the endpoint's port, and keys whose "." or ".." segments the
// transport would resolve into another object's name are refused before
// anything is sent, signed or not.
#include <gtest/gtest.h>

#include "HOSSDK/HOSErrors.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

class AddressingTest : public ::testing::Test {
protected:
    void SetUp() override { client = clientOf(standIn, configuration); }

    platform::Value objectsOf(const std::string& bucket) { return standIn.admin("GET", "/__admin/objects?bucket=" + bucket); }
    std::string contentOf(const std::string& bucket, const std::string& key) {
        const auto objects = objectsOf(bucket);
        if (const auto* list = objects.arrayIf())
            for (const auto& o : *list)
                if (o.get("key")->asString() == key) return readFile(o.get("file")->asString());
        return "<missing>";
    }

    StandIn standIn;
    LoopbackResolver resolver;
    std::shared_ptr<HOSClientConfiguration> configuration = std::make_shared<HOSClientConfiguration>();
    std::unique_ptr<HOSClient> client;
};

TEST_F(AddressingTest, HostFieldCarriesTheEndpointsPort) {
    auto task = waitFor(client->putObject(putRequest("k", bytesOf("v"))));
    ASSERT_FALSE(task->error()) << task->error()->description();
    auto puts = standIn.requests("PutObject");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].get("host")->asString(),
              std::string(kBucket) + "." + kTestDomain + ":" + std::to_string(standIn.port()));
}

TEST_F(AddressingTest, DotSegmentKeysAreRefusedSignedOrAnonymous) {
    standIn.admin("POST", "/__admin/buckets", R"({"name":"open","acl":"public-read-write"})");
    for (const char* bucket : {kBucket, "open"}) {
        auto put = putRequest("victim", bytesOf("the victim's bytes"));
        put->setBucketName(bucket);
        ASSERT_FALSE(waitFor(client->putObject(put))->error());
    }
    standIn.admin("DELETE", "/__admin/requests");

    for (bool anonymous : {false, true}) {
        const std::string bucket = anonymous ? "open" : kBucket;
        for (const char* key : {"a/../victim", "../victim", "./victim", "x/./../victim"}) {
            SCOPED_TRACE(std::string(anonymous ? "anonymous " : "signed ") + key);
            auto put = putRequest(key, bytesOf("overwritten"));
            put->setBucketName(bucket);
            put->setIsAuthenticationRequired(!anonymous);
            auto get = getRequest(key);
            get->setBucketName(bucket);
            get->setIsAuthenticationRequired(!anonymous);
            const std::vector<HOSTaskPtr> tasks{waitFor(client->putObject(put)), waitFor(client->getObject(get))};
            for (const auto& task : tasks) {
                ASSERT_TRUE(task->error());
                EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
                ASSERT_EQ(task->error()->code(), HOSClientErrorCodeInvalidArgument);
                EXPECT_EQ(task->error()->userInfo().find(HOSErrorMessageKey)->asString(),
                          HOSErrorMessage::kObjectKeyInvalid);
            }
            auto presigned = client->presignPublicURLWithBucketName(bucket, key);
            ASSERT_TRUE(presigned->error()) << "presigned " << *presigned->resultAs<std::string>();
            EXPECT_EQ(presigned->error()->code(), HOSClientErrorCodeInvalidArgument);
        }
        EXPECT_EQ(contentOf(bucket, "victim"), "the victim's bytes");
    }
    auto copy = std::make_shared<HOSCopyObjectRequest>();
    copy->setBucketName(kBucket);
    copy->setObjectKey("copy");
    copy->setSourceCopyFrom(std::string("/") + kBucket + "/a/../victim");
    auto copied = waitFor(client->copyObject(copy));
    ASSERT_TRUE(copied->error());
    EXPECT_EQ(copied->error()->code(), HOSClientErrorCodeInvalidArgument);
    const auto log = standIn.admin("GET", "/__admin/requests");
    ASSERT_TRUE(log.arrayIf());
    EXPECT_EQ(log.arrayIf()->size(), 0u) << "nothing reached the service";

    // Dots inside a segment name an object like any other character.
    for (bool anonymous : {false, true}) {
        SCOPED_TRACE(anonymous);
        auto put = putRequest("a/..b/...", bytesOf("dots"));
        put->setBucketName("open");
        put->setIsAuthenticationRequired(!anonymous);
        auto task = waitFor(client->putObject(put));
        ASSERT_FALSE(task->error()) << task->error()->description();
        EXPECT_EQ(contentOf("open", "a/..b/..."), "dots");
    }
}

}  // namespace
}  // namespace pellix::test
