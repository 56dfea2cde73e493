// Peers and helpers for the socket-layer tests: a mosquitto broker on a free
// loopback port (plain or TLS, optionally requiring a client certificate),
// `openssl s_server -rev` as a TLS echo peer, and a condition to wait on.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/MosquittoBroker.h"
#include "support/TestCerts.h"
#include "support/TestSupport.h"

namespace pellix::test {

using namespace std::chrono_literals;

// The shared broker, plain or TLS on its one listener.
class Broker : public MosquittoBroker {
public:
    explicit Broker(std::optional<TLS> tls = std::nullopt) : MosquittoBroker({.tls = std::move(tls)}) {}
};

// A TLS peer that sends every line back reversed.
class TLSEchoServer {
public:
    // sendChain: send the further certificates of the pair's file too.
    explicit TLSEchoServer(const TestCerts::Pair& pair, bool sendChain = false) : port_(freePort()) {
        std::vector<std::string> argv{"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port_),
                                      "-cert", pair.cert, "-key", pair.key, "-rev", "-quiet"};
        if (sendChain) {
            argv.push_back("-cert_chain");
            argv.push_back(pair.cert);
        }
        process_ = std::make_unique<Process>(argv);
        if (!waitForPort(port_, 10s)) throw std::runtime_error("openssl s_server did not start");
    }
    int port() const { return port_; }

private:
    int port_;
    std::unique_ptr<Process> process_;
};

// Waits for a predicate over state the test guards with mutex().
class Waiter {
public:
    std::mutex& mutex() { return mutex_; }
    void notify() { cv_.notify_all(); }
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, done);
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
};

// A loopback TCP server on its own thread: accepts one client and runs the
// given session with the connected socket.
class TCPServer {
public:
    explicit TCPServer(std::function<void(int fd)> session) {
        listen_ = listenLoopback(port_, 4);
        thread_ = std::thread([this, session = std::move(session)] {
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd >= 0) {
                client_ = fd;
                session(fd);
                client_ = -1;
                ::close(fd);
            }
        });
    }
    // Also cuts the client connection, so a session blocked in recv ends.
    ~TCPServer() {
        if (int fd = client_; fd >= 0) ::shutdown(fd, SHUT_RDWR);
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        thread_.join();
    }
    int port() const { return port_; }

private:
    int listen_;
    std::atomic<int> client_{-1};
    int port_ = 0;
    std::thread thread_;
};

}  // namespace pellix::test
