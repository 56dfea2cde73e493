// One side of a comparison against its reference, run alternately within
// each iteration: a change in the machine's load or speed during the run then
// falls on both sides alike. Counters: the CPU time per call of each side
// ("ours_us", "ref_us") and their quotient ("ratio", ours / reference). The
// two sides share one heap, so a cost that one side's allocations cause only
// when it runs alone (the heap handing memory back to the system between its
// calls, say) shows in separate runs, not here: keep those beside it.
#pragma once

#include <benchmark/benchmark.h>

#include <ctime>

namespace pellix::bench {

// CPU time of this thread, in microseconds.
inline double threadCPUMicros() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// `ours` and `reference` each do one call and return whether it worked.
template <typename Ours, typename Reference>
void runPaired(benchmark::State& state, Ours&& ours, Reference&& reference) {
    double oursMicros = 0, referenceMicros = 0;
    bool oursFirst = true;
    for (auto _ : state) {
        // Alternate which side goes first, so neither always inherits the
        // other's freed memory.
        for (int side = 0; side < 2; ++side) {
            const bool runOurs = (side == 0) == oursFirst;
            const double start = threadCPUMicros();
            const bool ok = runOurs ? ours() : reference();
            (runOurs ? oursMicros : referenceMicros) += threadCPUMicros() - start;
            if (!ok) state.SkipWithError(runOurs ? "ours failed" : "reference failed");
        }
        oursFirst = !oursFirst;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["ours_us"] = oursMicros / n;
    state.counters["ref_us"] = referenceMicros / n;
    state.counters["ratio"] = referenceMicros > 0 ? oursMicros / referenceMicros : 0;
}

}  // namespace pellix::bench
