// Storage credentials of the image tool: the platform's reply as records,
// the download manager's expiry reading, the refresh when the storage client
// finds its token running out (manual clock), the getter's bounded wait and
// its refusal to wait on the main thread, and the refresh after login.
#include <chrono>
#include <future>
#include <thread>

#include "ImageFixture.h"
#include "platform/DateFormatter.h"
#include "platform/ManualClock.h"

namespace pellix::test {
namespace {

using platform::Value;

std::shared_ptr<PXHalvaneInfoClassModel> replyOf(const std::string& json) {
    auto value = platform::JSON::parse(json);
    EXPECT_TRUE(value) << json;
    return PellixBaseModel::make<PXHalvaneInfoClassModel>(*value->dictionaryIf());
}

TEST(ImageCredentialRecords, TheReplyFillsCredentialsAndFoldersOnlyFromDictionaries) {
    auto full = replyOf(R"({"remote_directory":{"id_cards":"ic","apk_packages":"ap","contact_management":"cm",
        "visitor_images":"vi","head_portrait":"hp"},
        "token":{"Other":1,"Credentials":{"AccessKeyId":"id","AccessKeySecret":"secret","SecurityToken":"st",
        "Expiration":"2026-12-10T13:34:12+0000"}},"localExpiration":"never from the reply"})");
    ASSERT_TRUE(full->credentials());
    EXPECT_EQ(full->credentials()->AccessKeyId().value_or(""), "id");
    EXPECT_EQ(full->credentials()->AccessKeySecret().value_or(""), "secret");
    EXPECT_EQ(full->credentials()->SecurityToken().value_or(""), "st");
    EXPECT_EQ(full->credentials()->Expiration().value_or(""), "2026-12-10T13:34:12+0000");
    ASSERT_TRUE(full->remoteDir());
    EXPECT_EQ(full->remoteDir()->id_cards().value_or(""), "ic");
    EXPECT_EQ(full->remoteDir()->apk_packages().value_or(""), "ap");
    EXPECT_EQ(full->remoteDir()->contact_management().value_or(""), "cm");
    EXPECT_EQ(full->remoteDir()->visitor_images().value_or(""), "vi");
    EXPECT_EQ(full->remoteDir()->head_portrait().value_or(""), "hp");
    EXPECT_FALSE(full->localExpiration());

    for (const char* json : {R"({"remote_directory":"x","token":"y"})", R"({"remote_directory":[],"token":[1]})",
                             R"({"token":{"Credentials":"z"}})", R"({"token":{"credentials":{}}})"}) {
        auto odd = replyOf(json);
        EXPECT_FALSE(odd->credentials()) << json;
        EXPECT_FALSE(odd->remoteDir()) << json;
    }
}

TEST(ImageCredentialExpiry, LocalExpiryIsReadInTheDevicesZoneAndUnreadableRepliesAreDropped) {
    ASSERT_TRUE(platform::DateFormatter::setDefaultTimeZone("Asia/Shanghai"));
    using M = PellixHalvaneDownloadManager;
    struct Case {
        const char* utc;
        std::optional<std::string> local;
    };
    for (const Case& c : {Case{"2026-12-10T13:34:12+0000", "2026-12-10 21:34"},
                          Case{"2026-12-31T20:00:59+0000", "2027-01-01 04:00"},
                          Case{"2026-12-10T13:34:12+0800", "2026-12-10 13:34"},
                          Case{"2026-12-10 13:34:12", std::nullopt}, Case{"2026-13-10T13:34:12+0000", std::nullopt},
                          Case{"2026-12-10T13:34:12+0000 and more", std::nullopt}, Case{"", std::nullopt}}) {
        EXPECT_EQ(M::getLocalDateFormateUTCDate(c.utc), c.local) << c.utc;
    }

    auto& manager = M::sharedManager();
    manager.setAliModel(replyOf(R"({"token":{"Credentials":{"AccessKeyId":"a","Expiration":"2026-12-10T13:34:12+0000"}}})"));
    ASSERT_TRUE(manager.aliModel());
    EXPECT_EQ(manager.aliModel()->localExpiration().value_or(""), "2026-12-10 21:34");
    for (const char* json : {R"({"token":{"Credentials":{"AccessKeyId":"a","AccessKeySecret":"b","SecurityToken":"c"}}})",
                             R"({"token":{"Credentials":{"Expiration":""}}})",
                             R"({"token":{"Credentials":{"Expiration":"soon"}}})", R"({})"}) {
        manager.setAliModel(replyOf(R"({"token":{"Credentials":{"Expiration":"2026-12-10T13:34:12+0000"}}})"));
        manager.setAliModel(replyOf(json));
        EXPECT_FALSE(manager.aliModel()) << json;
        EXPECT_TRUE(manager.isExpirationTime()) << json;
    }
}

TEST(ImageCredentialExpiry, FiveMinutesLeftCountsAsExpiredAndSixDoNot) {
    ASSERT_TRUE(platform::DateFormatter::setDefaultTimeZone("UTC"));
    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(clock);
    const double minute = 1796909640;  // 2026-12-10 13:34:00 UTC, a whole minute
    auto& manager = PellixHalvaneDownloadManager::sharedManager();
    struct Case {
        double now;
        const char* expiration;
        bool expired;
    };
    for (const Case& c : {Case{minute, "2026-12-10T13:39:00+0000", true}, Case{minute, "2026-12-10T13:40:00+0000", false},
                          Case{minute + 59.9, "2026-12-10T13:40:00+0000", false},
                          Case{minute + 60.5, "2026-12-10T13:40:00+0000", true},
                          Case{minute, "2026-12-10T13:30:00+0000", true}}) {
        clock->setWallTime(c.now);
        manager.setAliModel(replyOf(std::string(R"({"token":{"Credentials":{"Expiration":")") + c.expiration +
                                    R"("}}})"));
        EXPECT_EQ(manager.isExpirationTime(), c.expired) << c.expiration << " at +" << (c.now - minute);
    }
    platform::Clock::setShared(nullptr);
}

using ImageCredentials = ImageToolTest;

TEST_F(ImageCredentials, TokensRunningOutAreFetchedAgainBeforeTheNextRequest) {
    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::setShared(clock);
    const std::string first = answerCredentials(1000);
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(upload({patternBytes(10, 1)}).successes, 1);
    ASSERT_EQ(upload({patternBytes(10, 2)}).successes, 1);
    EXPECT_EQ(credentialFetches(), 1u);

    // 800 s on (for the store as well, so request dates still agree): the
    // first token has 200 s left, under the 300 s the storage client wants.
    clock->setWallTime(clock->wallTime() + 800);
    store_->config(R"({"clockOffsetSeconds":800})");
    const std::string second = answerCredentials(3600);
    ASSERT_NE(first, second);
    ASSERT_EQ(upload({patternBytes(10, 3)}).successes, 1);
    EXPECT_EQ(credentialFetches(), 2u);

    auto puts = store_->requests("PutObject");
    ASSERT_EQ(puts.size(), 3u);
    EXPECT_EQ(puts[0].get("accessKeyId")->asString(), first);
    EXPECT_EQ(puts[1].get("accessKeyId")->asString(), first);
    EXPECT_EQ(puts[2].get("accessKeyId")->asString(), second);
    // The download manager holds the newest reply.
    auto held = PellixHalvaneDownloadManager::sharedManager().aliModel();
    ASSERT_TRUE(held && held->credentials());
    EXPECT_EQ(held->credentials()->AccessKeyId().value_or(""), second);
}

TEST_F(ImageCredentials, FoldersNamedByTheHeldReplyReplaceTheBuiltInOnes) {
    answerCredentials(3600, R"({"contact_management":"cm-7","id_cards":"ic-7"})");
    // Keys are made when an upload is asked for, so the reply must be held
    // by then; before it, the built-in name serves.
    const auto before = upload({patternBytes(10, 1)}, 1);
    ASSERT_EQ(before.keys.size(), 1u);
    EXPECT_TRUE(std::regex_match(before.keys[0], keyPattern("contact_management", "1"))) << before.keys[0];
    const auto named = upload({patternBytes(10, 1)}, 1);
    ASSERT_EQ(named.keys.size(), 1u);
    EXPECT_TRUE(std::regex_match(named.keys[0], keyPattern("cm-7", "1"))) << named.keys[0];
    // A folder the reply leaves out keeps its built-in name.
    const auto builtIn = upload({patternBytes(10, 2)}, 2);
    ASSERT_EQ(builtIn.keys.size(), 1u);
    EXPECT_TRUE(std::regex_match(builtIn.keys[0], keyPattern("head_portrait", "1"))) << builtIn.keys[0];
}

TEST_F(ImageCredentials, TheGetterNeverWaitsOnTheMainThreadAndWaitsBoundedElsewhere) {
    // The test thread drives the main queue: a wait here could never end.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(PellixHalvaneUploadAndDownloadTool::fetchFederationToken());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    settle(0.5);
    EXPECT_EQ(credentialFetches(), 0u);

    // On a worker, with the main queue not driven, the answer cannot come:
    // the getter gives up after the request timeout plus its margin.
    PellixGlobleConfig::sharedInstance()->setRequestTimeout(1);
    auto worker = std::async(std::launch::async, [] {
        const auto begin = std::chrono::steady_clock::now();
        auto token = PellixHalvaneUploadAndDownloadTool::fetchFederationToken();
        return std::make_pair(token, std::chrono::steady_clock::now() - begin);
    });
    ASSERT_EQ(worker.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the getter kept waiting";
    auto [token, waited] = worker.get();
    EXPECT_FALSE(token);
    EXPECT_GE(waited, std::chrono::milliseconds(5900));

    // Driven, the same getter answers with the platform's credentials; the
    // late request of the first call is harmless.
    auto answered = std::async(std::launch::async, [] { return PellixHalvaneUploadAndDownloadTool::fetchFederationToken(); });
    ASSERT_TRUE(pump([&] { return answered.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30));
    auto fresh = answered.get();
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->tAccessKey().has_value());
    EXPECT_TRUE(fresh->tSecretKey().has_value());
    EXPECT_TRUE(fresh->tToken().has_value());
}

TEST_F(ImageCredentials, ConfigurationFetchesCredentialsAheadOfTheFirstUpload) {
    setUser(store_->endpoint(), std::string("photos"));
    PellixUploadAndDownloadImageTool::pellixUploadAndDownloadConfiguration();
    ASSERT_TRUE(pump([] { return PellixHalvaneDownloadManager::sharedManager().aliModel() != nullptr; }, 30));
    EXPECT_EQ(credentialFetches(), 1u);
    ASSERT_EQ(upload({patternBytes(10, 1)}).successes, 1);
    EXPECT_EQ(credentialFetches(), 1u);
}

TEST(ImageToolSettings, ShortUserRecordValuesKeepTheBuiltInEndpointAndBucket) {
    struct Case {
        PellixText endpoint, bucket;
        std::string wantEndpoint, wantBucket;
    };
    const std::string defEndpoint = kHalvaneUploadDownloadTool_EndPoint;
    const std::string defBucket = kHalvaneUploadDownloadTool_BucketName;
    const auto& tool = PellixHalvaneUploadAndDownloadTool::sharedManager();
    EXPECT_EQ(defBucket, "pellixstorage");
    for (const Case& c : {Case{std::nullopt, std::nullopt, defEndpoint, defBucket},
                          Case{std::string("ab"), std::string("xy"), defEndpoint, defBucket},
                          Case{std::string("abc"), std::string("xyz"), "abc", "xyz"},
                          Case{std::string("https://h.example:1"), std::string(), "https://h.example:1", defBucket}}) {
        setUser(c.endpoint, c.bucket);
        tool->__configBaseSetting();
        EXPECT_EQ(tool->halvane_EndPoint(), c.wantEndpoint);
        EXPECT_EQ(tool->halvane_BucketName(), c.wantBucket);
    }
    PellixProxyInfo::sharedInstance()->setUserInfo(nullptr);
    tool->__configBaseSetting();
    EXPECT_EQ(tool->halvane_EndPoint(), defEndpoint);
}

TEST(ImageKeys, FolderByTypeUserDayAndAUniqueName) {
    setUser(std::string("abc"), std::string("xyz"));
    PellixHalvaneDownloadManager::sharedManager().setAliModel(nullptr);
    struct Case {
        std::int64_t type;
        std::string folder;
    };
    for (const Case& c : {Case{0, "apk_packages"}, Case{1, "contact_management"}, Case{2, "head_portrait"},
                          Case{3, "id_cards"}, Case{4, "visitor_images"}, Case{5, ""}, Case{7, ""}, Case{-1, ""}}) {
        const std::string key = PellixHalvaneUploadAndDownloadTool::__getImageObjectKeyWithDirectoryType(c.type);
        EXPECT_TRUE(std::regex_match(key, keyPattern(c.folder))) << c.type << ": " << key;
    }
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) names.insert(PellixHalvaneUploadAndDownloadTool::__getImageObjectKeyWithDirectoryType(1));
    EXPECT_EQ(names.size(), 50u);
}

}  // namespace
}  // namespace pellix::test
