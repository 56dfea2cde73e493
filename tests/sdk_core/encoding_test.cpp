// Base64, Base32, hex and string helpers, checked against tables and against
// independent tools: Python's base64 and urllib, coreutils base32, openssl.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "CommonMethod/NSDataTools.h"
#include "CommonMethod/NSStringTools.h"
#include "CommonMethod/PXBase32Codec.h"
#include "CommonMethod/PellixBase64.h"
#include "PellixLog/PellixLog.h"
#include "platform/Log.h"
#include "sdk_core/SdkCoreTestUtil.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

using test::bytes;
using test::shell;
using test::text;
using test::trim;

TEST(PellixBase64, MatchesPythonOnRandomDataInBothAlphabets) {
    std::mt19937 rng(7);
    test::TempDir dir;
    std::vector<platform::Bytes> cases;
    std::string listing;
    for (std::size_t len = 1; len <= 70; ++len) {
        cases.push_back(test::randomBytes(rng, len));
        listing += test::toHex(cases.back()) + "\n";
    }
    test::writeFile(dir.file("in.txt"), listing);
    const std::string out = shell(
        "python3 -c 'import sys,base64\n"
        "for l in open(sys.argv[1]):\n"
        "  b=bytes.fromhex(l.strip())\n"
        "  print(base64.b64encode(b).decode(), base64.urlsafe_b64encode(b).decode())' " +
        dir.file("in.txt"));
    std::istringstream lines(out);
    for (const auto& data : cases) {
        std::string standard, webSafe;
        ASSERT_TRUE(lines >> standard >> webSafe);
        SCOPED_TRACE("length " + std::to_string(data.size()));
        EXPECT_EQ(PellixBase64::stringByEncodingData(data), standard);
        EXPECT_EQ(PellixBase64::stringByWebSafeEncodingData(data, true), webSafe);
        std::string unpadded = webSafe;
        while (!unpadded.empty() && unpadded.back() == '=') unpadded.pop_back();
        EXPECT_EQ(PellixBase64::stringByWebSafeEncodingData(data, false), unpadded);
        EXPECT_EQ(NSDataTools::px_base64EncodedString(data), standard);

        EXPECT_EQ(PellixBase64::decodeString(standard), data);
        EXPECT_EQ(PellixBase64::webSafeDecodeString(webSafe), data);
        EXPECT_EQ(PellixBase64::webSafeDecodeString(unpadded), data);
        EXPECT_EQ(NSDataTools::px_dataWithBase64EncodedString(standard), data);
    }
}

TEST(PellixBase64, OneByteFFInBothAlphabets) {
    const platform::Bytes ff{0xFF};
    EXPECT_EQ(PellixBase64::stringByEncodingData(ff), "/w==");
    EXPECT_EQ(PellixBase64::stringByWebSafeEncodingData(ff, false), "_w");
    EXPECT_EQ(PellixBase64::stringByWebSafeEncodingData(ff, true), "_w==");
}

TEST(PellixBase64, EmptyInputGivesNothing) {
    EXPECT_EQ(PellixBase64::encodeData({}), std::nullopt);
    EXPECT_EQ(PellixBase64::stringByEncodingBytes(nullptr, 0), std::nullopt);
    EXPECT_EQ(PellixBase64::decodeString(""), std::nullopt);
    EXPECT_EQ(PellixBase64::webSafeDecodeString(""), std::nullopt);
    EXPECT_EQ(NSDataTools::px_base64EncodedString({}), "");
}

struct DecodeCase {
    std::string input;
    std::optional<std::string> padded;    // decodeString (padding required)
    std::optional<std::string> webSafe;   // webSafeDecodeString (padding optional)
};

TEST(PellixBase64, DecoderRules) {
    const DecodeCase cases[] = {
        {"QUJD", "ABC", "ABC"},
        {"QQ==", "A", "A"},
        {"QUI=", "AB", "AB"},
        // whitespace anywhere, line breaks included
        {"QU\nJD\r\n RA ==", "ABCD", "ABCD"},
        {"\tQUJDRA==\n", "ABCD", "ABCD"},
        // six characters, no padding, no stray bits: optional padding only
        {"QUJDRA", std::nullopt, "ABCD"},
        {"QUJDREU", std::nullopt, "ABCDE"},
        // a lone sixth bit-group holds no byte
        {"QUJDR", std::nullopt, std::nullopt},
        // bits beyond the data in the last character
        {"QR==", std::nullopt, std::nullopt},
        {"QUJ=", std::nullopt, std::nullopt},
        {"QUJDRB", std::nullopt, std::nullopt},
        // "=" as the first or second character of a group, or after a full group
        {"=QUJ", std::nullopt, std::nullopt},
        {"Q=UJ", std::nullopt, std::nullopt},
        {"QUJD=", std::nullopt, std::nullopt},
        {"QUJD====", std::nullopt, std::nullopt},
        // the second "=" is owed; whitespace may sit between the two
        {"QQ=", std::nullopt, std::nullopt},
        {"QQ= ", std::nullopt, std::nullopt},
        {"QQ= \n=", "A", "A"},
        // after the padding only whitespace
        {"QQ== \n", "A", "A"},
        {"QQ==QQ==", std::nullopt, std::nullopt},
        {"QUI=x", std::nullopt, std::nullopt},
        // characters of the other alphabet, and outside both
        {"+/+/", "\xfb\xff\xbf", std::nullopt},
        {"-_-_", std::nullopt, "\xfb\xff\xbf"},
        {"QU*D", std::nullopt, std::nullopt},
        {"QU.D", std::nullopt, std::nullopt},
        // non-ASCII text is refused by the string forms
        {"QUJD\xc3\xa9", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("input \"" + c.input + "\"");
        auto padded = PellixBase64::decodeString(c.input);
        auto webSafe = PellixBase64::webSafeDecodeString(c.input);
        EXPECT_EQ(padded ? std::optional(text(*padded)) : std::nullopt, c.padded);
        EXPECT_EQ(webSafe ? std::optional(text(*webSafe)) : std::nullopt, c.webSafe);
    }
}

TEST(PellixBase64, NulEndsTheInputAndHighWhitespaceIsSkipped) {
    const std::string withNul("QUJD\0QUJD", 9);
    EXPECT_EQ(PellixBase64::decodeBytes(withNul.data(), withNul.size()), bytes("ABC"));
    // 0xA0 and 0xFF count as whitespace for the byte forms.
    const std::string highSpace = "QU\xa0JD\xff";
    EXPECT_EQ(PellixBase64::decodeBytes(highSpace.data(), highSpace.size()), bytes("ABC"));
}

TEST(PellixBase64, RawCodersRespectTheRoomGiven) {
    const std::uint8_t src[] = {'A', 'B', 'C', 'D'};
    char out[8];
    EXPECT_EQ(PellixBase64::baseEncode(src, 4, out, 7, PellixBase64::kBase64EncodeChars, true), 0u);
    EXPECT_EQ(PellixBase64::baseEncode(src, 4, out, 8, PellixBase64::kBase64EncodeChars, true), 8u);
    EXPECT_EQ(std::string(out, 8), "QUJDRA==");
    std::uint8_t dec[4] = {};
    EXPECT_EQ(PellixBase64::baseDecode(out, 8, dec, 3, PellixBase64::kBase64DecodeChars, true), 0u);
    EXPECT_EQ(PellixBase64::baseDecode(out, 8, dec, 4, PellixBase64::kBase64DecodeChars, true), 4u);
    EXPECT_EQ(PellixBase64::baseDecode(nullptr, 8, dec, 4, PellixBase64::kBase64DecodeChars, true), 0u);
}

TEST(PXBase32Codec, MatchesCoreutilsBase32BothWays) {
    std::mt19937 rng(11);
    test::TempDir dir;
    for (std::size_t len : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 64, 301}) {
        SCOPED_TRACE("length " + std::to_string(len));
        const platform::Bytes data = test::randomBytes(rng, len);
        test::writeFile(dir.file("raw"), text(data));
        const std::string expected = trim(shell("base32 -w0 " + dir.file("raw")));
        const auto ours = PXBase32Codec::base32StringFromData(data);
        ASSERT_TRUE(ours);
        EXPECT_EQ(*ours, expected);
        test::writeFile(dir.file("enc"), *ours);
        EXPECT_EQ(shell("base32 -d " + dir.file("enc")), text(data));
        EXPECT_EQ(PXBase32Codec::dataFromBase32String(expected), data);
    }
}

TEST(PXBase32Codec, LenientDecoding) {
    const struct {
        std::string input;
        std::optional<std::string> output;
    } cases[] = {
        {"ME======", "a"},
        {"me======", "a"},       // either case
        {"ME", "a"},             // padding may be left off
        {"M-E", "a"},            // separators are skipped
        {"MFRG GZDF MZTW Q2LK", "abcdefghij"},
        {"mfrggzdfmztwq2lk", "abcdefghij"},
        {"", ""},
        {"========", ""},
        {"ME\xc3\xa9", std::nullopt},  // not ASCII
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        auto data = PXBase32Codec::dataFromBase32String(c.input);
        EXPECT_EQ(data ? std::optional(text(*data)) : std::nullopt, c.output);
    }
    EXPECT_EQ(NSStringTools::base32String("a"), "ME======");
    EXPECT_EQ(NSStringTools::stringFromBase32String("me======"), "a");
    EXPECT_EQ(NSDataTools::base32String(bytes("abcdefghij")), "MFRGGZDFMZTWQ2LK");
    EXPECT_EQ(NSDataTools::dataWithBase32String("MFRGGZDFMZTWQ2LK"), bytes("abcdefghij"));
}

TEST(NSStringTools, StringFromHexString) {
    const struct {
        std::string input;
        std::optional<std::string> output;
    } cases[] = {
        {"", ""},
        {"4", ""},          // fewer than two characters hold no byte
        {"414243", "ABC"},
        {"41424", "AB"},     // a final odd digit is ignored
        {"4a4B", "JK"},
        {"410042", "A"},     // the bytes are read up to the first NUL
        {"e4bda0e5a5bd", "你好"},
        {"ff41", std::nullopt},  // not UTF-8
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(NSStringTools::stringFromHexString(c.input), c.output);
    }
}

// The decoded text can be a door secret: it reaches the system log only
// while the SDK's log switch is on.
TEST(NSStringTools, StringFromHexStringLogsOnlyWithTheLogSwitchOn) {
    std::vector<std::string> lines;
    platform::Log::setSink([&](std::string_view line) { lines.emplace_back(line); });
    PellixLog::disableLog();
    EXPECT_EQ(NSStringTools::stringFromHexString("736563726574"), "secret");
    EXPECT_TRUE(lines.empty()) << lines.front();
    PellixLog::enableLog();
    EXPECT_EQ(NSStringTools::stringFromHexString("736563726574"), "secret");
    platform::Log::setSink({});
    EXPECT_EQ(lines, std::vector<std::string>{"------字符串=======secret"});
}

TEST(NSStringTools, PercentEncodingMatchesPythonQuote) {
    const std::vector<std::string> inputs = {
        "abc", "a b&c=d/e?f", "门禁 100%", "~!$'()*+,;:@_.-", "\"<>#[]{}|\\^`", "tab\tnewline\n", "é€😀",
    };
    test::TempDir dir;
    std::string listing;
    for (const auto& s : inputs) listing += test::toHex(s) + "\n";
    test::writeFile(dir.file("in.txt"), listing);
    const std::string out = shell(
        "python3 -c 'import sys,urllib.parse\n"
        "for l in open(sys.argv[1]):\n"
        "  print(urllib.parse.quote(bytes.fromhex(l.strip()), safe=\"!$&\\x27()*+,-./:;=?@_~\"))' " +
        dir.file("in.txt"));
    std::istringstream lines(out);
    for (const auto& s : inputs) {
        std::string expected;
        ASSERT_TRUE(std::getline(lines, expected));
        EXPECT_EQ(NSStringTools::px_utf8EncodingString(s), expected) << s;
    }
    EXPECT_EQ(NSStringTools::px_utf8EncodingString(""), std::nullopt);
}

TEST(NSStringTools, SHA1AndBase64MatchOpenSSLAndPython) {
    test::TempDir dir;
    for (const std::string s : {"", "abc", "appid=1&sign=x&timestamp=2", "门禁"}) {
        test::writeFile(dir.file("s"), s);
        const std::string dgst = trim(shell("openssl dgst -sha1 -r " + dir.file("s") + " | cut -d' ' -f1"));
        EXPECT_EQ(NSStringTools::px_SHA1(s), dgst) << s;
        const std::string b64 = trim(shell("python3 -c 'import sys,base64;print(base64.b64encode(open(sys.argv[1],\"rb\").read()).decode())' " + dir.file("s")));
        EXPECT_EQ(NSStringTools::px_base64EncodedString(s), b64);
        EXPECT_EQ(NSStringTools::px_stringWithBase64EncodedString(b64), s);
    }
    // Decoded bytes that are not UTF-8 make no string.
    EXPECT_EQ(NSStringTools::px_stringWithBase64EncodedString("/w=="), std::nullopt);
}

TEST(NSDataTools, ReaderToleratesMissingPaddingAndStrayCharacters) {
    EXPECT_EQ(NSDataTools::px_dataWithBase64EncodedString("QUJDRA"), bytes("ABCD"));
    EXPECT_EQ(NSDataTools::px_dataWithBase64EncodedString("QUJDRA=="), bytes("ABCD"));
    EXPECT_EQ(NSDataTools::px_dataWithBase64EncodedString(""), platform::Bytes());
    EXPECT_EQ(NSDataTools::px_dataWithBase64EncodedString("Q"), platform::Bytes());
    // A character outside the alphabet reads as "A" (value 0), never out of bounds.
    EXPECT_EQ(NSDataTools::px_dataWithBase64EncodedString("QU*D"), NSDataTools::px_dataWithBase64EncodedString("QUAD"));
    EXPECT_EQ(NSDataTools::px_dataWithBase64EncodedString("QUJD\xc3\xa9"), std::nullopt);
}

}  // namespace
}  // namespace pellix
