#include "PellixMQTTManager/PellixMQTTManager.h"

namespace pellix {

// No session exists yet: nothing to subscribe. The MQTT manager proper
// replaces this with the kept list and the subscription.
void PellixMQTTManager::resubcribleTopics(const std::optional<std::vector<std::string>>&) {}

}  // namespace pellix
