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

// Table update of the bare register (no complement on the way in or out).
// Reads eight bytes at a time wherever they sit: unaligned loads cost nothing
// extra on the targets we build for, while a byte-wise run up to an 8-byte
// boundary costs short buffers up to seven table steps.
inline std::uint64_t updateRaw(std::uint64_t c, const unsigned char* p, std::size_t n) {
    while (n >= 8) {
        c ^= loadLE64(p);
        c = kLittle[7][c & 0xFF] ^ kLittle[6][(c >> 8) & 0xFF] ^ kLittle[5][(c >> 16) & 0xFF] ^
            kLittle[4][(c >> 24) & 0xFF] ^ kLittle[3][(c >> 32) & 0xFF] ^ kLittle[2][(c >> 40) & 0xFF] ^
            kLittle[1][(c >> 48) & 0xFF] ^ kLittle[0][c >> 56];
        p += 8;
        n -= 8;
    }
    while (n--) c = kLittle[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
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
