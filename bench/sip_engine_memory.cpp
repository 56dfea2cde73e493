// What a SIP call leaves behind: the engine registers, calls sipp's called
// party, hangs up and unregisters, over and over on loopback, and the heap in
// use is read after 1,000 cycles and again after 5,000. Each reading waits
// until sofia's finished transactions have timed out (SIP keeps them up to
// 32 s to absorb retransmissions, so memory read right after a burst counts
// them); a steady figure between the two readings (goal: within 64 KB) means
// a cycle leaves nothing behind. Counters: heap in use ("heap_*_kb") and
// resident memory ("rss_*_kb") at each reading, the heap's peak during the
// cycles, the growth per cycle between the readings ("bytes_per_cycle"), and
// resident memory once the allocator has handed its free pages back
// (malloc_trim), which tells memory in use from memory the allocator keeps.
//
// The cycles run in blocks of 1,000, each followed by that wait: sofia's
// transaction tables stay at the size of the most transactions alive at
// once, so both readings must follow the same peak, or the second counts a
// larger table rather than anything a call left behind. Within a block the
// engine is pumped without pause (only the memory counts here, and 5,000
// cycles on the SDK's 50 ms timer would take hours); while the transactions
// time out it is pumped every 50 ms, as the SDK does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "SipEngineSDK/SipEngine.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A registrar that accepts a registration and then its removal (one
// Call-ID for both) at once.
const char* const kRegistrarScenario = R"(<?xml version="1.0" encoding="UTF-8"?>
<scenario name="bench_registrar">
  <recv request="REGISTER"/>
  <send><![CDATA[
SIP/2.0 200 OK
[last_Via:]
[last_From:]
[last_To:];tag=[pid]reg[call_number]
[last_Call-ID:]
[last_CSeq:]
[last_Contact:]
Content-Length: 0

]]></send>
  <recv request="REGISTER"/>
  <send><![CDATA[
SIP/2.0 200 OK
[last_Via:]
[last_From:]
[last_To:];tag=[pid]reg[call_number]
[last_Call-ID:]
[last_CSeq:]
Content-Length: 0

]]></send>
</scenario>
)";

int freeUdpPort() {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// sipp as a child in its own folder, stopped by pid.
class Sipp {
public:
    Sipp(std::vector<std::string> args, const fs::path& dir) {
        args.insert(args.begin(), {"sipp", "-i", "127.0.0.1", "-nostdin"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, "sipp", &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~Sipp() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Sipp(const Sipp&) = delete;
    Sipp& operator=(const Sipp&) = delete;

private:
    pid_t pid_ = -1;
};

struct Watch : client::CallStateObserver, client::RegistrationObserver {
    int state = -1;
    int registration = 0;   // 1 registered, 2 cleared, 3 failed
    void OnCallStateChange(client::Call*, client::Call::CallState s) override { state = s; }
    void OnDtmf(client::Call*, const char*) override {}
    void OnMediaStreamUpdate(client::Call*, client::CallMediaStreamType, client::Call::MediaDirection) override {}
    void OnRegistrationProgress(client::SipProfile*) override {}
    void OnRegistrationSuccess(client::SipProfile*) override { registration = 1; }
    void OnRegistrationCleared(client::SipProfile*) override { registration = 2; }
    void OnRegistrationFailed(client::SipProfile*, int, const char*) override { registration = 3; }
};

struct Engine {
    client::Config config;
    client::SipEngine* engine = nullptr;
    Watch watch;
    Engine() {
        client::setText(config.transport.ipv4BindAddress, "127.0.0.1");
        config.transport.udpPort = 0;
        client::setText(config.media.audioCodecs, "g729,PCMU,PCMA");
        client::setText(config.media.videoCodecs, "H264");
        engine = client::SipEngineFactory::Create(config);
        engine->Initialize();
        engine->GetCallManager()->AddObserver(&watch);
        engine->GetRegistrationManager()->AddObserver(&watch);
    }
    ~Engine() { client::SipEngineFactory::Delete(engine); }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    template <typename F>
    bool pumpUntil(F done, double seconds = 10) {
        auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < deadline) {
            engine->ProcessEvents();
            if (done()) return true;
            std::this_thread::yield();
        }
        return false;
    }
    // Pumps on the SDK's timer until sofia has let go of every finished
    // transaction.
    void settle() {
        auto deadline = Clock::now() + std::chrono::seconds(35);
        while (Clock::now() < deadline) {
            engine->ProcessEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    bool call(client::SipProfile* profile) {
        watch.state = -1;
        client::Call* c = engine->GetCallManager()->MakeCall(profile, "service", "", false, 1, false, 0, {});
        if (!c || !pumpUntil([&] { return watch.state == 6 || watch.state == 2 || watch.state == 3; })) return false;
        if (watch.state != 6) return false;
        c->Hangup();
        pumpUntil([&] { return watch.state == 7; });
        engine->ProcessEvents();
        return true;
    }
};

// In use in the arenas and in chunks mapped on their own.
long heapInUseKb() {
    auto m = mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

long rssKb() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

constexpr int kBlock = 1000;

void BM_RegisterCallHangUpMemory(benchmark::State& state) {
    const int first = static_cast<int>(state.range(0)), cycles = static_cast<int>(state.range(1));
    fs::path dir = fs::temp_directory_path() / ("pellix-sip-bench-m-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (auto _ : state) {
        int regPort = freeUdpPort(), uasPort = freeUdpPort();
        std::ofstream(dir / "registrar.xml") << kRegistrarScenario;
        // Every cycle's registration keeps its Call-ID: sipp forgets the
        // finished one at once, so the next runs the scenario again.
        Sipp registrar({"-sf", (dir / "registrar.xml").string(), "-p", std::to_string(regPort), "-m",
                        std::to_string(cycles * 3), "-deadcall_wait", "0"},
                       dir);
        Sipp uas({"-sn", "uas", "-p", std::to_string(uasPort), "-m", std::to_string(cycles)}, dir);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Engine e;
        auto* reg = e.engine->GetSipProfileManager()->CreateProfile("reg");
        reg->SetUserName("1001");
        reg->SetDomain(("127.0.0.1:" + std::to_string(regPort)).c_str());
        auto* caller = e.engine->GetSipProfileManager()->CreateProfile("caller");
        caller->SetUserName("1001");
        caller->SetDomain(("127.0.0.1:" + std::to_string(uasPort)).c_str());
        long rssFirst = 0, heapFirst = 0, peak = 0;
        int failures = 0;
        for (int i = 0; i < cycles; ++i) {
            e.watch.registration = 0;
            e.engine->GetRegistrationManager()->Register(reg);
            failures += !e.pumpUntil([&] { return e.watch.registration != 0; }) || e.watch.registration != 1;
            failures += !e.call(caller);
            e.watch.registration = 0;
            e.engine->GetRegistrationManager()->Unregister(reg);
            failures += !e.pumpUntil([&] { return e.watch.registration != 0; }) || e.watch.registration != 2;
            peak = std::max(peak, heapInUseKb());
            if ((i + 1) % kBlock == 0) e.settle();
            if (i + 1 == first) {
                rssFirst = rssKb();
                heapFirst = heapInUseKb();
            }
        }
        const long heapLast = heapInUseKb();
        state.counters["failures"] = failures;
        state.counters["heap_first_kb"] = static_cast<double>(heapFirst);
        state.counters["heap_last_kb"] = static_cast<double>(heapLast);
        state.counters["heap_growth_kb"] = static_cast<double>(heapLast - heapFirst);
        state.counters["bytes_per_cycle"] = static_cast<double>(heapLast - heapFirst) * 1024.0 / (cycles - first);
        state.counters["heap_peak_kb"] = static_cast<double>(peak);
        state.counters["rss_first_kb"] = static_cast<double>(rssFirst);
        state.counters["rss_last_kb"] = static_cast<double>(rssKb());
        malloc_trim(0);
        state.counters["rss_last_trimmed_kb"] = static_cast<double>(rssKb());
    }
    fs::remove_all(dir);
}
// Readings after the first and after the second number of cycles (both
// whole blocks).
BENCHMARK(BM_RegisterCallHangUpMemory)
    ->ArgNames({"first", "cycles"})
    ->Args({1000, 5000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
