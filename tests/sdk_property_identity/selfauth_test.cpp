// Identity-card detection and the self-authentication application against
// the stand-in: the refusals and their order, the card cache, and what the
// platform receives.
#include <gtest/gtest.h>

#include <functional>

#include "IdentityFixture.h"
#include "PellixProxyInfo/PellixProxyInfo.h"

namespace pellix {
namespace {

using test::IdentityTest;
using test::Outcome;

// One detection's outcome.
struct Detection {
    int calls = 0;
    std::shared_ptr<PellixOCRIdentifyCardSideFront> front;
    std::shared_ptr<PellixOCRIdentifyCardSideBack> back;
    PellixText key;
    PellixErrorPtr error;
    PellixDataManager::DetectionCompletion block() {
        return [this](const auto& f, const auto& b, const PellixText& k, const PellixErrorPtr& e) {
            ++calls;
            front = f;
            back = b;
            key = k;
            error = e;
        };
    }
};

class SdkDetection : public IdentityTest {};

TEST_F(SdkDetection, RefusalsBeforeAnyUploadInTheirOrder) {
    struct Case {
        const char* name;
        std::function<void(PellixInitUserInfo&)> user;  // change to the user record
        PellixText realName;
        std::int64_t type;
        const char* ocrScript;  // nullptr: none
        std::int64_t code;
        const char* message;
        bool asksOCR;
    };
    auto noKey = [](PellixInitUserInfo& u) { u.setId_card_api_key(std::nullopt); };
    auto emptySecret = [](PellixInitUserInfo& u) { u.setId_card_api_secret(std::string()); };
    const std::string name = test::kCardName;
    const Case cases[] = {
        {"type 3 without OCR key", noKey, name, 3, nullptr, 100000005, "OCR的 API Key和API Secret不能为空", false},
        {"type 1 with empty secret", emptySecret, name, 1, nullptr, 100000005, "OCR的 API Key和API Secret不能为空",
         false},
        {"unknown type without OCR key", noKey, name, 7, nullptr, 100000005, "OCR的 API Key和API Secret不能为空",
         false},
        {"type 2 with empty name", nullptr, std::string(), 2, nullptr, 100000009, "真实姓名不能为空", false},
        {"type 1 with nil name", nullptr, std::nullopt, 1, nullptr, 100000009, "真实姓名不能为空", false},
        {"type 1 with one character", nullptr, std::string("张"), 1, nullptr, 100000009, "真实姓名不能为空", false},
        {"type 7", nullptr, name, 7, nullptr, 40400, "上传类型错误", false},
        {"type 0 with no name", nullptr, std::nullopt, 0, nullptr, 40400, "上传类型错误", false},
        {"type -1", nullptr, name, -1, nullptr, 40400, "上传类型错误", false},
        {"front: two cards", nullptr, name, 1, R"({"side":"two"})", 100000006, "检测身份证正面失败", true},
        {"front: other card type", nullptr, name, 1, R"({"side":"front","card":{"type":3}})", 100000006,
         "检测身份证正面失败", true},
        {"front: the back was shown", nullptr, name, 1, R"({"side":"back"})", 100000006, "检测身份证正面失败", true},
        {"front: service error", nullptr, name, 1, R"({"status":500,"body":"x"})", 100000006, "检测身份证正面失败",
         true},
        {"back: two cards", nullptr, name, 2, R"({"side":"two"})", 100000007, "检测身份证反面失败", true},
        {"back: the front was shown", nullptr, name, 2, R"({"side":"front"})", 100000007, "检测身份证反面失败", true},
        {"back: no issuer", nullptr, name, 2, R"({"side":"back","card":{"issued_by":null}})", 100000007,
         "检测身份证反面失败", true},
        {"front: name with a trailing space", nullptr, std::string("张三 "), 1, nullptr, 100000008,
         "真实姓名和身份证姓名不匹配", true},
        {"front: another name", nullptr, std::string("李四"), 1, nullptr, 100000008, "真实姓名和身份证姓名不匹配",
         true},
    };
    const auto user = PellixProxyInfo::sharedInstance()->userInfo();
    ASSERT_TRUE(user);
    const PellixText key = user->id_card_api_key(), secret = user->id_card_api_secret();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        user->setId_card_api_key(key);
        user->setId_card_api_secret(secret);
        if (c.user) c.user(*user);
        if (c.ocrScript) scriptOCR(c.ocrScript);
        const std::size_t before = ocrRequests();
        Detection d;
        PellixDataManager::detectionAndUploadIdentifyImageData(image(128, 9), c.realName, c.type, d.block());
        // Refusals that need no answer from the service come back at once.
        if (!c.asksOCR) {
            EXPECT_EQ(d.calls, 1);
        }
        ASSERT_TRUE(pump([&] { return d.calls > 0; }));
        settle(0.1);
        EXPECT_EQ(d.calls, 1);
        ASSERT_TRUE(d.error);
        EXPECT_EQ(d.error->errorCode(), c.code);
        EXPECT_EQ(d.error->message(), std::string(c.message));
        EXPECT_FALSE(d.front);
        EXPECT_FALSE(d.back);
        EXPECT_FALSE(d.key);
        EXPECT_EQ(ocrRequests() - before, c.asksOCR ? 1u : 0u);
        const auto cached = PellixTempMemoryCache::sharedInstance()->contents();
        EXPECT_FALSE(cached.cardFront || cached.cardBack || cached.cardFrontImageObjectKey ||
                     cached.cardBackImageObjectKey || cached.handIdentifyCardImageObjectKey);
    }
    user->setId_card_api_key(key);
    user->setId_card_api_secret(secret);
}

TEST_F(SdkDetection, AnUnreachableOCRServiceFailsTheSideBeingDetected) {
    PellixOCRAPIManager::setOCRURLString("https://127.0.0.1:" + std::to_string(test::freePort()) + "/ocr/v1/ocridcard");
    for (std::int64_t type : {1, 2}) {
        Detection d;
        PellixDataManager::detectionAndUploadIdentifyImageData(image(128, 9), std::string(test::kCardName), type,
                                                               d.block());
        ASSERT_TRUE(pump([&] { return d.calls > 0; }));
        ASSERT_TRUE(d.error);
        EXPECT_EQ(d.error->errorCode(), type == 1 ? 100000006 : 100000007);
    }
}

// The application's seventeen texts, filled to match a cache that holds both
// sides and the three keys.
struct Application {
    PellixText roomNumberId = std::string("5001"), cityId = std::string("4403"), depId = std::string("201"),
               realName = std::string(test::kCardName), mobileNo = std::string("13800138000"),
               selfHelpStatus = std::string("1"), authType = std::string("1"), cardImg1 = std::string("id_cards/front"),
               cardImg2 = std::string("id_cards/back"), cardImg3 = std::string("id_cards/hand"),
               cardNo = std::string(test::kCardNumber), cardName = std::string(test::kCardName),
               nation = std::string("汉"), address = std::string("广东省深圳市南山区科技园路1号"),
               government = std::string("深圳市公安局南山分局"), validity = std::string("2015.01.01-2035.01.01"),
               nationCode = std::string("86");

    void send(PellixDataManager::Completion completion) const {
        PellixDataManager::selfAuthApplyWithRoomNumberId(roomNumberId, cityId, depId, realName, mobileNo,
                                                         selfHelpStatus, authType, cardImg1, cardImg2, cardImg3,
                                                         cardNo, cardName, nation, address, government, validity,
                                                         nationCode, std::move(completion));
    }
};

class SdkSelfAuthApply : public IdentityTest {
protected:
    void SetUp() override {
        IdentityTest::SetUp();
        fillCache();
    }
    static void fillCache() {
        auto front = PellixBaseModel::make<PellixOCRIdentifyCardSideFront>(
            platform::Dictionary{{"type", 1},
                                 {"side", "front"},
                                 {"name", test::kCardName},
                                 {"gender", "男"},
                                 {"race", "汉"},
                                 {"birthday", "1990-01-01"},
                                 {"address", "广东省深圳市南山区科技园路1号"},
                                 {"id_card_number", test::kCardNumber}});
        auto back = PellixBaseModel::make<PellixOCRIdentifyCardSideBack>(platform::Dictionary{
            {"type", 1}, {"side", "back"}, {"issued_by", "深圳市公安局南山分局"}, {"valid_date", "2015.01.01-2035.01.01"}});
        const auto& cache = PellixTempMemoryCache::sharedInstance();
        cache->storeFront(front, "id_cards/front");
        cache->storeBack(back, "id_cards/back");
        cache->setHandIdentifyCardImageObjectKey(std::string("id_cards/hand"));
    }
    std::size_t applications() { return standIn_->requests("/sdkapi/v1/selfauth/apply").size(); }
    bool cacheIsFull() {
        const auto c = PellixTempMemoryCache::sharedInstance()->contents();
        return c.cardFront && c.cardBack && c.cardFrontImageObjectKey && c.cardBackImageObjectKey &&
               c.handIdentifyCardImageObjectKey;
    }
};

TEST_F(SdkSelfAuthApply, RefusalsComeAtOnceAndSendNothing) {
    struct Case {
        const char* name;
        std::function<void(Application&)> change;
        std::function<void(PellixTempMemoryCache&)> cache;
        std::int64_t code;
        const char* message;
    };
    const Case cases[] = {
        {"nil nation code", [](Application& a) { a.nationCode = std::nullopt; }, nullptr, 40400, "参数缺失"},
        {"empty card image 3", [](Application& a) { a.cardImg3 = std::string(); }, nullptr, 40400, "参数缺失"},
        // Incomplete beats a differing cache.
        {"empty room with an empty cache", [](Application& a) { a.roomNumberId = std::string(); },
         [](PellixTempMemoryCache& c) { c.clearIdentifyCardInformation(); }, 40400, "参数缺失"},
        {"no hand-held photograph yet", nullptr,
         [](PellixTempMemoryCache& c) { c.setHandIdentifyCardImageObjectKey(std::nullopt); }, 100000011,
         "和开始检测上传的信息不一致"},
        {"no back side yet", nullptr, [](PellixTempMemoryCache& c) { c.setCardBack(nullptr); }, 100000011,
         "和开始检测上传的信息不一致"},
        {"no front side yet", nullptr, [](PellixTempMemoryCache& c) { c.setCardFront(nullptr); }, 100000011,
         "和开始检测上传的信息不一致"},
        {"other card number", [](Application& a) { a.cardNo = std::string("440305199001011235"); }, nullptr,
         100000011, "和开始检测上传的信息不一致"},
        {"other card name", [](Application& a) { a.cardName = std::string("李四"); }, nullptr, 100000011,
         "和开始检测上传的信息不一致"},
        {"other real name", [](Application& a) { a.realName = std::string("张三 "); }, nullptr, 100000011,
         "和开始检测上传的信息不一致"},
        {"card image 1 not the front's key", [](Application& a) { a.cardImg1 = std::string("id_cards/back"); },
         nullptr, 100000011, "和开始检测上传的信息不一致"},
        {"card image 2 not the back's key", [](Application& a) { a.cardImg2 = std::string("id_cards/other"); },
         nullptr, 100000011, "和开始检测上传的信息不一致"},
        {"card image 3 not the hand-held key", [](Application& a) { a.cardImg3 = std::string("id_cards/front"); },
         nullptr, 100000011, "和开始检测上传的信息不一致"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fillCache();
        if (c.cache) c.cache(*PellixTempMemoryCache::sharedInstance());
        Application a;
        if (c.change) c.change(a);
        Outcome o;
        a.send(o.block());
        EXPECT_EQ(o.calls, 1);
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.code(), c.code);
        EXPECT_EQ(o.message(), c.message);
        settle(0.05);
        EXPECT_EQ(o.calls, 1);
    }
    EXPECT_EQ(applications(), 0u);
}

TEST_F(SdkSelfAuthApply, AnAcceptedApplicationSendsAllSeventeenAndEmptiesTheCache) {
    Application a;
    // Texts the cache does not hold are not compared.
    a.nation = std::string("回");
    a.validity = std::string("长期");
    Outcome o;
    a.send(o.block());
    ASSERT_TRUE(pump([&] { return o.calls > 0; }));
    EXPECT_TRUE(o.ok) << o.message();
    EXPECT_FALSE(o.error);

    auto log = standIn_->requests("/sdkapi/v1/selfauth/apply");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(test::text(log[0], "method"), "GET");
    EXPECT_EQ(test::text(log[0], "status"), "200");
    const platform::Value& params = test::member(log[0], "params");
    const std::pair<const char*, PellixText> sent[] = {
        {"room_number_id", a.roomNumberId}, {"city_id", a.cityId},      {"dep_id", a.depId},
        {"real_name", a.realName},          {"mobile_no", a.mobileNo},  {"self_help_status", a.selfHelpStatus},
        {"auth_type", a.authType},          {"card_img1", a.cardImg1},  {"card_img2", a.cardImg2},
        {"card_img3", a.cardImg3},          {"card_no", a.cardNo},      {"card_name", a.cardName},
        {"nation", a.nation},               {"address", a.address},     {"government", a.government},
        {"validity", a.validity},           {"nation_code", a.nationCode}};
    for (const auto& [key, value] : sent) EXPECT_EQ(test::text(params, key), *value) << key;

    const auto c = PellixTempMemoryCache::sharedInstance()->contents();
    EXPECT_FALSE(c.cardFront || c.cardBack || c.cardFrontImageObjectKey || c.cardBackImageObjectKey ||
                 c.handIdentifyCardImageObjectKey);
    // The same application again no longer matches anything detected.
    Outcome again;
    a.send(again.block());
    EXPECT_EQ(again.calls, 1);
    EXPECT_EQ(again.code(), 100000011);
    EXPECT_EQ(applications(), 1u);
}

TEST_F(SdkSelfAuthApply, APlatformRefusalKeepsTheCacheForARetry) {
    standIn_->rule(R"({"path":"/sdkapi/v1/selfauth/apply","status":400,"code":400010,"message":"无权限"})");
    Application a;
    Outcome refused;
    a.send(refused.block());
    ASSERT_TRUE(pump([&] { return refused.calls > 0; }));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.code(), 400010);
    EXPECT_TRUE(cacheIsFull());

    Outcome retried;
    a.send(retried.block());
    ASSERT_TRUE(pump([&] { return retried.calls > 0; }));
    EXPECT_TRUE(retried.ok) << retried.message();
    EXPECT_FALSE(cacheIsFull());
    EXPECT_EQ(applications(), 2u);
}

}  // namespace
}  // namespace pellix
