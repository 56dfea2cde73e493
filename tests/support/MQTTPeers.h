// MQTT peers for the tests that need what mosquitto never does:
// - Proxy: a loopback TCP relay that frames MQTT packets in each direction and
//   can drop or hold them, or cut every connection;
// - FakeBroker: a loopback server running a scripted exchange on its own
//   thread, one connection after another.
// Both run on a thread of their own and stop (joining it) on destruction.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Value.h"

namespace pellix::test {

using namespace std::chrono_literals;

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

}  // namespace pellix::test
