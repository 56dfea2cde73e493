// Shared pieces of the MQTT manager and command tests: one application home
// per program, main-loop pumping, a user record, and a delegate that records
// what it is told.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixMQTTDelegate.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "support/MosquittoBroker.h"
#include "support/TestSupport.h"

namespace pellix::test {

inline constexpr const char* kOwnSip = "1001";

// One application home for the whole program: the SDK caches its archive
// paths on first use.
inline void useProgramHome() {
    static const TempDir dir;
    platform::Paths::setHomeDirectory(dir.path());
}

// Stores a user record with the own SIP number and the given room topics.
inline void logIn(std::vector<std::string> topics) {
    useProgramHome();
    auto user = std::make_shared<PellixInitUserInfo>();
    user->setSip_no(kOwnSip);
    user->setTopic(std::move(topics));
    PellixProxyInfo::sharedInstance()->setUserInfo(user);
}

inline bool pump(const std::function<bool()>& until, double seconds = 10) {
    return platform::RunLoop::main()->runUntil(until, seconds);
}
inline void pumpFor(double seconds) { pump([] { return false; }, seconds); }

// A door station's call to room 12 from SIP number 8001, transaction "tx-1".
inline const std::string kDoorCall =
    R"({"cmd":"makeCall","transactionID":"tx-1","expiredAt":1704067200,"data":{"incomingType":1,)"
    R"("doorSipNO":"8001","doorName":"Gate","doorGuid":"g-1","appRoomID":"12","disturbSip":["7"]}})";

// A broker whose waits keep the main loop turning, so the SDK's session
// progresses while a test waits on the broker's log.
inline MosquittoBroker::Options pumpingBroker() {
    MosquittoBroker::Options options;
    options.whileWaiting = [] { pumpFor(0.02); };
    return options;
}

class Recorder : public PellixMQTTDelegate {
public:
    void mqttConnectedSuccess() override { events.push_back("connected"); }
    void mqttConnectedClosed() override { events.push_back("closed"); }
    void mqttConnectError(platform::ErrorPtr error) override {
        events.push_back("error");
        errors.push_back(std::move(error));
    }
    void mqttConnectRefused(platform::ErrorPtr error) override {
        events.push_back("refused");
        errors.push_back(std::move(error));
    }
    void doorIncomingMessage(std::shared_ptr<PellixDoorCallModel> call) override {
        events.push_back("door");
        doorCalls.push_back(std::move(call));
    }
    void hangupMessage() override { events.push_back("hangup"); }
    void propertyNoticeMessage(std::shared_ptr<PellixPropertyNotice> notice) override {
        events.push_back("notice");
        notices.push_back(std::move(notice));
    }
    void authorizationChangeMessage(std::shared_ptr<PellixAuthorizationChange>) override {
        events.push_back("auth");
    }

    int count(const std::string& event) const {
        int n = 0;
        for (const auto& e : events) n += e == event ? 1 : 0;
        return n;
    }

    std::vector<std::string> events;
    std::vector<platform::ErrorPtr> errors;
    std::vector<std::shared_ptr<PellixDoorCallModel>> doorCalls;
    std::vector<std::shared_ptr<PellixPropertyNotice>> notices;
};

}  // namespace pellix::test
