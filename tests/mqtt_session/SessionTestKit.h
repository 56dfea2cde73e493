// Real peers and a recording delegate for the session tests:
// - Broker: the shared mosquitto helper with its password listener, waiting
//   on the log while the main run loop turns;
// - Proxy and FakeBroker (support/MQTTPeers.h): the cutting relay and the
//   scripted broker;
// - Recorder: an MQTTSessionDelegate that logs everything it is told.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MQTTClient/MQTTSession.h"
#include "platform/Value.h"
#include "support/Hex.h"
#include "support/MosquittoBroker.h"
#include "support/MQTTPeers.h"
#include "support/TestSupport.h"

namespace pellix::test {

using namespace std::chrono_literals;

// Pumps the main run loop on the calling thread until `pred` holds.
bool pump(const std::function<bool()>& pred, double seconds = 10);
// Pumps the main run loop for a while.
void pumpFor(double seconds);

platform::Bytes bytes(const std::string& text);
std::string str(const platform::Bytes& data);

// The shared broker with its password listener on; waitFor() keeps the main
// run loop going while it waits, when called on the main thread.
class Broker : public MosquittoBroker {
public:
    Broker();
};

// The socket transport to 127.0.0.1:port on the given queue (main unless set).
std::shared_ptr<MQTTTransport> transportTo(int port, std::shared_ptr<platform::DispatchQueue> queue = nullptr);

// A session with its transport, a fresh client id and a memory-only store.
std::shared_ptr<MQTTSession> makeSession(int port, const std::string& clientId, std::uint8_t level = 4);

// Connects and pumps until the connect handler answers; fails the test on an
// error or when no answer comes.
void connectAndWait(const std::shared_ptr<MQTTSession>& session);

struct Received {
    std::string topic;
    platform::Bytes data;
    std::uint8_t qos;
    bool retained;
    std::uint32_t mid;
};

struct Packet {
    std::uint8_t type;
    std::uint8_t qos;
    bool dup;
    std::uint16_t mid;
    platform::Bytes data;
};

class Recorder : public MQTTSessionDelegate {
public:
    void newMessage(MQTTSession&, const platform::Bytes& data, const std::string& topic, std::uint8_t qos,
                    bool retained, std::uint32_t mid) override;
    bool newMessageWithFeedback(MQTTSession&, const platform::Bytes&, const std::string&, std::uint8_t, bool,
                                std::uint32_t) override {
        return feedback.load();
    }
    void handleEvent(MQTTSession&, MQTTSessionEvent event, platform::ErrorPtr error) override;
    void connectionRefused(MQTTSession&, platform::ErrorPtr error) override;
    void connectionClosed(MQTTSession& session) override;
    void protocolError(MQTTSession&, platform::ErrorPtr error) override;
    void connectionError(MQTTSession&, platform::ErrorPtr error) override;
    void messageDelivered(MQTTSession&, std::uint16_t msgID) override;
    void subAckReceived(MQTTSession&, std::uint16_t msgID, const platform::Array& granted) override;
    void sending(MQTTSession&, std::uint8_t type, std::uint8_t qos, bool retained, bool duped, std::uint16_t mid,
                 const platform::Bytes& data) override;
    void received(MQTTSession&, std::uint8_t type, std::uint8_t qos, bool retained, bool duped, std::uint16_t mid,
                  const platform::Bytes& data) override;

    std::vector<MQTTSessionEvent> events() const;
    std::vector<Received> messages() const;
    std::vector<std::uint16_t> delivered() const;
    std::vector<Packet> sent() const;
    std::vector<Packet> got() const;
    std::vector<platform::Array> subacks() const;
    platform::ErrorPtr lastError() const;
    int closedCount() const;
    // Messages on `topic`.
    std::size_t count(const std::string& topic) const;

    std::atomic<bool> feedback{true};
    // Runs inside connectionClosed (once), to call back into the session.
    std::function<void(MQTTSession&)> onClosed;
    std::function<void(MQTTSession&, const Received&)> onMessage;

private:
    mutable std::mutex mutex_;
    std::vector<MQTTSessionEvent> events_;
    std::vector<Received> messages_;
    std::vector<std::uint16_t> delivered_;
    std::vector<Packet> sent_, got_;
    std::vector<platform::Array> subacks_;
    platform::ErrorPtr lastError_;
    int closed_ = 0;
};

}  // namespace pellix::test
