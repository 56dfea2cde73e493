// CRC-64 throughput: our dispatching entry point and each of its paths, side
// by side with liblzma's lzma_crc64 and ISA-L's crc64_ecma_refl (same CRC),
// over small buffers (16 B to 512 B, where call overhead and the tail dominate)
// and 1 KiB, 64 KiB and 8 MiB ones, aligned and offset by one byte.
//
// BM_Paired_vs_<reference> runs our entry point and the reference alternately
// within each iteration (bench/Paired.h), each side a batch of chained calls
// over 256 KiB in all (one call from 256 KiB up), so that a change in the
// machine's load falls on both alike: the rows to quote. Counters: CPU time
// per batch of each side, "ratio" (ours / reference) and "speedup"
// (reference / ours).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "HOSSDK/aos_crc64.h"
#include "Paired.h"

#if __has_include(<lzma.h>)
#include <lzma.h>
#define HAVE_LZMA 1
#endif
#if __has_include(<isa-l/crc64.h>)
#include <isa-l/crc64.h>
#define HAVE_ISAL 1
#endif

namespace {

// One 64-byte aligned buffer, big enough for the largest size plus the offset.
const unsigned char* buffer() {
    static const unsigned char* b = [] {
        const std::size_t n = (8u << 20) + 64;
        auto* p = static_cast<unsigned char*>(std::aligned_alloc(64, n));
        std::mt19937_64 rng(42);
        for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(rng());
        return p;
    }();
    return b;
}

template <typename F>
void run(benchmark::State& state, F f) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const unsigned char* p = buffer() + state.range(1);
    std::uint64_t crc = 0;
    for (auto _ : state) {
        crc = f(crc, p, size);  // chained, so no call can be hoisted
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}

void BM_aos_crc64(benchmark::State& s) {
    s.SetLabel(pellix::crc64::selectedPath());
    run(s, [](std::uint64_t c, const unsigned char* p, std::size_t n) { return pellix::aos_crc64(c, p, n); });
}
void BM_table(benchmark::State& s) {
    run(s, [](std::uint64_t c, const unsigned char* p, std::size_t n) { return pellix::crc64_little(c, p, n); });
}
void BM_clmul(benchmark::State& s) {
    if (!pellix::crc64::clmulSupported()) return s.SkipWithError("no PCLMULQDQ");
    run(s, [](std::uint64_t c, const unsigned char* p, std::size_t n) { return pellix::crc64::clmul(c, p, n); });
}
void BM_vpclmul(benchmark::State& s) {
    if (!pellix::crc64::vpclmulSupported()) return s.SkipWithError("no VPCLMULQDQ");
    run(s, [](std::uint64_t c, const unsigned char* p, std::size_t n) { return pellix::crc64::vpclmul(c, p, n); });
}
#ifdef HAVE_LZMA
void BM_lzma_crc64(benchmark::State& s) {
    run(s, [](std::uint64_t c, const unsigned char* p, std::size_t n) { return lzma_crc64(p, n, c); });
}
#endif
#ifdef HAVE_ISAL
void BM_isal_crc64_ecma_refl(benchmark::State& s) {
    run(s, [](std::uint64_t c, const unsigned char* p, std::size_t n) { return crc64_ecma_refl(c, p, n); });
}
#endif

// A batch of calls over one buffer, each continuing the last one's value.
template <typename F>
bool batch(F f, const unsigned char* p, std::size_t size, std::size_t calls) {
    std::uint64_t crc = 0;
    for (std::size_t i = 0; i < calls; ++i) crc = f(crc, p, size);
    benchmark::DoNotOptimize(crc);
    return true;
}

template <typename Reference>
void paired(benchmark::State& state, Reference reference) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const unsigned char* p = buffer() + state.range(1);
    const std::size_t calls = std::max<std::size_t>(1, (std::size_t{256} << 10) / size);
    auto ours = [](std::uint64_t c, const unsigned char* b, std::size_t n) { return pellix::aos_crc64(c, b, n); };
    pellix::bench::runPaired(
        state, [&] { return batch(ours, p, size, calls); }, [&] { return batch(reference, p, size, calls); });
    state.counters["speedup"] = state.counters["ratio"] > 0 ? 1.0 / state.counters["ratio"] : 0;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * calls * size) * 2);
}

#ifdef HAVE_LZMA
void BM_Paired_vs_lzma_crc64(benchmark::State& s) {
    paired(s, [](std::uint64_t c, const unsigned char* p, std::size_t n) { return lzma_crc64(p, n, c); });
}
#endif
#ifdef HAVE_ISAL
void BM_Paired_vs_isal_crc64_ecma_refl(benchmark::State& s) {
    paired(s, [](std::uint64_t c, const unsigned char* p, std::size_t n) { return crc64_ecma_refl(c, p, n); });
}
#endif

void sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"bytes", "offset"});
    for (long size : {16L, 32L, 64L, 100L, 128L, 256L, 512L, 1L << 10, 64L << 10, 8L << 20})
        for (long offset : {0L, 1L}) b->Args({size, offset});
}

}  // namespace

BENCHMARK(BM_aos_crc64)->Apply(sizes);
BENCHMARK(BM_vpclmul)->Apply(sizes);
BENCHMARK(BM_clmul)->Apply(sizes);
BENCHMARK(BM_table)->Apply(sizes);
#ifdef HAVE_LZMA
BENCHMARK(BM_lzma_crc64)->Apply(sizes);
#endif
#ifdef HAVE_ISAL
BENCHMARK(BM_isal_crc64_ecma_refl)->Apply(sizes);
#endif
#ifdef HAVE_LZMA
BENCHMARK(BM_Paired_vs_lzma_crc64)->Apply(sizes);
#endif
#ifdef HAVE_ISAL
BENCHMARK(BM_Paired_vs_isal_crc64_ecma_refl)->Apply(sizes);
#endif

BENCHMARK_MAIN();
