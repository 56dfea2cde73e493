// Carry-less-multiplication folding for CRC-64 on x86-64.
//
// The message is folded 16 bytes at a time into 128-bit accumulators: each
// accumulator's two quadwords are multiplied by x^k mod P for the folding
// distance and added to the data that distance further on, which keeps the
// accumulator congruent (mod P) to everything read so far. Several
// independent accumulators hide the multiplier latency. The last accumulator
// is then reduced to the CRC register after it by Barrett's method. A last partial block is folded in whole (see
// appendTail), so short messages take no byte-at-a-time steps.
#include "HOSSDK/aos_crc64.h"

#include "HOSSDK/aos_crc64_detail.h"

#include <array>

#if defined(__x86_64__)
#include <immintrin.h>
// GCC 12's AVX-512 intrinsics start some results from a deliberately
// undefined register, which its own -Wuninitialized then reports.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace pellix::crc64 {

#if defined(__x86_64__)

namespace {

using crc64_detail::foldKey;
using crc64_detail::FoldKey;

constexpr FoldKey k128 = foldKey(128);
constexpr FoldKey k256 = foldKey(256);
constexpr FoldKey k384 = foldKey(384);
constexpr FoldKey k512 = foldKey(512);
constexpr FoldKey k640 = foldKey(640);
constexpr FoldKey k768 = foldKey(768);
constexpr FoldKey k896 = foldKey(896);
constexpr FoldKey k1024 = foldKey(1024);
constexpr FoldKey k1536 = foldKey(1536);
constexpr FoldKey k2048 = foldKey(2048);

#define PELLIX_CLMUL_TARGET __attribute__((target("sse4.1,pclmul")))
#define PELLIX_VPCLMUL_TARGET __attribute__((target("sse4.1,pclmul,avx2,avx512f,avx512vl,avx512bw,vpclmulqdq")))

PELLIX_CLMUL_TARGET inline __m128i key(const FoldKey& k) {
    return _mm_set_epi64x(static_cast<long long>(k.hi), static_cast<long long>(k.lo));
}

// acc folded forward by the key's distance.
PELLIX_CLMUL_TARGET inline __m128i fold(__m128i acc, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11));
}

PELLIX_CLMUL_TARGET inline __m128i load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// pshufb masks: 16 bytes read at kShift + r move a register's first r bytes
// to its end; read at kShift + 16 + r they move its last 16 - r bytes to the
// front, and the top bit of the vacated lanes selects them in a blend.
alignas(16) constexpr unsigned char kShift[48] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};

// The accumulator followed by the message's last r (1..15) bytes, which end
// at `end`, is the same polynomial as two blocks: the accumulator's first r
// bytes behind 16 - r zero bytes, then its other bytes with the r new ones.
// Folding the first onto the second absorbs the tail in one multiply instead
// of r table steps. The 16 bytes before `end` are all message bytes.
PELLIX_CLMUL_TARGET inline __m128i appendTail(__m128i acc, const unsigned char* end, std::size_t r) {
    const __m128i toFront = load(kShift + 16 + r);
    const __m128i head = _mm_shuffle_epi8(acc, load(kShift + r));
    const __m128i rest = _mm_blendv_epi8(_mm_shuffle_epi8(acc, toFront), load(end - 16), toFront);
    return _mm_xor_si128(fold(head, key(k128)), rest);
}

// Bit j of the result is bit 63 - j of a.
constexpr std::uint64_t bitReverse(std::uint64_t a) {
    std::uint64_t r = 0;
    for (int i = 0; i < 64; ++i) r |= ((a >> i) & 1) << (63 - i);
    return r;
}

// Barrett's constant: floor(x^128 / P) = x^64 + m, answered as m in the
// reflected form. Long division with the dividend in two words: after the
// quotient's x^64 term, what is left of x^128 is P's low terms times x^64.
constexpr std::uint64_t barrettKey() {
    const std::uint64_t poly = bitReverse(crc64_detail::kPoly);  // P without x^64, x^0 at bit 0
    std::uint64_t hi = poly, lo = 0, q = 0;
    for (int s = 63; s >= 0; --s) {
        if (!((hi >> s) & 1)) continue;
        q |= std::uint64_t{1} << s;
        hi ^= (s ? poly >> (64 - s) : 0) ^ (std::uint64_t{1} << s);
        lo ^= poly << s;
    }
    return bitReverse(q);
}
static_assert(barrettKey() == 0x4E1F23360B94B1EAULL);

// The CRC register after one 16-byte block from a zero register, that is
// block * x^64 mod P, plus `extra`, a 128-bit product already in the form the
// block's first quadword takes below. The block's first quadword L stands for
// L * x^128 mod P after one product (by x^128 mod P, one factor x left to the
// product), whose low half v joins the second quadword H, leaving v * x^64
// mod P plus the product's high half, which is already reduced.
//
// v * x^64 mod P by Barrett reduction, two products instead of a table step
// (eight dependent loads and the shifts that index them, which cost more
// than the two products where the tables compete with the data for the load
// ports): the quotient q = floor(v * x^64 / P) = v + floor(v * m / x^64), and
// the remainder is the low 64 terms of q * P, that is of q times P's low
// terms. A reflected product carries one factor x, so the quotient is the
// first product's low quadword shifted up one bit, and the remainder sits
// one bit off the second product's quadword boundary.
PELLIX_CLMUL_TARGET inline std::uint64_t reduce(__m128i acc, __m128i extra = _mm_setzero_si128()) {
    constexpr FoldKey k64 = foldKey(64);
    const __m128i w =
        _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(acc, key(k64), 0x00), _mm_srli_si128(acc, 8)), extra);
    const __m128i vm = _mm_clmulepi64_si128(w, _mm_cvtsi64_si128(static_cast<long long>(barrettKey())), 0x00);
    const __m128i q = _mm_xor_si128(w, _mm_slli_epi64(vm, 1));
    const __m128i qp = _mm_clmulepi64_si128(q, _mm_cvtsi64_si128(static_cast<long long>(crc64_detail::kPoly)), 0x00);
    const auto lo = static_cast<std::uint64_t>(_mm_cvtsi128_si64(qp));
    const auto hi = static_cast<std::uint64_t>(_mm_extract_epi64(qp, 1));
    const auto high = static_cast<std::uint64_t>(_mm_extract_epi64(w, 1));
    return ((hi << 1) | (lo >> 63)) ^ high;
}

// Folds the single accumulator over the remaining bytes and reduces it.
// Returns the bare register.
PELLIX_CLMUL_TARGET std::uint64_t finish(__m128i acc, const unsigned char* p, std::size_t n) {
    const __m128i k = key(k128);
    while (n >= 16) {
        acc = _mm_xor_si128(fold(acc, k), load(p));
        p += 16;
        n -= 16;
    }
    if (n) acc = appendTail(acc, p + n, n);
    return reduce(acc);
}

// Keys that fold a block forward by 1 to 15 blocks (index j: j * 128 bits).
struct alignas(16) KeyPair {
    std::uint64_t lo, hi;
};
constexpr std::array<KeyPair, 16> kBlockKeys = [] {
    std::array<KeyPair, 16> keys{};
    for (unsigned j = 1; j < 16; ++j) keys[j] = {foldKey(128 * j).lo, foldKey(128 * j).hi};
    return keys;
}();

PELLIX_CLMUL_TARGET inline __m128i blockKey(std::size_t j) {
    return load(reinterpret_cast<const unsigned char*>(&kBlockKeys[j]));
}

// Short buffers are below this many bytes.
constexpr std::size_t kShortLimit = 256;

// kSkipKeys[n] = x^(8n-1) mod P. The register c followed by n bytes is the
// register of the bytes alone plus c * x^(8n) mod P, and c times this key is
// that term, unreduced, in the form reduce() takes as `extra`.
constexpr std::array<std::uint64_t, kShortLimit> kSkipKeys = [] {
    std::array<std::uint64_t, kShortLimit> keys{};
    std::uint64_t k = crc64_detail::xPowMod(7);
    for (std::size_t n = 1; n < kShortLimit; ++n) {
        keys[n] = k;
        for (int i = 0; i < 8; ++i) k = (k & 1) ? (k >> 1) ^ crc64_detail::kPoly : k >> 1;
    }
    return keys;
}();

// Finished value in, finished value out; 16 <= n < kShortLimit.
//
// A caller that chains calls waits for each value before the next call can
// finish, so what counts for short buffers is how long the incoming value
// takes to reach the result. The bytes are therefore folded from the preset
// register alone, independently of `crc`: every whole block but the last goes
// straight to the last with its own key, the products independent of each
// other instead of a chain. The incoming value joins only in the last
// reduction, as one product with the key that carries it across n bytes;
// since the preset and the final complement are both all ones, the finished
// value itself is what is carried. On its way to the result it meets one
// product and the final reduction.
PELLIX_CLMUL_TARGET __attribute__((always_inline)) inline std::uint64_t clmulShort(std::uint64_t crc,
                                                                                    const unsigned char* p,
                                                                                    std::size_t n) {
    const std::size_t blocks = n / 16;
    const unsigned char* last = p + 16 * (blocks - 1);
    const __m128i first = _mm_xor_si128(load(p), _mm_set_epi64x(0, -1));
    __m128i acc;
    if (blocks == 1) {
        acc = first;
    } else {
        acc = _mm_xor_si128(load(last), fold(first, blockKey(blocks - 1)));
        // Two sums, so the additions do not wait on each other either.
        __m128i other = _mm_setzero_si128();
        std::size_t i = 1;
        for (; i + 1 < blocks - 1; i += 2) {
            acc = _mm_xor_si128(acc, fold(load(p + 16 * i), blockKey(blocks - 1 - i)));
            other = _mm_xor_si128(other, fold(load(p + 16 * (i + 1)), blockKey(blocks - 2 - i)));
        }
        if (i < blocks - 1) acc = _mm_xor_si128(acc, fold(load(p + 16 * i), blockKey(blocks - 1 - i)));
        acc = _mm_xor_si128(acc, other);
    }
    const std::size_t r = n % 16;
    if (r) acc = appendTail(acc, p + n, r);
    const __m128i carried = _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(crc)),
                                                 _mm_cvtsi64_si128(static_cast<long long>(kSkipKeys[n])), 0x00);
    return ~reduce(acc, carried);
}

// Bare register in, bare register out; n >= 128.
PELLIX_CLMUL_TARGET std::uint64_t clmulRaw(std::uint64_t c, const unsigned char* p, std::size_t n) {
    const __m128i init = _mm_cvtsi64_si128(static_cast<long long>(c));
    __m128i a0 = _mm_xor_si128(load(p), init), a1 = load(p + 16), a2 = load(p + 32), a3 = load(p + 48),
            a4 = load(p + 64), a5 = load(p + 80), a6 = load(p + 96), a7 = load(p + 112);
    p += 128;
    n -= 128;
    const __m128i k = key(k1024);
    while (n >= 128) {
        a0 = _mm_xor_si128(fold(a0, k), load(p));
        a1 = _mm_xor_si128(fold(a1, k), load(p + 16));
        a2 = _mm_xor_si128(fold(a2, k), load(p + 32));
        a3 = _mm_xor_si128(fold(a3, k), load(p + 48));
        a4 = _mm_xor_si128(fold(a4, k), load(p + 64));
        a5 = _mm_xor_si128(fold(a5, k), load(p + 80));
        a6 = _mm_xor_si128(fold(a6, k), load(p + 96));
        a7 = _mm_xor_si128(fold(a7, k), load(p + 112));
        p += 128;
        n -= 128;
    }
    __m128i acc = _mm_xor_si128(fold(a0, key(k896)), fold(a1, key(k768)));
    acc = _mm_xor_si128(acc, _mm_xor_si128(fold(a2, key(k640)), fold(a3, key(k512))));
    acc = _mm_xor_si128(acc, _mm_xor_si128(fold(a4, key(k384)), fold(a5, key(k256))));
    acc = _mm_xor_si128(acc, _mm_xor_si128(fold(a6, key(k128)), a7));
    return finish(acc, p, n);
}

PELLIX_VPCLMUL_TARGET inline __m512i key512(const FoldKey& k) {
    return _mm512_broadcast_i32x4(_mm_set_epi64x(static_cast<long long>(k.hi), static_cast<long long>(k.lo)));
}

// Every 128-bit lane of acc folded forward by the key's distance, plus data.
PELLIX_VPCLMUL_TARGET inline __m512i fold512(__m512i acc, __m512i k, __m512i data) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(acc, k, 0x00), _mm512_clmulepi64_epi128(acc, k, 0x11),
                                     data, 0x96);
}

PELLIX_VPCLMUL_TARGET inline __m512i load512(const unsigned char* p) { return _mm512_loadu_si512(p); }

// Bare register in, bare register out; n >= 256. Kept out of line: its
// 512-bit registers make a function realign the stack on entry, which short
// buffers should not pay for.
PELLIX_VPCLMUL_TARGET __attribute__((noinline)) std::uint64_t vpclmulRaw(std::uint64_t c, const unsigned char* p, std::size_t n) {
    const __m512i init = _mm512_zextsi128_si512(_mm_cvtsi64_si128(static_cast<long long>(c)));
    __m512i z0 = _mm512_xor_si512(load512(p), init), z1 = load512(p + 64), z2 = load512(p + 128),
            z3 = load512(p + 192);
    p += 256;
    n -= 256;
    const __m512i k = key512(k2048);
    while (n >= 256) {
        z0 = fold512(z0, k, load512(p));
        z1 = fold512(z1, k, load512(p + 64));
        z2 = fold512(z2, k, load512(p + 128));
        z3 = fold512(z3, k, load512(p + 192));
        p += 256;
        n -= 256;
    }
    __m512i z = fold512(z0, key512(k1536), fold512(z1, key512(k1024), fold512(z2, key512(k512), z3)));
    const __m512i k4 = key512(k512);
    while (n >= 64) {
        z = fold512(z, k4, load512(p));
        p += 64;
        n -= 64;
    }
    // Lanes 0..3 of z lie 384, 256, 128 and 0 bits before the end.
    __m128i acc = _mm_xor_si128(fold(_mm512_extracti32x4_epi32(z, 0), key(k384)),
                                fold(_mm512_extracti32x4_epi32(z, 1), key(k256)));
    acc = _mm_xor_si128(acc, _mm_xor_si128(fold(_mm512_extracti32x4_epi32(z, 2), key(k128)),
                                           _mm512_extracti32x4_epi32(z, 3)));
    return finish(acc, p, n);
}

}  // namespace

bool clmulSupported() {
    static const bool ok = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return ok;
}

bool vpclmulSupported() {
    static const bool ok = clmulSupported() && __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
                           __builtin_cpu_supports("vpclmulqdq");
    return ok;
}

// Both entries take buffers below 16 bytes through the table (one step per
// eight bytes, the last partial word included) and short ones through
// clmulShort, inlined so a call costs one branch on the length.
PELLIX_CLMUL_TARGET std::uint64_t clmul(std::uint64_t crc, const void* buffer, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(buffer);
    if (length < 16) return length ? ~crc64_detail::updateRaw(~crc, p, length) : crc;
    if (length < kShortLimit) return clmulShort(crc, p, length);
    return ~clmulRaw(~crc, p, length);
}

PELLIX_VPCLMUL_TARGET std::uint64_t vpclmul(std::uint64_t crc, const void* buffer, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(buffer);
    if (length < 16) return length ? ~crc64_detail::updateRaw(~crc, p, length) : crc;
    if (length < kShortLimit) return clmulShort(crc, p, length);
    return ~vpclmulRaw(~crc, p, length);
}

#else  // not x86-64: only the table method exists

bool clmulSupported() { return false; }
bool vpclmulSupported() { return false; }
std::uint64_t clmul(std::uint64_t crc, const void* buffer, std::size_t length) {
    return crc64_little(crc, buffer, length);
}
std::uint64_t vpclmul(std::uint64_t crc, const void* buffer, std::size_t length) {
    return crc64_little(crc, buffer, length);
}

#endif

}  // namespace pellix::crc64
