// Base32 decoding of arbitrary text, and the encoder over the same bytes:
// decoding what the encoder wrote must give the bytes back, in either case.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "CommonMethod/PXBase32Codec.h"

using pellix::PXBase32Codec;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto decoded = PXBase32Codec::dataFromBase32String(text)) {
        check(decoded->size() <= size);
    }

    const std::vector<std::uint8_t> bytes(data, data + size);
    auto encoded = PXBase32Codec::base32StringFromData(bytes);
    check(encoded.has_value());
    check(encoded->size() == (size + 4) / 5 * 8);
    check(PXBase32Codec::dataFromBase32String(*encoded) == bytes);
    std::string lower = *encoded;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    check(PXBase32Codec::dataFromBase32String(lower) == bytes);
    return 0;
}
