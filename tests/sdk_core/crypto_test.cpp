// PellixCommonTypes against openssl enc / dgst run by the test, and its
// refusals of keys, IVs and cipher texts that do not fit.
#include <gtest/gtest.h>

#include "CommonMethod/PellixCommonTypes.h"
#include "sdk_core/SdkCoreTestUtil.h"
#include "support/TestSupport.h"
#include "platform/Device.h"

namespace pellix {
namespace {

using test::bytes;
using test::shell;
using test::text;
using test::toHex;
using test::trim;

class CommonTypesCrypto : public ::testing::Test {
protected:
    // Runs `openssl enc <args>` over the bytes; the raw output.
    std::string opensslEnc(const std::string& args, const std::string& input) {
        test::writeFile(dir_.file("in"), input);
        return shell("openssl enc " + args + " -in " + dir_.file("in"));
    }
    std::string base64(const std::string& raw) {
        test::writeFile(dir_.file("raw"), raw);
        return trim(shell("openssl base64 -A -in " + dir_.file("raw")));
    }
    test::TempDir dir_;
};

TEST_F(CommonTypesCrypto, EncryptMatchesOpenSSLWithZeroPadding) {
    const std::string key = "0123456789abcdef", iv = "fedcba9876543210";
    for (const std::string plain : {"hello", "exactly16bytes!!", "门禁开门 door open request body", ""}) {
        SCOPED_TRACE(plain);
        std::string padded = plain;
        padded.append(16 - plain.size() % 16, '\0');
        const std::string expected =
            base64(opensslEnc("-aes-128-cbc -nopad -K " + toHex(key) + " -iv " + toHex(iv), padded));
        EXPECT_EQ(PellixCommonTypes::AES128EncryptWithString(plain, key, iv), expected);
        // and it reads back through the decryption, the zero bytes dropped
        EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(expected, key, iv), plain);
    }
    // A 16-byte text gains a whole zero block: 32 bytes, 44 Base64 characters.
    EXPECT_EQ(PellixCommonTypes::AES128EncryptWithString("exactly16bytes!!", key, iv)->size(), 44u);
    // Only the first 16 bytes of longer key and IV texts are used.
    EXPECT_EQ(PellixCommonTypes::AES128EncryptWithString("x", key + "tail", iv + "tail"),
              PellixCommonTypes::AES128EncryptWithString("x", key, iv));
}

TEST_F(CommonTypesCrypto, DecryptsOpenSSLCipherTextWithEitherKeySize) {
    const std::string iv = "a1b2c3d4e5f6g7h8";
    const std::string key256 = PellixCommonTypes::md5Crypt16WithString("DEVICE-UUID");  // 32 hex characters
    const std::string key128 = "1234567890123456";
    // The sender pads with backspaces or NULs; they vanish wherever they are.
    std::string plain = "{\"code\":200,\b\"a\":1}";
    plain.append(16 - plain.size() % 16, '\b');
    const std::string c256 = base64(opensslEnc("-aes-256-cbc -nopad -K " + toHex(key256) + " -iv " + toHex(iv), plain));
    const std::string c128 = base64(opensslEnc("-aes-128-cbc -nopad -K " + toHex(key128) + " -iv " + toHex(iv), plain));
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(c256, key256, iv), "{\"code\":200,\"a\":1}");
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(c128, key128, iv), "{\"code\":200,\"a\":1}");

    // Line breaks and other characters outside the alphabet are skipped.
    std::string wrapped = c256;
    wrapped.insert(10, "\r\n");
    wrapped.insert(30, "*");
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(wrapped, key256, iv), "{\"code\":200,\"a\":1}");

    // A short IV is filled up with zero bytes.
    const std::string shortIV = "abc";
    const std::string cShort = base64(
        opensslEnc("-aes-128-cbc -nopad -K " + toHex(key128) + " -iv " + toHex(shortIV) + std::string(26, '0'), plain));
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(cShort, key128, shortIV), "{\"code\":200,\"a\":1}");
}

TEST_F(CommonTypesCrypto, RefusesWhatTheCipherCannotTake) {
    const std::string key = "0123456789abcdef", iv = "fedcba9876543210";
    const std::string good = *PellixCommonTypes::AES128EncryptWithString("hello", key, iv);
    // key or IV shorter than 16 bytes: refused, never read past
    EXPECT_EQ(PellixCommonTypes::AES128EncryptWithString("hello", "short", iv), std::nullopt);
    EXPECT_EQ(PellixCommonTypes::AES128EncryptWithString("hello", key, "short"), std::nullopt);
    // decryption keys must be 16 or 32 bytes
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(good, "0123456789abcde", iv), std::nullopt);
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(good, "0123456789abcdef0123", iv), std::nullopt);
    // cipher text that is not whole blocks
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(base64(std::string(15, 'x')), key, iv), std::nullopt);
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(base64(std::string(17, 'x')), key, iv), std::nullopt);
    // plain text that is not UTF-8
    const std::string binary = base64(opensslEnc("-aes-128-cbc -nopad -K " + toHex(key) + " -iv " + toHex(iv),
                                                 std::string(16, '\xff')));
    EXPECT_EQ(PellixCommonTypes::AES128DecryptWithString(binary, key, iv), std::nullopt);
}

TEST_F(CommonTypesCrypto, CFBMatchesOpenSSLAndKeepsTheLength) {
    const std::string keyHex = "00112233445566778899aabbccddeeff";
    const std::string ivHex = "0f0e0d0c0b0a09080706050403020100";
    const platform::Bytes advert = bytes("BLE-OPEN-15byte");
    ASSERT_EQ(advert.size(), 15u);
    const std::string expected = opensslEnc("-aes-128-cfb -K " + keyHex + " -iv " + ivHex, text(advert));
    auto cipher = PellixCommonTypes::encryptDataAES128CFBNoPadding(advert, ivHex, keyHex);
    ASSERT_TRUE(cipher);
    EXPECT_EQ(text(*cipher), expected);
    EXPECT_EQ(PellixCommonTypes::decryptDataAES128CFBNoPadding(*cipher, ivHex, keyHex), advert);

    // An empty IV means none: sixteen zero bytes.
    const std::string zeroIV = opensslEnc("-aes-128-cfb -K " + keyHex + " -iv " + std::string(32, '0'), text(advert));
    EXPECT_EQ(text(*PellixCommonTypes::encryptDataAES128CFBNoPadding(advert, "", keyHex)), zeroIV);

    // Keys and IVs that do not fit are refused.
    EXPECT_EQ(PellixCommonTypes::encryptDataAES128CFBNoPadding(advert, ivHex, ""), std::nullopt);
    EXPECT_EQ(PellixCommonTypes::encryptDataAES128CFBNoPadding(advert, ivHex, "0011223344"), std::nullopt);
    EXPECT_EQ(PellixCommonTypes::encryptDataAES128CFBNoPadding(advert, "0f0e0d0c", keyHex), std::nullopt);
    EXPECT_EQ(PellixCommonTypes::commonOperation(PellixCommonTypes::kCCEncrypt, 1 /* ECB */,
                                                 PellixCommonTypes::kCCAlgorithmAES, PellixCommonTypes::ccNoPadding,
                                                 ivHex, keyHex, advert),
              std::nullopt);
    // CBC without padding over a partial block fails instead of dropping the tail.
    EXPECT_EQ(PellixCommonTypes::commonOperation(PellixCommonTypes::kCCEncrypt, PellixCommonTypes::kCCModeCBC,
                                                 PellixCommonTypes::kCCAlgorithmAES, PellixCommonTypes::ccNoPadding,
                                                 ivHex, keyHex, advert),
              std::nullopt);
}

TEST_F(CommonTypesCrypto, DigestsMatchOpenSSL) {
    for (const std::string s : {"", "abc", "token.data", "门禁"}) {
        test::writeFile(dir_.file("s"), s);
        EXPECT_EQ(PellixCommonTypes::md5Crypt16WithString(s),
                  trim(shell("openssl dgst -md5 -r " + dir_.file("s") + " | cut -d' ' -f1")));
    }
    // The archive file names.
    EXPECT_EQ(PellixCommonTypes::md5Crypt16WithString("token.data"), "bdceba2996b3e46e7c3eb1eca6fb06af");
    EXPECT_EQ(PellixCommonTypes::md5Crypt16WithString("userInfo.data"), "b0794b6f3dfd9a1fdf0704ca5fb364c2");
    EXPECT_EQ(PellixCommonTypes::md5Crypt16WithString("deviceInfo.data"), "fa416d623dc9a45d6796bd3e972b236c");
    // The text form stops at a NUL; the data form digests every byte.
    const std::string withNul("ab\0cd", 5);
    EXPECT_EQ(PellixCommonTypes::md5Crypt16WithString(withNul), PellixCommonTypes::md5Crypt16WithString("ab"));
    test::writeFile(dir_.file("nul"), withNul);
    EXPECT_EQ(PellixCommonTypes::md5Crypt16WithData(bytes(withNul)),
              trim(shell("openssl dgst -md5 -r " + dir_.file("nul") + " | cut -d' ' -f1")));
}

TEST(CommonTypes, HexAndBase64Conversions) {
    EXPECT_EQ(PellixCommonTypes::hexToData("abc"), platform::Bytes({0xab}));
    EXPECT_EQ(PellixCommonTypes::hexToData("ABcd01"), platform::Bytes({0xab, 0xcd, 0x01}));
    EXPECT_EQ(PellixCommonTypes::hexToData("a"), platform::Bytes());
    EXPECT_EQ(PellixCommonTypes::stringByEncodingData(bytes("ABCD")), "QUJDRA==");
    EXPECT_EQ(PellixCommonTypes::dataByDecodingString("QUJDRA=="), bytes("ABCD"));
    EXPECT_EQ(PellixCommonTypes::dataByDecodingString("QUJDRA"), std::nullopt);
}

TEST(CommonTypes, PlatformStringFromTheDeviceTable) {
    const std::string machine = trim(shell("uname -m"));
    const std::string byDefault = PellixCommonTypes::gainPlatformString();
    EXPECT_EQ(PellixCommonTypes::gainDeviceVersion(), machine);
    EXPECT_EQ(byDefault, machine == "x86_64" ? "iPhone Simulator" : machine);

    const struct {
        const char* code;
        const char* name;
    } cases[] = {
        {"iPhone1,1", "iPhone 1"},   {"iPhone6,2", "iPhone 5S"},   {"iPhone8,1", "iPhone6s"},
        {"iPhone8,4", "iPhoneSE"},   {"iPad2,5", "iPad Mini 1"},   {"iPad4,4", "iPad mini 2"},
        {"iPod5,1", "iPod Touch 5"}, {"x86_64", "iPhone Simulator"}, {"iPhone Simulator", "iPhone Simulator"},
        {"aarch64", "aarch64"},      {"iPhone10,3", "iPhone10,3"},
    };
    for (const auto& c : cases) {
        platform::Device::currentDevice().setModel(c.code);
        EXPECT_EQ(PellixCommonTypes::gainPlatformString(), c.name) << c.code;
    }
}

}  // namespace
}  // namespace pellix
