// The identity-card OCR request against the stand-in's OCR service: what
// the multipart body carries, how each kind of answer is read, and what goes
// to the system log.
#include <gtest/gtest.h>

#include "IdentityFixture.h"
#include "platform/Application.h"

namespace pellix {
namespace {

using test::IdentityTest;

struct Reading {
    int calls = 0;
    platform::Value dictionary;
    std::shared_ptr<PellixOCRIdentifyCardSideFront> front;
    std::shared_ptr<PellixOCRIdentifyCardSideBack> back;
    PellixOCRAPIManager::Finished block() {
        return [this](const platform::Value& d, const auto& f, const auto& b) {
            ++calls;
            dictionary = d;
            front = f;
            back = b;
        };
    }
};

class SdkOCR : public IdentityTest {
protected:
    Reading detect(const platform::Bytes& data, PellixText key = std::string("ocr-test-key-7d21"),
                   PellixText secret = std::string("ocr-test-secret-9a4e")) {
        Reading r;
        PellixOCRAPIManager::detectionIdentifyCardImageWithImageData(data, key, secret, r.block());
        EXPECT_TRUE(pump([&] { return r.calls > 0; }));
        settle(0.1);
        EXPECT_EQ(r.calls, 1);
        return r;
    }
};

TEST_F(SdkOCR, SendsKeySecretAndOneImagePartAndReadsTheFront) {
    test::LogCapture log;
    const platform::Bytes photo = image(70000, 3);
    Reading r;
    PellixOCRAPIManager::detectionIdentifyCardImageWithImageData(photo, std::string("ocr-test-key-7d21"),
                                                                 std::string("ocr-test-secret-9a4e"), r.block());
    EXPECT_TRUE(platform::Application::sharedApplication().isNetworkActivityIndicatorVisible());
    ASSERT_TRUE(pump([&] { return r.calls > 0; }));
    EXPECT_FALSE(platform::Application::sharedApplication().isNetworkActivityIndicatorVisible());

    ASSERT_TRUE(r.front);
    EXPECT_FALSE(r.back);
    EXPECT_EQ(r.front->name(), std::string(test::kCardName));
    EXPECT_EQ(r.front->id_card_number(), std::string(test::kCardNumber));
    ASSERT_TRUE(r.dictionary.isDictionary());
    EXPECT_TRUE(r.dictionary.get("request_id"));

    auto entries = standIn_->requests("/ocr/v1/ocridcard");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(test::text(entries[0], "method"), "POST");
    EXPECT_EQ(test::text(entries[0], "status"), "200");
    EXPECT_EQ(test::text(entries[0], "content_type").rfind("multipart/form-data; boundary=", 0), 0u);
    const platform::Value& multipart = test::member(entries[0], "multipart");
    EXPECT_EQ(test::text(test::member(multipart, "fields"), "api_key"), "ocr-test-key-7d21");
    EXPECT_EQ(test::text(test::member(multipart, "fields"), "api_secret"), "ocr-test-secret-9a4e");
    const platform::Array* files = test::member(multipart, "files").arrayIf();
    ASSERT_TRUE(files);
    ASSERT_EQ(files->size(), 1u);
    EXPECT_EQ(test::text((*files)[0], "name"), "image_file");
    EXPECT_EQ(test::text((*files)[0], "filename"), "image_file");
    EXPECT_EQ(test::text((*files)[0], "content_type"), "image/jpeg/png");
    EXPECT_EQ(test::text((*files)[0], "size"), std::to_string(photo.size()));

    // The upload's progress goes to the system log whatever the switch says.
    EXPECT_TRUE(log.contains("uploadProgress： "));
    EXPECT_TRUE(log.contains("总大小："));
}

// Each scripted answer and how it reads: whether the dictionary comes back,
// and which side.
struct AnswerCase {
    const char* name;
    const char* script;
    bool dictionary;
    bool front;
    bool back;
};

TEST_F(SdkOCR, ReadsEachKindOfAnswer) {
    const AnswerCase cases[] = {
        {"front", R"({"side":"front"})", true, true, false},
        {"back", R"({"side":"back"})", true, false, true},
        {"type as text", R"({"side":"front","card":{"type":"1"}})", true, true, false},
        {"no card", R"({"side":"none"})", true, false, false},
        {"two cards", R"({"side":"two"})", true, false, false},
        {"another card type", R"({"side":"front","card":{"type":2}})", true, false, false},
        {"cards not a list", R"({"json":{"cards":{"type":1}}})", true, false, false},
        {"card not an object", R"({"cards":["front"]})", true, false, false},
        {"no cards member", R"({"json":{"request_id":"r"}})", true, false, false},
        {"front name one character", R"({"side":"front","card":{"name":"张"}})", false, false, false},
        {"front without number", R"({"side":"front","card":{"id_card_number":null}})", false, false, false},
        {"back without validity", R"({"side":"back","card":{"valid_date":null}})", false, false, false},
        {"not JSON", R"({"body":"<html>busy</html>"})", false, false, false},
        {"JSON array", R"({"json":[{"cards":[]}]})", false, false, false},
        {"server error", R"({"status":500,"json":{"error_message":"x"}})", false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scriptOCR(c.script);
        Reading r = detect(image(64, 1));
        EXPECT_EQ(r.dictionary.isDictionary(), c.dictionary);
        if (!c.dictionary) {
            EXPECT_TRUE(r.dictionary.isNull());
        }
        EXPECT_EQ(static_cast<bool>(r.front), c.front);
        EXPECT_EQ(static_cast<bool>(r.back), c.back);
        EXPECT_FALSE(platform::Application::sharedApplication().isNetworkActivityIndicatorVisible());
    }
}

TEST_F(SdkOCR, RefusedRequestsReadNothingAndExplainTheStatusesTheServiceDocuments) {
    struct Case {
        const char* name;
        const char* script;  // nullptr: none
        PellixText key;
        std::size_t size;
        const char* line;  // expected log line, or nullptr
    };
    const Case cases[] = {
        {"wrong key", nullptr, std::string("wrong"), 64, nullptr},
        {"no key", nullptr, std::nullopt, 64, nullptr},
        {"image over 2 MiB", nullptr, std::string("ocr-test-key-7d21"), 2 * 1024 * 1024 + 1,
         PellixOCRAPIManager::kTooLargeLine},
        {"server error", R"({"status":500,"body":"oops"})", std::string("ocr-test-key-7d21"), 64,
         PellixOCRAPIManager::kServerErrorLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::LogCapture log;
        if (c.script) scriptOCR(c.script);
        Reading r = detect(image(c.size, 2), c.key);
        EXPECT_TRUE(r.dictionary.isNull());
        EXPECT_FALSE(r.front);
        EXPECT_FALSE(r.back);
        for (const char* line : {PellixOCRAPIManager::kTooLargeLine, PellixOCRAPIManager::kServerErrorLine}) {
            EXPECT_EQ(log.contains(line), c.line && std::string(c.line) == line) << line;
        }
    }
}

TEST_F(SdkOCR, AnUnreachableServiceReadsNothing) {
    PellixOCRAPIManager::setOCRURLString("https://127.0.0.1:" + std::to_string(test::freePort()) + "/ocr/v1/ocridcard");
    Reading r = detect(image(64, 4));
    EXPECT_TRUE(r.dictionary.isNull());
    EXPECT_FALSE(r.front);
    EXPECT_FALSE(r.back);
    EXPECT_FALSE(platform::Application::sharedApplication().isNetworkActivityIndicatorVisible());
}

}  // namespace
}  // namespace pellix
