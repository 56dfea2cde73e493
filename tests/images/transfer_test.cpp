// Uploads and downloads through the image tool against the platform stand-in
// (credentials) and the object-store stand-in: several images, keys, a byte
// for byte round trip, downloads of one object asked for while it is still
// running, and uploads or downloads that fail.
#include <thread>

#include "ImageFixture.h"
#include "platform/DateFormatter.h"

namespace pellix::test {
namespace {

using ImageTransfer = ImageToolTest;

TEST_F(ImageTransfer, ThreeImagesGoUpInOrderAndOneComesBackByteForByte) {
    const std::vector<platform::Bytes> images{patternBytes(1500, 1), patternBytes(70000, 2), patternBytes(1, 3)};
    // The first upload is held back so the uploads end out of image order.
    store_->fault(R"({"match":{"op":"PutObject"},"delayMs":800})");
    const auto heard = upload(images);
    ASSERT_EQ(heard.successes, 1);
    EXPECT_EQ(heard.failures, 0);
    EXPECT_TRUE(heard.onMainThread);
    ASSERT_EQ(heard.keys.size(), 3u);

    const std::string today = platform::DateFormatter::format(platform::Clock::now(), "yyyyMMdd").value_or("?");
    auto stored = storedObjects();
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& key = heard.keys[i];
        EXPECT_TRUE(std::regex_match(key, keyPattern("contact_management", std::to_string(i + 1)))) << key;
        EXPECT_EQ(key.substr(22, 8), today) << key;
        ASSERT_TRUE(stored.count(key)) << key;
        EXPECT_EQ(stored[key].get("size")->intValue(), static_cast<std::int64_t>(images[i].size())) << key;
        EXPECT_EQ(stored[key].get("contentType")->asString(), "image/png");
    }
    EXPECT_EQ(stored.size(), 3u);
    // One credential fetch serves every request while it is fresh.
    EXPECT_EQ(credentialFetches(), 1u);

    const auto back = download(heard.keys[1]);
    ASSERT_EQ(back.successes, 1);
    EXPECT_EQ(back.failures, 0);
    EXPECT_TRUE(back.onMainThread);
    EXPECT_EQ(back.keys, std::vector<std::string>{heard.keys[1]});
    EXPECT_EQ(back.data, images[1]);

    // The single-image form stores under a key of its own, without index.
    std::string single;
    PellixUploadAndDownloadImageTool::uploadImageData(
        images[2], 3, [&](const std::string& key) { single = key; }, [] { ADD_FAILURE() << "upload failed"; });
    ASSERT_TRUE(pump([&] { return !single.empty(); }, 60));
    EXPECT_TRUE(std::regex_match(single, keyPattern("id_cards"))) << single;
    EXPECT_EQ(download(single).data, images[2]);
}

TEST_F(ImageTransfer, OneFailedImageOfThreeFailsTheWholeUploadOnceAfterAllEnded) {
    // The second upload to arrive is refused; the others are held back so
    // the refusal comes first and the failure must wait for them.
    store_->fault(R"([{"match":{"op":"PutObject"},"delayMs":700},
                      {"match":{"op":"PutObject"},"status":403,"code":"AccessDenied"},
                      {"match":{"op":"PutObject"},"delayMs":700}])");
    const auto heard = upload({patternBytes(10, 1), patternBytes(20, 2), patternBytes(30, 3)});
    EXPECT_EQ(heard.successes, 0);
    EXPECT_EQ(heard.failures, 1);
    EXPECT_TRUE(heard.onMainThread);
    // By the time failure ran, both other images had been stored.
    EXPECT_EQ(storedObjects().size(), 2u);
    settle(1.0);
    EXPECT_EQ(heard.calls(), 1);

    // All failing: still one failure.
    store_->fault(R"({"match":{"op":"PutObject"},"status":403,"code":"AccessDenied","times":0})");
    const auto all = upload({patternBytes(10, 4), patternBytes(20, 5)});
    EXPECT_EQ(all.successes, 0);
    EXPECT_EQ(all.failures, 1);

    // An empty list stores nothing and still answers once.
    const auto none = upload({});
    EXPECT_EQ(none.successes, 1);
    EXPECT_TRUE(none.keys.empty());
}

TEST_F(ImageTransfer, DownloadsOfAKeyAlreadyInFlightJoinItAndHearItsOutcome) {
    const auto up = upload({patternBytes(4096, 7)});
    ASSERT_EQ(up.keys.size(), 1u);
    const std::string key = up.keys[0];
    store_->admin("DELETE", "/__admin/requests");

    store_->fault(R"({"match":{"op":"GetObject"},"delayMs":1500})");
    std::vector<std::shared_ptr<Heard>> callers;
    for (int i = 0; i < 3; ++i) {
        callers.push_back(std::make_shared<Heard>());
        startDownload(key, callers.back());
    }
    EXPECT_TRUE(PellixHalvaneDownloadManager::sharedManager().isDownloadingWithKey(key));
    ASSERT_TRUE(pump([&] {
        for (const auto& c : callers)
            if (c->calls() == 0) return false;
        return true;
    }, 60));
    settle();
    for (const auto& c : callers) {
        EXPECT_EQ(c->successes, 1);
        EXPECT_EQ(c->failures, 0);
        EXPECT_EQ(c->data, patternBytes(4096, 7));
        EXPECT_EQ(c->keys, std::vector<std::string>{key});
    }
    EXPECT_EQ(store_->requests("GetObject").size(), 1u);
    EXPECT_TRUE(PellixHalvaneDownloadManager::sharedManager().runningDownloaders().empty());

    // Once it ended, the next download of the key is a transfer of its own.
    EXPECT_EQ(download(key).successes, 1);
    EXPECT_EQ(store_->requests("GetObject").size(), 2u);

    // Joined callers of a download that fails all hear the failure.
    store_->fault(R"({"match":{"op":"GetObject"},"delayMs":800})");
    auto first = std::make_shared<Heard>(), second = std::make_shared<Heard>();
    startDownload(std::string("contact_management/42/none"), first);
    startDownload(std::string("contact_management/42/none"), second);
    ASSERT_TRUE(pump([&] { return first->calls() > 0 && second->calls() > 0; }, 60));
    settle();
    for (const auto& c : {first, second}) {
        EXPECT_EQ(c->failures, 1);
        EXPECT_EQ(c->successes, 0);
        EXPECT_EQ(c->failedKey.value_or("<nil>"), "contact_management/42/none");
    }
}

TEST_F(ImageTransfer, DownloadWithoutAKeyFailsAtOnceOnTheCallersThread) {
    struct Case {
        PellixText key;
    };
    for (const Case& c : {Case{std::nullopt}, Case{std::string()}}) {
        auto heard = std::make_shared<Heard>();
        // Answered before the call returns, main queue never pumped.
        std::thread caller([&] { startDownload(c.key, heard); });
        caller.join();
        EXPECT_EQ(heard->failures, 1);
        EXPECT_EQ(heard->successes, 0);
        EXPECT_EQ(heard->failedKey, c.key);
    }
    EXPECT_TRUE(store_->requests("GetObject").empty());
}

TEST_F(ImageTransfer, RefusedCredentialsFailTheTransferNotTheHost) {
    standIn_->admin("DELETE", "/__admin/rules");
    standIn_->rule(R"({"path":"/sdk/v1/halvane_tokens","status":500,"times":0})");
    const auto up = upload({patternBytes(10, 1)});
    EXPECT_EQ(up.successes, 0);
    EXPECT_EQ(up.failures, 1);
    const auto down = download("contact_management/42/any");
    EXPECT_EQ(down.failures, 1);
    EXPECT_EQ(down.failedKey.value_or(""), "contact_management/42/any");
    EXPECT_TRUE(store_->requests("PutObject").empty());
    EXPECT_TRUE(PellixHalvaneDownloadManager::sharedManager().aliModel() == nullptr);

    // An answer without a record is no credentials either.
    standIn_->admin("DELETE", "/__admin/rules");
    standIn_->rule(R"({"path":"/sdk/v1/halvane_tokens","data":[],"times":0})");
    EXPECT_EQ(upload({patternBytes(10, 1)}).failures, 1);
    EXPECT_TRUE(store_->requests("PutObject").empty());
}

}  // namespace
}  // namespace pellix::test
