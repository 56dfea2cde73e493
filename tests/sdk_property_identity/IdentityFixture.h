// Shared fixture of the property-message and identity-card tests: the
// platform stand-in (which also plays the OCR service), the object-store
// stand-in, a registered and logged-in resident whose user record names that
// store, the OCR endpoint pointed at the stand-in and an empty card cache.
//
// The image tool keeps the storage endpoint it first saw for the life of the
// process, so one object store serves every test of the program; the
// platform hands out credentials that store issued (a forced answer of
// "/sdk/v1/halvane_tokens"), so each signed storage request is checked.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "PellixDataManager/PellixDataManager.h"
#include "PellixOCRAPI/PellixOCRAPIManager.h"
#include "PellixTempMemoryCache/PellixTempMemoryCache.h"
#include "hos_client/StandIn.h"
#include "platform/Log.h"
#include "sdk_pipeline/PipelineFixture.h"

namespace pellix::test {

// The front side the stand-in's OCR reads by default.
inline constexpr const char* kCardName = "张三";
inline constexpr const char* kCardNumber = "440305199001011234";

// Collects system-log lines while alive (and still writes nothing else).
class LogCapture {
public:
    LogCapture() {
        platform::Log::setSink([this](std::string_view line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { platform::Log::setSink(nullptr); }
    bool contains(const std::string& part) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& line : lines_)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The object store of this test program, started on first use and stopped
// when the program exits.
inline StandIn& objectStore() {
    static StandIn store;
    return store;
}

class IdentityTest : public PipelineTest {
protected:
    void SetUp() override {
        standInArgs_ = {"--hos-endpoint", objectStore().endpoint(), "--hos-bucket", kBucket};
        PipelineTest::SetUp();
        if (HasFatalFailure()) return;
        resolver_ = std::make_unique<LoopbackResolver>();
        answerCredentials();
        PellixOCRAPIManager::setOCRURLString(standIn_->baseURL() + "/ocr/v1/ocridcard");
        PellixTempMemoryCache::sharedInstance()->clearIdentifyCardInformation();
        registerAndLogIn();
        if (HasFatalFailure()) return;
        PellixLog::enableLog();
    }
    void TearDown() override {
        // First the pipeline's wait for a credential fetch still on its way:
        // its answer re-reads the user record, and landing in the next test,
        // between that test's reset of the session and its login, it would
        // point the image tool at the default bucket.
        PipelineTest::TearDown();
        PellixOCRAPIManager::setOCRURLString({});
        PellixTempMemoryCache::sharedInstance()->clearIdentifyCardInformation();
        resolver_.reset();
    }

    // Credentials issued by the store, answered by the platform from now on.
    void answerCredentials() {
        auto issued = objectStore().admin("POST", "/__admin/tokens", R"({"ttlSeconds":3600})");
        standIn_->rule(
            R"({"path":"/sdk/v1/halvane_tokens","times":0,"data":{"remote_directory":{"apk_packages":"apk_packages",)"
            R"("contact_management":"contact_management","head_portrait":"head_portrait","id_cards":"id_cards",)"
            R"("visitor_images":"visitor_images"},"token":{"Credentials":)" +
            platform::JSON::write(issued).value_or("{}") + "}}}");
    }
    // Keys of the objects the store holds.
    static std::set<std::string> storedKeys() {
        std::set<std::string> keys;
        auto list = objectStore().admin("GET", std::string("/__admin/objects?bucket=") + kBucket);
        if (const auto* a = list.arrayIf())
            for (const auto& o : *a)
                if (const auto* k = o.get("key"); k && k->isString()) keys.insert(k->asString());
        return keys;
    }

    // Scripts the stand-in's next OCR answer.
    void scriptOCR(const std::string& entryJson) { standIn_->admin("POST", "/__admin/ocr", entryJson); }
    std::size_t ocrRequests() { return standIn_->requests("/ocr/v1/ocridcard").size(); }

    std::unique_ptr<LoopbackResolver> resolver_;

    static platform::Bytes image(std::size_t size, unsigned char seed) {
        platform::Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 7));
        return bytes;
    }
};

// One flag completion's outcome.
using Outcome = FlagOutcome;

}  // namespace pellix::test
