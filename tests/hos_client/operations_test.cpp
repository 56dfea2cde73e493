// Every operation type against the stand-in: one walk through all of them
// checks what went out (verb, signed resource with its sub-resources, signed
// headers) and the typed result; then the operations with their own input
// checks or extra requests (batch delete, trigger callback, object presence).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDictionary+HOS.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

// A loopback HTTP listener the stand-in posts upload callbacks to. It
// answers JSON that echoes the body it received, or the fixed body given.
class CallbackListener {
public:
    explicit CallbackListener(const std::string& contentType = "application/json", const std::string& fixed = {})
        : process_({"node", "-e",
                    "const [type,fixed]=process.argv.slice(1);"
                    "require('http').createServer((q,s)=>{let b='';q.on('data',d=>b+=d);q.on('end',()=>{"
                    "s.setHeader('Content-Type',type);s.end(fixed||JSON.stringify({got:b}))})})"
                    ".listen(0,'127.0.0.1',function(){console.log('port '+this.address().port)})",
                    contentType, fixed}) {
        auto line = process_.waitForLine("^port (\\d+)$");
        if (!line) throw std::runtime_error("callback listener did not start: " + process_.errorOutput());
        port_ = std::stoi(*line);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/cb"; }

private:
    Process process_;
    int port_ = 0;
};

class OperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        client = clientOf(standIn, configuration);
    }

    // The last logged request of an operation, once the log holds more than
    // `before` of them. The service logs a request when its reply has gone
    // out, which may be after the client already holds the whole reply.
    platform::Value lastRequest(const std::string& op, std::size_t before = 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto all = standIn.requests(op);
        while (all.size() <= before && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            all = standIn.requests(op);
        }
        return all.size() > before ? all.back() : platform::Value();
    }

    StandIn standIn;
    LoopbackResolver resolver;
    std::shared_ptr<HOSClientConfiguration> configuration = std::make_shared<HOSClientConfiguration>();
    std::unique_ptr<HOSClient> client;
};

template <class Record>
std::shared_ptr<Record> onObject(const std::string& key, const char* bucket = kBucket) {
    auto record = std::make_shared<Record>();
    record->setBucketName(bucket);
    if constexpr (requires { record->setObjectKey(key); })
        record->setObjectKey(key);
    else
        record->setObjectName(key);
    return record;
}

template <class Record>
std::shared_ptr<Record> onBucket(const char* bucket = kBucket) {
    auto record = std::make_shared<Record>();
    record->setBucketName(bucket);
    return record;
}

TEST_F(OperationsTest, EveryOperationTypeSendsItsRowAndGivesItsResult) {
    CallbackListener listener;
    std::string uploadId, partETag, abandonedId;
    const std::string other = "walk-bucket";

    struct Step {
        HOSOperationType type;
        std::function<HOSTaskPtr()> run;
        std::function<std::string()> resource;   // signed resource, sub-resources included
        std::vector<std::string> signedHeaders;  // "name:value" lines the signature covers
        std::function<void(const HOSResultPtr&)> check;
    };
    const std::vector<Step> steps{
        {HOSOperationTypeCreateBucket,
         [&] {
             auto r = onBucket<HOSCreateBucketRequest>(other.c_str());
             r->setXHosACL("public-read");
             r->setLocation("loopback-1");
             return client->createBucket(r);
         },
         [&] { return std::string("/" + other + "/"); }, {"x-hos-acl:public-read"},
         [&](const HOSResultPtr& r) {
             EXPECT_EQ(std::dynamic_pointer_cast<HOSCreateBucketResult>(r)->location(), "/" + other);
         }},
        {HOSOperationTypeGetService,
         [&] {
             auto r = std::make_shared<HOSGetServiceRequest>();
             r->setMaxKeys(1);
             return client->getService(r);
         },
         [&] { return std::string("/"); }, {},
         [&](const HOSResultPtr& r) {
             auto s = std::dynamic_pointer_cast<HOSGetServiceResult>(r);
             ASSERT_TRUE(s && s->buckets());
             EXPECT_EQ(s->buckets()->size(), 1u);  // one page of one is still a list
             EXPECT_EQ(s->maxKeys(), 1);
             EXPECT_TRUE(s->isTruncated());
             EXPECT_TRUE(s->nextMarker());
             EXPECT_TRUE(s->ownerId() && s->ownerDispName());
         }},
        {HOSOperationTypeGetBucketACL, [&] { return client->getBucketACL(onBucket<HOSGetBucketACLRequest>(other.c_str())); },
         [&] { return std::string("/" + other + "/?acl"); }, {},
         [&](const HOSResultPtr& r) {
             EXPECT_EQ(std::dynamic_pointer_cast<HOSGetBucketACLResult>(r)->aclGranted(), "public-read");
         }},
        {HOSOperationTypePutObject,
         [&] {
             auto r = putRequest("walk/a.txt", bytesOf("alpha"));
             r->setObjectMeta({{"x-hos-meta-room", "12"}});
             return client->putObject(r);
         },
         [&] { return std::string("/photos/walk/a.txt"); }, {"x-hos-meta-room:12"},
         [&](const HOSResultPtr& r) { EXPECT_TRUE(std::dynamic_pointer_cast<HOSPutObjectResult>(r)->eTag()); }},
        {HOSOperationTypeHeadObject, [&] { return client->headObject(onObject<HOSHeadObjectRequest>("walk/a.txt")); },
         [&] { return std::string("/photos/walk/a.txt"); }, {},
         [&](const HOSResultPtr& r) {
             auto meta = std::dynamic_pointer_cast<HOSHeadObjectResult>(r)->objectMeta();
             ASSERT_TRUE(meta.find("x-hos-meta-room"));
             EXPECT_EQ(meta.find("x-hos-meta-room")->asString(), "12");
         }},
        {HOSOperationTypeGetObject, [&] { return client->getObject(getRequest("walk/a.txt")); },
         [&] { return std::string("/photos/walk/a.txt"); },
         {},
         [&](const HOSResultPtr& r) {
             EXPECT_EQ(std::dynamic_pointer_cast<HOSGetObjectResult>(r)->downloadedData(), bytesOf("alpha"));
         }},
        {HOSOperationTypePutObjectACL,
         [&] {
             auto r = onObject<HOSPutObjectACLRequest>("walk/a.txt");
             r->setAcl("public-read");
             return client->putObjectACL(r);
         },
         [&] { return std::string("/photos/walk/a.txt?acl"); }, {"x-hos-object-acl:public-read"},
         [&](const HOSResultPtr& r) { EXPECT_TRUE(std::dynamic_pointer_cast<HOSPutObjectACLResult>(r)); }},
        {HOSOperationTypeGetObjectACL,
         [&] { return client->getObjectACL(onObject<HOSGetObjectACLRequest>("walk/a.txt")); },
         [&] { return std::string("/photos/walk/a.txt?acl"); }, {},
         [&](const HOSResultPtr& r) {
             auto acl = std::dynamic_pointer_cast<HOSGetObjectACLResult>(r);
             EXPECT_EQ(acl->grant(), "public-read");
             EXPECT_NE(acl->description().find("grant:public-read"), std::string::npos);
         }},
        {HOSOperationTypeAppendObject,
         [&] {
             auto r = onObject<HOSAppendObjectRequest>("walk/log.txt");
             r->setUploadingData(bytesOf("line 1\n"));
             return client->appendObject(r);
         },
         [&] { return std::string("/photos/walk/log.txt?append&position=0"); }, {},
         [&](const HOSResultPtr& r) {
             EXPECT_EQ(std::dynamic_pointer_cast<HOSAppendObjectResult>(r)->xHosNextAppendPosition(), 7);
         }},
        {HOSOperationTypeCopyObject,
         [&] {
             auto r = onObject<HOSCopyObjectRequest>("walk/b.txt");
             r->setSourceCopyFrom("/photos/walk/a.txt");
             return client->copyObject(r);
         },
         [&] { return std::string("/photos/walk/b.txt"); }, {"x-hos-copy-source:/photos/walk/a.txt"},
         [&](const HOSResultPtr& r) {
             auto c = std::dynamic_pointer_cast<HOSCopyObjectResult>(r);
             EXPECT_EQ(c->eTag(), "\"" + HOSUtil::dataMD5String(bytesOf("alpha")) + "\"");
             EXPECT_TRUE(c->lastModifed());
         }},
        {HOSOperationTypeGetBucket,
         [&] {
             auto r = onBucket<HOSGetBucketRequest>();
             r->setPrefix("walk/");
             r->setDelimiter("/");
             return client->getBucket(r);
         },
         [&] { return std::string("/photos/"); }, {},
         [&](const HOSResultPtr& r) {
             auto b = std::dynamic_pointer_cast<HOSGetBucketResult>(r);
             EXPECT_EQ(b->bucketName(), kBucket);
             EXPECT_EQ(b->prefix(), "walk/");
             EXPECT_EQ(b->delimiter(), "/");
             ASSERT_TRUE(b->contents());
             EXPECT_EQ(b->contents()->size(), 3u);
             EXPECT_FALSE(b->commentPrefixes());
         }},
        {HOSOperationTypeDeleteMultipleObjects,
         [&] {
             auto r = onBucket<HOSDeleteMultipleObjectsRequest>();
             r->setKeys({"walk/b.txt", "walk/log.txt"});
             r->setQuiet(false);
             return client->deleteMultipleObjects(r);
         },
         [&] { return std::string("/photos/?delete"); }, {},
         [&](const HOSResultPtr& r) {
             auto d = std::dynamic_pointer_cast<HOSDeleteMultipleObjectsResult>(r);
             ASSERT_TRUE(d->deletedObjects());
             EXPECT_EQ(d->deletedObjects()->size(), 2u);
         }},
        {HOSOperationTypeDeleteObject,
         [&] { return client->deleteObject(onObject<HOSDeleteObjectRequest>("walk/a.txt")); },
         [&] { return std::string("/photos/walk/a.txt"); },
         {}, [&](const HOSResultPtr& r) { EXPECT_EQ(r->httpResponseCode(), 204); }},
        {HOSOperationTypeInitMultipartUpload,
         [&] {
             auto r = onObject<HOSInitMultipartUploadRequest>("walk/big.bin");
             r->setSequential(true);
             r->setCacheControl("no-cache");
             return client->multipartUploadInit(r);
         },
         [&] { return std::string("/photos/walk/big.bin?sequential&uploads"); }, {},
         [&](const HOSResultPtr& r) {
             uploadId = std::dynamic_pointer_cast<HOSInitMultipartUploadResult>(r)->uploadId().value_or("");
             EXPECT_FALSE(uploadId.empty());
         }},
        {HOSOperationTypeUploadPart,
         [&] {
             auto r = std::make_shared<HOSUploadPartRequest>();
             r->setBucketName(kBucket);
             r->setObjectkey("walk/big.bin");
             r->setUploadId(uploadId);
             r->setPartNumber(1);
             r->setUploadPartData(bytesOf("only part"));
             return client->uploadPart(r);
         },
         [&] { return "/photos/walk/big.bin?partNumber=1&uploadId=" + uploadId; }, {},
         [&](const HOSResultPtr& r) {
             partETag = std::dynamic_pointer_cast<HOSUploadPartResult>(r)->eTag().value_or("");
             EXPECT_FALSE(partETag.empty());
         }},
        {HOSOperationTypeListParts,
         [&] {
             auto r = onObject<HOSListPartsRequest>("walk/big.bin");
             r->setUploadId(uploadId);
             r->setMaxParts(5);  // sent, not signed
             return client->listParts(r);
         },
         [&] { return "/photos/walk/big.bin?uploadId=" + uploadId; }, {},
         [&](const HOSResultPtr& r) {
             auto l = std::dynamic_pointer_cast<HOSListPartsResult>(r);
             ASSERT_TRUE(l->parts());
             EXPECT_EQ(l->parts()->size(), 1u);
             EXPECT_EQ(l->maxParts(), 5);
         }},
        {HOSOperationTypeListMultipartUploads,
         [&] { return client->listMultipartUploads(onBucket<HOSListMultipartUploadsRequest>()); },
         [&] { return std::string("/photos/?uploads"); },
         {},
         [&](const HOSResultPtr& r) {
             auto l = std::dynamic_pointer_cast<HOSListMultipartUploadsResult>(r);
             ASSERT_TRUE(l->uploads());
             EXPECT_EQ(l->uploads()->size(), 1u);
         }},
        {HOSOperationTypeCompleteMultipartUpload,
         [&] {
             auto r = onObject<HOSCompleteMultipartUploadRequest>("walk/big.bin");
             r->setUploadId(uploadId);
             r->setPartInfos(std::vector<HOSPartInfoPtr>{HOSPartInfo::partInfoWithPartNum(1, partETag, 9)});
             r->setCallbackParam(platform::Dictionary{{"callbackUrl", listener.url()},
                                                      {"callbackBody", "object=${object}&v=${x:v}"}});
             r->setCallbackVar(platform::Dictionary{{"x:v", "1"}});
             // Added last: replaces the callback variables of the same name.
             r->setCompleteMetaHeader({{"x-hos-callback-var", base64JsonString({{"x:v", "2"}})}});
             return client->completeMultipartUpload(r);
         },
         [&] { return "/photos/walk/big.bin?uploadId=" + uploadId; }, {"x-hos-callback-var:" + base64JsonString({{"x:v", "2"}})},
         [&](const HOSResultPtr& r) {
             auto c = std::dynamic_pointer_cast<HOSCompleteMultipartUploadResult>(r);
             EXPECT_EQ(c->serverReturnJsonString(), R"({"got":"object=walk/big.bin&v=2"})");
             EXPECT_FALSE(c->location());
         }},
        {HOSOperationTypeAbortMultipartUpload,
         [&] {
             auto init = onObject<HOSInitMultipartUploadRequest>("walk/abandoned.bin");
             abandonedId = *resultOf<HOSInitMultipartUploadResult>(waitFor(client->multipartUploadInit(init)))->uploadId();
             auto r = onObject<HOSAbortMultipartUploadRequest>("walk/abandoned.bin");
             r->setUploadId(abandonedId);
             return client->abortMultipartUpload(r);
         },
         [&] { return "/photos/walk/abandoned.bin?uploadId=" + abandonedId; }, {},
         [&](const HOSResultPtr& r) { EXPECT_EQ(r->httpResponseCode(), 204); }},
        {HOSOperationTypeTriggerCallBack,
         [&] {
             auto r = onObject<HOSCallBackRequest>("walk/big.bin");
             r->setCallbackParam(platform::Dictionary{{"callbackUrl", listener.url()},
                                                      {"callbackBody", "again=${object}"}});
             return client->triggerCallBack(r);
         },
         [&] { return std::string("/photos/walk/big.bin?x-hos-process"); }, {},
         [&](const HOSResultPtr& r) {
             auto c = std::dynamic_pointer_cast<HOSCallBackResult>(r);
             EXPECT_EQ(c->serverReturnJsonString(), R"({"got":"again=walk/big.bin"})");
             EXPECT_FALSE(c->serverReturnXML());
         }},
        {HOSOperationTypeDeleteBucket, [&] { return client->deleteBucket(onBucket<HOSDeleteBucketRequest>(other.c_str())); },
         [&] { return std::string("/" + other + "/"); }, {},
         [&](const HOSResultPtr& r) { EXPECT_TRUE(std::dynamic_pointer_cast<HOSDeleteBucketResult>(r)); }},
    };

    std::set<std::int64_t> walked;
    for (const auto& step : steps) {
        const HOSOperation* row = hosOperation(step.type);
        ASSERT_TRUE(row);
        SCOPED_TRACE(row->name);
        const std::size_t before = standIn.requests(row->name).size();
        auto task = waitFor(step.run());
        ASSERT_FALSE(task->error()) << task->error()->description();
        auto result = resultOf<HOSResult>(task);
        ASSERT_TRUE(result);
        EXPECT_TRUE(result->requestId());
        step.check(result);

        auto sent = lastRequest(row->name, before);
        ASSERT_TRUE(sent.isDictionary()) << "the service saw no " << row->name;
        EXPECT_EQ(sent.get("method")->asString(), row->verb);
        const auto& signedText = sent.get("stringToSign")->asString();
        EXPECT_EQ(signedText.substr(0, signedText.find('\n')), row->verb);
        EXPECT_EQ(signedText.substr(signedText.rfind('\n') + 1), step.resource());
        for (const auto& header : step.signedHeaders)
            EXPECT_NE(signedText.find("\n" + header + "\n"), std::string::npos) << header << " in " << signedText;
        walked.insert(step.type);
    }
    EXPECT_EQ(walked.size(), 21u);
}

TEST_F(OperationsTest, BatchDeleteSignsItsBodyAndHonoursQuietAndEncoding) {
    for (const char* key : {"x/1", "x/2"}) ASSERT_FALSE(waitFor(client->putObject(putRequest(key, bytesOf(key))))->error());

    auto quiet = onBucket<HOSDeleteMultipleObjectsRequest>();
    EXPECT_TRUE(quiet->quiet());
    quiet->setKeys({"x/1", "x/2", "never/was"});
    quiet->setEncodingType("gzip");
    auto task = waitFor(client->deleteMultipleObjects(quiet));
    ASSERT_FALSE(task->error()) << task->error()->description();
    EXPECT_FALSE(resultOf<HOSDeleteMultipleObjectsResult>(task)->deletedObjects());
    auto sent = lastRequest("DeleteMultipleObjects");
    EXPECT_EQ(sent.get("url")->asString(), "/?delete");
    const auto body = HOSUtil::constructHttpBodyForDeleteMultipleObjects({"x/1", "x/2", "never/was"}, true);
    EXPECT_NE(sent.get("stringToSign")->asString().find("\n" + HOSUtil::base64Md5ForData(body) + "\n"),
              std::string::npos);
    EXPECT_TRUE(standIn.admin("GET", std::string("/__admin/objects?bucket=") + kBucket).asArray().empty());

    auto loud = onBucket<HOSDeleteMultipleObjectsRequest>();
    loud->setKeys({"one"});
    loud->setQuiet(false);
    loud->setEncodingType("url");
    auto one = resultOf<HOSDeleteMultipleObjectsResult>(waitFor(client->deleteMultipleObjects(loud)));
    ASSERT_TRUE(one && one->deletedObjects());
    ASSERT_EQ(one->deletedObjects()->size(), 1u);
    EXPECT_EQ((*one->deletedObjects())[0].get("Key")->asString(), "one");
    EXPECT_EQ(one->encodingType(), "url");
    EXPECT_EQ(lastRequest("DeleteMultipleObjects").get("url")->asString(), "/?delete&encoding-type=url");
}

TEST_F(OperationsTest, InputChecksFailBeforeAnythingIsSent) {
    auto noBucket = std::make_shared<HOSDeleteMultipleObjectsRequest>();
    noBucket->setBucketName("  ");
    auto noKeys = onBucket<HOSDeleteMultipleObjectsRequest>();
    auto noTriggerBucket = onObject<HOSCallBackRequest>("a", "");
    auto noTriggerObject = onObject<HOSCallBackRequest>(" \n");
    const struct {
        HOSTaskPtr task;
        const char* domain;
        const char* message;
    } cases[] = {
        {client->deleteMultipleObjects(noBucket), HOSClientErrorDomain, HOSErrorMessage::kBucketNameEmpty},
        {client->deleteMultipleObjects(noKeys), HOSClientErrorDomain, HOSErrorMessage::kKeysEmpty},
        {client->triggerCallBack(noTriggerBucket), HOSTaskErrorDomain, HOSErrorMessage::kTriggerBucketNameEmpty},
        {client->triggerCallBack(noTriggerObject), HOSTaskErrorDomain, HOSErrorMessage::kTriggerObjectNameEmpty},
    };
    for (const auto& c : cases) {
        waitFor(c.task);
        ASSERT_TRUE(c.task->error());
        EXPECT_EQ(c.task->error()->domain(), c.domain);
        EXPECT_EQ(c.task->error()->code(), 3);
        EXPECT_EQ(c.task->error()->userInfo().find(HOSErrorMessageKey)->asString(), c.message);
    }
    EXPECT_TRUE(standIn.admin("GET", "/__admin/requests").asArray().empty());
}

TEST_F(OperationsTest, AFailedCallbackIs203AndTheWriteStays) {
    ASSERT_FALSE(waitFor(client->putObject(putRequest("cb.txt", bytesOf("x"))))->error());
    auto request = onObject<HOSCallBackRequest>("cb.txt");
    // Nothing listens there: the service's callback is refused.
    request->setCallbackParam(
        platform::Dictionary{{"callbackUrl", "http://127.0.0.1:" + std::to_string(freePort()) + "/cb"}});
    auto task = waitFor(client->triggerCallBack(request));
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->domain(), HOSServerErrorDomain);
    EXPECT_EQ(task->error()->code(), -203);
    EXPECT_EQ(task->error()->userInfo().find("Code")->asString(), "CallbackFailed");
    EXPECT_TRUE(client->doesObjectExistInBucket(kBucket, "cb.txt", nullptr));
}

TEST_F(OperationsTest, AnObjectACLGoesBackToDefaultWhenNoneIsGiven) {
    ASSERT_FALSE(waitFor(client->putObject(putRequest("acl.txt", bytesOf("x"))))->error());
    auto grantOf = [&] {
        return resultOf<HOSGetObjectACLResult>(waitFor(client->getObjectACL(onObject<HOSGetObjectACLRequest>("acl.txt"))))
            ->grant();
    };
    auto set = onObject<HOSPutObjectACLRequest>("acl.txt");
    set->setAcl("private");
    ASSERT_FALSE(waitFor(client->putObjectACL(set))->error());
    EXPECT_EQ(grantOf(), "private");
    ASSERT_FALSE(waitFor(client->putObjectACL(onObject<HOSPutObjectACLRequest>("acl.txt")))->error());
    EXPECT_EQ(grantOf(), "default");
    EXPECT_NE(lastRequest("PutObjectACL").get("stringToSign")->asString().find("\nx-hos-object-acl:default\n"),
              std::string::npos);
}

// The reply relayed from a callback is the service's answer as far as the
// client can tell: one of the wrong shape fails the operation clearly.
TEST_F(OperationsTest, AReplyOfTheWrongShapeFailsTheOperationWithCode10) {
    CallbackListener listener("application/xml",
                              "<CompleteMultipartUploadResult><Location><Inner>x</Inner></Location>"
                              "</CompleteMultipartUploadResult>");
    auto init = onObject<HOSInitMultipartUploadRequest>("shape.bin");
    const auto uploadId = *resultOf<HOSInitMultipartUploadResult>(waitFor(client->multipartUploadInit(init)))->uploadId();
    auto part = std::make_shared<HOSUploadPartRequest>();
    part->setBucketName(kBucket);
    part->setObjectkey("shape.bin");
    part->setUploadId(uploadId);
    part->setPartNumber(1);
    part->setUploadPartData(bytesOf("p"));
    const auto eTag = resultOf<HOSUploadPartResult>(waitFor(client->uploadPart(part)))->eTag();
    auto complete = onObject<HOSCompleteMultipartUploadRequest>("shape.bin");
    complete->setUploadId(uploadId);
    complete->setPartInfos(std::vector<HOSPartInfoPtr>{HOSPartInfo::partInfoWithPartNum(1, eTag, 1)});
    complete->setCallbackParam(platform::Dictionary{{"callbackUrl", listener.url()}});
    auto task = waitFor(client->completeMultipartUpload(complete));
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
    EXPECT_EQ(task->error()->code(), HOSClientErrorCodeInvalidResponse);
    EXPECT_NE(task->error()->userInfo().find(HOSErrorMessageKey)->asString().find("\"Location\""),
              std::string::npos);
}

TEST_F(OperationsTest, ObjectPresenceForPresentAbsentAndFailingService) {
    ASSERT_FALSE(waitFor(client->putObject(putRequest("here.txt", bytesOf("x"))))->error());
    platform::ErrorPtr error;
    EXPECT_TRUE(client->doesObjectExistInBucket(kBucket, "here.txt", &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(client->doesObjectExistInBucket(kBucket, "gone.txt", &error));
    EXPECT_FALSE(error);

    standIn.fault(R"({"match":{"op":"HeadObject"},"status":500})");
    EXPECT_FALSE(client->doesObjectExistInBucket(kBucket, "here.txt", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -500);
    // No place for the error: still a plain no.
    standIn.fault(R"({"match":{"op":"HeadObject"},"status":503})");
    EXPECT_FALSE(client->doesObjectExistInBucket(kBucket, "here.txt", nullptr));
}

}  // namespace
}  // namespace pellix::test
