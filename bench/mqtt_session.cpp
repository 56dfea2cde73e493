// MQTTSession against the Eclipse Paho C client (async API) and libmosquitto,
// side by side, through one local mosquitto that the benchmark starts:
// - 100,000 QoS 0 publishes of 64 bytes, done when a QoS 1 marker sent after
//   them is acknowledged (so every QoS 0 message has reached the broker);
// - 10,000 QoS 1 and 10,000 QoS 2 publishes with 16 in flight: the caller
//   keeps 16 outstanding and sends the next from each completion;
// - bursts of 1,000, 10,000 and 60,000 QoS 1 publishes made at once, with
//   the window equal to the burst and with the default window (16 in flight
//   on every side), ours over the memory-only and over the file-backed store
//   (against Paho with its file persistence): the time per message should
//   not grow with the burst.
// Every client of a row is connected before the row's timed span and closed
// after it, so each side is timed over the same span: its publishes and
// their acknowledgements. Each iteration runs every side once, in an order
// that rotates between iterations. Elsewhere every client runs with the same
// window (ours: maxWindowSize 15, which admits 16 in flight; Paho:
// maxInflight 16; libmosquitto: 16 in flight). Counters: microseconds per
// message of each side and "<peer>/ours", the peer's time over ours (above 1
// ours is faster), also printed as a table at the end.
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
std::map<std::string, double> gRatio;  // "row peer" → peer's time / ours

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

#endif

// ---- benchmarks -----------------------------------------------------------------

// One client of a row: connected before the timed span and closed after it,
// so that every side is timed over the same span (its publishes and their
// acknowledgements, nothing of connecting or disconnecting).
struct Side {
    std::string name;                // "ours", "paho", "libmosquitto"
    std::function<bool()> run;       // one timed run
    std::function<void()> close;     // after the last iteration
    double seconds = 0;
};

// Runs every side once per iteration, in an order that rotates from one
// iteration to the next, so that a change in the machine's load falls on all
// sides alike. Wall time (each client has threads of its own). Counters per
// side: microseconds per message; and, per peer, "<peer>/ours": the peer's
// time over ours, so above 1 means ours is faster.
void rotate(benchmark::State& state, const std::string& row, std::vector<Side>& sides, int messages) {
    const double before = residentMemory();
    std::size_t first = 0;
    for (auto _ : state) {
        double total = 0;
        for (std::size_t k = 0; k < sides.size(); ++k) {
            auto& side = sides[(first + k) % sides.size()];
            const auto start = std::chrono::steady_clock::now();
            const bool ok = side.run();
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            side.seconds += seconds;
            if (side.name == "ours") total = seconds;
            if (!ok) {
                state.SkipWithError((side.name + " failed").c_str());
                break;
            }
        }
        state.SetIterationTime(total);
        first = (first + 1) % sides.size();
    }
    for (auto& side : sides)
        if (side.close) side.close();
    const double perSide = static_cast<double>(messages) * static_cast<double>(state.iterations());
    for (const auto& side : sides) {
        if (side.seconds <= 0) continue;
        state.counters[side.name + "_us/msg"] = side.seconds / perSide * 1e6;
        if (side.name != "ours" && sides.front().seconds > 0) {
            state.counters[side.name + "/ours"] = side.seconds / sides.front().seconds;
            gRatio[row + " " + side.name] = side.seconds / sides.front().seconds;
        }
    }
    state.counters["RSS gain MB"] = (residentMemory() - before) / 1e6;
}

Side oursSide(std::shared_ptr<MQTTSession> session, std::function<bool(MQTTSession&)> body) {
    Side side{"ours", nullptr, nullptr};
    if (!session) return side;
    side.run = [session, body] { return body(*session); };
    side.close = [session] { closeOurs(session); };
    return side;
}

#if PELLIX_BENCH_HAVE_PAHO
Side pahoSide(int maxInflight, std::string persistDir, std::function<bool(PahoRun&)> body) {
    auto run = std::make_shared<PahoRun>();
    run->maxInflight = maxInflight;
    run->persistDir = std::move(persistDir);
    if (!run->persistDir.empty()) std::filesystem::create_directories(run->persistDir);
    Side side{"paho", nullptr, nullptr};
    if (!connectPaho(*run, "bench-paho")) return side;
    side.run = [run, body] { return body(*run); };
    side.close = [run] { closePaho(*run); };
    return side;
}
#endif

#if PELLIX_BENCH_HAVE_LIBMOSQUITTO
// Publishes `count` QoS 1 messages per run, keeping `window` outstanding (0:
// all at once, the library queueing what its `inflight` does not admit).
Side mosquittoSide(int inflight, int count, int window) {
    auto client = std::make_shared<MosqClient>(inflight);
    Side side{"libmosquitto", nullptr, nullptr};
    side.run = [client, count, window] { return client->run(count, window); };
    side.close = [client]() mutable { client.reset(); };
    return side;
}
#endif

// Runs the row when every side could connect.
void runRow(benchmark::State& state, const std::string& row, std::vector<Side> sides, int messages) {
    for (const auto& side : sides) {
        if (!side.run) {
            for (auto& s : sides)
                if (s.run && s.close) s.close();
            return state.SkipWithError((side.name + " cannot connect").c_str());
        }
    }
    rotate(state, row, sides, messages);
}

void BM_QoS0(benchmark::State& state) {
    std::vector<Side> sides{oursSide(connectOurs("bench-ours"), runOursQoS0)};
#if PELLIX_BENCH_HAVE_PAHO
    sides.push_back(pahoSide(kInFlight, "", [](PahoRun& run) {
        run.sent = 0;
        for (int i = 0; i < kQoS0Messages; ++i) pahoSend(run, 0);
        return runPaho(run, 1, 1, 0);
    }));
#endif
    runRow(state, "QoS0", std::move(sides), kQoS0Messages);
}

// Pipelined: 16 outstanding, the next sent from each completion.
void BM_Pipelined(benchmark::State& state) {
    const auto qos = static_cast<std::uint8_t>(state.range(0));
    std::vector<Side> sides{oursSide(connectOurs("bench-ours"),
                                     [qos](MQTTSession& s) { return runOurs(s, kQoSMessages, qos, kInFlight); })};
#if PELLIX_BENCH_HAVE_PAHO
    sides.push_back(pahoSide(kInFlight, "", [qos](PahoRun& run) { return runPaho(run, kQoSMessages, qos, kInFlight); }));
#endif
#if PELLIX_BENCH_HAVE_LIBMOSQUITTO
    if (qos == 1) sides.push_back(mosquittoSide(kInFlight, kQoSMessages, kInFlight));
#endif
    runRow(state, "Pipelined QoS " + std::to_string(qos), std::move(sides), kQoSMessages);
}

// Bursts: Args(burst size, window equal to the burst?, file-backed store?).
// Paho only with the window equal to the burst: with 16 in flight it refuses
// sends while its queue is full, which the caller would have to pace.
void BM_Burst(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool fullWindow = state.range(1) != 0;
    const bool fileBacked = state.range(2) != 0;
    const std::uint64_t window = fullWindow ? static_cast<std::uint64_t>(count) : kInFlight;
    platform::Paths::setHomeDirectory(gDir);
    std::filesystem::create_directories(gDir + "/Documents");
    std::vector<Side> sides{oursSide(connectOurs("bench-ours-burst", window, fileBacked, static_cast<std::uint64_t>(count)),
                                     [count](MQTTSession& s) { return runOurs(s, count, 1, 0); })};
#if PELLIX_BENCH_HAVE_PAHO
    if (fullWindow)
        sides.push_back(pahoSide(count, fileBacked ? gDir + "/paho" : "",
                                 [count](PahoRun& run) { return runPaho(run, count, 1, 0); }));
#endif
#if PELLIX_BENCH_HAVE_LIBMOSQUITTO
    // libmosquitto keeps its queue in memory only: it answers the memory rows.
    if (!fileBacked) sides.push_back(mosquittoSide(static_cast<int>(window), count, 0));
#endif
    runRow(state,
           "Burst " + std::to_string(count) + (fullWindow ? " full window" : " window 16") + (fileBacked ? " file" : " memory"),
           std::move(sides), count);
}

BENCHMARK(BM_QoS0)->Unit(benchmark::kMillisecond)->Iterations(6)->UseManualTime();
BENCHMARK(BM_Pipelined)->ArgName("qos")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(6)->UseManualTime();
BENCHMARK(BM_Burst)
    ->ArgNames({"n", "fullwindow", "file"})
    ->ArgsProduct({{1000, 10000}, {1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6)
    ->UseManualTime();
// libmosquitto takes tens of seconds for the largest burst: two iterations,
// still one with each order.
BENCHMARK(BM_Burst)
    ->ArgNames({"n", "fullwindow", "file"})
    ->ArgsProduct({{60000}, {1, 0}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseManualTime();

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
    benchmark::RunSpecifiedBenchmarks();
    gBroker.stop();
    platform::Paths::setHomeDirectory("");
    std::filesystem::remove_all(gDir);
    // The peer's time over ours per row: above 1.00 ours is faster.
    std::printf("\n%-44s %s\n", "row peer", "peer time / ours");
    for (const auto& [row, ratio] : gRatio) std::printf("%-44s %.2f\n", row.c_str(), ratio);
    benchmark::Shutdown();
    return 0;
}
