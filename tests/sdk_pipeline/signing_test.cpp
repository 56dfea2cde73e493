// Signing and request building: the signature over trimmed, sorted
// parameters (checked against coreutils' base64 and sha1sum), what goes on
// the wire (checked in the stand-in's request log), URL joins, and the
// method and response-type fall-backs.
#include <gtest/gtest.h>

#include "PellixDataManager/PellixDataManagerPrivate.h"
#include "PellixDataManager/PellixNetServer/DataService/PXJSONResponseSerializer.h"
#include "PellixDataManager/PellixNetServer/DataService/PellixDataService.h"
#include "PipelineFixture.h"
#include "TVNetworking/TVImageResponseSerializer.h"
#include "TVNetworking/TVXMLParserResponseSerializer.h"

namespace pellix {
namespace {

using platform::Dictionary;
using platform::Value;
using test::hexOf;
using test::shellOutput;

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// SHA-1 hex of Base64(text) + key, by coreutils.
std::string referenceSign(const std::string& text, const std::string& key) {
    std::string b64 = shellOutput("printf '%s' " + quoted(text) + " | base64 -w0");
    std::string sha = shellOutput("printf '%s' " + quoted(b64 + key) + " | sha1sum");
    return sha.substr(0, 40);
}

// A record whose hooks answer whatever the test sets.
class ProbeParam : public PellixBaseRequestParam {
public:
    std::optional<std::string> path;
    std::uint64_t method = kMethodGET;
    std::uint64_t responseType = kResponseJSON;
    Dictionary params;
    std::optional<std::string> buildRequestPath() const override { return path; }
    std::uint64_t buildRequestMethod() const override { return method; }
    std::uint64_t buildResponseType() const override { return responseType; }
    Dictionary buildRequestParam() const override { return params; }
};

TEST(SdkPipelineSigning, SignsTrimmedSortedTextWithNilKeyWhenNoToken) {
    test::TempDir home;
    platform::Paths::setHomeDirectory(home.path());
    test::resetSdkSession();
    Dictionary own{{"b", Value(" x ")}, {"a", Value(std::int64_t(1))}};
    Dictionary merged = PellixDataService::handleParametersSHA1(Value(own));
    const std::string stamp = test::text(Value(merged), "timestamp");
    ASSERT_FALSE(stamp.empty());
    EXPECT_EQ(stamp.find('.'), std::string::npos);
    EXPECT_FALSE(merged.contains("token"));
    EXPECT_FALSE(merged.contains("open_id"));
    EXPECT_EQ(test::text(Value(merged), "sign"), referenceSign("a=1&b=x&timestamp=" + stamp, "(null)"));
    merged.erase("sign");
    EXPECT_EQ(PellixDataService::signatureText(merged), "a=1&b=x&timestamp=" + stamp);
    // Sent untrimmed.
    EXPECT_EQ(test::text(Value(merged), "b"), " x ");
}

TEST(SdkPipelineSigning, TextEdgeCases) {
    test::TempDir home;
    platform::Paths::setHomeDirectory(home.path());
    test::resetSdkSession();
    struct Case {
        Dictionary params;
        std::string text;
    } cases[] = {
        // The record's own time stamp wins and is what gets signed.
        {{{"timestamp", Value("42")}}, "timestamp=42"},
        // Untrimmed keys sort; " a" comes first and is signed as "a".
        {{{"a", Value("2")}, {" a", Value("1")}, {"timestamp", Value("7")}}, "a=1&a=2&timestamp=7"},
        // Line breaks, tabs and wide spaces trimmed from both ends, inner ones kept.
        {{{"k\n", Value("\t v w\u3000")}, {"timestamp", Value("7")}}, "k=v w&timestamp=7"},
        // Numbers and flags in their text form.
        {{{"n", Value(2.5)}, {"f", Value(true)}, {"timestamp", Value("7")}}, "f=1&n=2.5&timestamp=7"},
    };
    for (const Case& c : cases) {
        Dictionary merged = PellixDataService::_commonParametersHandle(Value(c.params));
        EXPECT_EQ(PellixDataService::signatureText(merged), c.text);
    }
    // A non-dictionary adds nothing to the common parameters.
    EXPECT_EQ(PellixDataService::_commonParametersHandle(Value("x")).size(), 1u);
    EXPECT_EQ(PellixDataService::signature("timestamp=7", std::string("k")), referenceSign("timestamp=7", "k"));
}

TEST(SdkPipelineSigning, URLJoinsAndSerializerChoice) {
    EXPECT_EQ(PellixDataService::requestURL("https://h:1", std::string("/sdk/v2/token")), "https://h:1/sdk/v2/token");
    EXPECT_EQ(PellixDataService::requestURL("https://h:1", std::string("v1/call")), "https://h:1/v1/call");
    EXPECT_EQ(PellixDataService::requestURL("https://h:1", std::nullopt), "https://h:1");

    test::TempDir home;
    platform::Paths::setHomeDirectory(home.path());
    test::resetSdkSession();
    auto json = PellixDataService::reponseSerializerWithType(0);
    EXPECT_TRUE(std::dynamic_pointer_cast<PXJSONResponseSerializer>(json));
    EXPECT_TRUE(std::dynamic_pointer_cast<TVXMLParserResponseSerializer>(PellixDataService::reponseSerializerWithType(1)));
    EXPECT_TRUE(std::dynamic_pointer_cast<TVImageResponseSerializer>(PellixDataService::reponseSerializerWithType(2)));
    EXPECT_TRUE(std::dynamic_pointer_cast<PXJSONResponseSerializer>(PellixDataService::reponseSerializerWithType(9)));
    ASSERT_TRUE(json->acceptableStatusCodes());
    EXPECT_EQ(json->acceptableStatusCodes()->size(), 600u);
    EXPECT_EQ(*json->acceptableStatusCodes()->begin(), 0);
    EXPECT_EQ(*json->acceptableStatusCodes()->rbegin(), 599);
}

class SdkPipelineWire : public test::PipelineTest {};

// What the platform sees: blanks kept on the wire, a signature it accepts,
// the header it expects, method 5 sent as GET, and a 404 envelope reaching
// the success path parsed (response type 9 read as JSON).
TEST_F(SdkPipelineWire, RequestAsTheStandInSeesIt) {
    auto param = std::make_shared<ProbeParam>();
    param->path = "/sdk/v2/token";
    param->method = 5;
    param->responseType = 9;
    param->params = Dictionary{{"appid", Value(" px-test-app-0001 ")}, {"secret", Value(kSecret)}};
    bool done = false;
    Value answer;
    PellixDataService::services()->getPellixSDKData(
        param,
        [&](const PellixDataService::Task&, const TVResponseObject& object) {
            if (object.value()) answer = *object.value();
            done = true;
        },
        [&](const PellixDataService::Task&, const platform::ErrorPtr& error) {
            ADD_FAILURE() << (error ? error->description() : "no error");
            done = true;
        });
    ASSERT_TRUE(pump([&] { return done; }));

    auto log = standIn_->requests("/sdk/v2/token");
    ASSERT_EQ(log.size(), 1u);
    const Value& entry = log[0];
    EXPECT_EQ(test::text(entry, "method"), "GET");
    EXPECT_EQ(test::text(entry, "sign_ok"), "1");
    EXPECT_EQ(test::text(entry, "header_ok"), "1");
    EXPECT_EQ(test::text(test::member(entry, "params"), "appid"), " px-test-app-0001 ");
    const Value& system = test::member(entry, "pellix_system");
    EXPECT_EQ(test::text(system, "device_guid"), PellixProxyInfo::sharedInstance()->deviceUUID());
    EXPECT_EQ(test::text(system, "sdk_version"), "1.3.0");
    // The platform knows no app " px-test-app-0001 ": its refusal is parsed.
    EXPECT_TRUE(answer.isDictionary());
    EXPECT_NE(test::text(answer, "code"), "<missing>");

    // A path the platform lacks: 404 with an (encrypted) envelope, success path.
    param->path = "/sdkapi/v9/nowhere";
    param->method = PellixBaseRequestParam::kMethodPOST;
    done = false;
    answer = Value();
    PellixDataService::services()->getPellixSDKData(
        param,
        [&](const PellixDataService::Task& task, const TVResponseObject& object) {
            EXPECT_EQ(task->response()->statusCode(), 404);
            if (object.value()) answer = *object.value();
            done = true;
        },
        [&](const PellixDataService::Task&, const platform::ErrorPtr&) {
            ADD_FAILURE() << "404 went to the failure block";
            done = true;
        });
    ASSERT_TRUE(pump([&] { return done; }));
    EXPECT_EQ(test::text(answer, "code"), "404");
    EXPECT_EQ(test::text(answer, "message"), "接口不存在");
}

// A record with no parameters of its own still carries a time stamp and a
// signature; form bodies carry POST parameters.
TEST_F(SdkPipelineWire, BareRecordAndFormBody) {
    auto param = std::make_shared<ProbeParam>();
    param->path = "/sdkapi/v1/user/user_quit";
    param->method = PellixBaseRequestParam::kMethodPOST;
    bool done = false;
    PellixDataService::services()->getPellixSDKData(
        param, [&](const PellixDataService::Task&, const TVResponseObject&) { done = true; },
        [&](const PellixDataService::Task&, const platform::ErrorPtr&) { done = true; });
    ASSERT_TRUE(pump([&] { return done; }));
    auto log = standIn_->requests("/sdkapi/v1/user/user_quit");
    ASSERT_EQ(log.size(), 1u);
    const Value& form = test::member(log[0], "form");
    EXPECT_TRUE(form.isDictionary());
    EXPECT_NE(test::text(form, "timestamp"), "<missing>");
    EXPECT_NE(test::text(form, "sign"), "<missing>");
}

// The key a token brings decides how every later request is signed: a key
// that decrypts to "" is appended as "", and only a key that does not
// decrypt falls back to the nil text.
TEST_F(SdkPipelineWire, TokenSigningKeyDecidesTheSignature) {
    const std::string emptyKey =
        shellOutput(std::string("head -c 16 /dev/zero | openssl enc -aes-128-cbc -nopad -K ") +
                    hexOf(PellixDataManagerPrivate::kSignKeyAESKey) + " -iv " +
                    hexOf(PellixDataManagerPrivate::kSignKeyAESIV) + " | base64 -w0");
    ASSERT_FALSE(emptyKey.empty());
    const struct {
        const char* name;
        std::string signKey;
        std::optional<std::string> sign;
        std::string appended;
    } cases[] = {
        {"decrypts to the empty text", emptyKey, std::string(), ""},
        {"not a whole cipher block", "QUJD", std::nullopt, "(null)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        standIn_->rule(R"({"path":"/sdk/v2/token","data":{"token":"t-1","expires_in":"7200","sign_key":")" +
                       c.signKey + R"("}})");
        bool ok = false, done = false;
        PellixDataManagerPrivate::refreshhAccessTokenWithAppId(kAppId, kSecret, std::string("pkg"),
                                                               [&](bool s, const PellixErrorPtr&) {
                                                                   ok = s;
                                                                   done = true;
                                                               });
        ASSERT_TRUE(pump([&] { return done; }));
        ASSERT_TRUE(ok);
        auto token = PellixProxyInfo::sharedInstance()->token();
        ASSERT_TRUE(token);
        EXPECT_EQ(token->sign(), c.sign);

        Dictionary merged = PellixDataService::handleParametersSHA1(Value(Dictionary{{"a", Value("1")}}));
        const std::string sign = test::text(Value(merged), "sign");
        merged.erase("sign");
        EXPECT_EQ(sign, referenceSign(PellixDataService::signatureText(merged), c.appended));
    }
}

}  // namespace
}  // namespace pellix
