#include <gtest/gtest.h>

#include <string>

#include "platform/Crypto.h"

using namespace pellix::platform;
using namespace pellix::platform::crypto;

namespace {

Bytes unhex(std::string_view h) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

}  // namespace

TEST(Crypto, DigestKnownAnswers) {
    // RFC 1321 appendix A.5 and FIPS 180-2 appendix examples.
    struct Case {
        Digest digest;
        std::string input;
        const char* hex;
    } cases[] = {
        {Digest::MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {Digest::MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {Digest::MD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {Digest::MD5, "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {Digest::SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {Digest::SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {Digest::SHA1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {Digest::SHA1, repeat('a', 1000000), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {Digest::SHA256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {Digest::SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Digest::SHA256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Digest::SHA256, repeat('a', 1000000), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 20));
        auto one = hash(c.digest, c.input);
        ASSERT_TRUE(one);
        EXPECT_EQ(hex(*one), c.hex);
        EXPECT_EQ(one->size(), digestLength(c.digest));
        // Incremental in uneven pieces gives the same digest.
        Hasher h(c.digest);
        for (std::size_t i = 0, step = 1; i < c.input.size(); i += step, step = step * 3 + 1)
            ASSERT_TRUE(h.update(std::string_view(c.input).substr(i, step)));
        auto inc = h.finish();
        ASSERT_TRUE(inc);
        EXPECT_EQ(hex(*inc), c.hex);
        // A finished hasher is spent.
        EXPECT_FALSE(h.update("more"));
        EXPECT_FALSE(h.finish());
    }
    EXPECT_EQ(hex(md5("abc").value()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(sha1("abc").value()), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex(sha256(Bytes{'a', 'b', 'c'}).value()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Crypto, HmacKnownAnswers) {
    // RFC 2202 (MD5, SHA-1) and RFC 4231 (SHA-256, SHA-512) test cases 1, 2, 3 and 6.
    const std::string big = "Test Using Larger Than Block-Size Key - Hash Key First";
    struct Case {
        Digest digest;
        Bytes key;
        std::string data;
        const char* hex;
    } cases[] = {
        {Digest::MD5, Bytes(16, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {Digest::MD5, unhex("4a656665"), "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {Digest::MD5, Bytes(16, 0xaa), repeat('\xdd', 50), "56be34521d144c88dbb8c733f0e8b3f6"},
        {Digest::MD5, Bytes(80, 0xaa), big, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {Digest::SHA1, Bytes(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {Digest::SHA1, unhex("4a656665"), "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {Digest::SHA1, Bytes(20, 0xaa), repeat('\xdd', 50), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {Digest::SHA1, Bytes(80, 0xaa), big, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {Digest::SHA256, Bytes(20, 0x0b), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {Digest::SHA256, unhex("4a656665"), "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {Digest::SHA256, Bytes(20, 0xaa), repeat('\xdd', 50),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {Digest::SHA256, Bytes(131, 0xaa), big, "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {Digest::SHA512, Bytes(20, 0x0b), "Hi There",
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1"
         "702e696c203a126854"},
        {Digest::SHA512, unhex("4a656665"), "what do ya want for nothing?",
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b"
         "4b636e070a38bce737"},
        {Digest::SHA512, Bytes(131, 0xaa), big,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0a"
         "ec8b915a985d786598"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        auto mac = hmac(c.digest, c.key, c.data);
        ASSERT_TRUE(mac);
        EXPECT_EQ(hex(*mac), c.hex);
    }
    // An empty key is a valid HMAC key (RFC 2104 pads it with zeros).
    auto empty = hmac(Digest::SHA256, ByteView(), "");
    ASSERT_TRUE(empty);
    EXPECT_EQ(hex(*empty), "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

TEST(Crypto, AesKnownAnswersFromSP800_38A) {
    const std::string iv = "000102030405060708090a0b0c0d0e0f";
    const std::string plain =
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
    const std::string k128 = "2b7e151628aed2a6abf7158809cf4f3c";
    const std::string k256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
    struct Case {
        const char* name;
        CipherMode mode;
        std::string key;
        const char* cipher;
    } cases[] = {
        {"F.2.1 CBC-AES128", CipherMode::CBC, k128,
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {"F.2.5 CBC-AES256", CipherMode::CBC, k256,
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
        {"F.3.13 CFB128-AES128", CipherMode::CFB128, k128,
         "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
         "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
        {"F.3.17 CFB128-AES256", CipherMode::CFB128, k256,
         "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
         "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto enc = aesEncrypt(c.mode, Padding::None, unhex(c.key), unhex(iv), unhex(plain));
        ASSERT_TRUE(enc);
        EXPECT_EQ(hex(*enc), c.cipher);
        auto dec = aesDecrypt(c.mode, Padding::None, unhex(c.key), unhex(iv), unhex(c.cipher));
        ASSERT_TRUE(dec);
        EXPECT_EQ(hex(*dec), plain);
        // The same four blocks decrypted over themselves: each block's cipher
        // text is still needed to undo the next one.
        Bytes inPlace = unhex(c.cipher);
        ASSERT_TRUE(aesDecryptInPlace(c.mode, unhex(c.key), unhex(iv), inPlace));
        EXPECT_EQ(hex(inPlace), plain);
    }
    // CFB128 is a stream mode: 15 bytes in, the first 15 bytes of the vector out.
    Bytes plainBytes = unhex(plain);
    auto part = aesEncrypt(CipherMode::CFB128, Padding::None, unhex(k128), unhex(iv),
                           ByteView(plainBytes.data(), 15));
    ASSERT_TRUE(part);
    EXPECT_EQ(hex(*part), "3b3fd92eb72dad20333449f8e83cfb");
}

TEST(Crypto, AesPkcs7PadsWholeBlockAndChecksPaddingOnDecrypt) {
    Bytes key(16, 0x11), iv(16, 0x22);
    for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 100u}) {
        SCOPED_TRACE(n);
        Bytes data(n, 0x5a);
        auto enc = aesEncrypt(CipherMode::CBC, Padding::PKCS7, key, iv, data);
        ASSERT_TRUE(enc);
        EXPECT_EQ(enc->size(), (n / 16 + 1) * 16);
        auto dec = aesDecrypt(CipherMode::CBC, Padding::PKCS7, key, iv, *enc);
        ASSERT_TRUE(dec);
        EXPECT_EQ(*dec, data);
    }
    // Wrong key: padding check fails (with overwhelming likelihood) and nothing is handed out.
    auto enc = aesEncrypt(CipherMode::CBC, Padding::PKCS7, key, iv, Bytes(20, 1)).value();
    enc.back() ^= 0x01;
    Bytes lastFlipped = enc;
    int failures = 0;
    for (int i = 0; i < 8; ++i) {
        lastFlipped.back() = static_cast<std::uint8_t>(enc.back() + i * 37);
        if (!aesDecrypt(CipherMode::CBC, Padding::PKCS7, key, iv, lastFlipped)) ++failures;
    }
    EXPECT_GE(failures, 6);
    // An empty IV stands for sixteen zero bytes.
    EXPECT_EQ(aesEncrypt(CipherMode::CBC, Padding::None, key, ByteView(), Bytes(16, 3)),
              aesEncrypt(CipherMode::CBC, Padding::None, key, Bytes(16, 0), Bytes(16, 3)));
}

TEST(Crypto, AesRefusesBadParametersInsteadOfGuessing) {
    Bytes key16(16, 1), key32(32, 1), iv(16, 2), block(16, 3);
    struct Case {
        const char* name;
        CipherMode mode;
        Padding padding;
        Bytes key;
        Bytes iv;
        Bytes data;
        bool encrypt;
    } cases[] = {
        {"15-byte key", CipherMode::CBC, Padding::None, Bytes(15, 1), iv, block, true},
        {"24-byte key", CipherMode::CBC, Padding::None, Bytes(24, 1), iv, block, true},
        {"empty key", CipherMode::CFB128, Padding::None, Bytes(), iv, block, true},
        {"8-byte IV", CipherMode::CBC, Padding::None, key16, Bytes(8, 2), block, true},
        {"17-byte IV", CipherMode::CFB128, Padding::None, key32, Bytes(17, 2), block, false},
        {"partial block without padding", CipherMode::CBC, Padding::None, key16, iv, Bytes(17, 3), true},
        {"partial block to decrypt", CipherMode::CBC, Padding::PKCS7, key16, iv, Bytes(31, 3), false},
        {"empty input to unpad", CipherMode::CBC, Padding::PKCS7, key16, iv, Bytes(), false},
        {"PKCS7 on a stream mode", CipherMode::CFB128, Padding::PKCS7, key16, iv, block, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = c.encrypt ? aesEncrypt(c.mode, c.padding, c.key, c.iv, c.data)
                           : aesDecrypt(c.mode, c.padding, c.key, c.iv, c.data);
        EXPECT_FALSE(r);
        // In place, only the unpadded cases apply; they are refused alike.
        if (c.padding == Padding::None) {
            Bytes data = c.data;
            EXPECT_FALSE(aesDecryptInPlace(c.mode, c.key, c.iv, data));
        }
    }
}

TEST(Crypto, RandomBytesAreFreshEachTime) {
    auto a = randomBytes(32), b = randomBytes(32);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), 32u);
    EXPECT_NE(*a, *b);
    EXPECT_NE(*a, Bytes(32, 0));
    EXPECT_EQ(randomBytes(0).value(), Bytes());
}

TEST(Crypto, Base64RoundTripAndRfc4648Vectors) {
    struct Case {
        const char* plain;
        const char* encoded;
    } cases[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plain);
        EXPECT_EQ(base64Encode(c.plain), c.encoded);
        auto d = base64Decode(c.encoded);
        ASSERT_TRUE(d);
        EXPECT_EQ(std::string(d->begin(), d->end()), c.plain);
    }
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(base64Decode(base64Encode(all)).value(), all);
    EXPECT_EQ(base64Encode(Bytes{0xfb, 0xff}), "+/8=");
}

TEST(Crypto, Base64DecodingRules) {
    struct Case {
        const char* text;
        Base64Decoding rule;
        const char* expect;  // nullptr: refused
    } cases[] = {
        {"Zm9v", Base64Decoding::Strict, "foo"},
        {"Zm8", Base64Decoding::Strict, "fo"},  // padding left off entirely
        {"Zm8=", Base64Decoding::Strict, "fo"},
        {"Zm8==", Base64Decoding::Strict, nullptr},
        {"Zg=", Base64Decoding::Strict, nullptr},
        {"Z", Base64Decoding::Strict, nullptr},
        {"Zm9v\n", Base64Decoding::Strict, nullptr},
        {"Zm=9v", Base64Decoding::Strict, nullptr},
        {"Zh==", Base64Decoding::Strict, nullptr},  // stray bits after the last byte
        {"Zm-9v", Base64Decoding::Strict, nullptr},
        {"Zm9v\r\nYmFy", Base64Decoding::IgnoreUnknownCharacters, "foobar"},
        {" Zm 8= ", Base64Decoding::IgnoreUnknownCharacters, "fo"},
        {"Z!", Base64Decoding::IgnoreUnknownCharacters, nullptr},
        {"Zm8=Zm8=", Base64Decoding::IgnoreUnknownCharacters, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto d = base64Decode(c.text, c.rule);
        if (!c.expect) {
            EXPECT_FALSE(d);
        } else {
            ASSERT_TRUE(d);
            EXPECT_EQ(std::string(d->begin(), d->end()), c.expect);
        }
    }
}
