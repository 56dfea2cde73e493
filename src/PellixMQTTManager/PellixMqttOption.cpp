#include "PellixMQTTManager/PellixMqttOption.h"

#include "PellixMQTTManager/PellixMQTTManager.h"

namespace pellix {

std::shared_ptr<PellixMqttOption> PellixMqttOption::defaultOption() {
    auto option = create();
    // The values the SDK's MQTT connection uses.
    option->setKeepAliveInterval(PellixMQTTManager::kKeepAliveInterval);
    option->setProtocolLevel(PellixMQTTManager::kProtocolLevel);
    return option;
}

}  // namespace pellix
