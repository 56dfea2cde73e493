// The client may be destroyed while work it started still runs in the
// background: multipart runs (which go on to abort the upload through the
// client) and the callback-style wrappers. Destroying it cancels the
// transfers; the work ends with an error, reported as usual, and touches
// nothing of the client that went away.
#include <gtest/gtest.h>

#include <future>

#include "HOSSDK/HOSErrors.h"
#include "StandIn.h"
#include "platform/Paths.h"

namespace pellix::test {
namespace {

class ClientLifetimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousHome = platform::Paths::homeDirectory();
        platform::Paths::setHomeDirectory(home.path());
    }
    void TearDown() override { platform::Paths::setHomeDirectory(previousHome); }

    // Cut uploads leave records: in a home of this test's own.
    std::string previousHome;
    TempDir home;
    StandIn standIn;
    LoopbackResolver resolver;
    TempDir dir;
};

TEST_F(ClientLifetimeTest, DestroyingTheClientWhileWorkRunsEndsTheWorkSafely) {
    const std::string path = dir.file("five-parts.bin");
    const auto data = patternBytes(5 * 102400, 4);
    writeFile(path, std::string(data.begin(), data.end()));
    // Keeps the work running long enough to be cut: a slow third part, a
    // slow upload, a trickling download.
    standIn.fault(R"({"match":{"op":"UploadPart","partNumber":3},"delayMs":3000,"times":0})");
    standIn.fault(R"({"match":{"op":"PutObject","key":"slow"},"delayMs":3000,"times":0})");
    standIn.fault(R"({"match":{"op":"GetObject"},"chunkSize":1000,"chunkDelayMs":30,"times":0})");

    using Started = std::function<void()>;
    using Finished = std::function<void(bool failed)>;
    struct Case {
        const char* name;
        // Starts the work; calls `started` once it is under way and
        // `finished` when it ended.
        std::function<void(HOSClient&, Started, Finished)> start;
    };
    const auto multipart = [&](int kind) {
        return [&, kind](HOSClient& client, Started started, Finished finished) {
            auto request = std::make_shared<HOSResumableUploadRequest>();
            request->setBucketName(kBucket);
            request->setObjectKey("big");
            request->setUploadingFileURL(platform::URL::fileURL(path));
            request->setPartSize(102400);
            request->setRecordDirectoryPath(dir.path());
            auto once = std::make_shared<std::once_flag>();
            request->setUploadProgress([once, started](std::int64_t, std::int64_t, std::int64_t) {
                std::call_once(*once, started);
            });
            auto task = kind == 0   ? client.multipartUpload(request)
                        : kind == 1 ? client.resumableUpload(request)
                                    : client.sequentialMultipartUpload(request);
            task->continueWithBlock([finished](const HOSTaskPtr& t) -> std::any {
                finished(t->error() || t->isCancelled() || t->exception());
                return std::any();
            });
        };
    };
    const auto fractionOnce = [](Started started) {
        auto once = std::make_shared<std::once_flag>();
        return [once, started](float f) {
            if (f < 1.0f) std::call_once(*once, started);
        };
    };
    const Case cases[] = {
        {"multipart", multipart(0)},
        {"resumable", multipart(1)},
        {"sequential", multipart(2)},
        // Gone at once: the wrapper's work is still queued or just starting.
        {"upload wrapper",
         [&](HOSClient& client, Started started, Finished finished) {
             client.uploadData(
                 patternBytes(300000), std::nullopt, {}, kBucket, "slow",
                 [finished](bool ok, platform::ErrorPtr) { finished(!ok); }, nullptr);
             started();
         }},
        {"resumable wrapper",
         [&](HOSClient& client, Started started, Finished finished) {
             client.resumableUploadFile(
                 path, std::nullopt, {}, kBucket, "big-wrapped",
                 [finished](bool ok, platform::ErrorPtr) { finished(!ok); }, fractionOnce(started));
         }},
        {"download wrapper",
         [&](HOSClient& client, Started started, Finished finished) {
             client.downloadToDataFromBucket(
                 kBucket, "present",
                 [finished](std::optional<platform::Bytes> got, platform::ErrorPtr error) {
                     finished(error || !got);
                 },
                 fractionOnce(started));
         }},
    };
    {
        auto seed = clientOf(standIn, std::make_shared<HOSClientConfiguration>());
        auto put = waitFor(seed->putObject(putRequest("present", patternBytes(100000))));
        ASSERT_FALSE(put->error()) << put->error()->description();
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = clientOf(standIn, std::make_shared<HOSClientConfiguration>());
        auto started = std::make_shared<std::promise<void>>();
        auto finished = std::make_shared<std::promise<bool>>();
        c.start(
            *client, [started] { started->set_value(); }, [finished](bool failed) { finished->set_value(failed); });
        // Under way, or at least queued: either way the client goes now.
        started->get_future().wait_for(std::chrono::seconds(10));
        client.reset();
        auto outcome = finished->get_future();
        ASSERT_EQ(outcome.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        EXPECT_TRUE(outcome.get()) << "the work was cut short, so it must not report success";
    }
}

}  // namespace
}  // namespace pellix::test
