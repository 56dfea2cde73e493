// Answer handling against the stand-in: the status matrix, answers without
// an envelope, transport and trust failures, and the expired-token path
// (one refresh, one resend with the new token and signing key).
#include <gtest/gtest.h>

#include "HOSManager/PellixHalvaneDownloadManager.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixDataManager/PellixDataManagerPrivate.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixResponseImage.h"
#include "PellixDataManager/PellixNetServer/PellixNetServices.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixAccountParams.h"
#include "PipelineFixture.h"

namespace pellix {
namespace {

using platform::Value;

struct Outcome {
    bool done = false;
    std::shared_ptr<PellixBaseResponse> response;
    PellixErrorPtr error;
    int calls = 0;
};

class SdkPipelineNetServices : public test::PipelineTest {
protected:
    // Registers (token fetch) and logs the test resident in.
    void logIn() {
        registerAndLogIn();
        if (HasFatalFailure()) return;
        // Login also fetches storage credentials for the image tool; that
        // request ends before the log is cleared so it shows in no count.
        ASSERT_TRUE(pump([] { return PellixHalvaneDownloadManager::sharedManager().aliModel() != nullptr; }));
        standIn_->admin("DELETE", "/__admin/requests");
    }

    Outcome send(const std::shared_ptr<PellixBaseRequestParam>& param, PellixBodyType bodyType = nullptr) {
        auto outcome = std::make_shared<Outcome>();
        PellixNetServices::getPellixSDKData(
            param, bodyType,
            [outcome](const std::shared_ptr<PellixBaseResponse>& r) {
                outcome->response = r;
                outcome->done = true;
                ++outcome->calls;
            },
            [outcome](const PellixErrorPtr& e) {
                outcome->error = e;
                outcome->done = true;
                ++outcome->calls;
            });
        EXPECT_TRUE(pump([&] { return outcome->done; }));
        settle(0.1);
        return *outcome;
    }

    std::shared_ptr<PellixBaseRequestParam> quitParam() { return std::make_shared<PellixUserQuitParam>(); }
};

TEST_F(SdkPipelineNetServices, StatusMatrix) {
    struct Case {
        const char* rule;
        bool success;
        std::int64_t code;
        std::string message;
    } cases[] = {
        {R"({"status":200,"envelope":{"code":40004,"message":"用户不存在"}})", true, 200, "用户不存在"},
        {R"({"status":403,"envelope":{"code":403}})", false, 403, "请求频率过快，同一接口3s只能请求一次"},
        {R"({"status":403,"envelope":{"code":403,"message":"x"}})", false, 403, "x"},
        {R"({"status":500,"envelope":{"code":"E1"}})", false, 500, "服务器异常"},
        {R"({"status":404,"envelope":{}})", false, 0, ""},
        {R"({"status":400,"code":40009})", false, 40009, "开门失败"},
        // No envelope: the caller still hears back.
        {R"({"status":200,"body":"empty"})", false, 500, "服务器异常"},
        {R"({"status":200,"body":"space"})", false, 500, "服务器异常"},
        {R"({"status":200,"body":"array"})", false, 500, "服务器异常"},
        {R"({"status":200,"body":"garbage"})", false, 500, "服务器异常"},
        // Unacceptable content type: the serializer's error code.
        {R"({"status":200,"code":200,"content_type":"text/plain"})", false, -1016, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        standIn_->rule(c.rule);
        Outcome o = send(quitParam());
        EXPECT_EQ(o.calls, 1);
        if (c.success) {
            ASSERT_TRUE(o.response);
            EXPECT_EQ(o.response->code(), c.code);
        } else {
            ASSERT_TRUE(o.error);
            EXPECT_EQ(o.error->errorCode(), c.code);
            EXPECT_EQ(o.error->message().value_or("<nil>"), c.message);
        }
    }
}

TEST_F(SdkPipelineNetServices, TransportAndTrustFailures) {
    // Nothing listening.
    const int dead = test::freePort();
    PellixGlobleConfig::setEnvironment(2, {"https://127.0.0.1:" + std::to_string(dead), "127.0.0.1", 1883});
    PellixGlobleConfig::sharedInstance()->setPellixSDKMode(2);
    Outcome refused = send(quitParam());
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->errorCode(), -1004);
    EXPECT_EQ(refused.error->message().value_or(""), "服务器不可到达");

    // Servers whose certificate the system store does not back, that name
    // another host or have expired are refused (the trust policy cancels the
    // handshake's challenge): nothing reaches them.
    for (const test::TestCerts::Pair* pair : {&test::pipelineCerts().selfSigned, &test::pipelineCerts().wrongHost,
                                              &test::pipelineCerts().expired}) {
        test::PlatformStandIn untrusted(*pair);
        PellixGlobleConfig::setEnvironment(2, {untrusted.baseURL(), "127.0.0.1", 1883});
        PellixGlobleConfig::sharedInstance()->setPellixSDKMode(2);
        Outcome o = send(quitParam());
        ASSERT_TRUE(o.error) << pair->cert;
        EXPECT_EQ(o.error->errorCode(), -999) << pair->cert;
        EXPECT_TRUE(untrusted.requests().empty()) << pair->cert;
    }
}

TEST_F(SdkPipelineNetServices, ExpiredTokenIsRefreshedOnceAndTheRequestResent) {
    logIn();
    const std::string oldToken = *PellixProxyInfo::sharedInstance()->token()->token();
    const std::string oldSign = *PellixProxyInfo::sharedInstance()->token()->sign();
    standIn_->admin("POST", "/__admin/token", R"({"expire":"now"})");
    test::NotificationCounter invalid(PellixNetServices::kTokenInvalideNotification);

    Outcome o = send(quitParam());
    ASSERT_TRUE(o.response) << (o.error ? *o.error->message() : "");
    EXPECT_EQ(o.calls, 1);
    EXPECT_EQ(invalid.count, 0);

    auto log = standIn_->requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(test::text(log[0], "path"), "/sdkapi/v1/user/user_quit");
    EXPECT_EQ(test::text(log[0], "status"), "426");
    EXPECT_EQ(test::text(log[1], "path"), "/sdk/v2/token");
    EXPECT_EQ(test::text(log[2], "path"), "/sdkapi/v1/user/user_quit");
    EXPECT_EQ(test::text(log[2], "status"), "200");
    EXPECT_EQ(test::text(log[2], "sign_ok"), "1");
    const auto fresh = PellixProxyInfo::sharedInstance()->token();
    EXPECT_NE(*fresh->token(), oldToken);
    EXPECT_NE(*fresh->sign(), oldSign);
    EXPECT_EQ(test::text(test::member(log[2], "params"), "token"), *fresh->token());
    // The new token is on disk before the resend goes out.
    EXPECT_TRUE(std::filesystem::exists(PellixFileManager::shareInstance()->accessTokenFile()));
}

TEST_F(SdkPipelineNetServices, FailedRefreshPostsTheNotificationAndFailsTheOperation) {
    logIn();
    standIn_->admin("POST", "/__admin/token", R"({"expire":"now"})");
    standIn_->rule(R"({"path":"/sdk/v2/token","status":500,"times":0})");
    test::NotificationCounter invalid(PellixNetServices::kTokenInvalideNotification);
    Outcome o = send(quitParam());
    EXPECT_EQ(o.calls, 1);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->errorCode(), 426);
    EXPECT_EQ(o.error->message().value_or(""), "Token失效");
    EXPECT_EQ(invalid.count, 1);
}

TEST_F(SdkPipelineNetServices, PlatformThatKeepsRefusingTokensEndsAfterOneResend) {
    logIn();
    standIn_->admin("POST", "/__admin/token", R"({"always":true})");
    test::NotificationCounter invalid(PellixNetServices::kTokenInvalideNotification);
    Outcome o = send(quitParam());
    settle(0.5);
    EXPECT_EQ(o.calls, 1);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->errorCode(), 426);
    EXPECT_EQ(invalid.count, 0);
    EXPECT_EQ(standIn_->requests("/sdkapi/v1/user/user_quit").size(), 2u);
    EXPECT_EQ(standIn_->requests("/sdk/v2/token").size(), 1u);
}

// The family call: its relative path is placed below the base URL with one
// "/", it carries the token it holds itself and answers its first record.
TEST_F(SdkPipelineNetServices, FamilyCallThroughThePrivateOperations) {
    logIn();
    std::shared_ptr<PellixCall> call;
    PellixErrorPtr error;
    bool done = false;
    PellixDataManagerPrivate::makeCall(std::string("guid-1"), std::string("5001"), std::string(""),
                                       std::string("102"), std::string("0"),
                                       [&](const std::shared_ptr<PellixCall>& c, const PellixErrorPtr& e) {
                                           call = c;
                                           error = e;
                                           done = true;
                                       });
    ASSERT_TRUE(pump([&] { return done; }));
    ASSERT_TRUE(call) << (error ? *error->message() : "");
    EXPECT_FALSE(call->transactionId().value_or("").empty());
    auto log = standIn_->requests("/v1/call");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(test::text(log[0], "method"), "POST");
    EXPECT_EQ(test::text(test::member(log[0], "params"), "token"), *PellixProxyInfo::sharedInstance()->token()->token());
    EXPECT_EQ(test::text(test::member(log[0], "params"), "to_room_no"), "102");

    // An unknown room: the platform's refusal reaches the block.
    done = false;
    PellixDataManagerPrivate::makeCall(std::string("guid-1"), std::string("5001"), std::string(""),
                                       std::string("999"), std::string("0"),
                                       [&](const std::shared_ptr<PellixCall>& c, const PellixErrorPtr& e) {
                                           call = c;
                                           error = e;
                                           done = true;
                                       });
    ASSERT_TRUE(pump([&] { return done; }));
    EXPECT_FALSE(call);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->errorCode(), 400015);
}

// The caller's photo: an image answer.
class PhotoParam : public PellixBaseRequestParam {
public:
    std::optional<std::string> buildRequestPath() const override { return std::string("v1/caller/photo"); }
    std::uint64_t buildResponseType() const override { return kResponseImage; }
    platform::Dictionary buildRequestParam() const override {
        return platform::Dictionary{{"door_sip_no", Value("8007001")}};
    }
};

// Each answer is read by the serializer its own request chose, even when a
// later request with another one was made while it was in flight; an image
// answer is a success whatever its status.
TEST_F(SdkPipelineNetServices, OverlappingRequestsKeepTheirOwnSerializers) {
    logIn();
    standIn_->rule(R"({"path":"/v1/caller/photo","delay_ms":400,"data":{}})");
    auto photo = std::make_shared<Outcome>();
    PellixNetServices::getPellixSDKData(
        std::make_shared<PhotoParam>(), nullptr,
        [photo](const std::shared_ptr<PellixBaseResponse>& r) {
            photo->response = r;
            photo->done = true;
        },
        [photo](const PellixErrorPtr& e) {
            photo->error = e;
            photo->done = true;
        });
    Outcome json = send(quitParam());
    ASSERT_TRUE(pump([&] { return photo->done; }));
    ASSERT_TRUE(json.response) << (json.error ? *json.error->message() : "");
    EXPECT_EQ(json.response->code(), 200);
    ASSERT_TRUE(photo->response) << (photo->error ? photo->error->errorCode() : 0);
    EXPECT_EQ(photo->response->code(), 200);
    EXPECT_EQ(photo->response->message().value_or(""), "获取图片成功");
    ASSERT_EQ(photo->response->body()->size(), 1u);
    auto image = std::dynamic_pointer_cast<PellixResponseImage>(photo->response->body()->front());
    ASSERT_TRUE(image && image->image());

    // An image answered with 404 is still a success.
    standIn_->rule(R"({"path":"/v1/caller/photo","status":404,"body":"raw","raw_base64":"iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAAAAAA6fptVAAAACklEQVR4nGNgAAAAAgABSK+kcQAAAABJRU5ErkJggg==","content_type":"image/png"})");
    Outcome notFound = send(std::make_shared<PhotoParam>());
    ASSERT_TRUE(notFound.response) << (notFound.error ? notFound.error->errorCode() : 0);
    EXPECT_EQ(notFound.response->code(), 200);
}

}  // namespace
}  // namespace pellix
