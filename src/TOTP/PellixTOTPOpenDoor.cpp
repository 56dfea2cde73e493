#include "TOTP/PellixTOTPOpenDoor.h"

#include <cmath>

#include "CommonMethod/NSStringTools.h"
#include "TOTP/PXTOTPGenerator.h"
#include "platform/Clock.h"

namespace pellix {

namespace {

// Floor division, so a window always starts at or before the time.
std::int64_t floorMod(std::int64_t t, std::int64_t m) {
    std::int64_t r = t % m;
    return r < 0 ? r + m : r;
}

}  // namespace

void PellixTOTPOpenDoor::setPinValue(std::optional<std::string> pin) {
    if (pin && pin->size() == 6) pin->erase(0, 1);
    pinValue_ = std::move(pin);
}

std::optional<std::string> PellixTOTPOpenDoor::generatePinWithKey(const std::string& key,
                                                                  std::int64_t timestamp) const {
    std::int64_t windowStart = timestamp - floorMod(timestamp, kPinPeriod);
    std::string base32 = NSStringTools::base32String(key).value_or("");
    PXTOTPGenerator generator(platform::Bytes(base32.begin(), base32.end()), kOTPGeneratorSHA1Algorithm, 6,
                              static_cast<double>(kPinPeriod));
    return generator.generateOTPForDate(static_cast<double>(windowStart));
}

void PellixTOTPOpenDoor::generateWithDoorDynamicKey(const std::optional<std::string>& key, const Result& result) {
    if (!key) {
        if (result) result(std::nullopt, 0);
        return;
    }
    dynamicKey_ = key;
    auto t = static_cast<std::int64_t>(std::floor(platform::Clock::now()));
    std::int64_t secondsLeft = kPinPeriod - floorMod(t, kPinPeriod);
    setPinValue(generatePinWithKey(*dynamicKey_, t));
    if (result) result(pinValue_, secondsLeft);
}

}  // namespace pellix
