#include "SessionTestKit.h"


#include <gtest/gtest.h>

#include "MQTTClient/MQTTCFSocketTransport.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"

namespace pellix::test {

bool pump(const std::function<bool()>& pred, double seconds) {
    return platform::RunLoop::main()->runUntil(pred, seconds);
}

void pumpFor(double seconds) {
    platform::RunLoop::main()->runUntil([] { return false; }, seconds);
}

platform::Bytes bytes(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }
std::string str(const platform::Bytes& data) { return std::string(data.begin(), data.end()); }

// ---- Broker ------------------------------------------------------------------

Broker::Broker()
    : MosquittoBroker({.passwordListener = true, .whileWaiting = [] {
                           // Keep the session's queue moving while we wait on the broker.
                           if (platform::RunLoop::isMainThread()) {
                               pumpFor(0.02);
                           } else {
                               std::this_thread::sleep_for(20ms);
                           }
                       }}) {}

std::shared_ptr<MQTTTransport> transportTo(int port, std::shared_ptr<platform::DispatchQueue> queue) {
    auto transport = MQTTCFSocketTransport::create();
    transport->setHost("127.0.0.1");
    transport->setPort(static_cast<std::uint32_t>(port));
    transport->setQueue(queue ? queue : platform::DispatchQueue::main());
    return transport;
}

std::shared_ptr<MQTTSession> makeSession(int port, const std::string& clientId, std::uint8_t level) {
    auto session = MQTTSession::create();
    session->setClientId(clientId);
    session->setProtocolLevel(level);
    session->setTransport(transportTo(port));
    return session;
}

void connectAndWait(const std::shared_ptr<MQTTSession>& session) {
    bool done = false;
    platform::ErrorPtr error;
    session->connectWithConnectHandler([&](platform::ErrorPtr e) {
        done = true;
        error = e;
    });
    ASSERT_TRUE(pump([&] { return done; }));
    ASSERT_FALSE(error) << error->description();
}

// ---- Recorder ----------------------------------------------------------------

void Recorder::newMessage(MQTTSession& session, const platform::Bytes& data, const std::string& topic,
                          std::uint8_t qos, bool retained, std::uint32_t mid) {
    Received r{topic, data, qos, retained, mid};
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(r);
    }
    if (onMessage) {
        onMessage(session, r);
    }
}

void Recorder::handleEvent(MQTTSession&, MQTTSessionEvent event, platform::ErrorPtr error) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    if (error) {
        lastError_ = error;
    }
}

void Recorder::connectionRefused(MQTTSession&, platform::ErrorPtr error) {
    std::lock_guard lock(mutex_);
    lastError_ = error;
}

void Recorder::connectionClosed(MQTTSession& session) {
    {
        std::lock_guard lock(mutex_);
        ++closed_;
    }
    if (auto hook = std::exchange(onClosed, nullptr)) {
        hook(session);
    }
}

void Recorder::protocolError(MQTTSession&, platform::ErrorPtr error) {
    std::lock_guard lock(mutex_);
    lastError_ = error;
}

void Recorder::connectionError(MQTTSession&, platform::ErrorPtr error) {
    std::lock_guard lock(mutex_);
    lastError_ = error;
}

void Recorder::messageDelivered(MQTTSession&, std::uint16_t msgID) {
    std::lock_guard lock(mutex_);
    delivered_.push_back(msgID);
}

void Recorder::subAckReceived(MQTTSession&, std::uint16_t, const platform::Array& granted) {
    std::lock_guard lock(mutex_);
    subacks_.push_back(granted);
}

void Recorder::sending(MQTTSession&, std::uint8_t type, std::uint8_t qos, bool, bool duped, std::uint16_t mid,
                       const platform::Bytes& data) {
    std::lock_guard lock(mutex_);
    sent_.push_back({type, qos, duped, mid, data});
}

void Recorder::received(MQTTSession&, std::uint8_t type, std::uint8_t qos, bool, bool duped, std::uint16_t mid,
                        const platform::Bytes& data) {
    std::lock_guard lock(mutex_);
    got_.push_back({type, qos, duped, mid, data});
}

std::vector<MQTTSessionEvent> Recorder::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}
std::vector<Received> Recorder::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}
std::vector<std::uint16_t> Recorder::delivered() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}
std::vector<Packet> Recorder::sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}
std::vector<Packet> Recorder::got() const {
    std::lock_guard lock(mutex_);
    return got_;
}
std::vector<platform::Array> Recorder::subacks() const {
    std::lock_guard lock(mutex_);
    return subacks_;
}
platform::ErrorPtr Recorder::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}
int Recorder::closedCount() const {
    std::lock_guard lock(mutex_);
    return closed_;
}
std::size_t Recorder::count(const std::string& topic) const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& m : messages_) {
        n += m.topic == topic ? 1 : 0;
    }
    return n;
}

}  // namespace pellix::test
