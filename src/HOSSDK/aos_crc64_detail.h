// Shared innards of the CRC-64 paths: the compile-time tables, the raw
// (uncomplemented) table update the folding paths finish with, and the
// folding constants. Not part of the public surface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pellix::crc64_detail {

// The reflected ECMA-182 polynomial; bit j stands for x^(63-j).
inline constexpr std::uint64_t kPoly = 0xC96C5795D7870F42ULL;

using Tables = std::array<std::array<std::uint64_t, 256>, 8>;

constexpr Tables makeLittleTables() {
    Tables t{};
    for (std::uint64_t n = 0; n < 256; ++n) {
        std::uint64_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPoly : c >> 1;
        t[0][n] = c;
    }
    for (std::size_t n = 0; n < 256; ++n)
        for (std::size_t k = 1; k < 8; ++k) t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
    return t;
}

constexpr std::uint64_t byteReverse(std::uint64_t a) {
    std::uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r = (r << 8) | ((a >> (8 * i)) & 0xFF);
    return r;
}

constexpr Tables makeBigTables() {
    Tables t = makeLittleTables();
    for (auto& row : t)
        for (auto& e : row) e = byteReverse(e);
    return t;
}

inline constexpr Tables kLittle = makeLittleTables();
inline constexpr Tables kBig = makeBigTables();

inline std::uint64_t loadLE64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline std::uint32_t loadLE32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

// The 1..7 bytes at p as a little-endian value, without touching a byte past
// them: two overlapping loads, whose shared bytes agree.
inline std::uint64_t loadPartialLE(const unsigned char* p, std::size_t n) {
    if (n >= 4) return loadLE32(p) | (std::uint64_t{loadLE32(p + n - 4)} << (8 * (n - 4)));
    return p[0] | (std::uint64_t{p[n >> 1]} << (8 * (n >> 1))) | (std::uint64_t{p[n - 1]} << (8 * (n - 1)));
}

// Eight bytes at once: the register after the eight bytes of x (already
// combined with the register) from a zero register, i.e. x * x^64 mod P.
inline std::uint64_t step8(std::uint64_t x) {
    return (kLittle[7][x & 0xFF] ^ kLittle[6][(x >> 8) & 0xFF]) ^
           (kLittle[5][(x >> 16) & 0xFF] ^ kLittle[4][(x >> 24) & 0xFF]) ^
           ((kLittle[3][(x >> 32) & 0xFF] ^ kLittle[2][(x >> 40) & 0xFF]) ^
            (kLittle[1][(x >> 48) & 0xFF] ^ kLittle[0][x >> 56]));
}

// Table update of the bare register (no complement on the way in or out).
// Reads eight bytes at a time wherever they sit: unaligned loads cost nothing
// extra on the targets we build for. The last 1..7 bytes take one eight-byte
// step too: moved to the top of a word, so the low lanes look up the zero
// entry of each table, while the register's bytes past them only shift down.
// That is one table step instead of up to seven dependent byte steps.
inline std::uint64_t updateRaw(std::uint64_t c, const unsigned char* p, std::size_t n) {
    while (n >= 8) {
        c = step8(c ^ loadLE64(p));
        p += 8;
        n -= 8;
    }
    if (n) c = step8((c ^ loadPartialLE(p, n)) << (8 * (8 - n))) ^ (c >> (8 * n));
    return c;
}

// x^n mod P in the reflected form (bit j stands for x^(63-j)).
constexpr std::uint64_t xPowMod(unsigned n) {
    std::uint64_t r = 1ULL << 63;  // x^0
    for (unsigned i = 0; i < n; ++i) r = (r & 1) ? (r >> 1) ^ kPoly : r >> 1;
    return r;
}

// Folding a 128-bit block forward by `bits` bits: its first (low) quadword is
// multiplied by x^(bits+64), its second by x^bits. A carry-less product of two
// reflected values carries one extra factor x, which the exponents absorb.
struct FoldKey {
    std::uint64_t lo, hi;
};
constexpr FoldKey foldKey(unsigned bits) { return {xPowMod(bits + 63), xPowMod(bits - 1)}; }

}  // namespace pellix::crc64_detail
