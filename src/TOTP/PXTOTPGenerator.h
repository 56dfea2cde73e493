// PXTOTPGenerator: time-based one-time passwords (RFC 6238): the counter is
// the whole number of periods since 1970.
//
// The period is kept only when 0 < period <= 10,000,000 seconds; otherwise it
// stays 0 and every password is nil (a zero period would divide by zero).
// Dates before 1970 also give nil. Time comes from the process clock
// (platform::Clock). Threads: as PXOTPGenerator.
#pragma once

#include "TOTP/PXOTPGenerator.h"

namespace pellix {

class PXTOTPGenerator : public PXOTPGenerator {
public:
    PXTOTPGenerator(std::optional<platform::Bytes> secret, std::optional<std::string> algorithm,
                    std::uint64_t digits, double period);

    static double defaultPeriod() { return 30; }
    double period() const { return period_; }

    // `secondsSince1970` nullopt: now.
    std::optional<std::string> generateOTPForDate(std::optional<double> secondsSince1970) const;
    std::optional<std::string> generateOTP() override;

private:
    double period_ = 0;
};

}  // namespace pellix
