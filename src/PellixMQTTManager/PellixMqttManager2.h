// PellixMqttManager2: a second way of holding the SDK's MQTT connection,
// through the managed session layer (MQTTSessionManager) instead of a plain
// session: reconnection with a doubling delay (up to 320 s), the room topics
// subscribed again after every connect, disconnect and reconnect with the
// application's life cycle.
//
// Nothing inside the library creates or calls it; it mirrors the connection
// parameters of PellixMQTTManager (PellixGlobleConfig's mqttServer:mqttPort,
// plain TCP, keep-alive 60 s, clean session off, no credentials, no will,
// MQTT 3.1.1, QoS 2 for every topic).
//
// The class adopts PellixMQTTDelegate1 and holds a delegate of that protocol,
// but sends it nothing: connection state and messages are the session
// manager's (sessionManager()->setDelegate()).
//
// Failure: conectToMqttSeverWithClientID() reports nothing; connect failures
// become the session manager's states and retries.
//
// Threads: main thread (the session manager runs on the main queue).
// Life: sharedInstance() is created once, thread-safely, and never destroyed;
// create() (the record's `init`) makes an independent one.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MQTTClient/MQTTSessionManager.h"
#include "PellixMQTTManager/PellixMQTTDelegate.h"

namespace pellix {

// The same nine optional methods, in the same order, as PellixMQTTDelegate.
class PellixMQTTDelegate1 : public PellixMQTTDelegate {};

class PellixMqttManager2 : public PellixMQTTDelegate1 {
public:
    static constexpr double kMaxConnectionRetryInterval = 320.0;

    static const std::shared_ptr<PellixMqttManager2>& sharedInstance();
    // A manager whose session manager keeps flows in memory (window 16,
    // 1024 messages, 64 MiB), retries up to 320 s, follows the application's
    // life cycle, negotiates TLS when asked and runs on the main queue.
    static std::shared_ptr<PellixMqttManager2> create();

    PellixMqttManager2(const PellixMqttManager2&) = delete;
    PellixMqttManager2& operator=(const PellixMqttManager2&) = delete;

    // Sets the session manager's wanted subscriptions to every topic at QoS 2
    // (an empty map for an empty list), then connects it to the configured
    // broker with `clientID`.
    void conectToMqttSeverWithClientID(const std::optional<std::string>& clientID,
                                       const std::vector<std::string>& topics);

    const std::shared_ptr<MQTTSessionManager>& sessionManager() const { return sessionManager_; }
    void setSessionManager(std::shared_ptr<MQTTSessionManager> manager) { sessionManager_ = std::move(manager); }
    std::shared_ptr<PellixMQTTDelegate1> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<PellixMQTTDelegate1> delegate) { delegate_ = std::move(delegate); }

private:
    PellixMqttManager2();

    std::shared_ptr<MQTTSessionManager> sessionManager_;
    std::weak_ptr<PellixMQTTDelegate1> delegate_;
};

}  // namespace pellix
