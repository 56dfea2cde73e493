// PellixMQTTManager: the SDK's one MQTT connection to the platform's broker,
// used through class methods that act on the shared instance.
//
// conenctWithTopics() builds a session (plain TCP to PellixGlobleConfig's
// mqttServer:mqttPort, the given client id, keep-alive 60 s, clean session
// off, no will, MQTT 3.1.1) and connects it. Every connect subscribes the
// kept topics at QoS 2 (one SUBSCRIBE, none for an empty list), in a later
// turn of the main queue than the connect report. Each received payload goes
// to PellixMqttMessageHandle; its verdict reaches the delegate
// (PellixMQTTDelegate).
//
// Reconnection: while reconnection is wanted, every close arms one 2.0 s
// timer (no back-off, no limit), which reconnects when the application is
// active; a connect disarms it. Resign-active disconnects without wanting a
// reconnection; become-active reconnects. Errors and refusals are only
// reported; the close that follows them arms the timer.
//
// No session (after creation or clearCurrentSession()): the application
// notifications, reconnectMQTT(), the hang-up publication and the subscribe
// half of resubcribleTopics() do nothing.
//
// Failure: nothing here throws or reports to the caller; publications
// without a session, room or transaction are skipped silently.
//
// Threads: main thread only. The facade calls on the main queue, the session
// calls back on its queue (the main queue), the notifications and the timer
// arrive on the main thread. Not synchronised.
//
// Life: created on first use of sharedInstance(), never destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MQTTClient/MQTTSession.h"
#include "MQTTClient/MQTTSessionDelegate.h"
#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "PellixMQTTManager/PellixMQTTDelegate.h"
#include "platform/Value.h"

namespace pellix {

namespace platform {
class Timer;
}

class PellixMQTTManager : public MQTTSessionDelegate, public std::enable_shared_from_this<PellixMQTTManager> {
public:
    static constexpr double kReconnectInterval = 2.0;
    static constexpr std::uint16_t kKeepAliveInterval = 60;
    static constexpr std::uint8_t kProtocolLevel = 4;  // MQTT 3.1.1

    // The SUBSCRIBE request for the room topics: every topic at QoS 2, the
    // level given as the text "2".
    static platform::Dictionary subscriptionRequest(const std::vector<std::string>& topics);

    static const std::shared_ptr<PellixMQTTManager>& sharedInstance();

    // Stores the delegate weakly.
    static void setDelegate(std::weak_ptr<PellixMQTTDelegate> delegate);
    // Ends any previous session, keeps `topics` (nullopt: none) and connects
    // a new session with `clientID` (nullopt: a generated one).
    static void conenctWithTopics(const PellixTextList& topics, const PellixText& clientID);
    // Replaces the kept topic list (nullopt: none) and, when the new list is
    // not empty, subscribes the session present at the next main-queue turn
    // to every topic at QoS 2. Topics dropped from the list stay subscribed.
    static void resubcribleTopics(const PellixTextList& topics);
    // Wants reconnection again and connects the current session.
    static void connectMQTTAction();
    // connectMQTTAction() when a session with a non-empty client id exists.
    static void reconnectMQTT();
    // Stops wanting reconnection and disconnects the session, if any.
    static void disconnect();
    // Unsubscribes the kept topics, disconnects when connected, disarms the
    // timer and forgets session and topics; no reconnection is wanted.
    static void clearCurrentSession();

    // Publishes at QoS 0 / at `qos` (1 at least once, 2 exactly once, any
    // other value as 0), not retained; nothing without a session.
    static void publishMessage(const platform::Bytes& data, const std::string& topic);
    void publishMessage(const platform::Bytes& data, const std::string& topic, std::uint8_t qos);
    // At the next main-queue turn, publishes the "hangUpCall" message (own
    // SIP number, empty when nullopt; transaction id) on the room's topic at
    // QoS 0. Nothing without a room, a session or a non-empty transaction id.
    static void publishCallEnd(const PellixText& sipNO, const PellixText& roomID, const PellixText& transactionID);
    // The same message when an answered door call connects: the room's other
    // devices stop ringing.
    static void publishCallConnected(const PellixText& sipNO, const PellixText& roomID,
                                     const PellixText& transactionID);

    // The delegate protocol's two session() methods stay visible beside the accessor.
    using MQTTSessionDelegate::session;
    // State, for the facade and for tests.
    std::shared_ptr<PellixMQTTDelegate> delegate() const { return delegate_.lock(); }
    const PellixTextList& topics() const { return topics_; }
    const std::shared_ptr<MQTTSession>& session() const { return session_; }
    const std::shared_ptr<platform::Timer>& pxMQTTReconnectTimer() const { return pxMQTTReconnectTimer_; }
    bool isNeedMqttSessionReconnect() const { return isNeedMqttSessionReconnect_; }

    // MQTTSessionDelegate
    void connected(MQTTSession& session) override;
    void connectionClosed(MQTTSession& session) override;
    void connectionError(MQTTSession& session, platform::ErrorPtr error) override;
    void connectionRefused(MQTTSession& session, platform::ErrorPtr error) override;
    void newMessage(MQTTSession& session, const platform::Bytes& data, const std::string& topic, std::uint8_t qos,
                    bool retained, std::uint32_t mid) override;
    using MQTTSessionDelegate::connected;

    ~PellixMQTTManager() override;
    PellixMQTTManager(const PellixMQTTManager&) = delete;
    PellixMQTTManager& operator=(const PellixMQTTManager&) = delete;

private:
    PellixMQTTManager();
    void observeApplication();
    void applicationDidBecomeActive();
    void applicationWillResignActive();
    void _timeConnectMQTT();
    void invalidateReconnectTimer();
    // Subscribes `topics_` (read when the block runs) at the next main-queue turn.
    void scheduleSubscribe();

    PellixTextList topics_;
    std::shared_ptr<MQTTSession> session_;
    std::weak_ptr<PellixMQTTDelegate> delegate_;
    std::shared_ptr<platform::Timer> pxMQTTReconnectTimer_;
    bool isNeedMqttSessionReconnect_ = true;
};

}  // namespace pellix
