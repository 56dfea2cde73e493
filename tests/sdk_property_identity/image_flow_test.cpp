// The paths through the object store: property messages with images, the
// download of a stored image, and identity-card photographs from detection
// to an accepted application.
#include <gtest/gtest.h>

#include <regex>

#include "IdentityFixture.h"

namespace pellix {
namespace {

using test::IdentityTest;
using test::Outcome;
using test::objectStore;

struct Detected {
    int calls = 0;
    std::shared_ptr<PellixOCRIdentifyCardSideFront> front;
    std::shared_ptr<PellixOCRIdentifyCardSideBack> back;
    PellixText key;
    PellixErrorPtr error;
};

class SdkImageFlow : public IdentityTest {
protected:
    static constexpr const char* kPublishPath = "/sdkapi/v1/property/publish_message";

    Detected detect(const platform::Bytes& photo, std::int64_t type, PellixText realName = std::string(test::kCardName)) {
        auto d = std::make_shared<Detected>();
        PellixDataManager::detectionAndUploadIdentifyImageData(
            photo, realName, type,
            [d](const auto& front, const auto& back, const PellixText& key, const PellixErrorPtr& error) {
                ++d->calls;
                d->front = front;
                d->back = back;
                d->key = key;
                d->error = error;
            });
        EXPECT_TRUE(pump([&] { return d->calls > 0; }, 60));
        settle(0.1);
        EXPECT_EQ(d->calls, 1);
        return *d;
    }

    // Downloads through the SDK; the bytes, or nullopt on failure.
    std::optional<platform::Bytes> download(const std::string& key) {
        int calls = 0;
        std::optional<platform::Bytes> data;
        std::string heardKey;
        PellixDataManager::downloadWithImageObjectKey(
            key,
            [&](const platform::Bytes& bytes, const std::string& k) {
                ++calls;
                data = bytes;
                heardKey = k;
            },
            [&](const PellixText& k) {
                ++calls;
                heardKey = k.value_or("<nil>");
            });
        EXPECT_TRUE(pump([&] { return calls > 0; }, 60));
        settle(0.1);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(heardKey, key);
        return data;
    }

    static std::vector<std::string> split(const std::string& text) {
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
            out.push_back(text.substr(start, comma - start));
        out.push_back(text.substr(start));
        return out;
    }
};

TEST_F(SdkImageFlow, ThreeImagesAreStoredNamedInOrderAndComeBackByteForByte) {
    const std::vector<platform::Bytes> photos = {image(40000, 1), image(1, 2), image(150000, 3)};
    platform::Array list;
    for (const auto& p : photos) list.emplace_back(p);
    Outcome o;
    PellixDataManager::contactPropertyWithRoomId(std::string("5001"), std::nullopt, platform::Value(list),
                                                 std::string("3"), o.block());
    ASSERT_TRUE(pump([&] { return o.calls > 0; }, 60));
    ASSERT_TRUE(o.ok) << o.code() << " " << o.message();

    auto log = standIn_->requests(kPublishPath);
    ASSERT_EQ(log.size(), 1u);
    const platform::Value& params = test::member(log[0], "params");
    EXPECT_EQ(test::text(params, "content"), "<missing>");
    EXPECT_EQ(test::text(params, "room_id"), "5001");
    EXPECT_EQ(test::text(params, "tag_type"), "3");
    const std::vector<std::string> keys = split(test::text(params, "images_name"));
    ASSERT_EQ(keys.size(), 3u);
    const auto stored = storedKeys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(keys[i]);
        // Image i of a batch is stored under a key ending in i + 1.
        const std::regex pattern("^contact_management/[^/]+/[0-9]{8}/[0-9A-F]{32}[0-9]{17}" + std::to_string(i + 1) +
                                 "$");
        EXPECT_TRUE(std::regex_match(keys[i], pattern));
        EXPECT_TRUE(stored.count(keys[i]));
        // Each name is that image's: the order of the message is the order given.
        auto back = download(keys[i]);
        ASSERT_TRUE(back);
        EXPECT_TRUE(*back == photos[i]);
    }
}

TEST_F(SdkImageFlow, TextAndImagesTravelTogether) {
    Outcome o;
    PellixDataManager::contactPropertyWithRoomId(std::string("5001"), std::string("楼道灯坏了"),
                                                 platform::Value(platform::Array{platform::Value(image(512, 7))}),
                                                 std::string("1"), o.block());
    ASSERT_TRUE(pump([&] { return o.calls > 0; }, 60));
    ASSERT_TRUE(o.ok) << o.message();
    auto log = standIn_->requests(kPublishPath);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(test::text(test::member(log[0], "params"), "content"), "楼道灯坏了");
    EXPECT_EQ(split(test::text(test::member(log[0], "params"), "images_name")).size(), 1u);
}

TEST_F(SdkImageFlow, AFailedUploadSendsNoMessageAndLeavesTheOthersStored) {
    const auto before = storedKeys();
    objectStore().fault(R"({"match":{"op":"PutObject"},"status":403,"times":1})");
    Outcome o;
    platform::Array list{platform::Value(image(300, 1)), platform::Value(image(300, 2)), platform::Value(image(300, 3))};
    PellixDataManager::contactPropertyWithRoomId(std::string("5001"), std::string("漏水"), platform::Value(list),
                                                 std::string("1"), o.block());
    ASSERT_TRUE(pump([&] { return o.calls > 0; }, 60));
    settle(0.3);
    objectStore().admin("DELETE", "/__admin/faults");
    EXPECT_EQ(o.calls, 1);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.code(), 100000004);
    EXPECT_EQ(o.message(), PellixError::kNoticeImageUploadMessage);
    EXPECT_EQ(standIn_->requests(kPublishPath).size(), 0u);
    // The two images that did go up stay: nothing names them to remove.
    EXPECT_EQ(storedKeys().size(), before.size() + 2);
}

TEST_F(SdkImageFlow, ADownloadOfAMissingKeyFailsWithThatKey) {
    EXPECT_FALSE(download("contact_management/10001/20261211/none"));
}

TEST_F(SdkImageFlow, ThreePhotographsDetectedUploadedAndApplied) {
    const platform::Bytes frontPhoto = image(9000, 11), backPhoto = image(9000, 12), handPhoto = image(9000, 13);
    Detected front = detect(frontPhoto, 1);
    ASSERT_FALSE(front.error) << front.error->errorCode();
    ASSERT_TRUE(front.front && front.key);
    EXPECT_FALSE(front.back);
    scriptOCR(R"({"side":"back"})");
    // The back side carries no name; any name of two characters will do.
    Detected back = detect(backPhoto, 2, std::string("某某"));
    ASSERT_FALSE(back.error);
    ASSERT_TRUE(back.back && back.key);
    EXPECT_FALSE(back.front);
    const std::size_t ocrBefore = ocrRequests();
    Detected hand = detect(handPhoto, 3, std::nullopt);
    ASSERT_FALSE(hand.error);
    ASSERT_TRUE(hand.key);
    EXPECT_FALSE(hand.front || hand.back);
    EXPECT_EQ(ocrRequests(), ocrBefore);  // the hand-held photograph is not read

    const std::regex pattern("^id_cards/[^/]+/[0-9]{8}/[0-9A-F]{32}[0-9]{17}$");
    for (const auto* key : {&front.key, &back.key, &hand.key}) EXPECT_TRUE(std::regex_match(**key, pattern)) << **key;
    EXPECT_TRUE(download(*front.key) == frontPhoto);

    const auto cached = PellixTempMemoryCache::sharedInstance()->contents();
    EXPECT_EQ(cached.cardFront, front.front);
    EXPECT_EQ(cached.cardFrontImageObjectKey, front.key);
    EXPECT_EQ(cached.cardBack, back.back);
    EXPECT_EQ(cached.cardBackImageObjectKey, back.key);
    EXPECT_EQ(cached.handIdentifyCardImageObjectKey, hand.key);

    Outcome applied;
    PellixDataManager::selfAuthApplyWithRoomNumberId(
        std::string("5001"), std::string("4403"), std::string("201"), std::string(test::kCardName),
        std::string("13800138000"), std::string("1"), std::string("1"), front.key, back.key, hand.key,
        front.front->id_card_number(), front.front->name(), front.front->race(), front.front->address(),
        back.back->issued_by(), back.back->valid_date(), std::string("86"), applied.block());
    ASSERT_TRUE(pump([&] { return applied.calls > 0; }));
    EXPECT_TRUE(applied.ok) << applied.code() << " " << applied.message();
    EXPECT_FALSE(PellixTempMemoryCache::sharedInstance()->cardFront());
}

TEST_F(SdkImageFlow, ALaterPhotographOfTheSameSideReplacesTheFirst) {
    Detected first = detect(image(2000, 21), 1);
    scriptOCR(R"({"side":"front","card":{"id_card_number":"110101199003071234"}})");
    Detected second = detect(image(2000, 22), 1);
    ASSERT_TRUE(first.key && second.key);
    EXPECT_NE(*first.key, *second.key);
    const auto cached = PellixTempMemoryCache::sharedInstance()->contents();
    EXPECT_EQ(cached.cardFrontImageObjectKey, second.key);
    ASSERT_TRUE(cached.cardFront);
    EXPECT_EQ(cached.cardFront->id_card_number(), std::string("110101199003071234"));
    EXPECT_FALSE(cached.cardBack || cached.handIdentifyCardImageObjectKey);
}

TEST_F(SdkImageFlow, AFailedUploadOfAnAcceptedPhotographLeavesTheCacheAlone) {
    Detected kept = detect(image(2000, 31), 3, std::nullopt);
    ASSERT_TRUE(kept.key);
    for (std::int64_t type : {1, 3}) {
        SCOPED_TRACE(type);
        objectStore().fault(R"({"match":{"op":"PutObject"},"status":403,"times":1})");
        Detected failed = detect(image(2000, 32), type);
        ASSERT_TRUE(failed.error);
        EXPECT_EQ(failed.error->errorCode(), 100000010);
        EXPECT_EQ(failed.error->message(), std::string("上传失败"));
        EXPECT_FALSE(failed.front || failed.back || failed.key);
        const auto cached = PellixTempMemoryCache::sharedInstance()->contents();
        EXPECT_FALSE(cached.cardFront);
        EXPECT_EQ(cached.handIdentifyCardImageObjectKey, kept.key);
    }
    objectStore().admin("DELETE", "/__admin/faults");
}

}  // namespace
}  // namespace pellix
