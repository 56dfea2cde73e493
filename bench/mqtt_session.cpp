// MQTTSession against the Eclipse Paho C client (async API), side by side,
// through one local mosquitto that the benchmark starts:
// - 100,000 QoS 0 publishes of 64 bytes, done when a QoS 1 marker sent after
//   them is acknowledged (so every QoS 0 message has reached the broker);
// - 10,000 QoS 1 and 10,000 QoS 2 publishes with 16 in flight: the caller
//   keeps 16 outstanding and sends the next from each completion;
// - 1,000 QoS 1 publishes made at once, with the window set to the burst on
//   both sides (ours: maxWindowSize 999; Paho: maxInflight 1,000), so neither
//   client waits on the other's pacing and the ratio measures the clients;
// - bursts of 1,000, 10,000 and 60,000 QoS 1 publishes made at once, with
//   the window equal to the burst and with the default window (ours: 16
//   in flight; Paho 16; libmosquitto 16), ours over the memory-only and the
//   file-backed store: the time per message should not grow with the burst.
// libmosquitto runs the pipelined QoS 1 case and the bursts too, as a second
// peer.
// Elsewhere every client runs with the same window (ours: maxWindowSize 15,
// which admits 16 in flight; Paho: maxInflight 16; libmosquitto: 16 in
// flight). Reports messages/s and the resident memory before and after each
// run, then the ratios ours / Paho and ours / libmosquitto.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LocalMosquitto.h"
#include "MQTTClient/MQTTCFSocketTransport.h"
#include "MQTTClient/MQTTCoreDataPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSession.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"

#if PELLIX_BENCH_HAVE_PAHO
#include <MQTTAsync.h>
#endif
#if PELLIX_BENCH_HAVE_LIBMOSQUITTO
#include <mosquitto.h>
#endif
#include "platform/Paths.h"


using namespace pellix;

namespace {

constexpr int kQoS0Messages = 100000;
constexpr int kQoSMessages = 10000;
constexpr int kBurstMessages = 1000;
constexpr int kInFlight = 16;
constexpr std::size_t kPayload = 64;

bench::LocalMosquitto gBroker;
int gPort = 0;
// Home of the file-backed stores (ours and Paho's); removed at the end.
std::string gDir;
std::map<std::string, double> gRate;    // benchmark name → messages/s
std::map<std::string, double> gGrowth;  // benchmark name → resident bytes gained over its runs

const platform::Bytes& payload() {
    static const platform::Bytes p(kPayload, 0x5a);
    return p;
}

double residentMemory() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) * 1024;
    return 0;
}

// ---- ours ---------------------------------------------------------------------

bool pump(const std::function<bool()>& done) { return platform::RunLoop::main()->runUntil(done, 300); }

std::shared_ptr<MQTTSession> connectOurs(const std::string& clientId, std::uint64_t window = kInFlight,
                                         bool fileBacked = false, std::uint64_t maxMessages = MQTT_MAX_MESSAGES) {
    auto transport = MQTTCFSocketTransport::create();
    transport->setHost("127.0.0.1");
    transport->setPort(static_cast<std::uint32_t>(gPort));
    transport->setQueue(platform::DispatchQueue::main());
    auto session = MQTTSession::create();
    session->setClientId(clientId);
    session->setProtocolLevel(4);
    session->setTransport(transport);
    if (fileBacked) {
        auto store = MQTTCoreDataPersistence::create();
        store->setPersistent(true);
        session->setPersistence(store);
    }
    session->persistence()->setMaxWindowSize(window - 1);
    session->persistence()->setMaxMessages(maxMessages);
    bool done = false;
    platform::ErrorPtr error;
    session->connectWithConnectHandler([&](platform::ErrorPtr e) {
        error = e;
        done = true;
    });
    if (!pump([&] { return done; }) || error) return nullptr;
    return session;
}

void closeOurs(const std::shared_ptr<MQTTSession>& session) {
    bool closed = false;
    session->closeWithDisconnectHandler([&](platform::ErrorPtr) { closed = true; });
    pump([&] { return closed; });
}

// Publishes `count` messages of `qos` keeping `window` outstanding (0: all at once).
bool runOurs(MQTTSession& session, int count, std::uint8_t qos, int window) {
    int sent = 0, completed = 0;
    bool failed = false;
    std::function<void()> next = [&] {
        ++sent;
        session.publishData(payload(), "bench/ours", false, qos, [&](platform::ErrorPtr e) {
            failed = failed || e;
            ++completed;
            if (window > 0 && sent < count) next();
        });
    };
    const int first = window > 0 ? std::min(window, count) : count;
    while (sent < first) next();
    return pump([&] { return completed == count || failed; }) && !failed;
}

bool runOursQoS0(MQTTSession& session) {
    for (int i = 0; i < kQoS0Messages; ++i) session.publishData(payload(), "bench/ours", false, 0);
    return runOurs(session, 1, 1, 0);
}

// ---- Paho ---------------------------------------------------------------------

#if PELLIX_BENCH_HAVE_PAHO

struct PahoRun {
    MQTTAsync client = nullptr;
    std::mutex mutex;
    std::condition_variable cv;
    std::atomic<int> sent{0};
    std::atomic<int> completed{0};
    std::atomic<bool> failed{false};
    bool connected = false;
    int count = 0;
    int qos = 0;
    int window = 0;
    int maxInflight = kInFlight;
    std::string persistDir;  // empty: memory only

    void signal() {
        std::lock_guard lock(mutex);
        cv.notify_all();
    }
    bool waitFor(const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(300), done);
    }
};

void pahoSent(void* context, MQTTAsync_successData*);
void pahoFailed(void* context, MQTTAsync_failureData*) {
    auto* run = static_cast<PahoRun*>(context);
    run->failed = true;
    run->signal();
}

// MQTTAsync_sendMessage refuses (rather than queues) while its own command
// queue is full; the caller tries again.
void pahoSend(PahoRun& run, int qos) {
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<std::uint8_t*>(payload().data());
    message.payloadlen = static_cast<int>(payload().size());
    message.qos = qos;
    MQTTAsync_responseOptions options = MQTTAsync_responseOptions_initializer;
    options.context = &run;
    if (qos > 0) {
        options.onSuccess = pahoSent;
        options.onFailure = pahoFailed;
    }
    while (MQTTAsync_sendMessage(run.client, "bench/paho", &message, &options) != MQTTASYNC_SUCCESS) {
        if (run.failed) return;
        std::this_thread::yield();
    }
}

void pahoSent(void* context, MQTTAsync_successData*) {
    auto* run = static_cast<PahoRun*>(context);
    const int done = ++run->completed;
    if (run->window > 0 && run->sent < run->count) {
        ++run->sent;
        pahoSend(*run, run->qos);
    }
    if (done == run->count) run->signal();
}

int pahoArrived(void*, char* topic, int, MQTTAsync_message* message) {
    MQTTAsync_freeMessage(&message);
    MQTTAsync_free(topic);
    return 1;
}

bool connectPaho(PahoRun& run, const std::string& clientId) {
    const std::string uri = "tcp://127.0.0.1:" + std::to_string(gPort);
    // Its file persistence (a directory of files) answers our file-backed store.
    const bool persist = !run.persistDir.empty();
    if (MQTTAsync_create(&run.client, uri.c_str(), clientId.c_str(),
                         persist ? MQTTCLIENT_PERSISTENCE_DEFAULT : MQTTCLIENT_PERSISTENCE_NONE,
                         persist ? run.persistDir.data() : nullptr) != MQTTASYNC_SUCCESS)
        return false;
    MQTTAsync_setCallbacks(run.client, &run, nullptr, pahoArrived, nullptr);
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
    options.keepAliveInterval = 60;
    options.cleansession = 1;
    options.maxInflight = run.maxInflight;
    options.context = &run;
    options.onSuccess = [](void* context, MQTTAsync_successData*) {
        auto* r = static_cast<PahoRun*>(context);
        {
            std::lock_guard lock(r->mutex);
            r->connected = true;
        }
        r->cv.notify_all();
    };
    options.onFailure = pahoFailed;
    if (MQTTAsync_connect(run.client, &options) != MQTTASYNC_SUCCESS) return false;
    return run.waitFor([&] { return run.connected || run.failed; }) && run.connected;
}

void closePaho(PahoRun& run) {
    MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
    options.timeout = 1000;
    MQTTAsync_disconnect(run.client, &options);
    while (MQTTAsync_isConnected(run.client)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    MQTTAsync_destroy(&run.client);
}

bool runPaho(PahoRun& run, int count, int qos, int window) {
    run.count = count;
    run.qos = qos;
    run.window = window;
    run.sent = 0;
    run.completed = 0;
    const int first = window > 0 ? std::min(window, count) : count;
    for (int i = 0; i < first; ++i) {
        ++run.sent;
        pahoSend(run, qos);
    }
    return run.waitFor([&] { return run.completed == count || run.failed; }) && !run.failed;
}

#endif

#if PELLIX_BENCH_HAVE_LIBMOSQUITTO
// ---- libmosquitto -----------------------------------------------------------------

struct MosqRun {
    std::mutex mutex;
    std::condition_variable cv;
    int completed = 0;
};

// A libmosquitto client with its network loop on its own thread; `window`
// messages in flight at most. Completions arrive on that thread.
class MosqClient {
public:
    explicit MosqClient(int window) : mosq_(mosquitto_new("bench-libmosquitto", true, this)) {
        if (!mosq_) return;
        mosquitto_max_inflight_messages_set(mosq_, static_cast<unsigned>(window));
        mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* context, int) {
            static_cast<MosqClient*>(context)->published();
        });
        connected_ = mosquitto_connect(mosq_, "127.0.0.1", gPort, 60) == MOSQ_ERR_SUCCESS &&
                     mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
    }
    ~MosqClient() {
        if (!mosq_) return;
        if (connected_) {
            mosquitto_disconnect(mosq_);
            mosquitto_loop_stop(mosq_, false);
        }
        mosquitto_destroy(mosq_);
    }
    MosqClient(const MosqClient&) = delete;
    MosqClient& operator=(const MosqClient&) = delete;

    // Publishes `count` QoS 1 messages keeping `window` outstanding (0: all
    // at once, the library queueing what its window does not admit).
    bool run(int count, int window) {
        if (!connected_) return false;
        {
            std::lock_guard lock(mutex_);
            count_ = count;
            window_ = window;
            sent_ = completed_ = 0;
            failed_ = false;
        }
        const int first = window > 0 ? std::min(window, count) : count;
        for (int i = 0; i < first; ++i) {
            {
                std::lock_guard lock(mutex_);
                ++sent_;
            }
            if (!publish()) return false;
        }
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(300), [&] { return completed_ == count_ || failed_; }) &&
               !failed_;
    }

private:
    bool publish() {
        const auto& body = payload();
        if (mosquitto_publish(mosq_, nullptr, "bench/libmosquitto", static_cast<int>(body.size()), body.data(), 1,
                              false) == MOSQ_ERR_SUCCESS)
            return true;
        std::lock_guard lock(mutex_);
        failed_ = true;
        cv_.notify_all();
        return false;
    }

    void published() {
        bool next = false;
        {
            std::lock_guard lock(mutex_);
            ++completed_;
            if (window_ > 0 && sent_ < count_) {
                ++sent_;
                next = true;
            }
            if (completed_ == count_) cv_.notify_all();
        }
        if (next) publish();
    }

    mosquitto* mosq_;
    bool connected_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0, window_ = 0, sent_ = 0, completed_ = 0;
    bool failed_ = false;
};

// A burst of `count` QoS 1 publishes made at once; the library queues what
// its window does not admit.
bool runMosquittoBurst(int count, int window) {
    MosqClient client(window);
    return client.run(count, 0);
}
#endif

// ---- benchmarks -----------------------------------------------------------------

void finish(benchmark::State& state, const std::string& name, int messages, double memoryBefore) {
    const double perRun = static_cast<double>(messages);
    state.counters["msgs/s"] =
        benchmark::Counter(perRun * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // Time per message: flat across burst sizes when a message costs the
    // same whatever the queue behind it.
    state.counters["us/msg"] = benchmark::Counter(perRun * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    gGrowth[name] = residentMemory() - memoryBefore;
    state.counters["RSS gain MB"] = gGrowth[name] / 1e6;
}

template <typename Body>
void benchOurs(benchmark::State& state, const char* name, int messages, Body body,
               std::shared_ptr<MQTTSession> session = connectOurs("bench-ours")) {
    if (!session) {
        state.SkipWithError("cannot connect");
        return;
    }
    const double before = residentMemory();
    for (auto _ : state) {
        if (!body(*session)) {
            state.SkipWithError("run failed");
            break;
        }
    }
    finish(state, name, messages, before);
    closeOurs(session);
}

void BM_Ours_QoS0(benchmark::State& state) { benchOurs(state, "BM_Ours_QoS0", kQoS0Messages, runOursQoS0); }
void BM_Ours_QoS1(benchmark::State& state) {
    benchOurs(state, "BM_Ours_QoS1", kQoSMessages, [](MQTTSession& s) { return runOurs(s, kQoSMessages, 1, kInFlight); });
}
void BM_Ours_QoS2(benchmark::State& state) {
    benchOurs(state, "BM_Ours_QoS2", kQoSMessages, [](MQTTSession& s) { return runOurs(s, kQoSMessages, 2, kInFlight); });
}
void BM_Ours_QoS1Burst(benchmark::State& state) {
    benchOurs(
        state, "BM_Ours_QoS1Burst", kBurstMessages, [](MQTTSession& s) { return runOurs(s, kBurstMessages, 1, 0); },
        connectOurs("bench-ours-qos1burst", kBurstMessages));
}

// Bursts: Args(burst size, window equal to the burst?, file-backed store?).
void BM_Ours_Burst(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::uint64_t window = state.range(1) ? static_cast<std::uint64_t>(count) : kInFlight;
    const bool fileBacked = state.range(2) != 0;
    platform::Paths::setHomeDirectory(gDir);
    std::filesystem::create_directories(gDir + "/Documents");
    benchOurs(
        state, "BM_Ours_Burst", count, [count](MQTTSession& s) { return runOurs(s, count, 1, 0); },
        connectOurs("bench-ours-burst", window, fileBacked, static_cast<std::uint64_t>(count)));
}

#if PELLIX_BENCH_HAVE_LIBMOSQUITTO
void BM_Libmosquitto_QoS1(benchmark::State& state) {
    MosqClient client(kInFlight);
    const double before = residentMemory();
    for (auto _ : state) {
        if (!client.run(kQoSMessages, kInFlight)) {
            state.SkipWithError("run failed");
            break;
        }
    }
    finish(state, "BM_Libmosquitto_QoS1", kQoSMessages, before);
}

void BM_Libmosquitto_Burst(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int window = state.range(1) ? count : kInFlight;
    const double before = residentMemory();
    for (auto _ : state) {
        if (!runMosquittoBurst(count, window)) {
            state.SkipWithError("run failed");
            break;
        }
    }
    finish(state, "BM_Libmosquitto_Burst", count, before);
}
#endif

#if PELLIX_BENCH_HAVE_PAHO
template <typename Body>
void benchPaho(benchmark::State& state, const char* name, int messages, Body body, int maxInflight = kInFlight) {
    PahoRun run;
    run.maxInflight = maxInflight;
    if (!connectPaho(run, "bench-paho")) {
        state.SkipWithError("cannot connect");
        return;
    }
    const double before = residentMemory();
    for (auto _ : state) {
        if (!body(run)) {
            state.SkipWithError("run failed");
            break;
        }
    }
    finish(state, name, messages, before);
    closePaho(run);
}

void BM_Paho_QoS0(benchmark::State& state) {
    benchPaho(state, "BM_Paho_QoS0", kQoS0Messages, [](PahoRun& run) {
        run.sent = 0;
        for (int i = 0; i < kQoS0Messages; ++i) pahoSend(run, 0);
        return runPaho(run, 1, 1, 0);
    });
}
void BM_Paho_QoS1(benchmark::State& state) {
    benchPaho(state, "BM_Paho_QoS1", kQoSMessages, [](PahoRun& run) { return runPaho(run, kQoSMessages, 1, kInFlight); });
}
void BM_Paho_QoS2(benchmark::State& state) {
    benchPaho(state, "BM_Paho_QoS2", kQoSMessages, [](PahoRun& run) { return runPaho(run, kQoSMessages, 2, kInFlight); });
}
void BM_Paho_QoS1Burst(benchmark::State& state) {
    benchPaho(
        state, "BM_Paho_QoS1Burst", kBurstMessages, [](PahoRun& run) { return runPaho(run, kBurstMessages, 1, 0); },
        kBurstMessages);
}
// The window equal to the burst only: with 16 in flight Paho refuses
// sends while its queue is full, which the caller would have to pace.
// Args(burst size, file persistence?).
void BM_Paho_Burst(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    PahoRun run;
    run.maxInflight = count;
    if (state.range(1)) {
        run.persistDir = gDir + "/paho";
        std::filesystem::create_directories(run.persistDir);
    }
    if (!connectPaho(run, "bench-paho-burst")) {
        state.SkipWithError("cannot connect");
        return;
    }
    const double before = residentMemory();
    for (auto _ : state) {
        if (!runPaho(run, count, 1, 0)) {
            state.SkipWithError("run failed");
            break;
        }
    }
    finish(state, "BM_Paho_Burst", count, before);
    closePaho(run);
}
#endif

BENCHMARK(BM_Ours_QoS0)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Ours_QoS1)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Ours_QoS2)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Ours_QoS1Burst)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Ours_Burst)
    ->ArgsProduct({{1000, 10000, 60000}, {1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
#if PELLIX_BENCH_HAVE_LIBMOSQUITTO
BENCHMARK(BM_Libmosquitto_QoS1)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Libmosquitto_Burst)
    ->ArgsProduct({{1000, 10000, 60000}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
#endif
#if PELLIX_BENCH_HAVE_PAHO
BENCHMARK(BM_Paho_QoS0)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Paho_QoS1)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Paho_QoS2)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Paho_QoS1Burst)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Paho_Burst)
    ->ArgsProduct({{1000, 10000, 60000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
#endif

// Keeps each run's rate for the ratio summary.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            auto it = r.counters.find("msgs/s");
            if (it != r.counters.end()) {
                gRate[r.benchmark_name().substr(0, r.benchmark_name().find("/iterations"))] = it->second;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    signal(SIGPIPE, SIG_IGN);
    MQTTLog::setLogLevel(0);
    if (!gBroker.start()) {
        std::fprintf(stderr, "cannot start mosquitto\n");
        return 1;
    }
    gPort = gBroker.port();
    char scratch[] = "/tmp/pellix-bench-mqtt-store-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::fprintf(stderr, "cannot make a folder for the stores\n");
        return 1;
    }
    gDir = scratch;
    Collector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    gBroker.stop();
    platform::Paths::setHomeDirectory("");
    std::filesystem::remove_all(gDir);
    std::printf("\n");
    for (const char* what : {"QoS0", "QoS1", "QoS2", "QoS1Burst"}) {
        const std::string ours = std::string("BM_Ours_") + what;
        auto a = gRate.find(ours);
        if (a == gRate.end() || a->second <= 0) continue;
        std::printf("%-10s ours %10.0f msgs/s", what, a->second);
        for (const char* peer : {"Paho", "Libmosquitto"}) {
            const std::string theirs = std::string("BM_") + peer + "_" + what;
            auto b = gRate.find(theirs);
            if (b == gRate.end()) continue;
            // Completion time ratio: how long ours takes for the same work.
            std::printf("   %s %10.0f msgs/s  ours/%s time %.2f  RSS gain ours %.1f MB, %s %.1f MB", peer, b->second,
                        peer, b->second / a->second, gGrowth[ours] / 1e6, peer, gGrowth[theirs] / 1e6);
        }
        std::printf("\n");
    }
    // Bursts: microseconds per message by size; flat is the goal.
    const auto usPerMessage = [](const std::string& name) {
        auto it = gRate.find(name);
        return it == gRate.end() || it->second <= 0 ? 0.0 : 1e6 / it->second;
    };
    std::printf("\nburst us/msg  ours mem/full  ours mem/16  ours file/full  ours file/16  paho mem/full"
                "  paho file/full  libmosquitto/full  libmosquitto/16\n");
    for (const char* n : {"1000", "10000", "60000"}) {
        const std::string size = n;
        std::printf("%-12s %14.1f %12.1f %15.1f %13.1f %14.1f %15.1f %18.1f %16.1f\n", n,
                    usPerMessage("BM_Ours_Burst/" + size + "/1/0"), usPerMessage("BM_Ours_Burst/" + size + "/0/0"),
                    usPerMessage("BM_Ours_Burst/" + size + "/1/1"), usPerMessage("BM_Ours_Burst/" + size + "/0/1"),
                    usPerMessage("BM_Paho_Burst/" + size + "/0"), usPerMessage("BM_Paho_Burst/" + size + "/1"),
                    usPerMessage("BM_Libmosquitto_Burst/" + size + "/1"),
                    usPerMessage("BM_Libmosquitto_Burst/" + size + "/0"));
    }
    benchmark::Shutdown();
    return 0;
}
