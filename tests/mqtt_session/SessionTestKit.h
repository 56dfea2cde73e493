// Real peers and a recording delegate for the session tests:
// - Broker: the shared mosquitto helper with its password listener, waiting
//   on the log while the main run loop turns;
// - Proxy: a loopback TCP relay that frames MQTT packets in each direction and
//   can drop or hold them, or cut the connection;
// - FakeBroker: a loopback server running a scripted exchange on its own
//   thread, for what mosquitto never sends;
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

class Proxy {
public:
    enum Direction { ToBroker = 0, ToClient = 1 };
    enum Action { Forward, Drop, Hold };
    // Decides per packet; runs on the proxy thread.
    using Filter = std::function<Action(Direction direction, const platform::Bytes& packet)>;

    explicit Proxy(int upstreamPort);
    ~Proxy();
    int port() const { return port_; }
    void setFilter(Filter filter);
    // Sends what was held (in order) and forwards from now on.
    void release();
    // Closes every connection now (both sides see the socket go).
    void cut();
    // Packet types seen so far in one direction (before filtering).
    std::vector<std::uint8_t> seen(Direction direction) const;
    std::vector<platform::Bytes> seenPackets(Direction direction) const;

    struct Link;

private:
    void run();

    int port_ = 0;
    int listenFd_ = -1;
    int upstream_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> cut_{false};
    std::atomic<bool> release_{false};
    mutable std::mutex mutex_;
    Filter filter_;
    std::vector<platform::Bytes> seen_[2];
    std::thread thread_;
};

// One accepted connection of the fake broker.
class FakeConnection {
public:
    explicit FakeConnection(int fd);
    ~FakeConnection();
    // The next whole packet, or nullopt on close / time-out.
    std::optional<platform::Bytes> receive(std::chrono::milliseconds timeout = 5s);
    // The next packet, which must be of `type` (fails the test otherwise).
    std::optional<platform::Bytes> expect(std::uint8_t type, std::chrono::milliseconds timeout = 5s);
    void send(const platform::Bytes& data);
    void close();
    bool closedByPeer(std::chrono::milliseconds timeout = 5s);

private:
    int fd_;
    bool eof_ = false;
    std::deque<platform::Bytes> packets_;
    platform::Bytes partial_;
};

class FakeBroker {
public:
    using Script = std::function<void(FakeConnection& connection, int index)>;
    // Serves connections one after another with `script` (index 0, 1, ...).
    explicit FakeBroker(Script script);
    ~FakeBroker();
    int port() const { return port_; }
    bool done(double seconds = 10) const;

private:
    int port_ = 0;
    int listenFd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> finished_{0};
    std::thread thread_;
};

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
