#include "support/MosquittoBroker.h"

#include <chrono>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

namespace pellix::test {

using namespace std::chrono_literals;

namespace {

int countLines(const std::string& text, std::initializer_list<std::string> parts) {
    int n = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        bool all = true;
        for (const auto& p : parts) {
            if (line.find(p) == std::string_view::npos) {
                all = false;
                break;
            }
        }
        n += all ? 1 : 0;
        start = end + 1;
    }
    return n;
}

std::string listener(int port) { return "listener " + std::to_string(port) + " 127.0.0.1\n"; }

}  // namespace

MosquittoBroker::MosquittoBroker() : MosquittoBroker(Options{}) {}

MosquittoBroker::MosquittoBroker(Options options)
    : port_(freePort()), whileWaiting_(std::move(options.whileWaiting)) {
    std::string conf;
    if (options.passwordListener) {
        // freePort() may hand back the port it just gave, as it was closed again.
        passwordPort_ = freePort();
        while (passwordPort_ == port_) {
            passwordPort_ = freePort();
        }
        // Anonymous access is then decided per listener.
        conf += "per_listener_settings true\n";
    }
    auto tlsLines = [](const TLS& tls) {
        std::string lines = "cafile " + tls.certs->ca.cert + "\ncertfile " + tls.server.cert + "\nkeyfile " +
                            tls.server.key + "\n";
        if (tls.requireCertificate) lines += "require_certificate true\n";
        return lines;
    };
    conf += listener(port_) + "allow_anonymous true\n";
    if (const auto& tls = options.tls) conf += tlsLines(*tls);
    if (options.passwordListener) {
        const std::string passwords = dir_.file("passwords");
        if (run("mosquitto_passwd -b -c " + passwords + " " + kUser + " " + kPassword + " >/dev/null 2>&1") != 0) {
            throw std::runtime_error("mosquitto_passwd failed");
        }
        conf += listener(passwordPort_) + "allow_anonymous false\npassword_file " + passwords + "\n";
    }
    if (options.websockets) {
        websocketsPort_ = freePort();
        while (websocketsPort_ == port_ || websocketsPort_ == passwordPort_) websocketsPort_ = freePort();
        conf += "listener " + std::to_string(websocketsPort_) + "\nprotocol websockets\nbind_interface lo\n";
        if (options.passwordListener) conf += "allow_anonymous true\n";
        if (const auto& tls = options.websocketsTLS) conf += tlsLines(*tls);
    }
    conf += "user root\npersistence false\nlog_type all\nlog_dest stdout\n";
    conf += options.extraConfig;
    if (!conf.empty() && conf.back() != '\n') conf += '\n';
    confPath_ = dir_.file("mosquitto.conf");
    writeFile(confPath_, conf);
    start();
}

void MosquittoBroker::restart() {
    process_.reset();
    start();
}

void MosquittoBroker::start() {
    // Line-buffered, so the log can be read while the broker runs.
    process_ = std::make_unique<Process>(std::vector<std::string>{"stdbuf", "-oL", "mosquitto", "-c", confPath_});
    for (int p : {port_, passwordPort_, websocketsPort_}) {
        if (p == 0) continue;
        // A broker that refused its configuration is reported at once, not after the time-out.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        bool up = false;
        while (!up && process_->running() && std::chrono::steady_clock::now() < deadline) {
            up = waitForPort(p, 100ms);
        }
        if (!up) {
            throw std::runtime_error("mosquitto did not start: " + process_->output() + process_->errorOutput());
        }
    }
}

int MosquittoBroker::count(std::initializer_list<std::string> parts) const { return countLines(log(), parts); }

bool MosquittoBroker::waitFor(std::initializer_list<std::string> parts, int n, double seconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (countLines(log(), parts) >= n) {
            return true;
        }
        if (whileWaiting_) {
            whileWaiting_();
        } else {
            std::this_thread::sleep_for(20ms);
        }
    }
    return false;
}

}  // namespace pellix::test
