// Shared fixture of the request-pipeline tests: a fresh application home, the
// platform stand-in over HTTPS on a free loopback port (trusted through the
// test CA in SSL_CERT_FILE), every environment pointed at it, and helpers to
// drive its admin endpoints and pump the main queue.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "HOSManager/PellixHalvaneDownloadManager.h"
#include "HOSManager/PellixHalvaneUploadAndDownloadTool.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixLog/PellixLog.h"
#include "PellixProxyInfo/PellixFileManager.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "platform/JSON.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"
#include "support/TestCerts.h"
#include "support/TestSupport.h"

namespace pellix::test {

// One certificate set per test process; its CA is the system store.
inline TestCerts& pipelineCerts() {
    static TestCerts* certs = [] {
        auto* made = new TestCerts();
        ::setenv("SSL_CERT_FILE", made->ca.cert.c_str(), 1);
        ::setenv("SSL_CERT_DIR", made->dir().c_str(), 1);
        return made;
    }();
    return *certs;
}

// Lower-case hex of the text's bytes, as the openssl tool takes keys and IVs.
inline std::string hexOf(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

inline std::string shellOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    pclose(pipe);
    return out;
}

// A login registers the user record's SIP account, which brings the SIP
// engine up: it must bind and probe on loopback only. Takes effect when the
// engine starts, so it is set before anything can start it.
inline void sipEngineOnLoopback() {
    SipEngineManager::setReachabilityHostName("localhost");
    client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
}

// The platform stand-in, started with the given certificate pair. Its user
// record names a SIP registrar on loopback, so the engine stays there too.
class PlatformStandIn {
public:
    explicit PlatformStandIn(const TestCerts::Pair& pair, std::vector<std::string> extra = {}) {
        sipEngineOnLoopback();
        std::vector<std::string> argv{"node", sourceDir() + "/tests/peers/platform/server.js", "--cert", pair.cert,
                                      "--key", pair.key, "--port", "0", "--broker-port", "8883"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        process_ = std::make_unique<Process>(argv);
        auto line = process_->waitForLine("listening (\\d+)");
        if (!line) throw std::runtime_error("stand-in did not start: " + process_->errorOutput());
        port_ = std::stoi(*line);
    }
    int port() const { return port_; }
    std::string baseURL() const { return "https://127.0.0.1:" + std::to_string(port_); }

    // An admin request; the parsed JSON answer (null when none).
    platform::Value admin(const std::string& method, const std::string& path, const std::string& body = {}) const {
        std::string cmd = "curl -s --cacert '" + pipelineCerts().ca.cert + "' -X " + method + " '" + baseURL() + path + "'";
        if (!body.empty()) {
            std::string quoted;
            for (char c : body) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
            cmd += " -H 'Content-Type: application/json' --data '" + quoted + "'";
        }
        auto value = platform::JSON::parse(shellOutput(cmd));
        return value ? *value : platform::Value();
    }
    void rule(const std::string& json) const { admin("POST", "/__admin/rules", json); }
    // Logged requests, oldest first, optionally of one path.
    platform::Array requests(const std::string& path = {}) const {
        auto v = admin("GET", "/__admin/requests?n=0" + (path.empty() ? std::string() : "&path=" + path));
        if (const platform::Array* a = v.arrayIf()) return *a;
        if (const platform::Dictionary* d = v.dictionaryIf()) {
            for (const char* key : {"requests", "entries", "log"}) {
                if (const platform::Value* inner = d->find(key); inner && inner->isArray()) return *inner->arrayIf();
            }
        }
        return {};
    }

private:
    std::unique_ptr<Process> process_;
    int port_ = 0;
};

inline std::string text(const platform::Value& v, const std::string& key) {
    const platform::Dictionary* d = v.dictionaryIf();
    const platform::Value* member = d ? d->find(key) : nullptr;
    if (!member) return "<missing>";
    const std::string* s = member->stringIf();
    return s ? *s : member->description();
}

inline const platform::Value& member(const platform::Value& v, const std::string& key) {
    static const platform::Value null;
    const platform::Dictionary* d = v.dictionaryIf();
    const platform::Value* m = d ? d->find(key) : nullptr;
    return m ? *m : null;
}

// The SDK's session as a fresh process has it: no token, user, open id,
// push token or credentials held, logging on. The singletons live as long as
// the test program, so every test that leans on their state starts here.
inline void resetSdkSession() {
    const auto& store = PellixProxyInfo::sharedInstance();
    store->setToken(nullptr);
    store->setUserInfo(nullptr);
    store->setOpenId(std::nullopt);
    store->setPushToken(std::nullopt);
    store->setAppId(std::nullopt);
    store->setSecretKey(std::nullopt);
    PellixHalvaneDownloadManager::sharedManager().setAliModel(nullptr);
    PellixLog::enableLog();
}

// What one flag completion (success flag, error) reported, and how often.
struct FlagOutcome {
    int calls = 0;
    bool ok = false;
    PellixErrorPtr error;
    PellixDataManager::Completion block() {
        return [this](bool s, const PellixErrorPtr& e) {
            ++calls;
            ok = s;
            error = e;
        };
    }
    std::int64_t code() const { return error ? error->errorCode() : 0; }
    std::string message() const { return error && error->message() ? *error->message() : "<none>"; }
};

class PipelineTest : public ::testing::Test {
protected:
    static constexpr const char* kAppId = "px-test-app-0001";
    static constexpr const char* kSecret = "px-test-secret-5f3c2a9d";

    void SetUp() override {
        pipelineCerts();
        platform::Paths::setHomeDirectory(home_.path());
        resetSdkSession();
        standIn_ = std::make_unique<PlatformStandIn>(pipelineCerts().leaf, standInArgs_);
        for (std::uint64_t row = 0; row < 3; ++row) {
            PellixGlobleConfig::setEnvironment(row, {standIn_->baseURL(), "127.0.0.1", 1883});
        }
        PellixGlobleConfig::sharedInstance()->setPellixSDKMode(2);
        PellixGlobleConfig::sharedInstance()->setRequestTimeout(10);
    }

    // A login (or a replayed user record) fetches storage credentials in the
    // background; it ends here, against this test's stand-in, rather than
    // in a later test of the same program.
    void TearDown() override {
        pump([] { return PellixHalvaneUploadAndDownloadTool::pendingCredentialFetches() == 0; }, 30);
    }

    // Registers the app and logs the stand-in's resident in; a fatal failure
    // when either is refused.
    void registerAndLogIn() {
        FlagOutcome registered;
        PellixDataManager::registSDKWithAppId(kAppId, kSecret, nullptr, registered.block());
        ASSERT_TRUE(pump([&] { return registered.calls > 0; }));
        ASSERT_TRUE(registered.ok) << registered.message();
        FlagOutcome loggedIn;
        PellixDataManager::loginSDKWithNationCode(std::nullopt, std::string("13800138000"), std::nullopt,
                                                  loggedIn.block());
        ASSERT_TRUE(pump([&] { return loggedIn.calls > 0; }));
        ASSERT_TRUE(loggedIn.ok) << loggedIn.message();
    }

    // Pumps the main queue until `done` holds (or 15 s pass).
    bool pump(const std::function<bool()>& done, double seconds = 15) {
        return platform::RunLoop::main()->runUntil(done, seconds);
    }
    // Pumps for a short while so late, unwanted completions would show.
    void settle(double seconds = 0.3) {
        platform::RunLoop::main()->runUntil([] { return false; }, seconds);
    }

    TempDir home_;
    // Extra flags of the stand-in, set by a derived fixture before SetUp.
    std::vector<std::string> standInArgs_;
    std::unique_ptr<PlatformStandIn> standIn_;
};

// Counts the posts of one notification while alive.
class NotificationCounter {
public:
    explicit NotificationCounter(const std::string& name) {
        token_ = platform::NotificationCenter::defaultCenter().addObserver(
            name, nullptr, nullptr, [this](const platform::Notification& n) {
                ++count;
                lastObject = n.object();
            });
    }
    ~NotificationCounter() { platform::NotificationCenter::defaultCenter().removeObserver(token_); }
    int count = 0;
    std::shared_ptr<void> lastObject;

private:
    platform::NotificationCenter::Token token_;
};

}  // namespace pellix::test
