// CRC-64 of object content, as the object store reports it in
// "x-hos-hash-crc64ecma": CRC-64/XZ (ECMA-182 polynomial, processed reflected
// as 0xC96C5795D7870F42, register preset to all ones, final complement).
// The check of "123456789" is 0x995DC9BBDF1939FA.
//
// Every function takes and returns the finished (complemented) value, so a
// computation continues by passing the previous result back in; the check of
// no bytes is 0, and a length of 0 returns `crc` unchanged.
//
// All functions are re-entrant and may be called from any thread at any time:
// the tables are compile-time constants and nothing else is shared. Buffers
// may start at any address.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pellix {

extern "C" {

// Continues `crc` over `length` bytes at `buffer`. Picks the fastest code the
// CPU offers, decided once per process: carry-less-multiplication folding
// (AVX-512 VPCLMULQDQ, else SSE PCLMULQDQ) on x86-64, the slice-by-8 table
// method otherwise. Every path gives the same value for the same bytes.
std::uint64_t aos_crc64(std::uint64_t crc, const void* buffer, std::size_t length);

// Slice-by-8 table method, little-endian word loads. Works on any host.
std::uint64_t crc64_little(std::uint64_t crc, const void* buffer, std::size_t length);

// Slice-by-8 table method over big-endian word loads with byte-reversed
// tables. Kept for big-endian hosts; it loads words explicitly big-endian, so
// it runs (and gives the same values as crc64_little) on any host.
std::uint64_t crc64_big(std::uint64_t crc, const void* buffer, std::size_t length);

// The check of A followed by B from crc1 = check(A), crc2 = check(B) and
// len2 = byte length of B. With len2 == 0 answers crc1 (crc2 is not used).
// Costs about log2(len2) squarings of a 64x64 bit matrix, independent of data.
std::uint64_t aos_crc64_combine(std::uint64_t crc1, std::uint64_t crc2, std::uint64_t len2);

// Reverses the byte order of a 64-bit value.
std::uint64_t rev8(std::uint64_t a);

}  // extern "C"

// The individual fast paths, for tests and benchmarks that must compare them.
// Each answers exactly what crc64_little answers. Calling one whose
// *Supported() test is false is undefined (illegal instruction).
namespace crc64 {
bool clmulSupported();    // SSE4.1 + PCLMULQDQ
bool vpclmulSupported();  // AVX-512F/VL/BW + VPCLMULQDQ, with OS support for the state
std::uint64_t clmul(std::uint64_t crc, const void* buffer, std::size_t length);
std::uint64_t vpclmul(std::uint64_t crc, const void* buffer, std::size_t length);
// Name of the path aos_crc64 uses: "vpclmul", "clmul" or "table".
const char* selectedPath();
}  // namespace crc64

}  // namespace pellix
