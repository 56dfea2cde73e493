// The Node `ws` server of tests/peers/ws on a free loopback port, and a
// delegate that records a socket's callbacks as text lines to wait on.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "BWSocket/BWWebSocket.h"
#include "platform/DispatchQueue.h"
#include "support/TestCerts.h"
#include "support/TestSupport.h"

namespace pellix::test {

inline std::string wsPeerDir() { return sourceDir() + "/tests/peers/ws"; }

// Skips the calling test when node or the peer's packages are missing.
#define SKIP_WITHOUT_WS_PEER()                                                                        \
    do {                                                                                              \
        if (::access((::pellix::test::wsPeerDir() + "/node_modules/ws").c_str(), F_OK) != 0)          \
            GTEST_SKIP() << "tests/peers/ws has no node_modules (run scripts/setup.sh)";              \
    } while (0)

class WsPeer {
public:
    // tls: the certificate file (possibly a chain) and key the server presents.
    explicit WsPeer(std::optional<TestCerts::Pair> tls = std::nullopt) {
        std::vector<std::string> argv{"node", wsPeerDir() + "/server.js"};
        if (tls) {
            argv.insert(argv.end(), {"--tls", tls->cert, tls->key});
        }
        process_ = std::make_unique<Process>(argv);
        auto port = process_->waitForLine("^listening (\\d+)$");
        if (!port) throw std::runtime_error("ws peer did not start: " + process_->errorOutput());
        port_ = std::stoi(*port);
        scheme_ = tls ? "wss" : "ws";
    }
    int port() const { return port_; }
    platform::URL url(const std::string& pathAndQuery) const {
        return *platform::URL::parse(scheme_ + "://127.0.0.1:" + std::to_string(port_) + pathAndQuery);
    }
    // Waits for a line of the server's log matching the regex.
    bool logged(const std::string& regex, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return process_->waitForLine(regex, timeout).has_value();
    }
    std::string log() const { return process_->output(); }

private:
    std::unique_ptr<Process> process_;
    int port_ = 0;
    std::string scheme_;
};

// Callbacks as lines: "open", "text:<s>", "binary:<size>", "pong:<s>",
// "close:<code>:<reason>:<clean 0/1>", "fail:<domain>:<code>:<description>".
class Recorder : public BWWebSocketDelegate {
public:
    void webSocket(BWWebSocket&, const platform::Value& message) override {
        if (message.isString()) {
            add("text:" + message.asString());
        } else {
            std::lock_guard lock(mutex_);
            lastBinary_ = message.asBytes();
            events_.push_back("binary:" + std::to_string(lastBinary_.size()));
        }
    }
    void webSocketDidOpen(BWWebSocket&) override { add("open"); }
    void webSocket(BWWebSocket&, platform::ErrorPtr error) override {
        {
            std::lock_guard lock(mutex_);
            error_ = error;
        }
        add("fail:" + error->domain() + ":" + std::to_string(error->code()) + ":" + error->localizedDescription());
    }
    void webSocket(BWWebSocket&, std::int64_t code, const std::optional<std::string>& reason, bool clean) override {
        add("close:" + std::to_string(code) + ":" + reason.value_or("<none>") + ":" + (clean ? "1" : "0"));
    }
    void webSocket(BWWebSocket&, const platform::Bytes& pong) override { add("pong:" + std::string(pong.begin(), pong.end())); }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Waits for an event starting with `prefix`; returns it, or "" on time-out.
    std::string waitFor(const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            {
                std::lock_guard lock(mutex_);
                for (const auto& e : events_)
                    if (e.rfind(prefix, 0) == 0) return e;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < deadline);
        return "";
    }
    platform::Bytes lastBinary() const {
        std::lock_guard lock(mutex_);
        return lastBinary_;
    }
    platform::ErrorPtr error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    void add(std::string e) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(e));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    platform::Bytes lastBinary_;
    platform::ErrorPtr error_;
};

// A socket whose callbacks go to the recorder on a queue of their own, so the
// test thread need not pump the main queue.
struct Client {
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<BWWebSocket> socket;

    explicit Client(platform::URLRequest request, std::optional<std::vector<std::string>> protocols = std::nullopt,
                    bool allowUntrusted = false) {
        socket = BWWebSocket::create(std::move(request), std::move(protocols), allowUntrusted);
        socket->setDelegateDispatchQueue(platform::DispatchQueue::serial("bwsocket.test.delegate"));
        socket->setDelegate(recorder);
    }
    explicit Client(platform::URL url, std::optional<std::vector<std::string>> protocols = std::nullopt,
                    bool allowUntrusted = false)
        : Client(platform::URLRequest(std::move(url)), std::move(protocols), allowUntrusted) {}
};

}  // namespace pellix::test
