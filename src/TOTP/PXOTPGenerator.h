// PXOTPGenerator: HMAC-based one-time passwords (RFC 4226) over a secret,
// one of four HMAC digests and a digit count; PXTOTPGenerator
// (PXTOTPGenerator.h) adds the time-based form.
//
// Creation never fails: arguments outside what the generator supports
// (an algorithm not among the four names, digits outside 6..8, no secret)
// are logged once to the system log and the object is still made. Passwords
// are then nil where they cannot be computed: an unknown algorithm, or a
// digit count outside 1..8 (the modulus table ends at 10^8), or, for MD5,
// a truncation offset whose 4 bytes would lie past the 16-byte digest.
//
// Not thread-safe: one thread at a time per object (generation reads the
// properties the setters write).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Value.h"

namespace pellix {

inline constexpr const char* kOTPGeneratorSHA1Algorithm = "SHA1";
inline constexpr const char* kOTPGeneratorSHA256Algorithm = "SHA256";
inline constexpr const char* kOTPGeneratorSHA512Algorithm = "SHA512";
inline constexpr const char* kOTPGeneratorSHAMD5Algorithm = "MD5";

class PXOTPGenerator {
public:
    // "Bad args ..." is written to the system log when the arguments are
    // outside what the generator supports; the object is made regardless.
    PXOTPGenerator(std::optional<platform::Bytes> secret, std::optional<std::string> algorithm,
                   std::uint64_t digits);
    virtual ~PXOTPGenerator() = default;
    PXOTPGenerator(const PXOTPGenerator&) = delete;
    PXOTPGenerator& operator=(const PXOTPGenerator&) = delete;

    static std::string defaultAlgorithm() { return kOTPGeneratorSHA1Algorithm; }
    static std::uint64_t defaultDigits() { return 6; }

    const std::optional<std::string>& algorithm() const { return algorithm_; }
    void setAlgorithm(std::optional<std::string> algorithm) { algorithm_ = std::move(algorithm); }
    const std::optional<platform::Bytes>& secret() const { return secret_; }
    void setSecret(std::optional<platform::Bytes> secret) { secret_ = std::move(secret); }
    std::uint64_t digits() const { return digits_; }

    // The password for the counter, zero-padded to `digits` characters; nil
    // for an unknown algorithm or digits outside 1..8. An absent secret is
    // an empty HMAC key.
    std::optional<std::string> generateOTPForCounter(std::uint64_t counter) const;
    // This class has no counter of its own to count with: always nil. The
    // time-based generator answers for the current time.
    virtual std::optional<std::string> generateOTP();

private:
    std::optional<std::string> algorithm_;
    std::optional<platform::Bytes> secret_;
    std::uint64_t digits_;
};

}  // namespace pellix
