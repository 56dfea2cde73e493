#include "TOTP/PXOTPGenerator.h"

#include <array>
#include <cinttypes>
#include <cstdio>

#include "platform/Crypto.h"
#include "platform/Log.h"

namespace pellix {

namespace {

// 10^n for n digits; entry 0 is 0 as the password table has always had it.
constexpr std::array<std::uint64_t, 9> kPinModTable = {0, 10, 100, 1000, 10000, 100000, 1000000, 10000000,
                                                       100000000};

std::optional<platform::crypto::Digest> digestFor(const std::optional<std::string>& algorithm) {
    using platform::crypto::Digest;
    if (!algorithm) return std::nullopt;
    if (*algorithm == kOTPGeneratorSHA1Algorithm) return Digest::SHA1;
    if (*algorithm == kOTPGeneratorSHA256Algorithm) return Digest::SHA256;
    if (*algorithm == kOTPGeneratorSHA512Algorithm) return Digest::SHA512;
    if (*algorithm == kOTPGeneratorSHAMD5Algorithm) return Digest::MD5;
    return std::nullopt;
}

}  // namespace

PXOTPGenerator::PXOTPGenerator(std::optional<platform::Bytes> secret, std::optional<std::string> algorithm,
                               std::uint64_t digits)
    : algorithm_(std::move(algorithm)), secret_(std::move(secret)), digits_(digits) {
    if (!digestFor(algorithm_) || digits_ > 8 || digits_ < 6 || !secret_) {
        std::string secretText = secret_ ? platform::Value(*secret_).description() : "(null)";
        platform::Log::writef("Bad args digits(min 6, max 8): %ld secret: %s algorithm: %s",
                              static_cast<long>(digits_), secretText.c_str(),
                              algorithm_ ? algorithm_->c_str() : "(null)");
    }
}

std::optional<std::string> PXOTPGenerator::generateOTPForCounter(std::uint64_t counter) const {
    auto digest = digestFor(algorithm_);
    // Digits beyond the table would read past it, and 0 would divide by zero.
    if (!digest || digits_ < 1 || digits_ >= kPinModTable.size()) return std::nullopt;
    std::array<std::uint8_t, 8> message{};
    for (int i = 7; i >= 0; --i, counter >>= 8) message[static_cast<std::size_t>(i)] = counter & 0xff;
    static const platform::Bytes kNoKey;
    const platform::Bytes& key = secret_ ? *secret_ : kNoKey;
    auto mac = platform::crypto::hmac(*digest, platform::crypto::ByteView(key.data(), key.size()),
                                      platform::crypto::ByteView(message.data(), message.size()));
    if (!mac || mac->empty()) return std::nullopt;
    std::size_t offset = mac->back() & 0x0f;
    // A 16-byte MD5 digest has no 4 bytes at offsets 13-15: no password there
    // rather than bytes read past the digest.
    if (offset + 4 > mac->size()) return std::nullopt;
    std::uint32_t truncated = (static_cast<std::uint32_t>((*mac)[offset] & 0x7f) << 24) |
                              (static_cast<std::uint32_t>((*mac)[offset + 1]) << 16) |
                              (static_cast<std::uint32_t>((*mac)[offset + 2]) << 8) |
                              static_cast<std::uint32_t>((*mac)[offset + 3]);
    auto value = truncated % kPinModTable[digits_];
    char text[16];
    std::snprintf(text, sizeof text, "%0*" PRIu64, static_cast<int>(digits_), value);
    return std::string(text);
}

std::optional<std::string> PXOTPGenerator::generateOTP() { return std::nullopt; }

}  // namespace pellix
