// Decrypting platform answers: vectors encrypted by the openssl tool
// (aes-256-cbc -nopad) under the device key, plain JSON fall-back, padding
// bytes, foreign devices, content types and error statuses.
#include <gtest/gtest.h>

#include "CommonMethod/PellixCommonTypes.h"
#include "PellixDataManager/PellixNetServer/DataService/PXJSONResponseSerializer.h"
#include "PipelineFixture.h"
#include "platform/Crypto.h"
#include "platform/HTTPURLResponse.h"

namespace pellix {
namespace {

using platform::Bytes;
using platform::ErrorPtr;
using test::hexOf;
using test::shellOutput;

constexpr const char* kDevice = "6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E5F";

// Base64 of AES-256-CBC(plain) by the openssl tool, key and IV as the SDK's
// ASCII texts; the plain text must already be a whole number of blocks.
std::string opensslEncrypt(const std::string& plain, const std::string& device) {
    test::TempDir dir;
    test::writeFile(dir.file("plain"), plain);
    const std::string key = PellixCommonTypes::md5Crypt16WithString(device);
    return shellOutput("openssl enc -aes-256-cbc -nopad -K " + hexOf(key) + " -iv " +
                       hexOf(PXJSONResponseSerializer::kResponseIV) + " -in " + dir.file("plain") + " | base64 -w0");
}

std::string padded(std::string s, char pad) {
    do {
        s.push_back(pad);
    } while (s.size() % 16 != 0);
    return s;
}

TVResponse answer(int status, const std::string& type = "application/json; charset=utf-8") {
    return std::make_shared<platform::HTTPURLResponse>(platform::URL::parse("https://127.0.0.1/x").value(), status,
                                                       "HTTP/1.1",
                                                       platform::HTTPURLResponse::HeaderFields{{"Content-Type", type}});
}

TVResponseData body(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(SdkPipelineDecryption, ParsesEveryReadableBodyAndNothingElse) {
    PXJSONResponseSerializer serializer(kDevice);
    const std::string envelope = R"({"code":200,"message":"请求成功","data":{"k":"v"}})";
    struct Case {
        const char* name;
        std::string body;
        bool parses;
    } cases[] = {
        {"NUL padding", opensslEncrypt(padded(envelope, '\0'), kDevice), true},
        {"plain JSON", envelope, true},
        {"another device's key", opensslEncrypt(padded(envelope, '\0'), "00000000-0000-4000-8000-0000000000FF"), false},
        {"empty", "", false},
        {"one space", " ", false},
        {"not JSON, not cipher text", "<html>not a platform answer</html>", false},
    };
    for (const Case& c : cases) {
        ErrorPtr error;
        auto object = serializer.responseObject(answer(200), body(c.body), &error);
        EXPECT_EQ(object.value() != nullptr, c.parses) << c.name;
        if (c.parses) {
            EXPECT_EQ(test::text(*object.value(), "message"), "请求成功") << c.name;
            EXPECT_EQ(test::text(test::member(*object.value(), "data"), "k"), "v") << c.name;
        }
        if (std::string(c.name) == "empty" || std::string(c.name) == "one space") {
            EXPECT_FALSE(error) << c.name;
        }
    }
}

TEST(SdkPipelineDecryption, BackspacePaddingIsDropped) {
    // A 48-byte envelope padded with a whole block of 0x08.
    const std::string envelope = R"({"code":200,"message":"ok","data":{"k":"vvvvv"}})";
    ASSERT_EQ(envelope.size() % 16, 0u) << envelope.size();
    PXJSONResponseSerializer serializer(kDevice);
    auto object = serializer.responseObject(answer(200), body(opensslEncrypt(envelope + std::string(16, '\x08'), kDevice)),
                                            nullptr);
    ASSERT_TRUE(object.value());
    EXPECT_EQ(test::text(test::member(*object.value(), "data"), "k"), "vvvvv");
}

TEST(SdkPipelineDecryption, StatusAndContentType) {
    PXJSONResponseSerializer serializer(kDevice);
    const std::string cipher = opensslEncrypt(padded(R"({"code":500,"message":"x"})", '\0'), kDevice);

    // An error status still decrypts and parses; the status error stays.
    ErrorPtr error;
    auto object = serializer.responseObject(answer(500), body(cipher), &error);
    ASSERT_TRUE(object.value());
    EXPECT_EQ(test::text(*object.value(), "message"), "x");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), kTVURLErrorBadServerResponse);

    // text/plain is refused whatever the status.
    for (int status : {200, 500}) {
        ErrorPtr refused;
        EXPECT_TRUE(serializer.responseObject(answer(status, "text/plain"), body(cipher), &refused).isNil());
        ASSERT_TRUE(refused);
        EXPECT_TRUE(TVErrorOrUnderlyingErrorHasCodeInDomain(refused, kTVURLErrorCannotDecodeContentData,
                                                            TVURLResponseSerializationErrorDomain));
    }

    // Text that decrypts but does not parse: the parse error, the status
    // error underneath.
    ErrorPtr parseError;
    const std::string broken = opensslEncrypt(padded(R"({"code":)", '\0'), kDevice);
    EXPECT_TRUE(serializer.responseObject(answer(500), body(broken), &parseError).isNil());
    ASSERT_TRUE(parseError);
    EXPECT_NE(parseError->code(), kTVURLErrorBadServerResponse);
    ASSERT_TRUE(parseError->underlying());
    EXPECT_EQ(parseError->underlying()->code(), kTVURLErrorBadServerResponse);
}

// The serializer's own decoding pass answers as the SDK's general AES helper
// does, for clean, noisy, padded and broken Base64 alike.
TEST(SdkPipelineDecryption, DecryptMatchesTheGeneralHelper) {
    PXJSONResponseSerializer serializer(kDevice);
    const std::string cipher = opensslEncrypt(padded(R"({"code":200,"message":"\u00e9"})", '\0'), kDevice);
    const std::string noisy = cipher.substr(0, 10) + "\n\t*" + cipher.substr(10, 20) + " \xff" + cipher.substr(30);
    const std::string inputs[] = {
        cipher, noisy, cipher.substr(0, cipher.size() - 1), cipher + "A", cipher + "=A", "", "====", "QQ", "QUI=",
        "QUJD", "A", "{\"code\":200}", opensslEncrypt(padded("\xc3", '\0'), kDevice),
        opensslEncrypt(std::string(15, '\x08') + "x", kDevice),
    };
    for (const std::string& in : inputs) {
        EXPECT_EQ(serializer.decrypt(in),
                  PellixCommonTypes::AES128DecryptWithString(in, serializer.key(), PXJSONResponseSerializer::kResponseIV))
            << in;
    }
    EXPECT_EQ(serializer.decrypt(noisy).value_or(""), R"({"code":200,"message":"\u00e9"})");
}

// Padding bytes and malformed UTF-8 at every offset of the eight-byte words
// the serializer scans in, and runs of padding crossing them: the same
// answers as the general helper, with exactly the padding bytes gone.
TEST(SdkPipelineDecryption, PaddingAndMalformedTextAtEveryOffset) {
    PXJSONResponseSerializer serializer(kDevice);
    using namespace std::string_literals;
    struct Insert {
        std::string bytes;
        bool utf8;
    } inserts[] = {{"\0"s, true}, {"\b"s, true}, {"\0\b\0\0\b\0\0\0\b"s, true}, {"\xe4\xb8\xad"s, true},
                   {"\xff"s, false}, {"\xe4\xb8"s, false}};
    for (const Insert& in : inserts) {
        for (std::size_t at = 0; at <= 24; ++at) {
            const std::string text = std::string(at, 'a') + in.bytes + std::string(30, 'z');
            const std::string sent = padded(text, '\0');
            const auto cipher =
                platform::crypto::aesEncrypt(platform::crypto::CipherMode::CBC, platform::crypto::Padding::None,
                                             serializer.key(), PXJSONResponseSerializer::kResponseIV, Bytes(sent.begin(), sent.end()));
            ASSERT_TRUE(cipher);
            const std::string base64 = platform::crypto::base64Encode(*cipher);
            const auto plain = serializer.decrypt(base64);
            SCOPED_TRACE(testing::Message() << hexOf(in.bytes) << " at " << at);
            EXPECT_EQ(plain, PellixCommonTypes::AES128DecryptWithString(base64, serializer.key(),
                                                                        PXJSONResponseSerializer::kResponseIV));
            ASSERT_EQ(plain.has_value(), in.utf8);
            std::string expected = text;
            std::erase_if(expected, [](char c) { return c == '\0' || c == '\b'; });
            if (plain) {
                EXPECT_EQ(*plain, expected);
            }
        }
    }
}

TEST(SdkPipelineDecryption, KeyComesFromTheDeviceUUID) {
    test::TempDir home;
    platform::Paths::setHomeDirectory(home.path());
    PXJSONResponseSerializer serializer;
    EXPECT_EQ(serializer.key(), PellixCommonTypes::md5Crypt16WithString(PellixProxyInfo::sharedInstance()->deviceUUID()));
    EXPECT_EQ(std::static_pointer_cast<PXJSONResponseSerializer>(serializer.copy())->key(), serializer.key());
}

}  // namespace
}  // namespace pellix
