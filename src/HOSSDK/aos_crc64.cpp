#include "HOSSDK/aos_crc64.h"

#include "HOSSDK/aos_crc64_detail.h"

#include <atomic>

namespace pellix {

using crc64_detail::kBig;
using crc64_detail::kLittle;

namespace {

using Update = std::uint64_t (*)(std::uint64_t, const void*, std::size_t);

Update choosePath() {
    if (crc64::vpclmulSupported()) return &crc64::vpclmul;
    if (crc64::clmulSupported()) return &crc64::clmul;
    return &crc64_little;
}

std::uint64_t resolveAndRun(std::uint64_t crc, const void* buffer, std::size_t length);

// The chosen path, reached with one indirect jump: short buffers cannot
// afford a guard test on top of the call. It starts at a resolver, so a call
// made before dynamic initialisation (or on any thread first) still finds
// the right path; every thread that races there stores the same value.
std::atomic<Update> gPath{&resolveAndRun};

std::uint64_t resolveAndRun(std::uint64_t crc, const void* buffer, std::size_t length) {
    const Update path = choosePath();
    gPath.store(path, std::memory_order_relaxed);
    return path(crc, buffer, length);
}

std::uint64_t loadBE64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// 64x64 matrices over GF(2): column n is the image of the vector with only
// bit n set.
using Matrix = std::uint64_t[64];

std::uint64_t gf2_matrix_times(const Matrix mat, std::uint64_t vec) {
    std::uint64_t sum = 0;
    for (const std::uint64_t* m = mat; vec; vec >>= 1, ++m)
        if (vec & 1) sum ^= *m;
    return sum;
}

void gf2_matrix_square(Matrix square, const Matrix mat) {
    for (int n = 0; n < 64; ++n) square[n] = gf2_matrix_times(mat, mat[n]);
}

}  // namespace

extern "C" {

std::uint64_t rev8(std::uint64_t a) { return crc64_detail::byteReverse(a); }

// Every path answers `crc` for a length of 0 itself.
std::uint64_t aos_crc64(std::uint64_t crc, const void* buffer, std::size_t length) {
    return gPath.load(std::memory_order_relaxed)(crc, buffer, length);
}

std::uint64_t crc64_little(std::uint64_t crc, const void* buffer, std::size_t length) {
    if (length == 0) return crc;
    return ~crc64_detail::updateRaw(~crc, static_cast<const unsigned char*>(buffer), length);
}

std::uint64_t crc64_big(std::uint64_t crc, const void* buffer, std::size_t length) {
    if (length == 0) return crc;
    const auto* p = static_cast<const unsigned char*>(buffer);
    std::uint64_t c = ~rev8(crc);
    while (length && (reinterpret_cast<std::uintptr_t>(p) & 7)) {
        c = kBig[0][(c >> 56) ^ *p++] ^ (c << 8);
        --length;
    }
    while (length >= 8) {
        c ^= loadBE64(p);
        c = kBig[0][c & 0xFF] ^ kBig[1][(c >> 8) & 0xFF] ^ kBig[2][(c >> 16) & 0xFF] ^ kBig[3][(c >> 24) & 0xFF] ^
            kBig[4][(c >> 32) & 0xFF] ^ kBig[5][(c >> 40) & 0xFF] ^ kBig[6][(c >> 48) & 0xFF] ^ kBig[7][c >> 56];
        p += 8;
        length -= 8;
    }
    while (length--) c = kBig[0][(c >> 56) ^ *p++] ^ (c << 8);
    return ~rev8(c);
}

std::uint64_t aos_crc64_combine(std::uint64_t crc1, std::uint64_t crc2, std::uint64_t len2) {
    if (len2 == 0) return crc1;
    Matrix even;  // even-power-of-two zeros operator
    Matrix odd;   // odd-power-of-two zeros operator

    // The operator for one zero bit.
    odd[0] = crc64_detail::kPoly;
    std::uint64_t row = 1;
    for (int n = 1; n < 64; ++n) {
        odd[n] = row;
        row <<= 1;
    }
    gf2_matrix_square(even, odd);  // two zero bits
    gf2_matrix_square(odd, even);  // four zero bits

    // Apply len2 zero bytes to crc1; the first square gives the one-byte operator.
    do {
        gf2_matrix_square(even, odd);
        if (len2 & 1) crc1 = gf2_matrix_times(even, crc1);
        len2 >>= 1;
        if (len2 == 0) break;
        gf2_matrix_square(odd, even);
        if (len2 & 1) crc1 = gf2_matrix_times(odd, crc1);
        len2 >>= 1;
    } while (len2 != 0);
    return crc1 ^ crc2;
}

}  // extern "C"

namespace crc64 {
const char* selectedPath() {
    const Update u = choosePath();
    if (u == &vpclmul) return "vpclmul";
    if (u == &clmul) return "clmul";
    return "table";
}
}  // namespace crc64

}  // namespace pellix
