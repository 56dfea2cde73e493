// Door call latency: from a "makeCall" published to the local broker until
// PellixMQTTManager's delegate receives doorIncomingMessage, against a plain
// subscriber (the Paho C client, async API) on the same topic in the same
// run, which gives the broker's own round trip.
//
// A Paho publisher sends 1,000 "makeCall" messages at QoS 1, one at a time:
// each waits until both subscribers have it, then 1 ms passes. The send time
// of message i is kept in a table; the transaction id carries i, so both
// receivers look up the same send time (one process, one steady clock).
// Our side runs the whole road: session, decoder, JSON, the door call record
// and its caller image key, the delegate; it clears the transaction after
// each call as the facade does. Reports p50 and p99 of both, and the p99 gap
// (goal: within 1 ms on loopback).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "LocalMosquitto.h"
#include "MQTTClient/MQTTLog.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixLog/PellixLog.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixMQTTManager/PellixMQTTManager.h"
#include "PellixMQTTManager/PellixMqttMessageHandle.h"
#include "platform/RunLoop.h"

#if PELLIX_BENCH_HAVE_PAHO
#include <MQTTAsync.h>
#endif

using namespace pellix;

namespace {

constexpr int kCalls = 1000;
constexpr const char* kTopic = "app/room_id/bench";

bench::LocalMosquitto gBroker;

using Clock = std::chrono::steady_clock;
std::vector<Clock::time_point> gSent(kCalls);
std::vector<double> gOurs(kCalls, -1), gPlain(kCalls, -1);  // microseconds
std::atomic<int> gOursCount{0}, gPlainCount{0};

double since(int i) { return std::chrono::duration<double, std::micro>(Clock::now() - gSent[i]).count(); }

// The call index from a transaction id "b<index>"; -1 otherwise.
int indexOf(const std::string& id) {
    if (id.size() < 2 || id[0] != 'b') return -1;
    const int i = std::atoi(id.c_str() + 1);
    return i >= 0 && i < kCalls ? i : -1;
}

std::string makeCall(int i) {
    return R"({"cmd":"makeCall","transactionID":"b)" + std::to_string(i) +
           R"(","expiredAt":1704067200,"data":{"incomingType":1,"doorSipNO":"8001","doorName":"Gate",)"
           R"("doorGuid":"g-1","appRoomID":"12","disturbSip":["7"]}})";
}

class Delegate : public PellixMQTTDelegate {
public:
    bool connected = false;
    void mqttConnectedSuccess() override { connected = true; }
    void doorIncomingMessage(std::shared_ptr<PellixDoorCallModel>) override {
        const auto& handler = PellixMqttMessageHandle::sharedInstance();
        const int i = indexOf(handler->transcationID().value_or(""));
        if (i >= 0) gOurs[i] = since(i);
        handler->clearTransaction();
        ++gOursCount;
    }
};

double percentile(std::vector<double> v, double p) {
    v.erase(std::remove(v.begin(), v.end(), -1.0), v.end());
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

#if PELLIX_BENCH_HAVE_PAHO

int plainArrived(void*, char* topic, int, MQTTAsync_message* message) {
    const std::string text(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
    // Only the id is read: the plain subscriber does the least possible work.
    const auto at = text.find("\"transactionID\":\"");
    if (at != std::string::npos) {
        const int i = indexOf(text.substr(at + 17, text.find('"', at + 17) - at - 17));
        if (i >= 0) gPlain[i] = since(i);
    }
    ++gPlainCount;
    MQTTAsync_freeMessage(&message);
    MQTTAsync_free(topic);
    return 1;
}

// Connects a Paho client (and subscribes it at QoS 2 when asked); nullptr on failure.
MQTTAsync connectPaho(const std::string& clientId, bool subscribe) {
    const std::string uri = "tcp://127.0.0.1:" + std::to_string(gBroker.port());
    MQTTAsync client = nullptr;
    if (MQTTAsync_create(&client, uri.c_str(), clientId.c_str(), MQTTCLIENT_PERSISTENCE_NONE, nullptr) !=
        MQTTASYNC_SUCCESS)
        return nullptr;
    MQTTAsync_setCallbacks(client, nullptr, nullptr, plainArrived, nullptr);
    std::atomic<int> state{0};  // 1 done, -1 failed
    MQTTAsync_connectOptions options = MQTTAsync_connectOptions_initializer;
    options.cleansession = 1;
    options.context = &state;
    options.onSuccess = [](void* c, MQTTAsync_successData*) { *static_cast<std::atomic<int>*>(c) = 1; };
    options.onFailure = [](void* c, MQTTAsync_failureData*) { *static_cast<std::atomic<int>*>(c) = -1; };
    if (MQTTAsync_connect(client, &options) != MQTTASYNC_SUCCESS) return nullptr;
    while (state == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (state < 0) return nullptr;
    if (subscribe) {
        state = 0;
        MQTTAsync_responseOptions sub = MQTTAsync_responseOptions_initializer;
        sub.context = &state;
        sub.onSuccess = [](void* c, MQTTAsync_successData*) { *static_cast<std::atomic<int>*>(c) = 1; };
        sub.onFailure = [](void* c, MQTTAsync_failureData*) { *static_cast<std::atomic<int>*>(c) = -1; };
        if (MQTTAsync_subscribe(client, kTopic, 2, &sub) != MQTTASYNC_SUCCESS) return nullptr;
        while (state == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (state < 0) return nullptr;
    }
    return client;
}

void closePaho(MQTTAsync& client) {
    MQTTAsync_disconnectOptions options = MQTTAsync_disconnectOptions_initializer;
    options.timeout = 1000;
    MQTTAsync_disconnect(client, &options);
    while (MQTTAsync_isConnected(client)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    MQTTAsync_destroy(&client);
}

void BM_DoorCallLatency(benchmark::State& state) {
    auto delegate = std::make_shared<Delegate>();
    PellixMQTTManager::setDelegate(delegate);
    PellixGlobleConfig::sharedInstance()->setMqttServer("127.0.0.1");
    PellixGlobleConfig::sharedInstance()->setMqttPort(static_cast<std::uint32_t>(gBroker.port()));
    PellixMQTTManager::conenctWithTopics(std::vector<std::string>{kTopic}, std::string("bench-ours"));
    const auto main = platform::RunLoop::main();
    if (!main->runUntil([&] { return delegate->connected; }, 10)) {
        state.SkipWithError("our client did not connect");
        return;
    }
    main->runUntil([] { return false; }, 0.2);  // the subscription goes out after the connect
    MQTTAsync plain = connectPaho("bench-plain", true);
    MQTTAsync publisher = connectPaho("bench-publisher", false);
    if (!plain || !publisher) {
        state.SkipWithError("Paho clients did not connect");
        return;
    }
    for (auto _ : state) {
        std::fill(gOurs.begin(), gOurs.end(), -1);
        std::fill(gPlain.begin(), gPlain.end(), -1);
        gOursCount = 0;
        gPlainCount = 0;
        for (int i = 0; i < kCalls; ++i) {
            const std::string payload = makeCall(i);
            MQTTAsync_message message = MQTTAsync_message_initializer;
            message.payload = const_cast<char*>(payload.data());
            message.payloadlen = static_cast<int>(payload.size());
            message.qos = 1;
            gSent[i] = Clock::now();
            MQTTAsync_sendMessage(publisher, kTopic, &message, nullptr);
            main->runUntil([&] { return gOursCount > i && gPlainCount > i; }, 1.0);
            main->runUntil([] { return false; }, 0.001);
        }
    }
    const double oursP50 = percentile(gOurs, 0.50), oursP99 = percentile(gOurs, 0.99);
    const double plainP50 = percentile(gPlain, 0.50), plainP99 = percentile(gPlain, 0.99);
    state.counters["ours_p50_us"] = oursP50;
    state.counters["ours_p99_us"] = oursP99;
    state.counters["plain_p50_us"] = plainP50;
    state.counters["plain_p99_us"] = plainP99;
    state.counters["p99_gap_us"] = oursP99 - plainP99;
    state.counters["ours_received"] = gOursCount.load();
    state.counters["plain_received"] = gPlainCount.load();
    std::printf("door call latency over %d calls: ours p50 %.0f us p99 %.0f us; plain subscriber p50 %.0f us p99 %.0f us;"
                " p99 gap %.0f us (goal: under 1000 us)\n",
                kCalls, oursP50, oursP99, plainP50, plainP99, oursP99 - plainP99);
    closePaho(publisher);
    closePaho(plain);
    PellixMQTTManager::clearCurrentSession();
    main->runUntil([] { return false; }, 0.1);
}

BENCHMARK(BM_DoorCallLatency)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

#endif

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    signal(SIGPIPE, SIG_IGN);
    MQTTLog::setLogLevel(0);
    PellixLog::disableLog();
    if (!gBroker.start()) {
        std::fprintf(stderr, "cannot start mosquitto\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    gBroker.stop();
    benchmark::Shutdown();
    return 0;
}
