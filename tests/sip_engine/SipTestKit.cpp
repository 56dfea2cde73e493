#include "SipTestKit.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "platform/Crypto.h"

namespace pellix::test {

int bindLoopbackUdp(int& port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int freeUdpPort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int port = 0;
        ::close(bindLoopbackUdp(port));
        // sipp's media ports follow the one we give it; keep away from the
        // top of the range.
        if (port > 1024 && port < 60000) return port;
    }
    return 0;
}

namespace {

// sipp's echo ports: audio RTP/RTCP and video RTP/RTCP, four in a row.
int freeMediaPorts() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int base = freeUdpPort() & ~3;
        bool ok = base > 1024 && base < 60000;
        for (int i = 0; ok && i < 4; ++i) ok = udpPortFree(base + i);
        if (ok) return base;
    }
    return freeUdpPort() & ~3;
}

}  // namespace

Sipp::Sipp(const std::string& scenario, std::vector<std::string> args, int port) : port_(port) {
    std::vector<std::string> argv = {"sipp", "-sf", sourceDir() + "/tests/sip_engine/scenarios/" + scenario + ".xml",
                                     "-i", "127.0.0.1", "-p", std::to_string(port), "-m", "1", "-nostdin",
                                     "-trace_msg", "-message_file", dir_.file("messages.log"), "-trace_err",
                                     "-error_file", dir_.file("errors.log"), "-timeout", "20", "-timeout_error",
                                     "-mi", "127.0.0.1", "-mp", std::to_string(freeMediaPorts())};
    argv.insert(argv.end(), args.begin(), args.end());
    process_ = std::make_unique<Process>(argv);
}

std::unique_ptr<Sipp> Sipp::launch(const std::string& scenario, const std::vector<std::string>& extra) {
    std::unique_ptr<Sipp> s;
    // The port was free when picked; another program's peer can take it
    // before sipp binds it, and sipp then exits at once: pick another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = freeUdpPort();
        s.reset(new Sipp(scenario, extra, port));
        // A request sent before sipp has bound its port would bounce with an
        // ICMP error, which the engine rightly reports at once as a failure.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (udpPortFree(port) && s->running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (s->running() || s->errors().find("Unable to bind") == std::string::npos) break;
    }
    return s;
}

std::unique_ptr<Sipp> Sipp::server(const std::string& scenario, std::vector<std::string> extra) {
    return launch(scenario, extra);
}

std::unique_ptr<Sipp> Sipp::client(const std::string& scenario, int enginePort, std::vector<std::string> extra) {
    extra.insert(extra.begin(), "127.0.0.1:" + std::to_string(enginePort));
    extra.insert(extra.begin(), {"-s", "1001"});
    return launch(scenario, extra);
}

std::string Sipp::messages() const {
    try {
        return readFile(dir_.file("messages.log"));
    } catch (...) {
        return {};
    }
}

std::string Sipp::errors() const {
    try {
        return readFile(dir_.file("errors.log")) + process_->output() + process_->errorOutput();
    } catch (...) {
        return process_->output() + process_->errorOutput();
    }
}

namespace {

std::string md5Hex(const std::string& text) {
    auto digest = platform::crypto::md5(text);
    std::string out;
    static const char* const kDigits = "0123456789abcdef";
    for (auto b : digest.value_or(platform::Bytes{})) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

}  // namespace

std::string digestProblem(const std::string& log, const std::string& header, const std::string& method,
                          const std::string& password) {
    const auto at = log.find("\n" + header + ": Digest ");
    if (at == std::string::npos) return "no " + header + " header";
    const std::string line = log.substr(at + 1, log.find('\n', at + 1) - at - 1);
    auto param = [&](const std::string& name) {
        auto p = line.find(" " + name + "=");
        if (p == std::string::npos) p = line.find("," + name + "=");
        if (p == std::string::npos) return std::string();
        p += name.size() + 2;
        if (p < line.size() && line[p] == '"') return line.substr(p + 1, line.find('"', p + 1) - p - 1);
        return line.substr(p, line.find_first_of(",\r", p) - p);
    };
    const std::string user = param("username"), realm = param("realm"), nonce = param("nonce"), uri = param("uri");
    const std::string expected =
        md5Hex(md5Hex(user + ":" + realm + ":" + password) + ":" + nonce + ":" + md5Hex(method + ":" + uri));
    if (param("response") != expected) return "response " + param("response") + ", expected " + expected + " in " + line;
    return {};
}

bool Recorder::has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
bool Recorder::reached(int state) const { return std::find(states.begin(), states.end(), state) != states.end(); }

TestEngine::TestEngine() {
    port_ = freeUdpPort();
    config_.transport.udpPort = port_;
    client::setText(config_.transport.ipv4BindAddress, "127.0.0.1");
    client::setText(config_.media.audioCodecs, "g729,PCMU,PCMA");
    client::setText(config_.media.videoCodecs, "H264");
    engine_ = client::SipEngineFactory::Create(config_);
    engine_->Initialize();
    engine_->GetRegistrationManager()->AddObserver(&recorder_);
    engine_->GetCallManager()->AddObserver(&recorder_);
    engine_->GetCallManager()->SetAutoRinging(1);
}

TestEngine::~TestEngine() { destroy(); }

void TestEngine::destroy() {
    if (engine_) client::SipEngineFactory::Delete(engine_);
}

bool TestEngine::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        engine_->ProcessEvents();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

void TestEngine::pumpFor(std::chrono::milliseconds time) {
    pumpUntil([] { return false; }, time);
}

client::SipProfile* TestEngine::profile(int registrarPort, const std::string& user, const std::string& password) {
    auto* pm = engine_->GetSipProfileManager();
    auto* p = pm->FindProfile("main_profile");
    if (!p) p = pm->CreateProfile("main_profile");
    p->SetUserName(user.c_str());
    p->SetPassword(password.c_str());
    p->SetDomain(("127.0.0.1:" + std::to_string(registrarPort)).c_str());
    p->expires = 1800;
    return p;
}

}  // namespace pellix::test
