// Property messages against the stand-in: what is refused before anything
// leaves, what a text-only message sends, and how the platform's refusal
// comes back.
#include <gtest/gtest.h>

#include "IdentityFixture.h"

namespace pellix {
namespace {

using test::IdentityTest;
using test::Outcome;

class SdkPropertyMessage : public IdentityTest {
protected:
    static constexpr const char* kPublishPath = "/sdkapi/v1/property/publish_message";
    std::size_t published() { return standIn_->requests(kPublishPath).size(); }
    static platform::Value images(std::size_t count) {
        platform::Array list;
        for (std::size_t i = 0; i < count; ++i) list.emplace_back(image(256, static_cast<unsigned char>(i)));
        return platform::Value(std::move(list));
    }
};

TEST_F(SdkPropertyMessage, RefusesAtOnceWhatCannotBeSent) {
    struct Case {
        const char* name;
        PellixText content;
        platform::Value images;
        std::int64_t code;
        const char* message;
    };
    const Case cases[] = {
        {"no text, no images", std::nullopt, platform::Value(), 100000002, "物业留言和图片最少一个"},
        {"empty text, empty list", std::string(), platform::Value(platform::Array{}), 100000002,
         "物业留言和图片最少一个"},
        {"no text, images not a list", std::nullopt, platform::Value(platform::Bytes{1, 2, 3}), 100000002,
         "物业留言和图片最少一个"},
        {"empty text, images a dictionary", std::string(), platform::Value(platform::Dictionary{{"a", 1}}),
         100000002, "物业留言和图片最少一个"},
        {"four images", std::nullopt, images(4), 100000003, "物业留言最多可以上传3张图片"},
        {"text and four images", std::string("门口有积水"), images(4), 100000003, "物业留言最多可以上传3张图片"},
        // With a text, images in a shape the SDK cannot send are refused, not dropped.
        {"text and images not a list", std::string("门口有积水"), platform::Value(platform::Bytes{1, 2, 3}), 40400,
         "参数缺失"},
        {"text and a list holding text", std::string("门口有积水"),
         platform::Value(platform::Array{platform::Value(platform::Bytes{1}), platform::Value("photo.png")}), 40400,
         "参数缺失"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome o;
        PellixDataManager::contactPropertyWithRoomId(std::string("5001"), c.content, c.images, std::string("1"),
                                                     o.block());
        EXPECT_EQ(o.calls, 1);
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.code(), c.code);
        EXPECT_EQ(o.message(), c.message);
        settle(0.05);
        EXPECT_EQ(o.calls, 1);
    }
    // A refusal without a completion is silent.
    PellixDataManager::contactPropertyWithRoomId(std::string("5001"), std::nullopt, platform::Value(),
                                                 std::string("1"), nullptr);
    settle(0.2);
    EXPECT_EQ(published(), 0u);
}

TEST_F(SdkPropertyMessage, ATextOnlyMessageIsOneRequestWithoutImageNames) {
    for (const platform::Value& none : {platform::Value(), platform::Value(platform::Array{})}) {
        standIn_->admin("DELETE", "/__admin/requests");
        Outcome o;
        PellixDataManager::contactPropertyWithRoomId(std::string("5001"), std::string("电梯异响"), none,
                                                     std::string("2"), o.block());
        ASSERT_TRUE(pump([&] { return o.calls > 0; }));
        EXPECT_TRUE(o.ok) << o.message();
        auto log = standIn_->requests(kPublishPath);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(test::text(log[0], "method"), "POST");
        EXPECT_EQ(test::text(log[0], "status"), "200");
        const platform::Value& params = test::member(log[0], "params");
        EXPECT_EQ(test::text(params, "room_id"), "5001");
        EXPECT_EQ(test::text(params, "content"), "电梯异响");
        EXPECT_EQ(test::text(params, "tag_type"), "2");
        EXPECT_EQ(test::text(params, "images_name"), "<missing>");
        EXPECT_EQ(test::text(params, "dep_id"), "<missing>");
    }
}

TEST_F(SdkPropertyMessage, ThePlatformsRefusalReachesTheHost) {
    standIn_->rule(R"({"path":"/sdkapi/v1/property/publish_message","status":400,"code":400010,"message":"无权限"})");
    Outcome o;
    PellixDataManager::contactPropertyWithRoomId(std::string("5004"), std::string("你好"), platform::Value(),
                                                 std::string("1"), o.block());
    ASSERT_TRUE(pump([&] { return o.calls > 0; }));
    settle(0.1);
    EXPECT_EQ(o.calls, 1);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.code(), 400010);
    EXPECT_EQ(o.message(), "无权限");
}

}  // namespace
}  // namespace pellix
