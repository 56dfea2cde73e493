// Result records built from replies fed straight to the parser: only what
// the reply holds is read, repeated entries are lists even when there is one,
// and a reply of the wrong shape fails clearly instead of being half read.
#include <gtest/gtest.h>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSHttpResponseParser.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

HOSResultPtr parse(HOSHttpResponseParser& parser, const std::string& body, const std::string& contentType) {
    parser.consumeHttpResponse(reply({{"Content-Type", contentType}}));
    if (!body.empty()) parser.consumeHttpResponseBody(bytesOf(body));
    return parser.constructResultObject();
}

HOSResultPtr parse(std::int64_t type, const std::string& body, const std::string& contentType = "application/xml") {
    HOSHttpResponseParser parser(type);
    return parse(parser, body, contentType);
}

TEST(ResultRecordTest, ListingsReadOnlyWhatTheReplyHolds) {
    auto one = std::dynamic_pointer_cast<HOSGetBucketResult>(parse(HOSOperationTypeGetBucket, R"(<ListBucketResult>
        <Name>photos</Name><MaxKeys>100</MaxKeys><IsTruncated>false</IsTruncated>
        <Contents><Key>a</Key><Size>1</Size></Contents>
        <CommonPrefixes><Prefix>x/</Prefix></CommonPrefixes><CommonPrefixes><Prefix>y/</Prefix></CommonPrefixes>
        </ListBucketResult>)"));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->bucketName(), "photos");
    EXPECT_EQ(one->maxKeys(), 100);
    ASSERT_TRUE(one->contents());
    ASSERT_EQ(one->contents()->size(), 1u);
    EXPECT_EQ((*one->contents())[0].get("Key")->asString(), "a");
    EXPECT_EQ(one->commentPrefixes(), (platform::Array{"x/", "y/"}));
    EXPECT_FALSE(one->prefix());
    EXPECT_FALSE(one->nextMarker());

    auto none = std::dynamic_pointer_cast<HOSGetBucketResult>(
        parse(HOSOperationTypeGetBucket, "<ListBucketResult><Name>photos</Name></ListBucketResult>"));
    EXPECT_FALSE(none->contents());
    EXPECT_FALSE(none->commentPrefixes());

    auto deleted = std::dynamic_pointer_cast<HOSDeleteMultipleObjectsResult>(
        parse(HOSOperationTypeDeleteMultipleObjects, "<DeleteResult><Deleted><Key>k</Key></Deleted></DeleteResult>"));
    ASSERT_TRUE(deleted->deletedObjects());
    EXPECT_EQ(deleted->deletedObjects()->size(), 1u);
    EXPECT_FALSE(deleted->encodingType());

    // Not well-formed: nothing read, the base fields still there.
    auto broken = std::dynamic_pointer_cast<HOSInitMultipartUploadResult>(parse(HOSOperationTypeInitMultipartUpload, "<<<"));
    ASSERT_TRUE(broken);
    EXPECT_FALSE(broken->uploadId());
    EXPECT_EQ(broken->httpResponseCode(), 200);
}

TEST(ResultRecordTest, RepliesOfTheWrongShapeFailWithTheElementNamed) {
    const struct {
        std::int64_t type;
        const char* body;
        const char* element;
    } cases[] = {
        {HOSOperationTypeGetService, "<R><Owner>text only</Owner></R>", "\"Owner\""},
        {HOSOperationTypeGetService, "<R><Buckets><Bucket>b</Bucket></Buckets></R>", "\"Buckets/Bucket\""},
        {HOSOperationTypeGetBucket, "<R><Prefix><Inner>x</Inner></Prefix></R>", "\"Prefix\""},
        {HOSOperationTypeGetBucket, "<R><MaxKeys>1</MaxKeys><MaxKeys>2</MaxKeys></R>", "\"MaxKeys\""},
        {HOSOperationTypeListParts, "<R><Part><PartNumber>1</PartNumber></Part><Part>2</Part></R>", "\"Part\""},
        {HOSOperationTypeListMultipartUploads, "<R><CommonPrefixes>p</CommonPrefixes></R>", "\"CommonPrefixes\""},
        {HOSOperationTypeGetObjectACL, "<R><AccessControlList>none</AccessControlList></R>", "\"AccessControlList\""},
        {HOSOperationTypeCopyObject, "<R><ETag><a>1</a></ETag></R>", "\"ETag\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        HOSHttpResponseParser parser(c.type);
        EXPECT_FALSE(parse(parser, c.body, "application/xml"));
        const auto& error = parser.resultError();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), HOSClientErrorDomain);
        EXPECT_EQ(error->code(), HOSClientErrorCodeInvalidResponse);
        EXPECT_NE(error->userInfo().find(HOSErrorMessageKey)->asString().find(c.element), std::string::npos);
        // A retry starts clean.
        parser.reset();
        EXPECT_FALSE(parser.resultError());
    }
    // Text with attributes is still text.
    auto tagged = std::dynamic_pointer_cast<HOSInitMultipartUploadResult>(
        parse(HOSOperationTypeInitMultipartUpload, R"(<R><UploadId kind="x">u-1</UploadId></R>)"));
    ASSERT_TRUE(tagged);
    EXPECT_EQ(tagged->uploadId(), "u-1");
}

TEST(ResultRecordTest, CallbackRepliesAreReadByTheirExactContentType) {
    const struct {
        std::int64_t type;
        const char* contentType;
        bool json, xml;
    } cases[] = {
        {HOSOperationTypeCompleteMultipartUpload, "application/json", true, false},
        {HOSOperationTypeCompleteMultipartUpload, "application/xml", false, true},
        {HOSOperationTypeCompleteMultipartUpload, "application/xml; charset=utf-8", true, false},
        {HOSOperationTypeTriggerCallBack, "application/json", true, false},
        {HOSOperationTypeTriggerCallBack, "application/xml", false, true},
        {HOSOperationTypeTriggerCallBack, "text/plain", false, false},
    };
    const std::string body = "<CompleteMultipartUploadResult><Location>L</Location><ETag>E</ETag></CompleteMultipartUploadResult>";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + c.contentType);
        auto result = parse(c.type, body, c.contentType);
        ASSERT_TRUE(result);
        if (auto complete = std::dynamic_pointer_cast<HOSCompleteMultipartUploadResult>(result)) {
            EXPECT_EQ(complete->serverReturnJsonString().has_value(), c.json);
            EXPECT_EQ(complete->location().has_value(), c.xml);
            if (c.xml) {
                EXPECT_EQ(complete->eTag(), "E");
            }
        } else {
            auto callback = std::dynamic_pointer_cast<HOSCallBackResult>(result);
            ASSERT_TRUE(callback);
            EXPECT_EQ(callback->serverReturnJsonString().has_value(), c.json);
            EXPECT_EQ(callback->serverReturnXML().has_value(), c.xml);
        }
    }
}

TEST(ResultRecordTest, RecordDefaultsQueriesAndPartDescriptors) {
    auto service = std::make_shared<HOSGetServiceRequest>();
    EXPECT_TRUE(service->getQueryDict().empty());
    service->setMaxKeys(100);
    EXPECT_EQ(service->getQueryDict(), (platform::Dictionary{{"max-keys", "100"}}));
    HOSListMultipartUploadsRequest uploads;
    uploads.setPrefix("");
    uploads.setMaxUploads(7);
    EXPECT_EQ(uploads.getQueryDict(), (platform::Dictionary{{"prefix", ""}, {"max-uploads", "7"}}));

    EXPECT_EQ(HOSResumableUploadRequest().partSize(), 262144u);
    EXPECT_TRUE(HOSResumableUploadRequest().deleteUploadIdOnCancelling());

    auto part = HOSPartInfo::partInfoWithPartNum(3, std::nullopt, 10, UINT64_MAX);
    const auto dict = part->entityToDictionary();
    EXPECT_FALSE(dict.find("eTag"));
    EXPECT_EQ(dict.find("crc64")->uintValue(), UINT64_MAX);
    EXPECT_NE(part->description().find("crc64: 18446744073709551615}"), std::string::npos);
    auto copied = part->copy();
    copied->setPartNum(4);
    EXPECT_EQ(part->partNum(), 3);
}

TEST(ResultRecordTest, CancellingAResumableUploadCancelsItsRunningChild) {
    HOSResumableUploadRequest upload;
    auto child = std::make_shared<HOSUploadPartRequest>();
    upload.setRunningChildrenRequest(child);
    upload.cancel();
    EXPECT_TRUE(upload.isCancelled());
    EXPECT_TRUE(child->isCancelled());

    HOSResumableUploadRequest orphan;
    orphan.setRunningChildrenRequest(std::make_shared<HOSUploadPartRequest>());  // gone at once
    EXPECT_FALSE(orphan.runningChildrenRequest());
    orphan.cancel();
    EXPECT_TRUE(orphan.isCancelled());
}

}  // namespace
}  // namespace pellix::test
