// PellixMQTTManager: the SDK's MQTT connection owner, used through class
// methods.
//
// Only the topic-list replacement is here so far; the connection itself,
// the delegate and publishing come with the MQTT manager proper. Until then
// resubcribleTopics() keeps the list and subscribes nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pellix {

class PellixMQTTManager {
public:
    // Replaces the kept topic list (nullopt: none) and, when the new list is
    // not empty, subscribes the current session to every topic at QoS 2.
    // Topics dropped from the list stay subscribed. Reports nothing.
    static void resubcribleTopics(const std::optional<std::vector<std::string>>& topics);
};

}  // namespace pellix
