#include "TOTP/PXTOTPGenerator.h"

#include <cmath>

#include "platform/Clock.h"

namespace pellix {

PXTOTPGenerator::PXTOTPGenerator(std::optional<platform::Bytes> secret, std::optional<std::string> algorithm,
                                 std::uint64_t digits, double period)
    : PXOTPGenerator(std::move(secret), std::move(algorithm), digits) {
    if (period > 0 && period <= 10000000) period_ = period;
}

std::optional<std::string> PXTOTPGenerator::generateOTPForDate(std::optional<double> secondsSince1970) const {
    double seconds = secondsSince1970 ? *secondsSince1970 : platform::Clock::now();
    if (period_ <= 0 || !std::isfinite(seconds) || seconds < 0) return std::nullopt;
    double periods = std::trunc(seconds / period_);
    if (periods >= 18446744073709551616.0) return std::nullopt;
    return generateOTPForCounter(static_cast<std::uint64_t>(periods));
}

std::optional<std::string> PXTOTPGenerator::generateOTP() { return generateOTPForDate(std::nullopt); }

}  // namespace pellix
