// Shared by the engine tests: a sipp peer on a free loopback port, an engine
// bound to loopback, and an observer that records what the engine reports.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SipEngineSDK/SipEngine.h"
#include "support/TestSupport.h"

namespace pellix::test {

// A UDP port on 127.0.0.1 that was free a moment ago.
int freeUdpPort();
// A non-blocking UDP socket bound on 127.0.0.1 at a port the kernel picks
// (stored in `port`).
int bindLoopbackUdp(int& port);

// sipp run on one scenario of tests/sip_engine/scenarios/, stopped by pid.
class Sipp {
public:
    // Server side: waits for requests on its own port.
    static std::unique_ptr<Sipp> server(const std::string& scenario, std::vector<std::string> extra = {});
    // Client side: sends to the engine at 127.0.0.1:enginePort.
    static std::unique_ptr<Sipp> client(const std::string& scenario, int enginePort,
                                        std::vector<std::string> extra = {});
    int port() const { return port_; }
    // The exit status once it has finished (0: every step of the scenario passed).
    int wait() { return process_->wait(); }
    bool running() { return process_->running(); }
    // Every message sipp sent and received so far.
    std::string messages() const;
    std::string errors() const;

private:
    Sipp(const std::string& scenario, std::vector<std::string> args, int port);
    // Started on a fresh port, once its port is bound (or it has ended).
    static std::unique_ptr<Sipp> launch(const std::string& scenario, const std::vector<std::string>& extra);
    int port_;
    TempDir dir_;
    std::unique_ptr<Process> process_;
};

// Checks the first digest answer in sipp's message log sent in `header`
// ("Authorization" or "Proxy-Authorization"): "" when its response is the one
// `password` gives for `method`, else what is wrong with it.
std::string digestProblem(const std::string& log, const std::string& header, const std::string& method,
                          const std::string& password);

struct Recorder : client::RegistrationObserver, client::CallStateObserver, client::VideoStreamObserver {
    void OnRegistrationProgress(client::SipProfile*) override { events.push_back("progress"); }
    void OnRegistrationSuccess(client::SipProfile*) override { events.push_back("registered"); }
    void OnRegistrationCleared(client::SipProfile*) override { events.push_back("cleared"); }
    void OnRegistrationFailed(client::SipProfile*, int code, const char* reason) override {
        events.push_back("failed " + std::to_string(code) + " " + (reason ? reason : "(null)"));
    }
    void OnCallStateChange(client::Call* call, client::Call::CallState state) override {
        lastCall = call;
        states.push_back(state);
        if (onState) onState(call, state);
    }
    void OnDtmf(client::Call*, const char* tone) override { tones += tone; }
    void OnMediaStreamUpdate(client::Call*, client::CallMediaStreamType type, client::Call::MediaDirection) override {
        media.push_back(type);
    }
    void IncomingFrameSizeChanged(int, unsigned short, unsigned short) override {}
    void IncomingRate(int, unsigned int, unsigned int) override {}
    void OutgoingRate(int, unsigned int, unsigned int) override {}

    bool has(const std::string& e) const;
    bool reached(int state) const;

    std::vector<std::string> events;
    std::vector<int> states;
    std::vector<int> media;
    std::string tones;
    client::Call* lastCall = nullptr;
    std::function<void(client::Call*, client::Call::CallState)> onState;
};

// An engine on 127.0.0.1:port() with the codec lists the SDK configures.
class TestEngine {
public:
    TestEngine();
    ~TestEngine();
    client::SipEngine* operator->() { return engine_; }
    client::SipEngine* get() { return engine_; }
    client::Config& config() { return config_; }
    int port() const { return port_; }
    Recorder& recorder() { return recorder_; }
    // Pumps the engine until `done` holds or the time is up.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void pumpFor(std::chrono::milliseconds time);
    // "main_profile" for `user` at 127.0.0.1:registrarPort.
    client::SipProfile* profile(int registrarPort, const std::string& user = "1001",
                                const std::string& password = "secret");
    void destroy();

private:
    client::Config config_;
    client::SipEngine* engine_ = nullptr;
    Recorder recorder_;
    int port_ = 0;
};

}  // namespace pellix::test
