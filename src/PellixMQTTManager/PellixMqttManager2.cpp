#include "PellixMQTTManager/PellixMqttManager2.h"

#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "platform/DispatchQueue.h"
#include "platform/TLSSettings.h"

namespace pellix {

const std::shared_ptr<PellixMqttManager2>& PellixMqttManager2::sharedInstance() {
    // Never destroyed: no exit-time teardown races the main loop.
    static const auto* instance = new std::shared_ptr<PellixMqttManager2>(create());
    return *instance;
}

std::shared_ptr<PellixMqttManager2> PellixMqttManager2::create() {
    return std::shared_ptr<PellixMqttManager2>(new PellixMqttManager2());
}

PellixMqttManager2::PellixMqttManager2()
    : sessionManager_(MQTTSessionManager::initWithPersistence(
          false, 16, 1024, 64 * 1024 * 1024, kMaxConnectionRetryInterval, true,
          std::string(platform::TLSSettings::kLevelNegotiatedSSL), platform::DispatchQueue::main())) {}

void PellixMqttManager2::conectToMqttSeverWithClientID(const std::optional<std::string>& clientID,
                                                       const std::vector<std::string>& topics) {
    if (!sessionManager_) return;
    sessionManager_->setSubscriptions(PellixMQTTManager::subscriptionRequest(topics));
    const auto& config = PellixGlobleConfig::sharedInstance();
    sessionManager_->connectTo(config->mqttServer(), config->mqttPort(), false, PellixMQTTManager::kKeepAliveInterval,
                               false, false, std::nullopt, std::nullopt, false, std::nullopt, std::nullopt, 0, false,
                               clientID, nullptr, std::nullopt, PellixMQTTManager::kProtocolLevel,
                               [](platform::ErrorPtr) {});
}

}  // namespace pellix
