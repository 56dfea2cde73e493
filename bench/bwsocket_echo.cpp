// Echo through the local Node `ws` server (tests/peers/ws/server.js, path
// /echo): 256 MiB as 1 MiB binary messages, 100,000 small text messages, and
// 1,000 sequential round trips of a small message, from BWWebSocket and, in
// the same iteration, from Node's own `ws` client (echo_client.js) with the
// same window of unanswered messages. Both sides time from the open socket
// to the last echo (Node's start-up is outside its figure). Counters: each
// side's time and rate, the quotient ours / Node, and the process's resident
// memory (it should stay flat). Skipped when the peer's packages are not
// installed.
#include "LoggedPeer.h"
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "BWSocket/BWWebSocket.h"
#include "platform/DispatchQueue.h"

namespace {

using pellix::BWWebSocket;
using pellix::platform::Bytes;
using pellix::platform::Value;

std::string peerDir() { return pellix::bench::sourceDir() + "/tests/peers/ws"; }
const std::string kPeerDir = peerDir();
constexpr int kWindow = 4;
constexpr int kSmallWindow = 64;

double residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The server, started once for the whole run.
struct Server {
    pid_t pid = -1;
    int port = 0;
    Server() {
        if (access((kPeerDir + "/node_modules/ws").c_str(), F_OK) != 0) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            execlp("node", "node", (kPeerDir + "/server.js").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        FILE* out = fdopen(fds[0], "r");
        char line[128];
        if (out && fgets(line, sizeof line, out)) std::sscanf(line, "listening %d", &port);
        // The server logs every message; a pipe nobody reads would stop it.
        std::thread([out] {
            char buf[4096];
            while (out && fgets(buf, sizeof buf, out)) {
            }
        }).detach();
    }
    ~Server() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    std::string url() const { return "ws://127.0.0.1:" + std::to_string(port) + "/echo"; }
};

Server& server() {
    static Server s;
    return s;
}

class EchoLoad : public pellix::BWWebSocketDelegate {
public:
    EchoLoad(Value message, int total, int window) : message_(std::move(message)), total_(total), window_(window) {}
    void webSocket(BWWebSocket& socket, const Value&) override {
        std::lock_guard lock(mutex_);
        if (++received_ == total_) {
            cv_.notify_all();
            return;
        }
        fill(socket);
    }
    void webSocketDidOpen(BWWebSocket& socket) override {
        std::lock_guard lock(mutex_);
        opened_ = true;
        cv_.notify_all();
        (void)socket;
    }
    void webSocket(BWWebSocket&, pellix::platform::ErrorPtr) override {
        std::lock_guard lock(mutex_);
        failed_ = true;
        cv_.notify_all();
    }
    void start(BWWebSocket& socket) {
        std::lock_guard lock(mutex_);
        fill(socket);
    }
    bool waitOpen() {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return opened_ || failed_; }) && !failed_;
    }
    bool waitDone() {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(300), [&] { return received_ == total_ || failed_; }) && !failed_;
    }

private:
    void fill(BWWebSocket& socket) {
        while (sent_ < total_ && sent_ - received_ < window_) {
            socket.send(message_);
            ++sent_;
        }
    }
    Value message_;
    int total_, window_;
    int sent_ = 0, received_ = 0;
    bool opened_ = false, failed_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
};

// Seconds BWWebSocket needs for the load; negative on failure.
double ours(const Value& message, int count, int window) {
    auto load = std::make_shared<EchoLoad>(message, count, window);
    auto socket = BWWebSocket::create(*pellix::platform::URL::parse(server().url()));
    socket->setMaxMessageSize(64u << 20);
    socket->setDelegateDispatchQueue(pellix::platform::DispatchQueue::serial("bench.echo"));
    socket->setDelegate(load);
    socket->open();
    if (!load->waitOpen()) return -1;
    const auto start = std::chrono::steady_clock::now();
    load->start(*socket);
    if (!load->waitDone()) return -1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    socket->close();
    return seconds;
}

// Seconds Node's client needs for the same load; negative on failure.
double node(const char* kind, int count, std::size_t size, int window) {
    const std::string command = "node " + kPeerDir + "/echo_client.js " + server().url() + " " + std::to_string(count) +
                                " " + std::to_string(size) + " " + kind + " " + std::to_string(window);
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    double seconds = -1;
    char line[128];
    while (fgets(line, sizeof line, p)) std::sscanf(line, "seconds %lf", &seconds);
    pclose(p);
    return seconds;
}

// Both sides within each iteration, in alternating order, so that a change
// of the machine's load falls on both alike. Counters: each side's wall time
// per iteration, its rate, and the quotient ours / Node (time: lower is better).
template <typename Ours, typename Node>
void paired(benchmark::State& state, double units, const char* unit, Ours&& ours, Node&& node) {
    if (server().port == 0) return state.SkipWithError("tests/peers/ws not installed");
    double oursTotal = 0, nodeTotal = 0;
    bool oursFirst = true;
    for (auto _ : state) {
        double o = 0, n = 0;
        if (oursFirst) {
            o = ours();
            n = node();
        } else {
            n = node();
            o = ours();
        }
        oursFirst = !oursFirst;
        if (o <= 0 || n <= 0) return state.SkipWithError(o <= 0 ? "ours failed" : "node failed");
        state.SetIterationTime(o);
        oursTotal += o;
        nodeTotal += n;
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = oursTotal / iterations * 1e3;
    state.counters["node_ms"] = nodeTotal / iterations * 1e3;
    state.counters[std::string("ours_") + unit] = units * iterations / oursTotal;
    state.counters[std::string("node_") + unit] = units * iterations / nodeTotal;
    state.counters["ratio"] = oursTotal / nodeTotal;
    state.counters["rss_MiB"] = residentMiB();
}

constexpr int kBigCount = 256;
constexpr std::size_t kBig = 1u << 20;
constexpr int kSmallCount = 100000;
constexpr std::size_t kSmall = 32;
constexpr int kRoundTrips = 1000;

void BM_Echo_1MiBBinary(benchmark::State& state) {
    const Value message{Bytes(kBig, 7)};
    paired(state, kBigCount, "MiB/s", [&] { return ours(message, kBigCount, kWindow); },
           [] { return node("binary", kBigCount, kBig, kWindow); });
}
void BM_Echo_SmallText(benchmark::State& state) {
    const Value message{std::string(kSmall, 'x')};
    paired(state, kSmallCount, "msgs/s", [&] { return ours(message, kSmallCount, kSmallWindow); },
           [] { return node("text", kSmallCount, kSmall, kSmallWindow); });
}
// 1,000 sequential round trips of a small text message: each is sent from
// the callback that received the previous echo (one outstanding). Our
// delegate runs on a serial queue of its own. ratio is the time per round
// trip, ours / Node's; us_per_rt counters give each side's.
void BM_Echo_SequentialRoundTrips(benchmark::State& state) {
    const Value message{std::string(kSmall, 'x')};
    paired(state, kRoundTrips, "rt/s", [&] { return ours(message, kRoundTrips, 1); },
           [] { return node("text", kRoundTrips, kSmall, 1); });
    if (state.counters.count("ours_ms")) {
        state.counters["ours_us_per_rt"] = state.counters["ours_ms"] * 1e3 / kRoundTrips;
        state.counters["node_us_per_rt"] = state.counters["node_ms"] * 1e3 / kRoundTrips;
    }
}

}  // namespace

BENCHMARK(BM_Echo_1MiBBinary)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Echo_SmallText)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Echo_SequentialRoundTrips)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
