// MosquittoBroker: a mosquitto on free loopback ports for the MQTT test
// programs, its log (log_type all, line-buffered on stdout) kept as an oracle.
//
// The main listener takes anonymous clients, optionally over TLS; an optional
// second listener takes only kUser / kPassword, an optional WebSocket
// listener (ws or wss) carries MQTT over WebSocket. The broker runs as root with
// persistence off, so nothing outlives the object. Construction waits until
// every listener accepts connections and throws std::runtime_error carrying
// the broker's output when it does not start. The destructor stops the broker
// and removes its folder.
//
// log(), count() and waitFor() may be called from any thread; waitFor() runs
// the options' whileWaiting hook on the calling thread between looks.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "support/TestCerts.h"
#include "support/TestSupport.h"

namespace pellix::test {

class MosquittoBroker {
public:
    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "secret";

    struct TLS {
        const TestCerts* certs = nullptr;  // its CA signs the client certificates the broker accepts
        TestCerts::Pair server;
        bool requireCertificate = false;
    };

    struct Options {
        std::optional<TLS> tls{};       // on the main listener
        bool passwordListener = false;  // a second listener for kUser / kPassword only
        // A WebSocket listener beside the plain one, bound to the interface lo;
        // TLS (wss) when websocketsTLS is set.
        bool websockets = false;
        std::optional<TLS> websocketsTLS{};
        std::string extraConfig{};      // lines appended to the configuration as they are
        // Called between looks at the log in waitFor(); sleeps 20 ms when empty.
        std::function<void()> whileWaiting{};
    };

    MosquittoBroker();
    explicit MosquittoBroker(Options options);
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    int port() const { return port_; }
    // The password listener's port; 0 when the options asked for none.
    int passwordPort() const { return passwordPort_; }
    // The WebSocket listener's port; 0 when the options asked for none.
    int websocketsPort() const { return websocketsPort_; }
    std::string log() const { return process_->output(); }
    // Lines of the log containing every one of `parts`.
    int count(std::initializer_list<std::string> parts) const;
    // Waits until count(parts) >= n; false after `seconds`.
    bool waitFor(std::initializer_list<std::string> parts, int n = 1, double seconds = 10) const;
    Process& process() { return *process_; }
    // Stops the broker and starts it again on the same ports and
    // configuration (nothing kept: persistence is off); the log starts
    // afresh. Throws like the constructor when it does not come back.
    void restart();

private:
    TempDir dir_;
    int port_;
    int passwordPort_ = 0;
    int websocketsPort_ = 0;
    std::function<void()> whileWaiting_;
    std::string confPath_;
    std::unique_ptr<Process> process_;

    void start();
};

}  // namespace pellix::test
