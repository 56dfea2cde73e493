// MQTT codec throughput: a recorded stream of PUBLISH packets (64 B and
// 4 KiB each) cut by the stream decoder and parsed, fed in 768-byte chunks
// (the socket reader's read size) and 64 KiB chunks; encoding of the same
// packets; and a memcpy of the same bytes in the same chunks as the yardstick,
// alone and paired with the decoding (both alternating within each iteration).
// "allocs/pkt" counts heap allocations per packet inside the timed loop.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "MQTTClient/MQTTFrameDecoder.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"
#include "Paired.h"

namespace {
std::atomic<std::uint64_t> allocations{0};
}

// Counting replacement of the global allocator. GCC pairs the inlined
// malloc/free across the replacement and warns; the pairing is correct.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using pellix::MQTTMessage;
using pellix::platform::Bytes;

constexpr std::size_t kStreamBytes = 4u << 20;
const std::string kTopic = "app/room_id/12345";

// Payload size that makes the whole QoS 1 packet `packetSize` bytes at level 4.
std::size_t payloadFor(std::size_t packetSize) {
    const std::size_t fixed = 2 + kTopic.size() + 2;
    const std::size_t lengthBytes = packetSize - 1 > 129 ? 2 : 1;
    return packetSize - 1 - lengthBytes - fixed;
}

struct Recording {
    Bytes stream;
    std::size_t packets = 0;
    Bytes payload;
};

const Recording& recording(std::size_t packetSize) {
    static Recording small, large;
    Recording& r = packetSize == 64 ? small : large;
    if (r.stream.empty()) {
        pellix::MQTTLog::setLogLevel(0);
        r.payload.assign(payloadFor(packetSize), 0x5A);
        std::uint16_t mid = 1;
        while (r.stream.size() + packetSize <= kStreamBytes) {
            auto m = MQTTMessage::publishMessageWithData(r.payload, kTopic, 1, mid++, false, false, 4, std::nullopt,
                                                         std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                                         std::nullopt, std::nullopt);
            Bytes wire = m->wireFormat();
            if (wire.size() != packetSize) {
                std::abort();
            }
            r.stream.insert(r.stream.end(), wire.begin(), wire.end());
            ++r.packets;
            if (mid == 0) mid = 1;
        }
    }
    return r;
}

void report(benchmark::State& state, const Recording& r, std::uint64_t allocs) {
    const auto runs = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.stream.size()));
    state.counters["packets/s"] = benchmark::Counter(runs * static_cast<double>(r.packets), benchmark::Counter::kIsRate);
    state.counters["allocs/pkt"] = static_cast<double>(allocs) / (runs * static_cast<double>(r.packets));
}

void BM_Memcpy(benchmark::State& state) {
    const auto& r = recording(static_cast<std::size_t>(state.range(0)));
    const auto chunk = static_cast<std::size_t>(state.range(1));
    Bytes out(r.stream.size());
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < r.stream.size(); pos += chunk) {
            std::memcpy(out.data() + pos, r.stream.data() + pos, std::min(chunk, r.stream.size() - pos));
        }
        benchmark::ClobberMemory();
    }
    report(state, r, 0);
}

// Decode and parse into one reused record: the payload buffer is reused too.
void BM_DecodeParse(benchmark::State& state) {
    const auto& r = recording(static_cast<std::size_t>(state.range(0)));
    const auto chunk = static_cast<std::size_t>(state.range(1));
    pellix::MQTTFrameDecoder decoder;
    decoder.open();
    MQTTMessage record;
    std::size_t seen = 0;
    std::span<const std::uint8_t> all(r.stream);
    const std::uint64_t before = allocations.load();
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < all.size(); pos += chunk) {
            decoder.feed(all.subspan(pos, std::min(chunk, all.size() - pos)), [&](std::span<const std::uint8_t> p) {
                seen += MQTTMessage::parse(p, 4, record);
                benchmark::DoNotOptimize(record.mid());
                return true;
            });
        }
    }
    const std::uint64_t allocs = allocations.load() - before;
    if (seen != r.packets * state.iterations()) {
        state.SkipWithError("packets lost");
    }
    report(state, r, allocs);
}

// Decode and parse into a new record per packet, as the session does.
void BM_DecodeParseNew(benchmark::State& state) {
    const auto& r = recording(static_cast<std::size_t>(state.range(0)));
    const auto chunk = static_cast<std::size_t>(state.range(1));
    pellix::MQTTFrameDecoder decoder;
    decoder.open();
    std::size_t seen = 0;
    std::span<const std::uint8_t> all(r.stream);
    const std::uint64_t before = allocations.load();
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < all.size(); pos += chunk) {
            decoder.feed(all.subspan(pos, std::min(chunk, all.size() - pos)), [&](std::span<const std::uint8_t> p) {
                auto m = MQTTMessage::messageFromData(p, 4);
                seen += m != nullptr;
                benchmark::DoNotOptimize(m);
                return true;
            });
        }
    }
    const std::uint64_t allocs = allocations.load() - before;
    if (seen != r.packets * state.iterations()) {
        state.SkipWithError("packets lost");
    }
    report(state, r, allocs);
}

// Build every packet of the recording and append its wire format.
void BM_Encode(benchmark::State& state) {
    const auto& r = recording(static_cast<std::size_t>(state.range(0)));
    Bytes out;
    out.reserve(r.stream.size());
    const std::uint64_t before = allocations.load();
    for (auto _ : state) {
        out.clear();
        std::uint16_t mid = 1;
        for (std::size_t i = 0; i < r.packets; ++i) {
            auto m = MQTTMessage::publishMessageWithData(r.payload, kTopic, 1, mid++, false, false, 4, std::nullopt,
                                                         std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                                         std::nullopt, std::nullopt);
            m->appendWireFormat(out);
            if (mid == 0) mid = 1;
        }
        benchmark::DoNotOptimize(out.data());
    }
    const std::uint64_t allocs = allocations.load() - before;
    if (out != r.stream) {
        state.SkipWithError("encoding differs from the recording");
    }
    report(state, r, allocs);
}

// Decoding and parsing beside the memcpy yardstick, alternating within each
// iteration (Paired.h: CPU time per pass over the stream, "ratio" = ours /
// memcpy), so that a change in the machine's load falls on both alike.
void BM_DecodeParseVsMemcpy(benchmark::State& state) {
    const auto& r = recording(static_cast<std::size_t>(state.range(0)));
    const auto chunk = static_cast<std::size_t>(state.range(1));
    pellix::MQTTFrameDecoder decoder;
    decoder.open();
    MQTTMessage record;
    std::size_t seen = 0;
    std::span<const std::uint8_t> all(r.stream);
    Bytes out(r.stream.size());
    pellix::bench::runPaired(
        state,
        [&] {
            const std::size_t before = seen;
            for (std::size_t pos = 0; pos < all.size(); pos += chunk) {
                decoder.feed(all.subspan(pos, std::min(chunk, all.size() - pos)), [&](std::span<const std::uint8_t> p) {
                    seen += MQTTMessage::parse(p, 4, record);
                    benchmark::DoNotOptimize(record.mid());
                    return true;
                });
            }
            return seen - before == r.packets;
        },
        [&] {
            for (std::size_t pos = 0; pos < r.stream.size(); pos += chunk) {
                std::memcpy(out.data() + pos, r.stream.data() + pos, std::min(chunk, r.stream.size() - pos));
            }
            benchmark::ClobberMemory();
            return true;
        });
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.stream.size()));
}

}  // namespace

BENCHMARK(BM_Memcpy)->ArgNames({"pkt", "chunk"})->ArgsProduct({{64, 4096}, {768, 65536}});
BENCHMARK(BM_DecodeParse)->ArgNames({"pkt", "chunk"})->ArgsProduct({{64, 4096}, {768, 65536}});
BENCHMARK(BM_DecodeParseNew)->ArgNames({"pkt", "chunk"})->ArgsProduct({{64, 4096}, {768, 65536}});
BENCHMARK(BM_Encode)->ArgNames({"pkt"})->Args({64})->Args({4096});
BENCHMARK(BM_DecodeParseVsMemcpy)->ArgNames({"pkt", "chunk"})->ArgsProduct({{64, 4096}, {768, 65536}});

BENCHMARK_MAIN();
