#include "PellixBLEPeripheralManager/PellixBLEPeripheralManager.h"

#include <cmath>

#include "CommonMethod/PellixCommonTypes.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/Value.h"

namespace pellix {

using State = platform::BLEPeripheral::State;

std::shared_ptr<PellixBLEPeripheralManager> PellixBLEPeripheralManager::startBLEPeripheralObserver(
    StateBlock stateBlock) {
    std::shared_ptr<PellixBLEPeripheralManager> self(new PellixBLEPeripheralManager());
    self->stateBlcok_ = std::move(stateBlock);
    std::weak_ptr<PellixBLEPeripheralManager> weak = self;
    platform::BLEPeripheral::Callbacks callbacks;
    callbacks.didUpdateState = [weak](State s) {
        if (auto m = weak.lock()) m->peripheralManagerDidUpdateState(s);
    };
    callbacks.didAddService = [weak](platform::ErrorPtr e) {
        if (auto m = weak.lock()) m->peripheralManagerDidAddService(e);
    };
    callbacks.didStartAdvertising = [weak](platform::ErrorPtr e) {
        if (auto m = weak.lock()) m->peripheralManagerDidStartAdvertising(e);
    };
    self->manager_ = platform::BLEPeripheral::create(std::move(callbacks));
    return self;
}

PellixBLEPeripheralManager::~PellixBLEPeripheralManager() {
    stateBlcok_ = nullptr;
    errBlcok_ = nullptr;
    if (manager_) {
        manager_->clearCallbacks();
        manager_->stopAdvertising();
        manager_->removeAllServices();
    }
}

std::int64_t PellixBLEPeripheralManager::stateNumber(State state) {
    switch (state) {
        case State::Unknown: return -1;
        case State::Resetting: return -2;
        case State::Unsupported: return -3;
        case State::Unauthorized: return -4;
        case State::PoweredOff: return -5;
        case State::PoweredOn: return 0;
    }
    return -1;
}

std::int64_t PellixBLEPeripheralManager::resultCodeForState(std::int64_t n) {
    return (n >= -5 && n <= -1) ? n - 2 : -1;
}

std::string PellixBLEPeripheralManager::advertisingName(const std::string& mobile, const std::string& nationCode,
                                                        const std::string& depID, std::int64_t unixSeconds) {
    const auto phone = static_cast<std::uint64_t>(platform::Value(nationCode + mobile).intValue());
    const auto dep = static_cast<std::uint32_t>(platform::Value(depID).intValue());
    const auto time = static_cast<std::uint32_t>(unixSeconds);
    std::uint8_t p[6], d[4], t[4];
    for (int i = 0; i < 6; ++i) p[i] = static_cast<std::uint8_t>(phone >> (8 * i));
    for (int i = 0; i < 4; ++i) {
        d[i] = static_cast<std::uint8_t>(dep >> (8 * i));
        t[i] = static_cast<std::uint8_t>(time >> (8 * i));
    }
    p[0] ^= d[0];
    p[1] ^= d[1];
    p[2] ^= d[2];
    p[3] ^= d[3];
    p[4] ^= d[0];
    p[5] ^= d[3];
    platform::Bytes plain(15);
    for (int i = 0; i < 6; ++i) plain[i] = p[i];
    plain[6] = 0x02;
    for (int i = 0; i < 4; ++i) {
        plain[7 + i] = t[i];
        plain[11 + i] = d[i];
    }
    // A 32-character key always encrypts; 15 bytes in, 15 out.
    auto cipher = PellixCommonTypes::encryptDataAES128CFBNoPadding(plain, kPayloadKeyHex, kPayloadKeyHex);
    static constexpr std::uint8_t kHeader[5] = {0xA1, 0x38, 0x77, 0x02, 0x01};
    platform::Bytes payload(20);
    for (int i = 0; i < 5; ++i) payload[i] = kHeader[i];
    for (std::size_t i = 0; cipher && i < 15 && i < cipher->size(); ++i) payload[5 + i] = (*cipher)[i];
    return PellixCommonTypes::stringByEncodingData(payload).value_or("");
}

void PellixBLEPeripheralManager::sendAdvertisingWithMobile(const std::optional<std::string>& mobile,
                                                           const std::optional<std::string>& nationCode,
                                                           const std::optional<std::string>& depID,
                                                           double timeInterval, ResultBlock stateBlock,
                                                           CompleteBlock completeBlock) {
    errBlcok_ = std::move(stateBlock);
    completeBlock_ = std::move(completeBlock);
    if (bleState_ != 0) {
        if (errBlcok_) errBlcok_(resultCodeForState(bleState_));
        return;
    }
    advertisingTimeInterval_ = timeInterval;
    if (!mobile || !nationCode || !depID) {
        if (errBlcok_) errBlcok_(-8);
        return;
    }
    mobile_ = mobile;
    nationCode_ = nationCode;
    depID_ = depID;
    manager_->stopAdvertising();
    manager_->removeAllServices();
    manager_->addService(kServiceUUID);
}

void PellixBLEPeripheralManager::stopAdvertising() {
    manager_->stopAdvertising();
    manager_->removeAllServices();
}

void PellixBLEPeripheralManager::peripheralManagerDidUpdateState(State state) {
    bleState_ = stateNumber(state);
    if (stateBlcok_) stateBlcok_(bleState_);
}

void PellixBLEPeripheralManager::peripheralManagerDidAddService(const platform::ErrorPtr&) {
    // Advertising does not need the service, so a failure to add it does not
    // stop the door from opening.
    auto now = static_cast<std::int64_t>(std::floor(platform::Clock::now()));
    manager_->startAdvertising(
        advertisingName(mobile_.value_or(""), nationCode_.value_or(""), depID_.value_or(""), now));
}

void PellixBLEPeripheralManager::peripheralManagerDidStartAdvertising(const platform::ErrorPtr& error) {
    if (error) {
        // Reported as a failure: nothing advertises, so no stop and no completion follow.
        if (errBlcok_) errBlcok_(kAdvertisingFailedCode);
        return;
    }
    const std::uint64_t generation = ++generation_;
    std::weak_ptr<PellixBLEPeripheralManager> weak = weak_from_this();
    platform::DispatchQueue::main()->after(advertisingTimeInterval_, [weak, generation] {
        auto self = weak.lock();
        // A newer advertisement has its own stop; this one must not cut it short.
        if (!self || self->generation_ != generation) return;
        self->stopAdvertising();
        if (self->completeBlock_) self->completeBlock_();
    });
    if (errBlcok_) errBlcok_(0);
}

}  // namespace pellix
