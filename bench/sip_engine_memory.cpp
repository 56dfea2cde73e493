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

#include "SipBench.h"

namespace {

using namespace sipbench;

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
            failures += e.call(caller) < 0;
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
