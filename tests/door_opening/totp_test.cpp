// One-time passwords: the RFC 4226 and RFC 6238 vectors, oathtool as an
// independent implementation over random secrets and times, and the door PIN.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <sstream>

#include "TOTP/PXTOTPGenerator.h"
#include "TOTP/PellixTOTPOpenDoor.h"
#include "platform/Clock.h"
#include "support/Hex.h"
#include "platform/Log.h"
#include "platform/ManualClock.h"
#include "platform_dispatch/ManualClockFixture.h"

namespace pellix {
namespace {

platform::Bytes bytesOf(const std::string& s) { return platform::Bytes(s.begin(), s.end()); }

// The lines a shell command printed; empty when it failed.
std::vector<std::string> linesOf(const std::string& command) {
    std::vector<std::string> lines;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return lines;
    char line[256];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        lines.push_back(s);
    }
    return lines;
}

TEST(OTPGenerator, RFC4226AppendixD) {
    PXOTPGenerator hotp(bytesOf("12345678901234567890"), kOTPGeneratorSHA1Algorithm, 6);
    const char* expected[] = {"755224", "287082", "359152", "969429", "338314",
                              "254676", "287922", "162583", "399871", "520489"};
    for (std::uint64_t c = 0; c < 10; ++c) EXPECT_EQ(hotp.generateOTPForCounter(c), expected[c]) << c;
    // The base class has no counter of its own.
    EXPECT_EQ(hotp.generateOTP(), std::nullopt);
}

TEST(OTPGenerator, RFC6238AppendixB) {
    const std::string sha1 = "12345678901234567890";
    const std::string sha256 = "12345678901234567890123456789012";
    const std::string sha512 = "1234567890123456789012345678901234567890123456789012345678901234";
    struct Case {
        double t;
        const char *s1, *s256, *s512;
    };
    for (const auto& k : {Case{59, "94287082", "46119246", "90693936"},
                          Case{1111111109, "07081804", "68084774", "25091201"},
                          Case{1111111111, "14050471", "67062674", "99943326"},
                          Case{1234567890, "89005924", "91819424", "93441116"},
                          Case{2000000000, "69279037", "90698825", "38618901"},
                          Case{20000000000, "65353130", "77737706", "47863826"}}) {
        PXTOTPGenerator g1(bytesOf(sha1), kOTPGeneratorSHA1Algorithm, 8, PXTOTPGenerator::defaultPeriod());
        PXTOTPGenerator g256(bytesOf(sha256), kOTPGeneratorSHA256Algorithm, 8, 30);
        PXTOTPGenerator g512(bytesOf(sha512), kOTPGeneratorSHA512Algorithm, 8, 30);
        EXPECT_EQ(g1.generateOTPForDate(k.t), k.s1) << k.t;
        EXPECT_EQ(g256.generateOTPForDate(k.t), k.s256) << k.t;
        EXPECT_EQ(g512.generateOTPForDate(k.t), k.s512) << k.t;
    }
}

// Random secrets, algorithms, digit counts, periods and times against
// oathtool; each call compares ten consecutive windows.
TEST(OTPGenerator, AgreesWithOathtool) {
    if (linesOf("oathtool --version").empty()) GTEST_SKIP() << "oathtool is not installed";
    std::mt19937_64 rng(20261210);
    const char* algorithms[] = {kOTPGeneratorSHA1Algorithm, kOTPGeneratorSHA256Algorithm,
                                kOTPGeneratorSHA512Algorithm};
    const char* oathNames[] = {"sha1", "sha256", "sha512"};
    for (int round = 0; round < 40; ++round) {
        platform::Bytes secret(1 + rng() % 64);
        for (auto& b : secret) b = static_cast<std::uint8_t>(rng());
        int a = static_cast<int>(rng() % 3);
        std::uint64_t digits = 6 + rng() % 3;
        int period = static_cast<int>(1 + rng() % 600);
        std::int64_t t = static_cast<std::int64_t>(rng() % 4000000000ull);
        std::ostringstream cmd;
        cmd << "oathtool --totp=" << oathNames[a] << " -d " << digits << " -s " << period << " -N @" << t
            << " -w 9 " << test::hexText(secret);
        auto expected = linesOf(cmd.str());
        ASSERT_EQ(expected.size(), 10u) << cmd.str();
        PXTOTPGenerator g(secret, algorithms[a], digits, period);
        for (int w = 0; w < 10; ++w)
            EXPECT_EQ(g.generateOTPForDate(static_cast<double>(t + w * period)), expected[w])
                << cmd.str() << " window " << w;
    }
}

TEST(OTPGenerator, ArgumentsOutsideTheTable) {
    std::vector<std::string> lines;
    platform::Log::setSink([&](std::string_view l) { lines.emplace_back(l); });
    // Digits within 1..8 still work, with their own width; 0 and 9 are nil
    // instead of dividing by zero or reading past the modulus table.
    PXOTPGenerator four(bytesOf("12345678901234567890"), kOTPGeneratorSHA1Algorithm, 4);
    EXPECT_EQ(four.generateOTPForCounter(0), "5224");
    EXPECT_EQ(PXOTPGenerator(bytesOf("k"), "SHA1", 0).generateOTPForCounter(1), std::nullopt);
    PXOTPGenerator nine(bytesOf("k"), "SHA1", 9);
    EXPECT_EQ(nine.generateOTPForCounter(1), std::nullopt);
    EXPECT_EQ(PXOTPGenerator(bytesOf("k"), "SHA3", 6).generateOTPForCounter(1), std::nullopt);
    // Zero and out-of-range periods are not kept: nil instead of a division by zero.
    for (double period : {0.0, -30.0, 10000001.0}) {
        PXTOTPGenerator g(bytesOf("k"), "SHA1", 6, period);
        EXPECT_EQ(g.period(), 0) << period;
        EXPECT_EQ(g.generateOTPForDate(1700000000.0), std::nullopt) << period;
    }
    EXPECT_EQ(PXTOTPGenerator(bytesOf("k"), "SHA1", 6, 10000000).period(), 10000000);
    EXPECT_EQ(PXTOTPGenerator(bytesOf("k"), "SHA1", 6, 30).generateOTPForDate(-1.0), std::nullopt);
    // An 8-digit SHA-256 password has 8 characters.
    EXPECT_EQ(PXTOTPGenerator(bytesOf("k"), kOTPGeneratorSHA256Algorithm, 8, 30).generateOTPForDate(59.0)->size(), 8u);
    platform::Log::setSink(nullptr);
    // Bad arguments are logged at creation (4, 0, 9 digits, unknown algorithm,
    // and the three periods' generators are fine: 6 digits, known algorithm).
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("Bad args digits(min 6, max 8): 4 secret: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("algorithm: SHA1"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[2].rfind("Bad args digits(min 6, max 8): 9 ", 0), 0u) << lines[2];
    EXPECT_NE(lines[3].find("algorithm: SHA3"), std::string::npos) << lines[3];
    EXPECT_EQ(lines.size(), 4u);
}

TEST(OTPGenerator, MD5NeverReadsPastItsDigest) {
    // A 16-byte digest whose last nibble is 13..15 has no 4 bytes at that
    // offset; across many counters those give nil and the rest 6 digits.
    PXOTPGenerator md5(bytesOf("12345678901234567890"), kOTPGeneratorSHAMD5Algorithm, 6);
    int nil = 0, some = 0;
    for (std::uint64_t c = 0; c < 400; ++c) {
        auto p = md5.generateOTPForCounter(c);
        if (!p) {
            ++nil;
            continue;
        }
        ++some;
        EXPECT_EQ(p->size(), 6u);
    }
    EXPECT_GT(nil, 0);
    EXPECT_GT(some, nil);
}

using DoorPin = test::ManualClockTest;

TEST_F(DoorPin, WindowsAndSecondsLeft) {
    PellixTOTPOpenDoor door;
    EXPECT_EQ(door.updateTime(), 0);
    struct Case {
        double now;
        std::int64_t left;
    };
    std::optional<std::string> firstPin;
    // 1,700,000,000 mod 360 = 80; 1,699,999,920 starts the same window.
    for (const auto& k : {Case{1700000000.7, 280}, Case{1699999920, 360}, Case{1700000279, 1}}) {
        clock->setWallTime(k.now);
        std::optional<std::string> pin;
        std::int64_t left = -1;
        door.generateWithDoorDynamicKey(std::string("door-key-1"), [&](const auto& p, std::int64_t s) {
            pin = p;
            left = s;
        });
        EXPECT_EQ(left, k.left) << k.now;
        ASSERT_TRUE(pin);
        EXPECT_EQ(pin->size(), 5u);
        if (!firstPin) firstPin = pin;
        EXPECT_EQ(pin, firstPin) << "same window, same PIN";
        EXPECT_EQ(door.pinValue(), pin);
        EXPECT_EQ(door.dynamicKey(), "door-key-1");
    }
    // One second after the window: the next counter, the window's full length.
    clock->setWallTime(1700000280);
    std::optional<std::string> next;
    std::int64_t left = 0;
    door.generateWithDoorDynamicKey(std::string("door-key-1"), [&](const auto& p, std::int64_t s) {
        next = p;
        left = s;
    });
    EXPECT_EQ(left, 360);
    EXPECT_EQ(next, door.generatePinWithKey("door-key-1", 1700000280)->substr(1));
    EXPECT_NE(next, firstPin);

    // No key: (nil, 0) and nothing changes; an empty key still gives a PIN.
    bool called = false;
    door.generateWithDoorDynamicKey(std::nullopt, [&](const auto& p, std::int64_t s) {
        called = true;
        EXPECT_EQ(p, std::nullopt);
        EXPECT_EQ(s, 0);
    });
    EXPECT_TRUE(called);
    EXPECT_EQ(door.dynamicKey(), "door-key-1");
    door.generateWithDoorDynamicKey(std::string(), nullptr);
    EXPECT_EQ(door.pinValue()->size(), 5u);
}

// The PIN equals oathtool's 6-digit, 360 s TOTP keyed by the Base32 text of
// the door key, without its first digit; leading zeros are kept.
TEST_F(DoorPin, AgreesWithOathtoolOnTheBase32Key) {
    if (linesOf("oathtool --version").empty()) GTEST_SKIP() << "oathtool is not installed";
    std::mt19937_64 rng(7);
    PellixTOTPOpenDoor door;
    for (int round = 0; round < 30; ++round) {
        std::string key;
        for (std::size_t i = 0, n = rng() % 24; i < n; ++i) key += static_cast<char>('!' + rng() % 94);
        key += "门";  // UTF-8 bytes, not characters, are encoded
        std::int64_t t = 1600000000 + static_cast<std::int64_t>(rng() % 200000000);
        // The HMAC key: Base32 of the key's bytes; its length is 8 * ceil(n / 5).
        std::string base32Hex;
        {
            std::string octal;
            char esc[6];
            for (unsigned char c : key) {
                std::snprintf(esc, sizeof esc, "\\%03o", c);
                octal += esc;
            }
            auto lines = linesOf("printf '" + octal + "' | base32 -w0 | od -An -tx1 -v | tr -d ' \\n'");
            ASSERT_EQ(lines.size(), 1u);
            base32Hex = lines[0];
        }
        EXPECT_EQ(base32Hex.size() / 2, 8 * ((key.size() + 4) / 5));
        std::ostringstream cmd;
        cmd << "oathtool --totp -d 6 -s 360 -N @" << t << " " << base32Hex;
        auto expected = linesOf(cmd.str());
        ASSERT_EQ(expected.size(), 1u) << cmd.str();
        EXPECT_EQ(door.generatePinWithKey(key, t), expected[0]) << key;
        clock->setWallTime(static_cast<double>(t));
        door.generateWithDoorDynamicKey(key, nullptr);
        EXPECT_EQ(door.pinValue(), expected[0].substr(1)) << key;
    }
    // The trimming setter keeps any other length as given.
    door.setPinValue(std::string("0123456"));
    EXPECT_EQ(door.pinValue(), "0123456");
    // A password with leading zeros keeps the zeros that remain.
    door.setPinValue(std::string("001234"));
    EXPECT_EQ(door.pinValue(), "01234");
}

}  // namespace
}  // namespace pellix
