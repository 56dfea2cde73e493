// Object operations that carry data, against the stand-in: bytes and CRC-64
// both ways (memory, file, receive block), metadata, append, delete, and the
// mapping of the service's failures.
#include <gtest/gtest.h>

#include <fstream>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

class ObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        configuration->setCrc64Verifiable(true);
        client = clientOf(standIn, configuration);
    }

    HOSTaskPtr put(const std::string& key, const platform::Bytes& data) {
        return waitFor(client->putObject(putRequest(key, data)));
    }

    StandIn standIn;
    LoopbackResolver resolver;
    std::shared_ptr<HOSClientConfiguration> configuration = std::make_shared<HOSClientConfiguration>();
    std::unique_ptr<HOSClient> client;
    TempDir dir;
};

TEST_F(ObjectTest, PutThenGetToMemoryChecksCrcBothWays) {
    const auto data = patternBytes(300000);
    auto putTask = put("dir/photo 1.jpg", data);
    ASSERT_FALSE(putTask->error()) << putTask->error()->description();
    auto putResult = resultOf<HOSPutObjectResult>(putTask);
    ASSERT_TRUE(putResult);
    EXPECT_EQ(putResult->httpResponseCode(), 200);
    EXPECT_EQ(putResult->localCRC64ecma(), std::to_string(hos_crc64(data)));
    EXPECT_EQ(putResult->remoteCRC64ecma(), putResult->localCRC64ecma());
    EXPECT_EQ(putResult->eTag(), "\"" + HOSUtil::dataMD5String(data) + "\"");
    EXPECT_TRUE(putResult->requestId());

    auto getTask = waitFor(client->getObject(getRequest("dir/photo 1.jpg")));
    ASSERT_FALSE(getTask->error()) << getTask->error()->description();
    auto got = resultOf<HOSGetObjectResult>(getTask);
    ASSERT_TRUE(got && got->downloadedData());
    EXPECT_EQ(*got->downloadedData(), data);
    EXPECT_EQ(got->localCRC64ecma(), std::to_string(hos_crc64(data)));
    EXPECT_EQ(got->objectMeta().find("Content-Type")->asString(), "image/jpeg");

    // The service signed exactly what the client signed, over the
    // virtual-host request.
    auto puts = standIn.requests("PutObject");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].get("bucket")->asString(), kBucket);
    EXPECT_EQ(puts[0].get("key")->asString(), "dir/photo 1.jpg");
}

TEST_F(ObjectTest, GetToFileAndToReceiveBlock) {
    const auto data = patternBytes(200001, 7);
    ASSERT_FALSE(put("big.bin", data)->error());

    auto toFile = getRequest("big.bin");
    const std::string path = dir.file("new/dir/big.bin");
    toFile->setDownloadToFileURL(platform::URL::fileURL(path));
    auto fileTask = waitFor(client->getObject(toFile));
    ASSERT_FALSE(fileTask->error()) << fileTask->error()->description();
    auto fileResult = resultOf<HOSGetObjectResult>(fileTask);
    EXPECT_FALSE(fileResult->downloadedData());
    EXPECT_EQ(fileResult->localCRC64ecma(), std::to_string(hos_crc64(data)));
    const auto onDisk = readFile(path);
    EXPECT_EQ(platform::Bytes(onDisk.begin(), onDisk.end()), data);

    auto toBlock = getRequest("big.bin");
    platform::Bytes received;
    toBlock->setOnRecieveData([&](const platform::Bytes& chunk) { received.insert(received.end(), chunk.begin(), chunk.end()); });
    auto blockTask = waitFor(client->getObject(toBlock));
    ASSERT_FALSE(blockTask->error()) << blockTask->error()->description();
    // The caller took the body: the result carries the headers only, and the
    // service's CRC for the caller to compare.
    auto blockResult = resultOf<HOSGetObjectResult>(blockTask);
    ASSERT_TRUE(blockResult);
    EXPECT_FALSE(blockResult->downloadedData());
    EXPECT_EQ(received, data);
    EXPECT_EQ(blockResult->remoteCRC64ecma(), std::to_string(hos_crc64(data)));
}

TEST_F(ObjectTest, PutFromFileHeadAppendDelete) {
    const auto data = patternBytes(70000, 3);
    const std::string path = dir.file("upload.png");
    writeFile(path, std::string(data.begin(), data.end()));
    auto request = std::make_shared<HOSPutObjectRequest>();
    request->setBucketName(kBucket);
    request->setObjectKey("from-file");
    request->setUploadingFileURL(platform::URL::fileURL(path));
    request->setObjectMeta(platform::Dictionary{{"x-hos-meta-owner", "door 3"}});
    auto putTask = waitFor(client->putObject(request));
    ASSERT_FALSE(putTask->error()) << putTask->error()->description();
    // The file's CRC is read back after the upload for the check.
    EXPECT_EQ(resultOf<HOSPutObjectResult>(putTask)->localCRC64ecma(), std::to_string(hos_crc64(data)));

    auto head = std::make_shared<HOSHeadObjectRequest>();
    head->setBucketName(kBucket);
    head->setObjectKey("from-file");
    auto headTask = waitFor(client->headObject(head));
    ASSERT_FALSE(headTask->error()) << headTask->error()->description();
    auto meta = resultOf<HOSHeadObjectResult>(headTask)->objectMeta();
    EXPECT_EQ(meta.find("Content-Type")->asString(), "image/png");  // from the file's extension
    EXPECT_EQ(meta.find("x-hos-meta-owner")->asString(), "door 3");
    EXPECT_EQ(meta.find("Content-Length")->asString(), "70000");

    // Appends: the first at 0, the second continuing with the CRC so far.
    const auto a = patternBytes(1000, 4), b = patternBytes(2345, 5);
    auto append = [&](const platform::Bytes& bytes, std::int64_t position, HOSOptString lastCRC) {
        auto r = std::make_shared<HOSAppendObjectRequest>();
        r->setBucketName(kBucket);
        r->setObjectKey("log.txt");
        r->setAppendPosition(position);
        r->setUploadingData(bytes);
        return waitFor(client->appendObject(r, std::move(lastCRC)));
    };
    auto first = append(a, 0, std::nullopt);
    ASSERT_FALSE(first->error()) << first->error()->description();
    auto firstResult = resultOf<HOSAppendObjectResult>(first);
    EXPECT_EQ(firstResult->xHosNextAppendPosition(), 1000);
    auto second = append(b, 1000, firstResult->remoteCRC64ecma());
    ASSERT_FALSE(second->error()) << second->error()->description();
    platform::Bytes whole = a;
    whole.insert(whole.end(), b.begin(), b.end());
    EXPECT_EQ(resultOf<HOSAppendObjectResult>(second)->localCRC64ecma(), std::to_string(hos_crc64(whole)));
    EXPECT_EQ(resultOf<HOSAppendObjectResult>(second)->xHosNextAppendPosition(), 3345);

    // Without the earlier CRC the append the service accepted is not
    // reported as a failure (a retrying caller would append twice).
    auto third = append(a, 3345, std::nullopt);
    ASSERT_FALSE(third->error()) << third->error()->description();
    EXPECT_EQ(standIn.requests("AppendObject").size(), 3u);

    auto del = std::make_shared<HOSDeleteObjectRequest>();
    del->setBucketName(kBucket);
    del->setObjectKey("from-file");
    auto delTask = waitFor(client->deleteObject(del));
    ASSERT_FALSE(delTask->error()) << delTask->error()->description();
    EXPECT_EQ(resultOf<HOSDeleteObjectResult>(delTask)->httpResponseCode(), 204);
    auto gone = waitFor(client->headObject(head));
    ASSERT_TRUE(gone->error());
    EXPECT_EQ(gone->error()->code(), -404);
}

}  // namespace
}  // namespace pellix::test
