// Digests, encodings, query strings, validation and text helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDictionary+HOS.h"
#include "HOSSDK/NSString+HOS.h"
#include "platform/Crypto.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

platform::Bytes bytesOf(std::string_view s) { return platform::Bytes(s.begin(), s.end()); }

TEST(HOSUtilDigest, KnownValues) {
    struct {
        std::string input, md5, sha1;
    } cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"The quick brown fox jumps over the lazy dog", "9E107D9D372BB6826BD81D3542A419D6",
         "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"},
    };
    for (const auto& c : cases) {
        const platform::Bytes data = bytesOf(c.input);
        EXPECT_EQ(HOSUtil::dataMD5String(data), c.md5);
        EXPECT_EQ(HOSUtil::sha1WithString(c.input), c.sha1);
        EXPECT_EQ(HOSUtil::sha1WithData(data), c.sha1);
        // Content-MD5: Base64 of the raw digest, 24 characters ending "==".
        const std::string b64 = HOSUtil::base64Md5ForData(data);
        EXPECT_EQ(b64.size(), 24u);
        EXPECT_EQ(b64.substr(22), "==");
        EXPECT_EQ(platform::crypto::hex(*platform::crypto::base64Decode(b64)), [&] {
            std::string lower = c.md5;
            for (char& ch : lower) ch = static_cast<char>(std::tolower(ch));
            return lower;
        }());
    }
    EXPECT_EQ(HOSUtil::base64Md5ForData(platform::Bytes{}), "1B2M2Y8AsgTpgAmY7PhCfg==");
    EXPECT_FALSE(HOSUtil::sha1WithDigest(nullptr).has_value());
    // RFC 2202-style HMAC-SHA1 vector.
    EXPECT_EQ(HOSUtil::calBase64Sha1WithData("The quick brown fox jumps over the lazy dog", "key"),
              "3nybhbi3iqa8ino29wqQcBydtNk=");
    EXPECT_EQ(HOSUtil::calBase64Sha1WithData("", "").size(), 28u);
}

TEST(HOSUtilDigest, FilesMatchDataAndMissingFilesGiveNothing) {
    test::TempDir dir;
    std::mt19937 rng(3);
    std::string content(8192 * 3 + 17, '\0');  // crosses chunk boundaries
    for (char& c : content) c = static_cast<char>(rng());
    test::writeFile(dir.file("blob"), content);
    const platform::Bytes data = bytesOf(content);

    EXPECT_EQ(HOSUtil::fileMD5(dir.file("blob")), HOSUtil::dataMD5(data));
    EXPECT_EQ(HOSUtil::fileMD5String(dir.file("blob")), HOSUtil::dataMD5String(data));
    EXPECT_EQ(HOSUtil::base64Md5ForFilePath(dir.file("blob")), HOSUtil::base64Md5ForData(data));
    EXPECT_EQ(HOSUtil::base64Md5ForFileURL(platform::URL::fileURL(dir.file("blob"))), HOSUtil::base64Md5ForData(data));
    EXPECT_EQ(HOSUtil::sha1WithFilePath(dir.file("blob")), HOSUtil::sha1WithData(data));

    test::writeFile(dir.file("empty"), "");
    EXPECT_EQ(HOSUtil::fileMD5String(dir.file("empty")), "D41D8CD98F00B204E9800998ECF8427E");

    for (const std::string& bad : {dir.file("missing"), dir.path()}) {  // absent, and a directory
        EXPECT_FALSE(HOSUtil::fileMD5(bad).has_value()) << bad;
        EXPECT_FALSE(HOSUtil::fileMD5String(bad).has_value());
        EXPECT_FALSE(HOSUtil::base64Md5ForFilePath(bad).has_value());
        EXPECT_FALSE(HOSUtil::sha1WithFilePath(bad).has_value());
    }
}

TEST(HOSUtilBase64, FixedAndLineBrokenForms) {
    std::uint8_t twenty[20];
    for (int i = 0; i < 20; ++i) twenty[i] = static_cast<std::uint8_t>(i * 13);
    const std::string b = HOSUtil::calBase64WithData(twenty);
    EXPECT_EQ(b.size(), 28u);
    EXPECT_EQ(b.back(), '=');
    EXPECT_NE(b[26], '=');

    EXPECT_FALSE(HOSUtil::base64ForData(nullptr, 3).has_value());
    EXPECT_FALSE(HOSUtil::base64ForData(twenty, -1).has_value());
    EXPECT_EQ(HOSUtil::base64ForData(twenty, 0), "");
    std::vector<std::uint8_t> data(100, 0xAB);
    // 48 bytes make exactly 64 characters: no break yet.
    EXPECT_EQ(HOSUtil::base64ForData(data.data(), 48)->find('\r'), std::string::npos);
    const std::string broken = *HOSUtil::base64ForData(data.data(), 100);  // 136 characters
    EXPECT_EQ(broken.size(), 136u + 2 * 2);
    EXPECT_EQ(broken.substr(64, 2), "\r\n");
    EXPECT_EQ(broken.substr(130, 2), "\r\n");
    std::string flat = broken;
    std::erase(flat, '\r');
    std::erase(flat, '\n');
    EXPECT_EQ(flat, platform::crypto::base64Encode(platform::crypto::ByteView(data.data(), 100)));
}

TEST(HOSUtilURL, EncodeURL) {
    struct {
        std::string in, out;
    } cases[] = {
        {"a b*c/d~e", "a%20b%2Ac/d~e"},
        {"\xC3\xA9", "%C3%A9"},
        {"+", "%2B"},
        {"", ""},
        {"AZaz09.-_", "AZaz09.-_"},
        {"%2F", "%252F"},  // an encoded slash in the input stays encoded
        {"?&=#", "%3F%26%3D%23"},
        {std::string("ab\0cd", 5), "ab"},
    };
    for (const auto& c : cases) EXPECT_EQ(HOSUtil::encodeURL(c.in), c.out) << c.in;
}

TEST(HOSUtilURL, SubresourceAndQueryStrings) {
    platform::Dictionary params{{"uploadId", "x"}, {"partNumber", "2"}, {"foo", "1"}, {"acl", ""}};
    EXPECT_EQ(HOSUtil::populateSubresourceStringFromParameter(params), "acl&partNumber=2&uploadId=x");
    EXPECT_EQ(HOSUtil::populateSubresourceStringFromParameter({{"foo", "1"}, {"Acl", "x"}}), "");
    EXPECT_EQ(HOSUtil::populateSubresourceStringFromParameter({{" uploads ", " \n"}, {"x-hos-process", "image/resize"}}),
              "uploads&x-hos-process=image/resize");
    EXPECT_TRUE(HOSUtil::isSubresource("response-content-encoding"));
    EXPECT_FALSE(HOSUtil::isSubresource("ACL"));

    EXPECT_EQ(HOSUtil::populateQueryStringFromParameter({{"a b", "c d"}}), "a%20b=c%20d");
    EXPECT_EQ(HOSUtil::populateQueryStringFromParameter({{"z", "1"}, {"empty", ""}, {"a", "x/y"}}),
              "z=1&empty&a=x/y");
    EXPECT_EQ(HOSUtil::populateQueryStringFromParameter({}), "");
}

TEST(HOSUtilValidation, BucketNames) {
    for (const char* ok : {"abc", "ABC", "a-b_c", "0bucket", "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabc"})
        EXPECT_TRUE(HOSUtil::validateBucketName(std::string(ok))) << ok;
    for (const char* bad : {"ab", "-abc", "_abc", "ab.c", "abc\n", "abc def", "b\xC3\xA9\x63",
                            "abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcd"})
        EXPECT_FALSE(HOSUtil::validateBucketName(std::string(bad))) << bad;
    EXPECT_FALSE(HOSUtil::validateBucketName(std::nullopt));
}

TEST(HOSUtilValidation, ObjectKeys) {
    EXPECT_TRUE(HOSUtil::validateObjectKey(std::string("a")));
    EXPECT_TRUE(HOSUtil::validateObjectKey(std::string(1023, 'k')));
    EXPECT_TRUE(HOSUtil::validateObjectKey(std::string("dir/\xE5\x9B\xBE\xE7\x89\x87.jpg")));
    // 1021 CJK characters (one UTF-16 unit each) and an emoji (two units).
    std::string cjk;
    for (int i = 0; i < 1021; ++i) cjk += "\xE5\x9B\xBE";
    EXPECT_TRUE(HOSUtil::validateObjectKey(cjk + "\xF0\x9F\x98\x80"));       // 1023 units
    EXPECT_FALSE(HOSUtil::validateObjectKey(cjk + "\xF0\x9F\x98\x80" + "x"));  // 1024 units
    for (const std::string& bad : {std::string(), std::string("/a"), std::string("\\a"), std::string(1024, 'k'),
                                   std::string("bad\xFF"), std::string("\xC0\xAF")})
        EXPECT_FALSE(HOSUtil::validateObjectKey(bad)) << bad;
    EXPECT_FALSE(HOSUtil::validateObjectKey(std::nullopt));
    // Dot segments would be resolved on the way and name another object;
    // dots inside a segment are ordinary characters.
    for (const char* dotted : {".", "..", "a/../victim", "../victim", "a/./b", "a/..", "a/.", "./a", "a//../b"})
        EXPECT_FALSE(HOSUtil::validateObjectKey(std::string(dotted))) << dotted;
    for (const char* plain : {"...", "a/..b", "a/b..", ".hidden/x", "a/.b/c", "a..b", "a/.../b"})
        EXPECT_TRUE(HOSUtil::validateObjectKey(std::string(plain))) << plain;
}

TEST(HOSUtilText, TrimJoinAndBodies) {
    EXPECT_EQ(hos_trim(" \t\r\n a b \n"), "a b");
    EXPECT_EQ(hos_trim("\xE3\x80\x80x\xC2\xA0"), "x");  // ideographic and no-break spaces
    EXPECT_EQ(hos_trim("\xE5\x9B\xBE"), "\xE5\x9B\xBE");
    EXPECT_FALSE(hos_isNotEmpty(std::optional<std::string>()));
    EXPECT_FALSE(hos_isNotEmpty(std::optional<std::string>(" \n")));
    EXPECT_TRUE(hos_isNotEmpty(std::optional<std::string>(" x")));

    EXPECT_EQ(hos_stringByAppendingPathComponentForURL("a/", "b"), "a/b");
    EXPECT_EQ(hos_stringByAppendingPathComponentForURL("a", "b"), "a/b");
    EXPECT_EQ(hos_stringByAppendingPathComponentForURL("a", "/b"), "a//b");

    auto text = [](const platform::Bytes& b) { return std::string(b.begin(), b.end()); };
    EXPECT_EQ(text(HOSUtil::constructHttpBodyForTriggerCallback(std::string(), std::string())),
              "x-hos-process=trigger/callback,callback_,callback-var_");
    EXPECT_EQ(text(HOSUtil::constructHttpBodyForTriggerCallback(std::string("Y2I="), std::nullopt)),
              "x-hos-process=trigger/callback,callback_Y2I=,callback-var_");
}

TEST(HOSUtilText, Base64Json) {
    EXPECT_EQ(base64JsonString({}), "e30=");
    auto decoded = [](const std::string& b64) {
        auto bytes = platform::crypto::base64Decode(b64);
        return std::string(bytes->begin(), bytes->end());
    };
    EXPECT_EQ(decoded(base64JsonString({{"callbackUrl", "http://a.example/cb"}, {"n", 1}})),
              R"({"callbackUrl":"http://a.example/cb","n":1})");
    // A literal backslash before a slash survives.
    EXPECT_EQ(decoded(base64JsonString({{"p", "a\\/b"}})), R"({"p":"a\\/b"})");
    // Not writable as JSON (a non-finite number): the empty object.
    EXPECT_EQ(base64JsonString({{"x", std::numeric_limits<double>::infinity()}}), "e30=");
}

TEST(HOSUtilHost, OriginHostsAndProxy) {
    EXPECT_TRUE(HOSUtil::isHosOriginBucketHost("bucket.HOS.halvane.com"));
    EXPECT_TRUE(HOSUtil::isHosOriginBucketHost("b.cn-east.hos-internal.halvane.com"));
    EXPECT_FALSE(HOSUtil::isHosOriginBucketHost("hos.halvane.com.evil.example"));
    EXPECT_FALSE(HOSUtil::isHosOriginBucketHost("127.0.0.1"));

    for (const char* v : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) unsetenv(v);
    EXPECT_FALSE(HOSUtil::isNetworkDelegateState());
    setenv("https_proxy", "http://127.0.0.1:3128", 1);
    EXPECT_TRUE(HOSUtil::isNetworkDelegateState());
    setenv("no_proxy", "localhost,.halvane.com", 1);
    EXPECT_FALSE(HOSUtil::isNetworkDelegateState());
    unsetenv("no_proxy");
    setenv("https_proxy", "http://127.0.0.1", 1);  // no port named
    EXPECT_FALSE(HOSUtil::isNetworkDelegateState());
    unsetenv("https_proxy");
    setenv("ALL_PROXY", "127.0.0.1:1080", 1);
    EXPECT_TRUE(HOSUtil::isNetworkDelegateState());
    unsetenv("ALL_PROXY");
    EXPECT_EQ(HOSUtil::buildOperatorMsg(), "[operator]: Unknown");
}

TEST(HOSUtilFiles, HomeRelativePathsAndFreeSpace) {
    test::TempDir home;
    platform::Paths::setHomeDirectory(home.path());
    EXPECT_EQ(HOSUtil::getRelativePath(home.path() + "/Documents/a.txt"), "/Documents/a.txt");
    EXPECT_EQ(HOSUtil::getRelativePath("/elsewhere/a.txt"), "/elsewhere/a.txt");
    EXPECT_TRUE(HOSUtil::hasPhoneFreeSpace());
    EXPECT_EQ(hos_documentDirectory(), platform::Paths::documentsDirectory());
    platform::Paths::setHomeDirectory("");
}

}  // namespace
}  // namespace pellix

namespace pellix {
namespace {

TEST(HOSUtilSign, SignsWithTheTokensKeys) {
    struct Token {
        std::optional<std::string> access, secret;
        const std::optional<std::string>& tAccessKey() const { return access; }
        const std::optional<std::string>& tSecretKey() const { return secret; }
    };
    const std::string text = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(HOSUtil::sign(text, Token{"AK", "key"}), "HOS AK:3nybhbi3iqa8ino29wqQcBydtNk=");
    EXPECT_EQ(HOSUtil::sign(text, Token{std::nullopt, "key"}), "HOS (null):3nybhbi3iqa8ino29wqQcBydtNk=");
    struct PlainToken {
        std::string tAccessKey() const { return "AK"; }
        std::string tSecretKey() const { return "key"; }
    };
    EXPECT_EQ(HOSUtil::sign(text, PlainToken{}), "HOS AK:3nybhbi3iqa8ino29wqQcBydtNk=");
}

}  // namespace
}  // namespace pellix
