// PellixTOTPOpenDoor: the door PIN a resident types at a door unit, computed
// from the door's dynamic key and the current time with no network traffic.
//
// The PIN is the last five digits of a 6-digit SHA-1 TOTP with a 360 s
// period whose HMAC key is the Base32 text of the door key's UTF-8 bytes
// (the door unit computes the same). Results are synchronous: the block runs
// before the call returns. Main thread (or one thread at a time).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Timer.h"

namespace pellix {

class PellixTOTPOpenDoor {
public:
    using Result = std::function<void(const std::optional<std::string>& pin, std::int64_t secondsLeft)>;

    static constexpr std::int64_t kPinPeriod = 360;

    PellixTOTPOpenDoor() = default;
    PellixTOTPOpenDoor(const PellixTOTPOpenDoor&) = delete;
    PellixTOTPOpenDoor& operator=(const PellixTOTPOpenDoor&) = delete;

    // (nil, 0) for an absent key; otherwise the 5-digit PIN for now and the
    // seconds it stays valid (1..360). An empty key still gives a PIN.
    void generateWithDoorDynamicKey(const std::optional<std::string>& key, const Result& result);
    // The 6-digit password for the 360 s window holding `timestamp` (Unix
    // seconds); nil only for a time before 1970.
    std::optional<std::string> generatePinWithKey(const std::string& key, std::int64_t timestamp) const;

    std::int64_t updateTime() const { return updateTime_; }
    void setUpdateTime(std::int64_t t) { updateTime_ = t; }
    const std::optional<std::string>& pinValue() const { return pinValue_; }
    // Keeps a text of exactly 6 characters without its first one (the door
    // PIN has five digits); any other text as given.
    void setPinValue(std::optional<std::string> pin);
    const std::optional<std::string>& dynamicKey() const { return dynamicKey_; }
    void setDynamicKey(std::optional<std::string> key) { dynamicKey_ = std::move(key); }
    // Held for the host; the operations above do not use it.
    const std::shared_ptr<platform::Timer>& timer() const { return timer_; }
    void setTimer(std::shared_ptr<platform::Timer> timer) { timer_ = std::move(timer); }

private:
    std::int64_t updateTime_ = 0;
    std::optional<std::string> pinValue_;
    std::optional<std::string> dynamicKey_;
    std::shared_ptr<platform::Timer> timer_;
};

}  // namespace pellix
