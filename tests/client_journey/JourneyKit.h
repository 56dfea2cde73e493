// The peers of a resident's journey, each started by the test on free
// loopback ports: the platform stand-in (HTTPS), a mosquitto it publishes
// door calls through, and sipp as the building's SIP side (registrar and
// door station). The SIP engine is bound to loopback and its calls capture a
// 1 kHz tone and record what they play, so a test can hear its own sound come
// back through a door station that echoes it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "PellixClient/PellixClient.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "SipEngineSDK/media/GstCallMedia.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/JSON.h"
#include "sdk_pipeline/PipelineFixture.h"
#include "support/MosquittoBroker.h"
#include "support/ToneAnalysis.h"

namespace pellix::test {

// What the stand-in's world holds for the resident.
inline constexpr const char* kAppId = "px-test-app-0001";
inline constexpr const char* kSecret = "px-test-secret-5f3c2a9d";
inline constexpr const char* kMobile = "13800138000";
inline constexpr const char* kResidentSip = "1000101";
inline constexpr const char* kHomeRoom = "5001";
inline constexpr const char* kNeighbourRoom = "5002";
inline constexpr const char* kNeighbourRoomNo = "102";
inline constexpr const char* kGate = "7001";
inline constexpr const char* kGateSip = "8007001";

// The engine must come up on loopback, whichever test touches it first.
class SipOnLoopback : public ::testing::Environment {
public:
    void SetUp() override { sipEngineOnLoopback(); }
};

// Pumps the main queue, and the SIP engine with it: a test that swaps the
// shared clock can leave the engine's repeating timer armed against the
// other clock.
inline bool pumpAll(const std::function<bool()>& done, double seconds = 15) {
    return platform::RunLoop::main()->runUntil(
        [&] {
            if (SipEngineManager::sharedInstance()->isInitialized()) SipEngineManager::sharedInstance()->handleTimer();
            return done();
        },
        seconds);
}
inline void settleAll(double seconds) { pumpAll([] { return false; }, seconds); }

// sipp on a free UDP port with one of this folder's scenarios; every message
// it sent and received is logged.
class SippPeer {
public:
    // The building's side: registrar and door station at 127.0.0.1:port().
    static std::unique_ptr<SippPeer> server(const std::string& scenario) {
        return std::unique_ptr<SippPeer>(new SippPeer(scenario, {}));
    }
    // A caller that calls `service` at the engine on 127.0.0.1:enginePort.
    static std::unique_ptr<SippPeer> caller(const std::string& scenario, int enginePort, const std::string& service) {
        return std::unique_ptr<SippPeer>(
            new SippPeer(scenario, {"-m", "1", "-s", service, "127.0.0.1:" + std::to_string(enginePort)}));
    }
    int port() const { return port_; }
    std::string messages() const { return read(dir_.file("messages.log")); }
    std::string errors() const { return read(dir_.file("errors.log")); }
    int count(const std::string& text) const {
        const std::string log = messages();
        int n = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }
    bool running() { return process_->running(); }
    int wait() { return process_->wait(); }

private:
    SippPeer(const std::string& scenario, std::vector<std::string> extra) {
        // A port free when picked can be taken by another program's peer
        // before sipp binds it; sipp then exits at once: pick others.
        for (int attempt = 0; attempt < 5; ++attempt) {
            port_ = freePort();
            std::vector<std::string> argv{"sipp", "-sf", sourceDir() + "/tests/client_journey/scenarios/" + scenario,
                                          "-i", "127.0.0.1", "-p", std::to_string(port_), "-mi", "127.0.0.1", "-mp",
                                          std::to_string(freePort()), "-rtp_echo", "-nostdin", "-trace_msg",
                                          "-message_file", dir_.file("messages.log"), "-trace_err", "-error_file",
                                          dir_.file("errors.log"), "-timeout", "120", "-timeout_error"};
            argv.insert(argv.end(), extra.begin(), extra.end());
            process_ = std::make_unique<Process>(argv);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (udpPortFree(port_) && process_->running() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const std::string said = errors() + process_->output() + process_->errorOutput();
            if (process_->running() || said.find("Unable to bind") == std::string::npos) break;
        }
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    int port_;
    TempDir dir_;
    std::unique_ptr<Process> process_;
};

// While alive, calls capture a 1 kHz tone and record what they play (8 kHz
// 16-bit mono) to played().
class ToneCalls {
public:
    ToneCalls() : before_(client::media::callMediaFactory()) {
        const std::string sink = played();
        client::media::setCallMediaFactory([sink](const client::media::MediaSettings& settings) {
            auto s = settings;
            s.audio.sourceDescription =
                "audiotestsrc is-live=true wave=sine volume=0.5 samplesperbuffer=160 freq=1000";
            s.audio.sinkDescription =
                "audio/x-raw,format=S16LE,channels=1,rate=8000 ! filesink buffer-mode=unbuffered location=" + sink;
            s.cameras = {"videotestsrc is-live=true pattern=ball ! video/x-raw,framerate=15/1"};
            return client::media::gstreamerCallMediaFactory()(s);
        });
    }
    ~ToneCalls() { client::media::setCallMediaFactory(before_); }
    std::string played() const { return dir_.file("played.raw"); }
    // Whether the last `seconds` recorded carry the tone.
    bool heardTone(double seconds = 1) const {
        auto samples = readSamples(played());
        const std::size_t keep = static_cast<std::size_t>(seconds * 8000);
        if (samples.size() < keep) return false;
        samples.erase(samples.begin(), samples.end() - static_cast<std::ptrdiff_t>(keep));
        return toneShare(samples, 8000, 1000) > 0.8 && rms(samples) > 0.05;
    }

private:
    TempDir dir_;
    client::media::CallMediaFactory before_;
};

// mosquitto_sub on one topic; every message it got, one line each.
class TopicWatch {
public:
    TopicWatch(int brokerPort, const std::string& topic)
        : process_({"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(brokerPort), "-t", topic, "-q", "1",
                    "-i", "watch-" + std::to_string(freePort())}) {}
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::string text = process_.output(), line;
        for (char c : text) {
            if (c != '\n') {
                line += c;
            } else if (!line.empty()) {
                out.push_back(line);
                line.clear();
            }
        }
        return out;
    }

private:
    Process process_;
};

// A host that answers what the facade tells it, in order.
class JourneyHost : public PellixClientDelegate, public PellixCallManagerDelegate {
public:
    bool implements(PellixClientDelegate::Method) const override { return true; }
    bool implements(PellixCallManagerDelegate::Method) const override { return true; }

    void callDidReceiveDoor(std::shared_ptr<PellixDoorCallModel> call) override {
        seen.push_back("door");
        doorCalls.push_back(std::move(call));
    }
    void callDidHangupMessage() override {
        seen.push_back("hangup message");
        makeCallTypeAtHangup = PellixClient::sharedInstance()->makeCallType();
    }
    void callDidRegistrationSuccess() override { seen.push_back("registered"); }
    void callDidRegistrationFailed(std::int64_t code, const std::optional<std::string>&) override {
        seen.push_back("registration failed " + std::to_string(code));
    }
    void callDidTheCallIsCanceled() override { seen.push_back("cancelled"); }
    void callDidCallFailedOrWrong(std::int64_t code, const std::optional<std::string>&) override {
        seen.push_back("failed " + std::to_string(code));
    }
    void callDidTheCallWasRejected(std::int64_t code, const std::optional<std::string>&) override {
        seen.push_back("rejected " + std::to_string(code));
    }
    void callDidTheCallIsConnectedSupportVideo(bool, bool) override { seen.push_back("connected"); }
    void callDidTheCallEnds() override { seen.push_back("ends"); }
    void callDidVoiceMediaStreamReady() override { seen.push_back("voice ready"); }

    bool saw(const std::string& event) const { return std::find(seen.begin(), seen.end(), event) != seen.end(); }
    int countOf(const std::string& event) const {
        return static_cast<int>(std::count(seen.begin(), seen.end(), event));
    }

    std::vector<std::string> seen;
    std::vector<std::shared_ptr<PellixDoorCallModel>> doorCalls;
    std::optional<std::int64_t> makeCallTypeAtHangup;
};

// The peers and a registered SDK; login() logs the resident in.
class JourneyTest : public ::testing::Test {
protected:
    // `scenario` plays the building's SIP side.
    void startPeers(const std::string& scenario) {
        pipelineCerts();
        platform::Paths::setHomeDirectory(home_.path());
        resetSdkSession();
        broker_ = std::make_unique<MosquittoBroker>(brokerOptions());
        sip_ = SippPeer::server(scenario);
        standIn_ = std::make_unique<PlatformStandIn>(
            pipelineCerts().leaf, std::vector<std::string>{"--broker-port", std::to_string(broker_->port()),
                                                           "--sip-port", std::to_string(sip_->port())});
        for (std::uint64_t row = 0; row < 3; ++row) {
            PellixGlobleConfig::setEnvironment(
                row, {standIn_->baseURL(), "127.0.0.1", static_cast<std::uint32_t>(broker_->port())});
        }
        platform::Application::sharedApplication().setState(platform::Application::State::Active);
        PellixClient::registClientDelegate(host_);
        PellixClient::registCallManagerDelegate(host_);
    }

    void TearDown() override {
        PellixClient::hangupCurrentCall();
        if (PellixProxyInfo::sharedInstance()->userInfo()) {
            platform::NotificationCenter::defaultCenter().post(PellixClient::kLogoutNotification, nullptr);
        }
        settleAll(0.2);
        PellixClient::removeClientDelegate();
        PellixClient::removeCallManagerDelegate();
        platform::Clock::setShared(nullptr);
    }

    static MosquittoBroker::Options brokerOptions() {
        MosquittoBroker::Options options;
        options.whileWaiting = [] { settleAll(0.02); };
        return options;
    }

    // Registers the SDK and logs the resident in by mobile number; waits
    // until the facade has subscribed the resident's room topics and, when
    // `registered`, the SIP account is registered.
    void login(bool registered = true) {
        auto options = std::make_shared<PellixOptions>();
        options->setMode(2);
        options->setRequestTimeout(10);
        options->setIsShowLog(true);
        std::optional<bool> registeredSdk;
        PellixDataManager::registSDKWithAppId(std::string(kAppId), std::string(kSecret), options,
                                              [&](bool ok, const PellixErrorPtr&) { registeredSdk = ok; });
        ASSERT_TRUE(pumpAll([&] { return registeredSdk.has_value(); }));
        ASSERT_TRUE(*registeredSdk);
        std::optional<bool> loggedIn;
        PellixDataManager::loginSDKWithNationCode(std::string("86"), std::string(kMobile), std::nullopt,
                                                  [&](bool ok, const PellixErrorPtr&) { loggedIn = ok; });
        ASSERT_TRUE(pumpAll([&] { return loggedIn.has_value(); }));
        ASSERT_TRUE(*loggedIn);
        ASSERT_TRUE(broker_->waitFor({"app/room_id/5001 (QoS 2)"})) << broker_->log();
        if (registered) {
            ASSERT_TRUE(pumpAll([&] { return host_->saw("registered"); })) << sip_->messages() << sip_->errors();
        }
    }

    // The stand-in publishes a command (admin "publish" body) to the broker.
    platform::Value publish(const std::string& body) { return standIn_->admin("POST", "/__admin/publish", body); }

    // The engine's own SIP port, as its REGISTER's Contact names it.
    int engineSipPort() const {
        std::smatch m;
        const std::string log = sip_->messages();
        if (!std::regex_search(log, m, std::regex("Contact: *<sip:1000101@127\\.0\\.0\\.1:(\\d+)"))) return 0;
        return std::stoi(m[1]);
    }

    TempDir home_;
    std::unique_ptr<MosquittoBroker> broker_;
    std::unique_ptr<SippPeer> sip_;
    std::unique_ptr<PlatformStandIn> standIn_;
    std::shared_ptr<JourneyHost> host_ = std::make_shared<JourneyHost>();
};

}  // namespace pellix::test
