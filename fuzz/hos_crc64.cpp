// Differential check of the CRC-64 paths: the folding paths the CPU offers,
// the little- and big-endian table methods and combine must agree on any
// bytes, start value and split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "HOSSDK/aos_crc64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pellix;
    if (size < 10) return 0;
    std::uint64_t start;
    std::memcpy(&start, data, 8);
    const std::size_t cut = (static_cast<std::size_t>(data[8]) << 8 | data[9]) % (size - 10 + 1);
    data += 10;
    size -= 10;

    const std::uint64_t want = crc64_little(start, data, size);
    if (crc64_big(start, data, size) != want) std::abort();
    if (aos_crc64(start, data, size) != want) std::abort();
    if (crc64::clmulSupported() && crc64::clmul(start, data, size) != want) std::abort();
    if (crc64::vpclmulSupported() && crc64::vpclmul(start, data, size) != want) std::abort();
    if (aos_crc64(aos_crc64(start, data, cut), data + cut, size - cut) != want) std::abort();
    const std::uint64_t a = aos_crc64(0, data, cut), b = aos_crc64(0, data + cut, size - cut);
    if (aos_crc64_combine(a, b, size - cut) != aos_crc64(0, data, size)) std::abort();
    return 0;
}
