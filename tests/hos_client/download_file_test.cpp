// Downloads into a file against the stand-in: the file on disk must hold
// exactly the object, empty objects included, and a disk that cannot take
// the bytes fails the download with the client's file-write error instead of
// leaving a short file behind a success.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "StandIn.h"

namespace pellix::test {
namespace {

class DownloadFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        configuration->setCrc64Verifiable(true);
        client = clientOf(standIn, configuration);
    }

    void putOK(const std::string& key, const platform::Bytes& data) {
        auto task = waitFor(client->putObject(putRequest(key, data)));
        ASSERT_FALSE(task->error()) << task->error()->description();
    }

    HOSTaskPtr download(const std::string& key, const std::string& path) {
        auto request = getRequest(key);
        request->setDownloadToFileURL(platform::URL::fileURL(path));
        return waitFor(client->getObject(request));
    }

    StandIn standIn;
    LoopbackResolver resolver;
    std::shared_ptr<HOSClientConfiguration> configuration = std::make_shared<HOSClientConfiguration>();
    std::unique_ptr<HOSClient> client;
    TempDir dir;
};

TEST_F(DownloadFileTest, EmptyObjectLeavesExactlyAnEmptyFile) {
    putOK("empty", {});
    struct Case {
        const char* name;
        const char* file;
        const char* before;  // null: no file there yet
    };
    const Case cases[] = {
        {"replaces an older file", "old.bin", "stale bytes of an earlier download"},
        {"creates a missing file", "fresh.bin", nullptr},
        {"creates missing folders", "new/folder/fresh.bin", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.file);
        if (c.before) writeFile(path, c.before);
        auto task = download("empty", path);
        ASSERT_FALSE(task->error()) << task->error()->description();
        ASSERT_TRUE(std::filesystem::exists(path));
        EXPECT_EQ(std::filesystem::file_size(path), 0u);
    }

    // The callback-style form ends the same way.
    const std::string path = dir.file("wrapped.bin");
    writeFile(path, "old");
    std::promise<bool> done;
    client->downloadToFileFromBucket(kBucket, "empty", path, [&](bool ok, platform::ErrorPtr) { done.set_value(ok); },
                                     nullptr);
    auto outcome = done.get_future();
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(outcome.get());
    EXPECT_EQ(readFile(path), "");
}

TEST_F(DownloadFileTest, FileThatRefusesEveryWriteFailsTheDownload) {
    struct stat st {};
    if (::stat("/dev/full", &st) != 0) GTEST_SKIP() << "no /dev/full here";
    // Every write to /dev/full fails with ENOSPC: a small body sits in the
    // stream's buffer until the flush, a large one fails at its first write.
    for (std::size_t size : {9u, 68000u}) {
        SCOPED_TRACE(size);
        putOK("object", patternBytes(size));
        standIn.admin("DELETE", "/__admin/requests");
        auto task = download("object", "/dev/full");
        ASSERT_TRUE(task->error());
        EXPECT_EQ(task->error()->domain(), HOSClientErrorDomain);
        EXPECT_EQ(task->error()->code(), HOSClientErrorCodeFileCannotWrite);
        // A full disk is not a transport fault: the body is not fetched
        // again (retries would all have been made before the task ended; the
        // stand-in logs a request once its connection is done with).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (standIn.requests("GetObject").empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(standIn.requests("GetObject").size(), 1u);
    }
}

// A 64 KiB file system: what fits downloads whole, what does not fails.
TEST_F(DownloadFileTest, SmallFileSystemTakesWhatFitsAndRefusesTheRest) {
    const std::string mountPoint = dir.file("small");
    std::filesystem::create_directory(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};

    const auto fits = patternBytes(30000, 2);
    putOK("fits", fits);
    auto ok = download("fits", mountPoint + "/fits.bin");
    ASSERT_FALSE(ok->error()) << ok->error()->description();
    EXPECT_EQ(readFile(mountPoint + "/fits.bin"), std::string(fits.begin(), fits.end()));
    std::filesystem::remove(mountPoint + "/fits.bin");

    putOK("too-big", patternBytes(68000, 3));
    auto failed = download("too-big", mountPoint + "/too-big.bin");
    ASSERT_TRUE(failed->error());
    EXPECT_EQ(failed->error()->domain(), HOSClientErrorDomain);
    EXPECT_EQ(failed->error()->code(), HOSClientErrorCodeFileCannotWrite);
}

}  // namespace
}  // namespace pellix::test
