// Registration, login, logout and the push token against the stand-in: what
// is reported and when, what the archive files hold, what the platform saw
// and which notifications were posted.
#include <gtest/gtest.h>

#include "PellixClient/PellixClient.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixDataManager/PellixDataManagerPrivate.h"
#include "PipelineFixture.h"
#include "platform/KeyedArchive.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;
using platform::Value;

using Result = test::FlagOutcome;

class SdkPipelineSession : public test::PipelineTest {
protected:
    std::string tokenFile() { return PellixFileManager::shareInstance()->accessTokenFile(); }
    std::string userFile() { return PellixFileManager::shareInstance()->userInfoFile(); }

    void registerAndWait(Result& r, std::shared_ptr<PellixOptions> options = nullptr) {
        PellixDataManager::registSDKWithAppId(kAppId, kSecret, options, r.block());
        ASSERT_TRUE(pump([&] { return r.calls > 0; }));
    }
    void loginAndWait() {
        Result r;
        PellixDataManager::loginSDKWithNationCode(std::nullopt, std::string("13800138000"), std::nullopt, r.block());
        ASSERT_TRUE(pump([&] { return r.calls > 0; }));
        ASSERT_TRUE(r.ok) << (r.error ? *r.error->message() : "");
    }
};

TEST_F(SdkPipelineSession, RegistrationFetchesSignsAndArchivesTheToken) {
    Result r;
    registerAndWait(r);
    settle(0.1);
    EXPECT_EQ(r.calls, 1);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(PellixClient::sharedInstance());
    // Nil options: production, 15 s, logging off.
    EXPECT_EQ(PellixGlobleConfig::sharedInstance()->mode(), 2u);
    EXPECT_FLOAT_EQ(PellixGlobleConfig::sharedInstance()->requestTimeout(), 15);
    EXPECT_FALSE(PellixLog::isLogEnable());

    auto token = PellixProxyInfo::sharedInstance()->token();
    ASSERT_TRUE(token && token->token() && token->sign());
    EXPECT_EQ(token->sign()->size(), 32u);
    EXPECT_EQ(*token->key(), std::string(kAppId) + ":" + kSecret + ":2");
    ASSERT_TRUE(fs::exists(tokenFile()));

    auto log = standIn_->requests("/sdk/v2/token");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(test::text(log[0], "sign_ok"), "1");  // signed with the nil text
    EXPECT_EQ(test::text(test::member(log[0], "params"), "package_name"),
              PellixProxyInfo::sharedInstance()->package_name().value_or("<missing>"));
    // The next request is signed with the new key and accepted.
    loginAndWait();
    EXPECT_EQ(test::text(standIn_->requests("/sdkapi/v2/user/init_user_info").at(0), "sign_ok"), "1");
}

TEST_F(SdkPipelineSession, SecondRegistrationAnswersFromTheCacheAndStillFetches) {
    Result first;
    registerAndWait(first);
    Result second;
    PellixDataManager::registSDKWithAppId(kAppId, kSecret, nullptr, second.block());
    EXPECT_EQ(second.calls, 1);  // answered before returning
    EXPECT_TRUE(second.ok);
    ASSERT_TRUE(pump([&] { return standIn_->requests("/sdk/v2/token").size() == 2; }));
    settle(0.3);
    EXPECT_EQ(second.calls, 1);

    // An empty secret matches no cached token: the cache is dropped and the
    // registration refused synchronously, with nothing sent.
    Result empty;
    PellixDataManager::registSDKWithAppId(kAppId, std::string(), nullptr, empty.block());
    EXPECT_EQ(empty.calls, 1);
    EXPECT_FALSE(empty.ok);
    ASSERT_TRUE(empty.error);
    EXPECT_EQ(empty.error->errorCode(), 40400);
    EXPECT_EQ(empty.error->message().value_or(""), "参数缺失");
    settle(0.2);
    EXPECT_EQ(standIn_->requests("/sdk/v2/token").size(), 2u);
    EXPECT_FALSE(fs::exists(tokenFile()));  // other credentials: the cache is gone
}

TEST_F(SdkPipelineSession, RefusedRegistrationAndEnvironmentSwitch) {
    Result wrong;
    PellixDataManager::registSDKWithAppId(kAppId, std::string("nope"), nullptr, wrong.block());
    EXPECT_EQ(wrong.calls, 0);
    ASSERT_TRUE(pump([&] { return wrong.calls > 0; }));
    EXPECT_FALSE(wrong.ok);
    ASSERT_TRUE(wrong.error);
    EXPECT_EQ(wrong.error->errorCode(), 400);
    EXPECT_EQ(wrong.error->message().value_or(""), "secret错误");

    Result prod;
    registerAndWait(prod);
    loginAndWait();
    ASSERT_TRUE(fs::exists(userFile()));

    // A new, untouched options object selects the test environment: the
    // production token and user record are discarded and the fetch answers.
    auto options = std::make_shared<PellixOptions>();
    Result test;
    test::NotificationCounter posted(PellixClient::kInitUserInfoNotification);
    PellixDataManager::registSDKWithAppId(kAppId, kSecret, options, test.block());
    EXPECT_EQ(test.calls, 0);
    EXPECT_FALSE(fs::exists(userFile()));
    EXPECT_EQ(posted.count, 0);
    ASSERT_TRUE(pump([&] { return test.calls > 0; }));
    EXPECT_TRUE(test.ok);
    EXPECT_EQ(PellixGlobleConfig::sharedInstance()->mode(), 0u);
    EXPECT_EQ(*PellixProxyInfo::sharedInstance()->token()->key(), std::string(kAppId) + ":" + kSecret + ":0");
}

TEST_F(SdkPipelineSession, AnswersWithoutTheirRecordFailWith500) {
    // A token answer with no token, or a login answer with no user record,
    // is a failure: reporting success would leave requests unsigned or
    // nobody logged in.
    standIn_->rule(R"({"path":"/sdk/v2/token","data":[]})");
    Result reg;
    PellixDataManager::registSDKWithAppId(kAppId, kSecret, nullptr, reg.block());
    ASSERT_TRUE(pump([&] { return reg.calls > 0; }));
    EXPECT_FALSE(reg.ok);
    ASSERT_TRUE(reg.error);
    EXPECT_EQ(reg.error->errorCode(), 500);
    EXPECT_FALSE(fs::exists(tokenFile()));

    Result again;
    registerAndWait(again);
    ASSERT_TRUE(again.ok);
    standIn_->rule(R"({"path":"/sdkapi/v2/user/init_user_info","data":[]})");
    Result login;
    PellixDataManager::loginSDKWithNationCode(std::nullopt, std::string("13800138000"), std::nullopt, login.block());
    ASSERT_TRUE(pump([&] { return login.calls > 0; }));
    EXPECT_FALSE(login.ok);
    ASSERT_TRUE(login.error);
    EXPECT_EQ(login.error->errorCode(), 500);
    EXPECT_FALSE(fs::exists(userFile()));
}

TEST_F(SdkPipelineSession, LoginPostsArchivesAndReplaysTheUserRecord) {
    Result reg;
    registerAndWait(reg);
    // A push token held from before is bound again at login.
    PellixProxyInfo::sharedInstance()->setPushToken(std::string("feedbeef"));
    test::NotificationCounter posted(PellixClient::kInitUserInfoNotification);
    loginAndWait();
    EXPECT_EQ(posted.count, 1);
    auto user = std::static_pointer_cast<PellixInitUserInfo>(posted.lastObject);
    ASSERT_TRUE(user);
    EXPECT_EQ(user->sip_no().value_or(""), "1000101");
    EXPECT_EQ(PellixProxyInfo::sharedInstance()->openId().value_or(""), "px-open-10001");
    EXPECT_EQ(user->key().value_or(""), "mode:2");
    EXPECT_TRUE(PellixClient::isPellixSDKLogin());
    ASSERT_TRUE(fs::exists(userFile()));
    EXPECT_TRUE(platform::KeyedArchive::read(userFile()));

    auto login = standIn_->requests("/sdkapi/v2/user/init_user_info");
    ASSERT_EQ(login.size(), 1u);
    EXPECT_EQ(test::text(test::member(login[0], "params"), "nation_code"), "86");
    EXPECT_EQ(test::text(test::member(login[0], "params"), "mobile_no"), "13800138000");
    ASSERT_TRUE(pump([&] { return standIn_->requests("/sdkapi/v1/device/push_binding").size() == 1; }));
    EXPECT_EQ(test::text(test::member(standIn_->requests("/sdkapi/v1/device/push_binding")[0], "params"), "device_token"),
              "feedbeef");

    // Registering again replays the record: posted, and its broker applied.
    Result again;
    PellixDataManager::registSDKWithAppId(kAppId, kSecret, nullptr, again.block());
    EXPECT_EQ(again.calls, 1);
    EXPECT_EQ(posted.count, 2);
    EXPECT_EQ(PellixGlobleConfig::sharedInstance()->mqttServer(), "127.0.0.1");
    EXPECT_EQ(PellixGlobleConfig::sharedInstance()->mqttPort(), 8883u);

    // Nothing to log in with: refused at once.
    Result none;
    PellixDataManager::loginSDKWithNationCode(std::nullopt, std::nullopt, std::nullopt, none.block());
    EXPECT_EQ(none.calls, 1);
    ASSERT_TRUE(none.error);
    EXPECT_EQ(none.error->errorCode(), 40400);
}

TEST_F(SdkPipelineSession, LogoutClearsOnlyWhenThePlatformAccepts) {
    Result reg;
    registerAndWait(reg);
    loginAndWait();
    test::NotificationCounter loggedOut(PellixClient::kLogoutNotification);

    standIn_->rule(R"({"path":"/sdkapi/v1/user/user_quit","status":500})");
    Result refused;
    PellixDataManager::loginoutWithCompletion(refused.block());
    ASSERT_TRUE(pump([&] { return refused.calls > 0; }));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(loggedOut.count, 0);
    EXPECT_TRUE(PellixClient::isPellixSDKLogin());
    EXPECT_TRUE(fs::exists(userFile()));

    Result accepted;
    PellixDataManager::loginoutWithCompletion(accepted.block());
    ASSERT_TRUE(pump([&] { return accepted.calls > 0; }));
    EXPECT_TRUE(accepted.ok);
    EXPECT_EQ(loggedOut.count, 1);
    EXPECT_FALSE(PellixClient::isPellixSDKLogin());
    EXPECT_FALSE(PellixProxyInfo::sharedInstance()->openId());
    EXPECT_FALSE(fs::exists(userFile()));
    EXPECT_TRUE(fs::exists(tokenFile()));
    EXPECT_TRUE(PellixProxyInfo::sharedInstance()->token());
}

TEST_F(SdkPipelineSession, DeviceTokenIsStoredAsHexAndBound) {
    Result reg;
    registerAndWait(reg);
    loginAndWait();
    PellixDataManager::registerDeviceToken(platform::Bytes{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x60, 0x71});
    EXPECT_EQ(PellixProxyInfo::sharedInstance()->pushToken().value_or(""), "0a1b2c3d4e5f6071");
    ASSERT_TRUE(pump([&] { return standIn_->requests("/sdkapi/v1/device/push_binding").size() == 1; }));
    auto bind = standIn_->requests("/sdkapi/v1/device/push_binding")[0];
    EXPECT_EQ(test::text(test::member(bind, "params"), "device_token"), "0a1b2c3d4e5f6071");
    EXPECT_EQ(test::text(bind, "status"), "200");

    Result empty;
    PellixDataManager::bindPushTokenWithDeviceToken(std::string(), empty.block());
    EXPECT_EQ(empty.calls, 1);
    ASSERT_TRUE(empty.error);
    EXPECT_EQ(empty.error->errorCode(), 40400);
}

}  // namespace
}  // namespace pellix
