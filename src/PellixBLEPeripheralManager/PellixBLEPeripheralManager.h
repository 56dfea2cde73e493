// PellixBLEPeripheralManager: opens a door by advertising over Bluetooth Low
// Energy for a few seconds. The advertisement's local name carries,
// AES-128-CFB encrypted and Base64 encoded, the resident's phone number mixed
// with the department id, the current time and the department id.
//
// The host makes one with startBLEPeripheralObserver, waits for state 0
// (powered on), then asks for an advertisement; the result block hears 0
// once advertising has started, a negative code otherwise (see below), and
// the completion block runs when the advertisement's time is up. A newer
// request restarts advertising with a new payload; the time of an earlier
// one no longer stops it.
//
// State numbers: -1 unknown (also before the first update), -2 resetting,
// -3 unsupported, -4 unauthorized, -5 powered off, 0 powered on.
// Result codes: 0 started; -1 not powered on (state outside the table);
// -3..-7 for states -1..-5; -8 mobile, country code or department id
// missing; -2 the platform failed to start advertising.
//
// Threads: main thread only; every block runs on the main queue (argument
// and state answers at once, inside the call). Life: the host holds the
// object; once it is gone a pending stop does nothing, and the advertisement
// and service are withdrawn.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/BLEPeripheral.h"

namespace pellix {

class PellixBLEPeripheralManager : public std::enable_shared_from_this<PellixBLEPeripheralManager> {
public:
    using StateBlock = std::function<void(std::int64_t state)>;
    using ResultBlock = std::function<void(std::int64_t code)>;
    using CompleteBlock = std::function<void()>;

    static constexpr const char* kServiceUUID = "7CACEB8B-DFC4-4A40-A942-AAD653D174DC";
    // The door units' key, also used as IV.
    static constexpr const char* kPayloadKeyHex = "c41e7f03a9d25b8e60f1d4a7b3c9e502";
    static constexpr std::int64_t kAdvertisingFailedCode = -2;

    static std::shared_ptr<PellixBLEPeripheralManager> startBLEPeripheralObserver(StateBlock stateBlock);
    ~PellixBLEPeripheralManager();
    PellixBLEPeripheralManager(const PellixBLEPeripheralManager&) = delete;
    PellixBLEPeripheralManager& operator=(const PellixBLEPeripheralManager&) = delete;

    // `stateBlock` receives the result codes; `completeBlock` the end.
    void sendAdvertisingWithMobile(const std::optional<std::string>& mobile,
                                   const std::optional<std::string>& nationCode,
                                   const std::optional<std::string>& depID, double timeInterval,
                                   ResultBlock stateBlock, CompleteBlock completeBlock);
    // Withdraws the advertisement and the service; no block is called.
    void stopAdvertising();

    // The 28-character local name for these texts at `unixSeconds`.
    static std::string advertisingName(const std::string& mobile, const std::string& nationCode,
                                       const std::string& depID, std::int64_t unixSeconds);
    // State number for a platform state; result code for a state number.
    static std::int64_t stateNumber(platform::BLEPeripheral::State state);
    static std::int64_t resultCodeForState(std::int64_t stateNumber);

    std::int64_t bleState() const { return bleState_; }
    double advertisingTimeInterval() const { return advertisingTimeInterval_; }
    const std::optional<std::string>& mobile() const { return mobile_; }
    const std::optional<std::string>& nationCode() const { return nationCode_; }
    const std::optional<std::string>& depID() const { return depID_; }
    const std::shared_ptr<platform::BLEPeripheral>& manager() const { return manager_; }

    // The platform's callbacks (main queue).
    void peripheralManagerDidUpdateState(platform::BLEPeripheral::State state);
    void peripheralManagerDidAddService(const platform::ErrorPtr& error);
    void peripheralManagerDidStartAdvertising(const platform::ErrorPtr& error);

private:
    PellixBLEPeripheralManager() = default;

    std::shared_ptr<platform::BLEPeripheral> manager_;
    std::int64_t bleState_ = -1;
    StateBlock stateBlcok_;
    ResultBlock errBlcok_;
    CompleteBlock completeBlock_;
    std::optional<std::string> mobile_, nationCode_, depID_;
    double advertisingTimeInterval_ = 1.0;
    // Counts advertisements started; a stop task acts only for its own.
    std::uint64_t generation_ = 0;
};

}  // namespace pellix
