// The SIP engine against sipp on loopback:
// - call set-up: 200 calls one after the other, time from MakeCall to the
//   host hearing of the connected state (6), next to sipp's own caller
//   against the same called party in the same run (INVITE sent to 200
//   received, from the time stamps of sipp's message log); each call is hung
//   up before the next; the engine's calls once with the null media and once
//   with GStreamer media (test sources and sinks) as the SDK runs them;
// (What a call leaves behind in memory: sip_engine_memory.cpp.)
// The engine is pumped without pause in the set-up rows (the SDK pumps it every 50 ms),
// so the figure is the engine's own latency, not the pump's.
// - answer and call latency as the SDK runs the engine (BM_LatencyAsTheSdkPumps):
//   a 50 ms timer on the thread's run loop, and the rounds the engine asks
//   for itself; no busy loop. Each iteration makes three calls in turn (the
//   order rotates): a sipp caller to sipp's called party (the reference for
//   both rows), a sipp caller to the engine, whose host answers at once
//   (INVITE sent to 200 received, from sipp's message log), and the engine
//   calling sipp's called party (MakeCall to the host hearing of state 6).
//   Argument 0: null media or GStreamer media (test sources and sinks);
//   argument 1: quiet, or every core kept busy by spinning threads.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "SipBench.h"
#include "SipEngineSDK/SipEngine.h"
#include "SipEngineSDK/media/GstCallMedia.h"
#include "platform/RunLoop.h"
#include "platform/Timer.h"

namespace {

using namespace sipbench;

// INVITE sent -> 200 received per Call-ID, in ms, from sipp's message log:
// each message follows a line "----...---- <date> <hh:mm:ss.micro>".
std::vector<double> sippSetUpTimes(const fs::path& log) {
    std::ifstream f(log);
    std::string line;
    double stamp = 0;
    std::string first;
    std::map<std::string, double> invites;
    std::vector<double> out;
    int lineInBlock = 0;
    while (std::getline(f, line)) {
        if (line.rfind("-----", 0) == 0) {
            auto sp = line.rfind(' ');
            std::string t = line.substr(sp + 1);   // hh:mm:ss.micro
            stamp = std::stod(t.substr(0, 2)) * 3600 + std::stod(t.substr(3, 2)) * 60 + std::stod(t.substr(6));
            lineInBlock = 0;
            first.clear();
            continue;
        }
        ++lineInBlock;
        if (lineInBlock == 3) first = line;
        if (line.rfind("Call-ID: ", 0) == 0 && !first.empty()) {
            std::string id = line.substr(9);
            if (first.rfind("INVITE ", 0) == 0) invites.emplace(id, stamp);
            else if (first.rfind("SIP/2.0 200", 0) == 0 && invites.count(id)) {
                out.push_back((stamp - invites[id]) * 1000);
                invites.erase(id);
            }
        }
    }
    return out;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

void BM_CallSetUp(benchmark::State& state) {
    const int calls = 200;
    fs::path dir = fs::temp_directory_path() / ("pellix-sip-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (auto _ : state) {
        // sipp calling sipp.
        int sippUas = freeUdpPort();
        std::vector<double> sippTimes;
        {
            Sipp uas({"-sn", "uas", "-p", std::to_string(sippUas), "-m", std::to_string(calls)}, dir);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Sipp uac({"-sn", "uac", "127.0.0.1:" + std::to_string(sippUas), "-p", std::to_string(freeUdpPort()), "-m",
                      std::to_string(calls), "-l", "1", "-r", "1000", "-trace_msg", "-message_file",
                      (dir / "uac_messages.log").string()},
                     dir);
            uac.wait();
        }
        sippTimes = sippSetUpTimes(dir / "uac_messages.log");
        // The engine calling the same kind of called party.
        int uasPort = freeUdpPort();
        Sipp uas({"-sn", "uas", "-p", std::to_string(uasPort), "-m", std::to_string(calls)}, dir);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto ourCalls = [&](int port) {
            Engine e;
            auto* profile = e.engine->GetSipProfileManager()->CreateProfile("bench");
            profile->SetUserName("1001");
            profile->SetDomain(("127.0.0.1:" + std::to_string(port)).c_str());
            std::vector<double> times;
            for (int i = 0; i < calls; ++i) {
                double ms = e.call(profile);
                if (ms >= 0) times.push_back(ms);
            }
            return times;
        };
        std::vector<double> ours = ourCalls(uasPort);
        state.counters["calls_connected"] = static_cast<double>(ours.size());
        state.counters["ours_p50_ms"] = percentile(ours, 0.5);
        state.counters["ours_p95_ms"] = percentile(ours, 0.95);
        {
            int mediaUasPort = freeUdpPort();
            Sipp mediaUas({"-sn", "uas", "-p", std::to_string(mediaUasPort), "-m", std::to_string(calls)}, dir);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            client::media::setCallMediaFactory([](const client::media::MediaSettings& settings) {
                auto s = settings;
                s.audio.sourceDescription = "audiotestsrc is-live=true wave=sine";
                s.audio.sinkDescription = "fakesink";
                return client::media::gstreamerCallMediaFactory()(s);
            });
            std::vector<double> withMedia = ourCalls(mediaUasPort);
            client::media::setCallMediaFactory({});
            state.counters["media_calls_connected"] = static_cast<double>(withMedia.size());
            state.counters["media_p50_ms"] = percentile(withMedia, 0.5);
            state.counters["media_p95_ms"] = percentile(withMedia, 0.95);
        }
        state.counters["sipp_p50_ms"] = percentile(sippTimes, 0.5);
        state.counters["sipp_p95_ms"] = percentile(sippTimes, 0.95);
        state.counters["sipp_calls"] = static_cast<double>(sippTimes.size());
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_CallSetUp)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Every core busy with a spinning thread while it lives.
class CpuLoad {
public:
    explicit CpuLoad(bool on) {
        if (!on) return;
        for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
            threads_.emplace_back([this] {
                unsigned long spin = 0;
                while (!stop_.load(std::memory_order_relaxed)) benchmark::DoNotOptimize(++spin);
            });
    }
    ~CpuLoad() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

void BM_LatencyAsTheSdkPumps(benchmark::State& state) {
    const bool gstMedia = state.range(0) != 0;
    const int calls = 100;
    fs::path dir = fs::temp_directory_path() / ("pellix-sip-bench-l-" + std::to_string(getpid()));
    fs::create_directories(dir);
    if (gstMedia) {
        client::media::setCallMediaFactory([](const client::media::MediaSettings& settings) {
            auto s = settings;
            s.audio.sourceDescription = "audiotestsrc is-live=true wave=sine";
            s.audio.sinkDescription = "fakesink";
            return client::media::gstreamerCallMediaFactory()(s);
        });
    }
    for (auto _ : state) {
        const int calleePort = freeUdpPort();
        Sipp callee({"-sn", "uas", "-p", std::to_string(calleePort)}, dir);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));

        client::Config config;
        const int enginePort = freeUdpPort();
        config.transport.udpPort = enginePort;
        client::setText(config.transport.ipv4BindAddress, "127.0.0.1");
        client::setText(config.media.audioCodecs, "opus,pcma,pcmu");
        client::SipEngine* engine = client::SipEngineFactory::Create(config);
        engine->Initialize();
        struct Host : client::CallStateObserver {
            int state = -1;
            Clock::time_point connectedAt{};
            void OnCallStateChange(client::Call* call, client::Call::CallState s) override {
                state = s;
                if (s == client::Call::kConnected) connectedAt = Clock::now();
                // The resident's app answers a door call as soon as it hears of it.
                if (s == client::Call::kNewCall && call->GetDirection() == client::Call::kIncoming)
                    call->Answer(true, false);
            }
            void OnDtmf(client::Call*, const char*) override {}
            void OnMediaStreamUpdate(client::Call*, client::CallMediaStreamType, client::Call::MediaDirection) override {}
        } host;
        engine->GetCallManager()->AddObserver(&host);
        engine->GetCallManager()->SetAutoRinging(1);
        auto* profile = engine->GetSipProfileManager()->CreateProfile("bench");
        profile->SetUserName("1001");
        profile->SetDomain(("127.0.0.1:" + std::to_string(calleePort)).c_str());
        // As the SDK pumps it.
        auto pump = pellix::platform::Timer::scheduled(0.05, true, [engine](pellix::platform::Timer&) {
            engine->ProcessEvents();
        });
        auto loop = pellix::platform::RunLoop::current();
        auto runUntil = [&](const std::function<bool()>& done) { return loop->runUntil(done, 20.0); };

        CpuLoad load(state.range(1) != 0);
        std::vector<double> reference, answered, connected;
        int failures = 0;
        // A sipp caller's INVITE-to-200 time to `port`, or -1.
        auto sippCall = [&](int port) {
            const fs::path log = dir / "uac_messages.log";
            fs::remove(log);
            Sipp caller({"-sn", "uac", "127.0.0.1:" + std::to_string(port), "-p", std::to_string(freeUdpPort()), "-m",
                         "1", "-trace_msg", "-message_file", log.string(), "-timeout", "20", "-timeout_error"},
                        dir);
            if (!runUntil([&] { return caller.exited(); })) return -1.0;
            const auto times = sippSetUpTimes(log);
            return times.size() == 1 ? times[0] : -1.0;
        };
        auto ourCall = [&] {
            host.state = -1;
            const auto start = Clock::now();
            client::Call* c = engine->GetCallManager()->MakeCall(profile, "service", "", false, 1, false, 0, {});
            if (!c || !runUntil([&] { return host.state == 6 || host.state == 2 || host.state == 3; }) || host.state != 6)
                return -1.0;
            const double ms = std::chrono::duration<double, std::milli>(host.connectedAt - start).count();
            c->Hangup();
            runUntil([&] { return host.state == 7; });
            return ms;
        };
        for (int i = 0; i < calls; ++i) {
            for (int k = 0; k < 3; ++k) {
                double ms = -1;
                std::vector<double>* into = nullptr;
                switch ((i + k) % 3) {
                case 0: ms = sippCall(calleePort), into = &reference; break;
                case 1:
                    host.state = -1;
                    ms = sippCall(enginePort), into = &answered;
                    runUntil([&] { return host.state == 7; });
                    break;
                default: ms = ourCall(), into = &connected; break;
                }
                if (ms < 0) ++failures;
                else into->push_back(ms);
            }
        }
        pump->invalidate();
        client::SipEngineFactory::Delete(engine);
        state.counters["failures"] = failures;
        const double sippP50 = percentile(reference, 0.5);
        state.counters["sipp_p50_ms"] = sippP50;
        state.counters["sipp_p95_ms"] = percentile(reference, 0.95);
        state.counters["answer_p50_ms"] = percentile(answered, 0.5);
        state.counters["answer_p95_ms"] = percentile(answered, 0.95);
        state.counters["call_p50_ms"] = percentile(connected, 0.5);
        state.counters["call_p95_ms"] = percentile(connected, 0.95);
        state.counters["answer_vs_sipp"] = sippP50 > 0 ? percentile(answered, 0.5) / sippP50 : 0;
        state.counters["call_vs_sipp"] = sippP50 > 0 ? percentile(connected, 0.5) / sippP50 : 0;
    }
    client::media::setCallMediaFactory({});
    fs::remove_all(dir);
}
BENCHMARK(BM_LatencyAsTheSdkPumps)
    ->ArgNames({"gst_media", "loaded"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();


}  // namespace

BENCHMARK_MAIN();
