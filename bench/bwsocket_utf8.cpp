// UTF-8 validation of 16 MiB of mixed-script text (Latin, accented Latin,
// Cyrillic, Chinese, emoji) fed in 2 KiB pieces the way the WebSocket frame
// reader feeds it, against ICU's one-shot u_strFromUTF8 over the same bytes.
// Throughput counters in bytes/s; the goal is the incremental check at no
// less than ICU's one-shot throughput.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <string>
#include <vector>

#include "BWSocket/BWUTF8.h"

namespace {

constexpr std::size_t kTextBytes = 16u << 20;
constexpr std::size_t kPiece = 2048;

const std::string& text() {
    static const std::string t = [] {
        const char* words[] = {"The quick brown fox ", "caf\xC3\xA9 na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 ",
                               "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ",
                               "\xE4\xBD\xA0\xE5\xA5\xBD\xE4\xB8\x96\xE7\x95\x8C ", "\xF0\x9F\x98\x80\xF0\x9F\x9A\xAA ",
                               "door 12 opened at 07:45; "};
        std::string s;
        std::size_t i = 0;
        while (s.size() < kTextBytes) s += words[(i++ * 7) % 6];
        // Cut at a character boundary.
        s.resize(kTextBytes);
        while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
        if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0) s.pop_back();
        return s;
    }();
    return t;
}

void BM_IncrementalIn2KiBPieces(benchmark::State& state) {
    const auto& t = text();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(t.data());
    for (auto _ : state) {
        std::size_t scanned = 0;
        bool ok = true;
        for (std::size_t end = 0; end < t.size() && ok;) {
            end = std::min(t.size(), end + kPiece);
            const auto r = pellix::BWValidatePartialUTF8(std::span(bytes + scanned, end - scanned));
            ok = r >= 0;
            scanned += ok ? static_cast<std::size_t>(r) : 0;
        }
        if (!ok || scanned != t.size()) state.SkipWithError("valid text refused");
        benchmark::DoNotOptimize(scanned);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.size()));
}

void BM_ICUOneShot(benchmark::State& state) {
    const auto& t = text();
    std::vector<UChar> out(t.size() + 1);
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = 0;
        u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, t.data(), static_cast<int32_t>(t.size()),
                      &status);
        if (U_FAILURE(status)) state.SkipWithError("ICU refused the text");
        benchmark::DoNotOptimize(length);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.size()));
}

}  // namespace

BENCHMARK(BM_IncrementalIn2KiBPieces)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ICUOneShot)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
