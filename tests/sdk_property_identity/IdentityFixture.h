// Shared fixture of the property-message and identity-card tests: the
// platform stand-in (which also plays the OCR service), a registered and
// logged-in resident, the OCR endpoint pointed at the stand-in, an empty card
// cache, and the system log captured.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "PellixDataManager/PellixDataManager.h"
#include "PellixOCRAPI/PellixOCRAPIManager.h"
#include "PellixTempMemoryCache/PellixTempMemoryCache.h"
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

class IdentityTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        PellixOCRAPIManager::setOCRURLString(standIn_->baseURL() + "/ocr/v1/ocridcard");
        PellixTempMemoryCache::sharedInstance()->clearIdentifyCardInformation();
        int calls = 0;
        bool ok = false;
        PellixDataManager::registSDKWithAppId(kAppId, kSecret, nullptr, [&](bool s, const PellixErrorPtr&) {
            ++calls;
            ok = s;
        });
        ASSERT_TRUE(pump([&] { return calls > 0; }));
        ASSERT_TRUE(ok);
        calls = 0;
        PellixDataManager::loginSDKWithNationCode(std::nullopt, std::string("13800138000"), std::nullopt,
                                                  [&](bool s, const PellixErrorPtr&) {
                                                      ++calls;
                                                      ok = s;
                                                  });
        ASSERT_TRUE(pump([&] { return calls > 0; }));
        ASSERT_TRUE(ok);
        PellixLog::enableLog();
    }
    void TearDown() override {
        PellixOCRAPIManager::setOCRURLString({});
        PellixTempMemoryCache::sharedInstance()->clearIdentifyCardInformation();
    }

    // Scripts the stand-in's next OCR answer.
    void scriptOCR(const std::string& entryJson) { standIn_->admin("POST", "/__admin/ocr", entryJson); }
    std::size_t ocrRequests() { return standIn_->requests("/ocr/v1/ocridcard").size(); }

    static platform::Bytes image(std::size_t size, unsigned char seed) {
        platform::Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 7));
        return bytes;
    }
};

// One flag completion's outcome.
struct Outcome {
    int calls = 0;
    bool ok = false;
    PellixErrorPtr error;
    PellixDataManager::Completion block() {
        return [this](bool s, const PellixErrorPtr& e) {
            ++calls;
            ok = s;
            error = e;
        };
    }
    std::int64_t code() const { return error ? error->errorCode() : 0; }
    std::string message() const { return error && error->message() ? *error->message() : "<none>"; }
};

}  // namespace pellix::test
