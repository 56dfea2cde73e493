// Multipart uploads against the stand-in: initiate, parts with CRC-64,
// listing parts and uploads (paged), completion, abort, and giving up a
// resumable upload with its local record files.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "HOSSDK/NSString+HOS.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

class MultipartTest : public ::testing::Test {
protected:
    void SetUp() override {
        configuration->setCrc64Verifiable(true);
        client = clientOf(standIn, configuration);
    }

    std::string initiate(const std::string& key, bool sequential = false) {
        auto request = std::make_shared<HOSInitMultipartUploadRequest>();
        request->setBucketName(kBucket);
        request->setObjectKey(key);
        request->setContentType("video/mp4");
        request->setSequential(sequential);
        auto task = waitFor(client->multipartUploadInit(request));
        EXPECT_FALSE(task->error()) << task->error()->description();
        auto result = resultOf<HOSInitMultipartUploadResult>(task);
        return result && result->uploadId() ? *result->uploadId() : std::string();
    }

    HOSTaskPtr part(const std::string& key, const std::string& uploadId, int number, const platform::Bytes& data) {
        auto request = std::make_shared<HOSUploadPartRequest>();
        request->setBucketName(kBucket);
        request->setObjectkey(key);
        request->setUploadId(uploadId);
        request->setPartNumber(number);
        request->setUploadPartData(data);
        return waitFor(client->uploadPart(request));
    }

    template <class Record>
    std::shared_ptr<Record> onUpload(const std::string& key, HOSOptString uploadId) {
        auto request = std::make_shared<Record>();
        request->setBucketName(kBucket);
        request->setObjectKey(key);
        request->setUploadId(std::move(uploadId));
        return request;
    }

    StandIn standIn;
    LoopbackResolver resolver;
    std::shared_ptr<HOSClientConfiguration> configuration = std::make_shared<HOSClientConfiguration>();
    std::unique_ptr<HOSClient> client;
};

TEST_F(MultipartTest, InitiateUploadListCompleteGivesTheJoinedObject) {
    const std::string key = "clips/door 1.mp4";
    const std::string uploadId = initiate(key, true);
    ASSERT_FALSE(uploadId.empty());

    const auto first = patternBytes(102400, 1), second = patternBytes(5000, 2);
    std::vector<HOSPartInfoPtr> infos;
    for (const auto& [number, data] : {std::pair{1, first}, std::pair{2, second}}) {
        auto task = part(key, uploadId, number, data);
        ASSERT_FALSE(task->error()) << task->error()->description();
        auto result = resultOf<HOSUploadPartResult>(task);
        ASSERT_TRUE(result && result->eTag());
        EXPECT_EQ(*result->eTag(), "\"" + HOSUtil::dataMD5String(data) + "\"");
        // The part's own CRC, checked against the service's.
        EXPECT_EQ(result->localCRC64ecma(), std::to_string(hos_crc64(data)));
        EXPECT_EQ(result->remoteCRC64ecma(), result->localCRC64ecma());
        infos.push_back(HOSPartInfo::partInfoWithPartNum(number, result->eTag(), std::int64_t(data.size())));
    }

    auto listTask = waitFor(client->listParts(onUpload<HOSListPartsRequest>(key, uploadId)));
    ASSERT_FALSE(listTask->error()) << listTask->error()->description();
    auto listed = resultOf<HOSListPartsResult>(listTask);
    ASSERT_TRUE(listed && listed->parts());
    ASSERT_EQ(listed->parts()->size(), 2u);
    EXPECT_EQ((*listed->parts())[1].get("PartNumber")->asString(), "2");
    EXPECT_EQ((*listed->parts())[1].get("Size")->asString(), "5000");
    EXPECT_FALSE(listed->isTruncated());
    EXPECT_EQ(listed->maxParts(), 1000);

    auto complete = onUpload<HOSCompleteMultipartUploadRequest>(key, uploadId);
    complete->setPartInfos(infos);
    auto completeTask = waitFor(client->completeMultipartUpload(complete));
    ASSERT_FALSE(completeTask->error()) << completeTask->error()->description();
    auto done = resultOf<HOSCompleteMultipartUploadResult>(completeTask);
    ASSERT_TRUE(done);
    EXPECT_TRUE(done->location() && done->location()->find(kBucket) != std::string::npos);
    EXPECT_TRUE(done->eTag() && done->eTag()->ends_with("-2\""));
    EXPECT_FALSE(done->serverReturnJsonString());

    auto got = resultOf<HOSGetObjectResult>(waitFor(client->getObject(getRequest(key))));
    ASSERT_TRUE(got && got->downloadedData());
    platform::Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    EXPECT_EQ(*got->downloadedData(), joined);
    EXPECT_EQ(got->objectMeta().find("Content-Type")->asString(), "video/mp4");
}

TEST_F(MultipartTest, OnePartIsStillAListAndAnAbortedUploadIsGone) {
    const std::string key = "one.bin";
    const std::string uploadId = initiate(key);
    ASSERT_FALSE(part(key, uploadId, 1, patternBytes(100))->error());

    auto listed = resultOf<HOSListPartsResult>(waitFor(client->listParts(onUpload<HOSListPartsRequest>(key, uploadId))));
    ASSERT_TRUE(listed && listed->parts());
    EXPECT_EQ(listed->parts()->size(), 1u);

    auto abortTask = waitFor(client->abortMultipartUpload(onUpload<HOSAbortMultipartUploadRequest>(key, uploadId)));
    ASSERT_FALSE(abortTask->error()) << abortTask->error()->description();
    EXPECT_EQ(resultOf<HOSAbortMultipartUploadResult>(abortTask)->httpResponseCode(), 204);

    auto after = waitFor(client->listParts(onUpload<HOSListPartsRequest>(key, uploadId)));
    ASSERT_TRUE(after->error());
    EXPECT_EQ(after->error()->domain(), HOSServerErrorDomain);
    EXPECT_EQ(after->error()->code(), -404);
    EXPECT_EQ(after->error()->userInfo().find("Code")->asString(), "NoSuchUpload");
}

// Without its id an operation on an open upload would be the same verb on
// the object itself: a DELETE would remove it, a PUT replace it.
TEST_F(MultipartTest, AnOperationWithoutUploadIdSendsNothing) {
    ASSERT_FALSE(waitFor(client->putObject(putRequest("kept.txt", bytesOf("keep me"))))->error());
    standIn.admin("DELETE", "/__admin/requests");

    auto uploadPartRecord = std::make_shared<HOSUploadPartRequest>();
    uploadPartRecord->setBucketName(kBucket);
    uploadPartRecord->setObjectkey("kept.txt");
    uploadPartRecord->setPartNumber(1);
    uploadPartRecord->setUploadPartData(bytesOf("other"));
    const std::vector<HOSTaskPtr> tasks{
        client->abortMultipartUpload(onUpload<HOSAbortMultipartUploadRequest>("kept.txt", std::nullopt)),
        client->listParts(onUpload<HOSListPartsRequest>("kept.txt", std::nullopt)),
        client->completeMultipartUpload(onUpload<HOSCompleteMultipartUploadRequest>("kept.txt", std::nullopt)),
        client->uploadPart(uploadPartRecord)};
    for (const auto& task : tasks) {
        waitFor(task);
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
        EXPECT_EQ(task->error()->code(), HOSClientErrorCodeInvalidArgument);
        EXPECT_EQ(task->error()->userInfo().find(HOSErrorMessageKey)->asString(), HOSErrorMessage::kUploadIdNil);
    }
    EXPECT_TRUE(standIn.admin("GET", "/__admin/requests").asArray().empty());
    auto got = resultOf<HOSGetObjectResult>(waitFor(client->getObject(getRequest("kept.txt"))));
    ASSERT_TRUE(got && got->downloadedData());
    EXPECT_EQ(*got->downloadedData(), bytesOf("keep me"));
}

TEST_F(MultipartTest, ListUploadsPagesWithTheMarkersOfTheLastPage) {
    std::set<std::string> opened;
    for (const char* key : {"a.bin", "b.bin", "c.bin"}) opened.insert(initiate(key));

    auto first = std::make_shared<HOSListMultipartUploadsRequest>();
    first->setBucketName(kBucket);
    first->setMaxUploads(2);
    auto page1 = resultOf<HOSListMultipartUploadsResult>(waitFor(client->listMultipartUploads(first)));
    ASSERT_TRUE(page1 && page1->uploads());
    EXPECT_EQ(page1->bucketName(), kBucket);
    EXPECT_EQ(page1->maxUploads(), 2);
    EXPECT_TRUE(page1->isTruncated());
    EXPECT_EQ(page1->uploads()->size(), 2u);
    ASSERT_TRUE(page1->nextKeyMarker() && page1->nextUploadIdMarker());
    EXPECT_EQ(*page1->nextKeyMarker(), "b.bin");

    auto second = std::make_shared<HOSListMultipartUploadsRequest>();
    second->setBucketName(kBucket);
    second->setMaxUploads(2);
    second->setKeyMarker(page1->nextKeyMarker());
    second->setUploadIdMarker(page1->nextUploadIdMarker());
    auto page2 = resultOf<HOSListMultipartUploadsResult>(waitFor(client->listMultipartUploads(second)));
    ASSERT_TRUE(page2 && page2->uploads());
    EXPECT_FALSE(page2->isTruncated());
    ASSERT_EQ(page2->uploads()->size(), 1u);
    EXPECT_EQ((*page2->uploads())[0].get("Key")->asString(), "c.bin");

    std::set<std::string> seen;
    for (const auto* page : {&*page1, &*page2})
        for (const auto& upload : *page->uploads()) seen.insert(upload.get("UploadId")->asString());
    EXPECT_EQ(seen, opened);
}

TEST_F(MultipartTest, GivingUpAResumableUploadRemovesItsRecordsOnly) {
    TempDir records;
    const std::string key = "resumed.bin";
    const std::string uploadId = initiate(key);

    auto record = std::make_shared<HOSResumableUploadRequest>();
    record->setBucketName(kBucket);
    record->setObjectKey(key);
    record->setMd5String("0123456789ABCDEF0123456789ABCDEF");
    record->setRecordDirectoryPath(records.path());
    // The record file holds the upload id; the record itself has none yet.
    const std::string recordFile = hosResumableRecordFilePath(*record, records.path(), false);
    writeFile(recordFile, uploadId);
    auto task = waitFor(client->abortResumableMultipartUpload(record));
    ASSERT_FALSE(task->error()) << task->error()->description();
    EXPECT_FALSE(std::filesystem::exists(recordFile));
    auto uploads = standIn.admin("GET", std::string("/__admin/uploads?bucket=") + kBucket);
    EXPECT_TRUE(uploads.asArray().empty());

    // With the id on the record, its part-information file goes as well; an
    // id that is not a plain file name removes nothing outside the folder.
    const std::string partInfos = hos_documentDirectory() + "/" + kHOSPartInfosDirectoryName;
    std::filesystem::create_directories(partInfos);
    const std::string secondId = initiate(key);
    writeFile(*hosPartInfoFilePath(secondId), "{}");
    writeFile(hos_documentDirectory() + "/victim", "stays");
    for (const std::string& id : {secondId, std::string("../victim")}) {
        record->setUploadId(id);
        waitFor(client->abortResumableMultipartUpload(record));
    }
    EXPECT_FALSE(std::filesystem::exists(*hosPartInfoFilePath(secondId)));
    EXPECT_TRUE(std::filesystem::exists(hos_documentDirectory() + "/victim"));
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a/b", std::string("a\0b", 3)})
        EXPECT_FALSE(hosPartInfoFilePath(bad)) << bad;
}

}  // namespace
}  // namespace pellix::test
