// Failures of the request road against the stand-in: status mapping, CRC
// mismatches, transport failures and their back-off on the manual clock,
// clock-skew correction, a wrong secret, and cancellation before the
// transfer, during it and during a back-off.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSHttpResponseParser.h"
#include "HOSSDK/NSDate+HOS.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "StandIn.h"
#include "platform/ManualClock.h"

namespace pellix::test {
namespace {

template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

class FailureTest : public ::testing::Test {
protected:
    void SetUp() override { makeClient(standIn.accessKeySecret()); }
    void TearDown() override {
        hos_setClockSkew(0);
        platform::Clock::setShared(nullptr);
    }
    void makeClient(const std::string& secret) {
        configuration->setCrc64Verifiable(true);
        client = std::make_unique<HOSClient>(
            standIn.endpoint(), std::make_shared<HOSPlainTextAKSKPairCredentialProvider>(standIn.accessKeyId(), secret),
            configuration);
    }
    void putOK(const std::string& key, const platform::Bytes& data) {
        auto task = waitFor(client->putObject(putRequest(key, data)));
        ASSERT_FALSE(task->error()) << task->error()->description();
    }
    static std::string userInfoText(const platform::ErrorPtr& e, const char* key) {
        const auto* v = e->userInfo().find(key);
        return v && v->isString() ? v->asString() : "";
    }

    StandIn standIn;
    LoopbackResolver resolver;
    std::shared_ptr<HOSClientConfiguration> configuration = std::make_shared<HOSClientConfiguration>();
    std::unique_ptr<HOSClient> client;
};

TEST_F(FailureTest, ServiceFailuresMapToServerErrorsAndAreNotRetried) {
    putOK("present", bytesOf("abc"));
    struct Case {
        const char* fault;  // empty: none
        const char* key;
        std::int64_t code;
        const char* serviceCode;
    };
    const Case cases[] = {
        {"", "missing", -404, "NoSuchKey"},
        {R"({"match":{"op":"GetObject"},"status":500})", "present", -500, "InternalError"},
        {R"({"match":{"op":"GetObject"},"status":203})", "present", -203, "CallbackFailed"},
        {R"({"match":{"op":"GetObject"},"status":403,"code":"AccessDenied"})", "present", -403, "AccessDenied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        standIn.admin("DELETE", "/__admin/requests");
        if (*c.fault) standIn.fault(c.fault);
        auto task = waitFor(client->getObject(getRequest(c.key)));
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->domain(), HOSServerErrorDomain);
        EXPECT_EQ(task->error()->code(), c.code);
        EXPECT_EQ(userInfoText(task->error(), "Code"), c.serviceCode);
        EXPECT_EQ(standIn.requests("GetObject").size(), 1u);
    }
}

TEST_F(FailureTest, CrcMismatchFailsWithCode7BothWays) {
    putOK("object", patternBytes(5000));
    standIn.fault(R"({"match":{"op":"GetObject"},"crc":"wrong"})");
    auto get = waitFor(client->getObject(getRequest("object")));
    ASSERT_TRUE(get->error());
    EXPECT_EQ(get->error()->domain(), HOSClientErrorDomain);
    EXPECT_EQ(get->error()->code(), HOSClientErrorCodeInvalidCRC);
    EXPECT_NE(userInfoText(get->error(), HOSErrorMessageKey).find("crc validation fails(local_crc64ecma: " +
                                                                  std::to_string(hos_crc64(patternBytes(5000)))),
              std::string::npos);

    standIn.fault(R"({"match":{"op":"PutObject"},"crc":"wrong"})");
    auto put = waitFor(client->putObject(putRequest("object2", patternBytes(10))));
    ASSERT_TRUE(put->error());
    EXPECT_EQ(put->error()->code(), HOSClientErrorCodeInvalidCRC);

    // A ranged read is not checked: the service's CRC is the whole object's.
    auto ranged = getRequest("object");
    ranged->setRange(std::make_shared<HOSRange>(10, 19));
    auto part = waitFor(client->getObject(ranged));
    ASSERT_FALSE(part->error()) << part->error()->description();
    EXPECT_EQ(resultOf<HOSGetObjectResult>(part)->downloadedData()->size(), 10u);
}

// A reply that lost the body but kept the object's CRC must not pass as an
// empty object: the check runs whenever the service sent a CRC, and an empty
// body's own CRC-64 is 0. A real empty object passes the same check.
TEST_F(FailureTest, EmptyBodyUnderAnotherObjectsCrcFailsWithCode7) {
    TempDir dir;
    putOK("nine", bytesOf("123456789"));
    putOK("empty", {});
    for (bool toFile : {false, true}) {
        SCOPED_TRACE(toFile);
        const auto get = [&](const std::string& key) {
            auto request = getRequest(key);
            if (toFile) request->setDownloadToFileURL(platform::URL::fileURL(dir.file(key)));
            return waitFor(client->getObject(request));
        };
        standIn.fault(R"({"match":{"op":"GetObject"},"emptyBody":true})");
        auto lost = get("nine");
        ASSERT_TRUE(lost->error());
        EXPECT_EQ(lost->error()->domain(), HOSClientErrorDomain);
        EXPECT_EQ(lost->error()->code(), HOSClientErrorCodeInvalidCRC);

        auto empty = get("empty");
        ASSERT_FALSE(empty->error()) << empty->error()->description();
        auto result = resultOf<HOSGetObjectResult>(empty);
        EXPECT_EQ(result->localCRC64ecma(), "0");
        EXPECT_EQ(result->remoteCRC64ecma(), "0");
    }
    // An empty upload is compared too.
    auto putEmpty = waitFor(client->putObject(putRequest("empty2", {})));
    ASSERT_FALSE(putEmpty->error()) << putEmpty->error()->description();
    EXPECT_EQ(resultOf<HOSPutObjectResult>(putEmpty)->localCRC64ecma(), "0");
    writeFile(dir.file("empty.upload"), "");
    for (bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile);
        standIn.fault(R"({"match":{"op":"PutObject"},"crc":"wrong"})");
        auto request = putRequest("empty3", {});
        if (fromFile) {
            request->setUploadingData(std::nullopt);
            request->setUploadingFileURL(platform::URL::fileURL(dir.file("empty.upload")));
        }
        auto wrong = waitFor(client->putObject(request));
        ASSERT_TRUE(wrong->error());
        EXPECT_EQ(wrong->error()->code(), HOSClientErrorCodeInvalidCRC);
    }
}

// Replies that never end: a failed reply keeps a bounded prefix of its body
// (enough for the error document) and the transfer is stopped there; a result
// body collected in memory fails past its bound. Neither is retried, and the
// service sees its connection closed.
TEST_F(FailureTest, EndlessRepliesAreCutOffWithAClearError) {
    putOK("present", bytesOf("abc"));
    struct Case {
        const char* op;
        const char* fault;
        std::function<HOSTaskPtr()> run;
        const char* domain;
        std::int64_t code;
        const char* serviceCode;  // for a failed reply
        std::size_t atLeast;      // bytes the service must have sent before the cut
    };
    auto listParts = std::make_shared<HOSListPartsRequest>();
    listParts->setBucketName(kBucket);
    listParts->setObjectKey("present");
    listParts->setUploadId("some-upload");
    auto listBucket = std::make_shared<HOSGetBucketRequest>();
    listBucket->setBucketName(kBucket);
    const Case cases[] = {
        {"GetObject", R"({"match":{"op":"GetObject"},"status":500,"endlessBody":true})",
         [&] { return client->getObject(getRequest("present")); }, HOSServerErrorDomain, -500, "InternalError", 0},
        {"PutObject", R"({"match":{"op":"PutObject"},"status":503,"endlessBody":true})",
         [&] { return client->putObject(putRequest("other", bytesOf("x"))); }, HOSServerErrorDomain, -503,
         "ServiceUnavailable", 0},
        {"GetBucket", R"({"match":{"op":"GetBucket"},"replyBody":"<ListBucketResult>","endlessBody":true})",
         [&] { return client->getBucket(listBucket); }, HOSClientErrorDomain, HOSClientErrorCodeInvalidResponse,
         nullptr, HOSHttpResponseParser::kMaxResultBodyBytes},
        {"ListParts", R"({"match":{"op":"ListParts"},"replyBody":"<ListPartsResult>","endlessBody":true})",
         [&] { return client->listParts(listParts); }, HOSClientErrorDomain, HOSClientErrorCodeInvalidResponse,
         nullptr, HOSHttpResponseParser::kMaxResultBodyBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.op);
        standIn.admin("DELETE", "/__admin/requests");
        standIn.fault(c.fault);
        auto task = waitFor(c.run());
        ASSERT_TRUE(task->isCompleted());
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->domain(), c.domain);
        EXPECT_EQ(task->error()->code(), c.code);
        if (c.serviceCode) EXPECT_EQ(userInfoText(task->error(), "Code"), c.serviceCode);
        else EXPECT_NE(userInfoText(task->error(), HOSErrorMessageKey).find("16 MiB"), std::string::npos);
        // The service logs the request once the client has hung up.
        ASSERT_TRUE(eventually([&] { return !standIn.requests(c.op).empty(); }));
        const auto seen = standIn.requests(c.op);
        EXPECT_EQ(seen.size(), 1u);
        EXPECT_GE(static_cast<std::size_t>(seen[0].get("bytesOut")->intValue()), c.atLeast);
    }
}

// A file upload's CRC is read back from the file after the service answered;
// when that read fails the caller hears the check did not happen (code 7
// with the read error underneath), not a silent pass.
TEST_F(FailureTest, AnUnreadableUploadFileAfterTheReplyIsReportedNotSkipped) {
    TempDir dir;
    const std::string path = dir.file("upload.bin");
    const auto data = patternBytes(4096, 9);
    writeFile(path, std::string(data.begin(), data.end()));
    // The service holds its answer back long enough for the file to go
    // after it was sent.
    standIn.fault(R"({"match":{"op":"PutObject"},"delayMs":1500})");
    auto request = std::make_shared<HOSPutObjectRequest>();
    request->setBucketName(kBucket);
    request->setObjectKey("from-file.bin");
    request->setUploadingFileURL(platform::URL::fileURL(path));
    auto task = client->putObject(request);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::remove(path.c_str());
    waitFor(task);
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
    EXPECT_EQ(task->error()->code(), HOSClientErrorCodeInvalidCRC);
    EXPECT_TRUE(task->error()->underlying());
    // The write itself happened.
    ASSERT_EQ(standIn.requests("PutObject").size(), 1u);
    EXPECT_EQ(standIn.requests("PutObject")[0].get("status")->intValue(), 200);
}

TEST_F(FailureTest, ConnectionCutMidBodyIsRetriedAndTheCrcStartsAfresh) {
    const auto data = patternBytes(400000, 9);
    putOK("cut", data);
    standIn.fault(R"({"match":{"op":"GetObject"},"closeAfterBytes":150000})");
    for (bool toFile : {false, true}) {
        SCOPED_TRACE(toFile);
        if (toFile) standIn.fault(R"({"match":{"op":"GetObject"},"closeAfterBytes":150000})");
        TempDir dir;
        auto request = getRequest("cut");
        if (toFile) request->setDownloadToFileURL(platform::URL::fileURL(dir.file("cut.bin")));
        auto task = waitFor(client->getObject(request));
        ASSERT_FALSE(task->error()) << task->error()->description();
        auto result = resultOf<HOSGetObjectResult>(task);
        EXPECT_EQ(result->localCRC64ecma(), std::to_string(hos_crc64(data)));
        if (toFile) {
            const auto onDisk = readFile(dir.file("cut.bin"));
            EXPECT_EQ(platform::Bytes(onDisk.begin(), onDisk.end()), data);
        } else {
            EXPECT_EQ(*result->downloadedData(), data);
        }
    }
    EXPECT_EQ(standIn.requests("GetObject").size(), 4u);
}

TEST_F(FailureTest, TransportFailuresBackOffOnTheClockThenFailWithCode6) {
    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(clock);
    standIn.fault(R"({"match":{"op":"PutObject"},"closeBeforeHead":true,"times":0})");
    int retryCallbacks = 0;
    auto request = putRequest("never", bytesOf("x"));
    request->setUploadRetryCallback([&] { ++retryCallbacks; });
    auto task = client->putObject(request);
    auto attempts = [&] { return standIn.requests("PutObject").size(); };
    for (std::size_t attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_TRUE(eventually([&] { return attempts() == attempt; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the failure reaches the client
        const double delay = 0.2 * (1 << (attempt - 1));
        clock->advance(delay - 0.01);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(attempts(), attempt) << "retried before its back-off ended";
        clock->advance(0.01);
    }
    ASSERT_TRUE(eventually([&] { return attempts() == 4u; }));
    waitFor(task);
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
    EXPECT_EQ(task->error()->code(), HOSClientErrorCodeNetworkError);
    EXPECT_FALSE(userInfoText(task->error(), HOSOriginErrorCodeKey).empty());
    EXPECT_EQ(retryCallbacks, 3);
}

TEST_F(FailureTest, ClockSkewIsCorrectedAfterRequestTimeTooSkewed) {
    standIn.config(R"({"clockOffsetSeconds":3600})");
    auto task = waitFor(client->putObject(putRequest("skewed", bytesOf("late"))));
    ASSERT_FALSE(task->error()) << task->error()->description();
    auto puts = standIn.requests("PutObject");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(puts[0].get("errorCode")->asString(), "RequestTimeTooSkewed");
    EXPECT_NEAR(hos_clockSkewFixedDate() - platform::Clock::now(), 3600, 5);
    // Later requests are stamped right the first time.
    auto again = waitFor(client->putObject(putRequest("skewed2", bytesOf("on time"))));
    ASSERT_FALSE(again->error());
    EXPECT_EQ(standIn.requests("PutObject").size(), 3u);
}

TEST_F(FailureTest, WrongSecretGivesSignatureDoesNotMatch) {
    makeClient("not-the-secret");
    auto task = waitFor(client->putObject(putRequest("denied", bytesOf("x"))));
    ASSERT_TRUE(task->error());
    EXPECT_EQ(task->error()->code(), -403);
    EXPECT_EQ(userInfoText(task->error(), "Code"), "SignatureDoesNotMatch");
    EXPECT_EQ(standIn.requests("PutObject").size(), 1u);
}

TEST_F(FailureTest, CancelBeforeStartDuringTransferAndDuringBackOff) {
    // Before the session task exists: nothing is sent.
    auto early = putRequest("early", bytesOf("x"));
    early->cancel();
    auto earlyTask = waitFor(client->putObject(early));
    ASSERT_TRUE(earlyTask->error());
    EXPECT_EQ(earlyTask->error()->code(), HOSClientErrorCodeTaskCancelled);
    EXPECT_EQ(earlyTask->error()->userInfo().size(), 0u);
    EXPECT_EQ(standIn.requests("PutObject").size(), 0u);

    // While the reply is on its way.
    putOK("slow", patternBytes(1000));
    standIn.fault(R"({"match":{"op":"GetObject"},"delayMs":3000})");
    auto slow = getRequest("slow");
    auto slowTask = client->getObject(slow);
    ASSERT_TRUE(eventually([&] { return slow->requestDelegate()->currentSessionTask() != nullptr; }));
    slow->cancel();
    waitFor(slowTask);
    ASSERT_TRUE(slowTask->error());
    EXPECT_EQ(slowTask->error()->code(), HOSClientErrorCodeTaskCancelled);

    // During a retry's back-off: the cancel survives the reset before the
    // next attempt, so none is made.
    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(clock);
    standIn.admin("DELETE", "/__admin/requests");
    standIn.fault(R"({"match":{"op":"PutObject"},"closeBeforeHead":true,"times":0})");
    auto waiting = putRequest("waiting", bytesOf("x"));
    auto waitingTask = client->putObject(waiting);
    ASSERT_TRUE(eventually([&] { return standIn.requests("PutObject").size() == 1u; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    waiting->cancel();
    clock->advance(1.0);
    waitFor(waitingTask);
    ASSERT_TRUE(waitingTask->error());
    EXPECT_EQ(waitingTask->error()->code(), HOSClientErrorCodeTaskCancelled);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(standIn.requests("PutObject").size(), 1u);
}

}  // namespace
}  // namespace pellix::test
