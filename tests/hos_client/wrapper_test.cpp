// The callback-style wrappers against the stand-in: the order of progress
// and completion, the outcome each block receives, and cancellation both
// during a transfer and before the wrapper's work has left the queue.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <variant>

#include "HOSSDK/HOSErrors.h"
#include "StandIn.h"
#include "platform/Paths.h"

namespace pellix::test {
namespace {

// What one wrapper call reported, in order.
class Recorder {
public:
    HOSClient::HOSFractionBlock progress() {
        return [this](float f) {
            std::lock_guard<std::mutex> g(lock_);
            EXPECT_FALSE(completed_) << "progress after completion";
            fractions_.push_back(f);
        };
    }
    HOSClient::HOSCompletedBlock completed() {
        return [this](bool success, platform::ErrorPtr error) {
            EXPECT_EQ(success, !error);
            finish(error, std::nullopt);
        };
    }
    HOSClient::HOSDataCompletedBlock dataCompleted() {
        return [this](std::optional<platform::Bytes> data, platform::ErrorPtr error) {
            EXPECT_EQ(data.has_value(), !error);
            finish(error, std::move(data));
        };
    }
    void wait() { ASSERT_EQ(done_.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready); }
    std::vector<float> fractions() {
        std::lock_guard<std::mutex> g(lock_);
        return fractions_;
    }
    platform::ErrorPtr error;
    std::optional<platform::Bytes> data;

private:
    void finish(platform::ErrorPtr e, std::optional<platform::Bytes> d) {
        {
            std::lock_guard<std::mutex> g(lock_);
            EXPECT_FALSE(completed_) << "completed twice";
            completed_ = true;
            error = std::move(e);
            data = std::move(d);
        }
        done_.set_value();
    }
    std::mutex lock_;
    std::vector<float> fractions_;
    bool completed_ = false;
    std::promise<void> done_;
};

class WrapperTest : public ::testing::Test {
protected:
    WrapperTest()
        : client(standIn.endpoint(), std::make_shared<HOSPlainTextAKSKPairCredentialProvider>(
                                         standIn.accessKeyId(), standIn.accessKeySecret())) {}
    StandIn standIn;
    LoopbackResolver resolver;
    HOSClient client;
    TempDir dir;
};

// Rising fractions, the last of them 1.0, all before the completion.
void expectProgressEndsAtOne(const std::vector<float>& fractions) {
    ASSERT_FALSE(fractions.empty());
    EXPECT_EQ(fractions.back(), 1.0f);
    for (std::size_t i = 1; i < fractions.size(); ++i) EXPECT_LE(fractions[i - 1], fractions[i]);
    for (float f : fractions) EXPECT_TRUE(f >= 0.0f && f <= 1.0f) << f;
}

TEST_F(WrapperTest, UploadsAndDownloadsReportProgressThenTheirOutcome) {
    const auto content = patternBytes(3 * 1024 * 1024);
    const std::string source = dir.path() + "/source.bin";
    std::ofstream(source, std::ios::binary).write(reinterpret_cast<const char*>(content.data()), content.size());
    const platform::Dictionary meta{{"x-hos-meta-album", "winter"}};

    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "data");
        const std::string key = fromFile ? "from-file.bin" : "from-data.bin";
        Recorder up;
        if (fromFile)
            client.uploadFile(source, std::string("image/x-test"), meta, kBucket, key, up.completed(), up.progress());
        else
            client.uploadData(content, std::string("image/x-test"), meta, kBucket, key, up.completed(), up.progress());
        up.wait();
        ASSERT_FALSE(up.error) << up.error->description();
        auto fractions = up.fractions();
        expectProgressEndsAtOne(fractions);
        EXPECT_GT(fractions.size(), 1u) << "no progress during the transfer";

        Recorder toData;
        client.downloadToDataFromBucket(kBucket, key, toData.dataCompleted(), toData.progress());
        toData.wait();
        ASSERT_FALSE(toData.error) << toData.error->description();
        EXPECT_TRUE(toData.data == content);
        expectProgressEndsAtOne(toData.fractions());

        Recorder toFile;
        const std::string target = dir.path() + "/" + key;
        client.downloadToFileFromBucket(kBucket, key, target, toFile.completed(), toFile.progress());
        toFile.wait();
        ASSERT_FALSE(toFile.error) << toFile.error->description();
        std::ifstream in(target, std::ios::binary);
        EXPECT_TRUE(platform::Bytes(std::istreambuf_iterator<char>(in), {}) == content);
        expectProgressEndsAtOne(toFile.fractions());
    }
    auto puts = standIn.requests("PutObject");
    ASSERT_EQ(puts.size(), 2u);

    Recorder removed;
    client.deleteObjectInBucket(kBucket, "from-data.bin", removed.completed());
    removed.wait();
    EXPECT_FALSE(removed.error);
    EXPECT_TRUE(removed.fractions().empty());
    Recorder gone;
    client.downloadToDataFromBucket(kBucket, "from-data.bin", gone.dataCompleted(), gone.progress());
    gone.wait();
    ASSERT_TRUE(gone.error);
    EXPECT_EQ(gone.error->code(), -404);
}

TEST_F(WrapperTest, FailuresStillEndTheProgressAtOneBeforeTheError) {
    struct Case {
        const char* name;
        std::function<void(Recorder&)> start;
        std::string domain;
    };
    const std::vector<Case> cases{
        {"upload to a missing bucket",
         [&](Recorder& r) {
             client.uploadData(bytesOf("x"), std::nullopt, {}, "no-such-bucket", "k", r.completed(), r.progress());
         },
         HOSServerErrorDomain},
        {"upload of a missing file",
         [&](Recorder& r) {
             client.uploadFile(dir.path() + "/absent", std::nullopt, {}, kBucket, "k", r.completed(), r.progress());
         },
         HOSClientErrorDomain},
        {"download of a missing key",
         [&](Recorder& r) { client.downloadToDataFromBucket(kBucket, "absent", r.dataCompleted(), r.progress()); },
         HOSServerErrorDomain},
        {"download below a plain file",
         [&](Recorder& r) {
             waitFor(client.putObject(putRequest("present", bytesOf("x"))));
             std::ofstream(dir.path() + "/plain") << "not a folder";
             client.downloadToFileFromBucket(kBucket, "present", dir.path() + "/plain/f", r.completed(), r.progress());
         },
         HOSClientErrorDomain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder r;
        c.start(r);
        r.wait();
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->domain(), c.domain) << r.error->description();
        EXPECT_FALSE(r.data);
        // A one-byte body may already have reported 1.0 while it was sent.
        ASSERT_FALSE(r.fractions().empty());
        EXPECT_EQ(r.fractions().back(), 1.0f);
    }
}

TEST_F(WrapperTest, AnEmptyBodyReportsOnlyTheFinalOne) {
    Recorder r;
    client.uploadData(platform::Bytes(), std::nullopt, {}, kBucket, "empty", r.completed(), r.progress());
    r.wait();
    ASSERT_FALSE(r.error) << r.error->description();
    EXPECT_EQ(r.fractions(), std::vector<float>{1.0f});
}

TEST_F(WrapperTest, CancellingDuringAnUploadEndsItWithTheCancelError) {
    // The stand-in holds the body unread, so the upload is surely still
    // under way when it is cancelled, however slow or fast the machine.
    standIn.fault(R"({"match":{"op":"PutObject"},"delayMs":120000})");
    Recorder r;
    std::promise<void> started;
    std::once_flag once;
    auto record = r.progress();
    auto handle = client.uploadData(patternBytes(48 * 1024 * 1024), std::nullopt, {}, kBucket, "big", r.completed(),
                                    [&](float f) {
                                   if (f < 1.0f) std::call_once(once, [&] { started.set_value(); });
                                   record(f);
                               });
    ASSERT_EQ(started.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    handle->cancel();
    r.wait();
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->domain(), HOSClientErrorDomain);
    EXPECT_EQ(r.error->code(), HOSClientErrorCodeTaskCancelled);
    EXPECT_EQ(r.fractions().back(), 1.0f);
    // Cancelling a finished operation changes nothing.
    handle->cancel();
}

TEST_F(WrapperTest, ACancelWhileTheWorkWaitsForTheQueueIsHonoured) {
    // Hold every thread of the client's operation queue, so the wrapper's
    // work is still queued when the handle is cancelled.
    std::promise<void> release;
    auto gate = release.get_future().share();
    for (int i = 0; i < 3; ++i) client.hosOperationExecutor()->execute([gate] { gate.wait(); });
    Recorder r;
    auto handle =
        client.uploadData(bytesOf("must not arrive"), std::nullopt, {}, kBucket, "cancelled", r.completed(), r.progress());
    handle->cancel();
    release.set_value();
    r.wait();
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->code(), HOSClientErrorCodeTaskCancelled);
    EXPECT_EQ(r.fractions(), std::vector<float>{1.0f});
    EXPECT_TRUE(standIn.requests("PutObject").empty());
}

// The resumable form keeps its record in the caches directory: a call that
// failed part-way leaves the upload for the next call of the same file,
// which sends only what the service lacks.
// A home of the test's own, so the caches directory holds only its records.
class ScopedHome {
public:
    ScopedHome() : previous_(platform::Paths::homeDirectory()) { platform::Paths::setHomeDirectory(home_.path()); }
    ~ScopedHome() { platform::Paths::setHomeDirectory(previous_); }

private:
    std::string previous_;
    TempDir home_;
};

TEST_F(WrapperTest, ResumableUploadFileContinuesWhereAFailedCallStopped) {
    ScopedHome home;
    const std::uint64_t part = HOSMultipartUploadRequest::kDefaultPartSize;
    const auto content = patternBytes(2 * part + 1000, 5);
    const std::string source = dir.file("video.mp4");
    writeFile(source, std::string(content.begin(), content.end()));
    standIn.fault(R"({"match":{"op":"UploadPart","partNumber":"3"},"status":500,"times":0})");
    Recorder first;
    client.resumableUploadFile(source, std::string("video/mp4"), {{"x-hos-meta-door", "7"}}, kBucket, "clip.mp4",
                               first.completed(), first.progress());
    first.wait();
    ASSERT_TRUE(first.error);
    EXPECT_EQ(first.error->code(), -500);
    EXPECT_TRUE(standIn.requests("AbortMultipartUpload").empty()) << "the upload is kept for the next call";
    std::size_t records = 0;
    for (const auto& e : std::filesystem::directory_iterator(platform::Paths::cachesDirectory()))
        records += e.is_regular_file();
    EXPECT_EQ(records, 1u);

    standIn.admin("DELETE", "/__admin/faults");
    standIn.admin("DELETE", "/__admin/requests");
    Recorder second;
    client.resumableUploadFile(source, std::string("video/mp4"), {{"x-hos-meta-door", "7"}}, kBucket, "clip.mp4",
                               second.completed(), second.progress());
    second.wait();
    ASSERT_FALSE(second.error) << second.error->description();
    const auto parts = standIn.requests("UploadPart");
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_NE(parts[0].get("url")->asString().find("partNumber=3"), std::string::npos);
    EXPECT_TRUE(standIn.requests("InitMultipartUpload").empty());
    // The first report is what the service already had.
    const auto fractions = second.fractions();
    ASSERT_FALSE(fractions.empty());
    EXPECT_FLOAT_EQ(fractions.front(), float(2 * part) / float(content.size()));
    EXPECT_EQ(fractions.back(), 1.0f);
    const auto objects = standIn.admin("GET", std::string("/__admin/objects?bucket=") + kBucket);
    ASSERT_TRUE(objects.arrayIf() && objects.arrayIf()->size() == 1u);
    const auto& object = (*objects.arrayIf())[0];
    EXPECT_EQ(object.get("key")->asString(), "clip.mp4");
    EXPECT_EQ(object.get("contentType")->asString(), "video/mp4");
    EXPECT_EQ(readFile(object.get("file")->asString()), std::string(content.begin(), content.end()));
    records = 0;
    for (const auto& e : std::filesystem::directory_iterator(platform::Paths::cachesDirectory()))
        records += e.is_regular_file();
    EXPECT_EQ(records, 0u) << "a finished upload leaves no record";
}

TEST_F(WrapperTest, ResumableUploadFileOfAMissingFileOrCancelledSendsNothing) {
    Recorder missing;
    client.resumableUploadFile(dir.file("absent.mp4"), std::nullopt, {}, kBucket, "absent.mp4", missing.completed(),
                               missing.progress());
    missing.wait();
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(missing.error->domain(), "NSPOSIXErrorDomain");
    EXPECT_EQ(missing.error->code(), ENOENT);
    EXPECT_TRUE(missing.fractions().empty());

    // Cancelled while its run waits for a thread of the client's queue.
    writeFile(dir.file("present.mp4"), std::string(300000, 'v'));
    std::promise<void> release;
    auto gate = release.get_future().share();
    for (int i = 0; i < 3; ++i) client.hosOperationExecutor()->execute([gate] { gate.wait(); });
    Recorder cancelled;
    auto handle = client.resumableUploadFile(dir.file("present.mp4"), std::nullopt, {}, kBucket, "present.mp4",
                                             cancelled.completed(), cancelled.progress());
    handle->cancel();
    release.set_value();
    cancelled.wait();
    ASSERT_TRUE(cancelled.error);
    EXPECT_EQ(cancelled.error->domain(), HOSClientErrorDomain);
    EXPECT_EQ(cancelled.error->code(), HOSClientErrorCodeTaskCancelled);
    EXPECT_TRUE(standIn.admin("GET", "/__admin/requests").arrayIf()->empty());
}

}  // namespace
}  // namespace pellix::test
