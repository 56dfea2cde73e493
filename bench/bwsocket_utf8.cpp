// UTF-8 validation of 16 MiB of mixed-script text (Latin, accented Latin,
// Cyrillic, Chinese, emoji), ours against ICU's, both sides alternating
// within each iteration (Paired.h: CPU time per call, "ratio" = ours / ICU,
// below 1 ours is faster). ICU's C API has no call that only validates
// UTF-8; its validation-only path is a pre-flight of u_strFromUTF8 (no
// destination): it walks the text, refuses ill-formed sequences and counts
// UTF-16 units without writing them. Rows: the whole text checked on both
// sides; ours in 2 KiB pieces as the WebSocket frame reader feeds it; and,
// for comparison with earlier figures, ICU converting to UTF-16.
#include <benchmark/benchmark.h>

#include <unicode/ustring.h>

#include <string>
#include <vector>

#include "BWSocket/BWUTF8.h"
#include "Paired.h"

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

// The reader's way: each 2 KiB piece checked from the first byte not yet
// known whole.
bool oursInPieces(const std::string& t) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(t.data());
    std::size_t scanned = 0;
    for (std::size_t end = 0; end < t.size();) {
        end = std::min(t.size(), end + kPiece);
        const auto r = pellix::BWValidatePartialUTF8(std::span(bytes + scanned, end - scanned));
        if (r < 0) return false;
        scanned += static_cast<std::size_t>(r);
    }
    benchmark::DoNotOptimize(scanned);
    return scanned == t.size();
}

bool oursWhole(const std::string& t) {
    const bool ok = pellix::BWIsValidUTF8(std::span(reinterpret_cast<const std::uint8_t*>(t.data()), t.size()));
    benchmark::DoNotOptimize(ok);
    return ok;
}

// ICU checking without converting: a pre-flight with no destination walks
// the whole text, refuses ill-formed sequences and writes nothing.
bool icuValidationOnly(const std::string& t) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, t.data(), static_cast<int32_t>(t.size()), &status);
    benchmark::DoNotOptimize(length);
    return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
}

bool icuConverting(const std::string& t, std::vector<UChar>& out) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length, t.data(), static_cast<int32_t>(t.size()),
                  &status);
    benchmark::DoNotOptimize(length);
    return U_SUCCESS(status);
}

void bytesProcessed(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text().size()));
}

// Like with like: the whole text, checked and nothing more, on both sides.
void BM_Whole_OursVsICUValidationOnly(benchmark::State& state) {
    const auto& t = text();
    pellix::bench::runPaired(state, [&] { return oursWhole(t); }, [&] { return icuValidationOnly(t); });
    bytesProcessed(state);
}

// What the reader does, in 2 KiB pieces, against ICU's check of the whole.
void BM_Pieces_OursVsICUValidationOnly(benchmark::State& state) {
    const auto& t = text();
    pellix::bench::runPaired(state, [&] { return oursInPieces(t); }, [&] { return icuValidationOnly(t); });
    bytesProcessed(state);
}

// The earlier yardstick, kept for comparison: ICU converting to UTF-16.
void BM_Pieces_OursVsICUConverting(benchmark::State& state) {
    const auto& t = text();
    std::vector<UChar> out(t.size() + 1);
    pellix::bench::runPaired(state, [&] { return oursInPieces(t); }, [&] { return icuConverting(t, out); });
    bytesProcessed(state);
}

}  // namespace

BENCHMARK(BM_Whole_OursVsICUValidationOnly)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_Pieces_OursVsICUValidationOnly)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_Pieces_OursVsICUConverting)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK_MAIN();
