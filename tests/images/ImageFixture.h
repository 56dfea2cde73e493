// Fixture of the image-tool tests: the platform stand-in (storage
// credentials) and the object-store stand-in, a token for the SDK and a
// user record whose "hos_endpoint" and "hos_bucket" point at the store.
//
// The platform hands out the credentials the store itself issued (a forced
// answer of "/sdk/v1/halvane_tokens"), so every signed storage request is
// checked against what the SDK fetched from the platform.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "HOSManager/PellixHalvaneDownloadManager.h"
#include "HOSManager/PellixHalvaneUploadAndDownloadTool.h"
#include "HOSManager/Public/PellixUploadAndDownloadImageTool.h"
#include "PellixDataManager/PellixDataManagerPrivate.h"
#include "hos_client/StandIn.h"
#include "platform/Clock.h"
#include "sdk_pipeline/PipelineFixture.h"

namespace pellix::test {

// One upload's or download's outcome, as the main queue delivered it.
struct Heard {
    int successes = 0;
    int failures = 0;
    std::vector<std::string> keys;
    platform::Bytes data;
    PellixText failedKey;
    bool onMainThread = true;
    int calls() const { return successes + failures; }
};

// The held user record: the resident 42 with this store and bucket.
inline void setUser(const PellixText& endpoint, const PellixText& bucket) {
    auto user = std::make_shared<PellixInitUserInfo>();
    user->setUser_id(std::string("42"));
    user->setHos_endpoint(endpoint);
    user->setHos_bucket(bucket);
    PellixProxyInfo::sharedInstance()->setUserInfo(user);
}

class ImageToolTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        if (HasFatalFailure()) return;
        store_ = std::make_unique<StandIn>();
        resolver_ = std::make_unique<LoopbackResolver>();
        setUser(store_->endpoint(), kBucket);
        fetchToken();
        answerCredentials(3600);
    }

    void TearDown() override { platform::Clock::setShared(nullptr); }

    void fetchToken() {
        bool done = false, ok = false;
        PellixDataManagerPrivate::refreshhAccessTokenWithAppId(std::string(kAppId), std::string(kSecret),
                                                               std::string("com.pellix.test"),
                                                               [&](bool s, const PellixErrorPtr&) {
                                                                   ok = s;
                                                                   done = true;
                                                               });
        ASSERT_TRUE(pump([&] { return done; }));
        ASSERT_TRUE(ok);
    }

    // Credentials issued by the store with this lifetime, answered by the
    // platform from now on (earlier forced answers dropped). Their key id.
    std::string answerCredentials(int ttlSeconds, const std::string& remoteDirectory = kDefaultDirectory) {
        auto issued = store_->admin("POST", "/__admin/tokens", "{\"ttlSeconds\":" + std::to_string(ttlSeconds) + "}");
        standIn_->admin("DELETE", "/__admin/rules");
        standIn_->rule(R"({"path":"/sdk/v1/halvane_tokens","times":0,"data":{"remote_directory":)" + remoteDirectory +
                       R"(,"token":{"Credentials":)" + platform::JSON::write(issued).value_or("{}") + "}}}");
        return issued.get("AccessKeyId") ? issued.get("AccessKeyId")->asString() : std::string();
    }

    std::size_t credentialFetches() const { return standIn_->requests("/sdk/v1/halvane_tokens").size(); }

    Heard upload(const std::vector<platform::Bytes>& images, std::int64_t type = 1) {
        auto heard = std::make_shared<Heard>();
        PellixUploadAndDownloadImageTool::uploadImageDatas(
            images, type,
            [heard](const std::vector<std::string>& keys) {
                heard->onMainThread &= platform::RunLoop::isMainThread();
                ++heard->successes;
                heard->keys = keys;
            },
            [heard] {
                heard->onMainThread &= platform::RunLoop::isMainThread();
                ++heard->failures;
            });
        EXPECT_TRUE(pump([&] { return heard->calls() > 0; }, 60));
        settle();
        return *heard;
    }

    // Starts a download whose outcome lands in `heard`.
    static void startDownload(const PellixText& key, const std::shared_ptr<Heard>& heard) {
        PellixUploadAndDownloadImageTool::downloadWithImageObjectKey(
            key,
            [heard](const platform::Bytes& data, const std::string& k) {
                heard->onMainThread &= platform::RunLoop::isMainThread();
                ++heard->successes;
                heard->data = data;
                heard->keys.push_back(k);
            },
            [heard](const PellixText& k) {
                heard->onMainThread &= platform::RunLoop::isMainThread();
                ++heard->failures;
                heard->failedKey = k;
            });
    }

    Heard download(const std::string& key) {
        auto heard = std::make_shared<Heard>();
        startDownload(key, heard);
        EXPECT_TRUE(pump([&] { return heard->calls() > 0; }, 60));
        settle();
        return *heard;
    }

    // The store's objects of the bucket, by key.
    std::map<std::string, platform::Value> storedObjects() {
        std::map<std::string, platform::Value> out;
        auto list = store_->admin("GET", std::string("/__admin/objects?bucket=") + kBucket);
        if (const auto* a = list.arrayIf())
            for (const auto& o : *a) out[o.get("key")->asString()] = o;
        return out;
    }

    static constexpr const char* kDefaultDirectory =
        R"({"apk_packages":"apk_packages","contact_management":"contact_management","head_portrait":"head_portrait","id_cards":"id_cards","visitor_images":"visitor_images"})";

    std::unique_ptr<StandIn> store_;
    std::unique_ptr<LoopbackResolver> resolver_;
};

// The key pattern: folder, user, day, then 32 hex digits and 17 digits.
inline std::regex keyPattern(const std::string& folder, const std::string& suffix = {}) {
    return std::regex("^" + folder + "/42/[0-9]{8}/[0-9A-F]{32}[0-9]{17}" + suffix + "$");
}

}  // namespace pellix::test
