// Base64 decoders on arbitrary bytes: the strict table-driven codec (both
// alphabets, padding required and optional, tight caller buffers) and the
// lenient reader. Whatever they accept must re-encode to text that decodes
// to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "CommonMethod/NSDataTools.h"
#include "CommonMethod/PellixBase64.h"

using pellix::NSDataTools;
using pellix::PellixBase64;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (auto standard = PellixBase64::decodeBytes(data, size)) {
        check(!standard->empty());
        auto again = PellixBase64::encodeData(*standard);
        check(again.has_value());
        check(PellixBase64::decodeData(*again) == standard);
    }
    if (auto webSafe = PellixBase64::webSafeDecodeBytes(data, size)) {
        for (bool padded : {true, false}) {
            auto again = PellixBase64::webSafeEncodeData(*webSafe, padded);
            check(again.has_value());
            check(PellixBase64::webSafeDecodeData(*again) == webSafe);
        }
    }

    // The raw decoder into exactly-sized and too-small buffers: it must stay
    // inside them and agree with the wrapper.
    const std::size_t room = PellixBase64::guessDecodedLength(size);
    if (room > 0 && room < (1u << 20)) {
        std::vector<std::uint8_t> out(room, 0);
        const std::size_t n = PellixBase64::baseDecode(reinterpret_cast<const char*>(data), size, out.data(),
                                                       out.size(), PellixBase64::kBase64DecodeChars, true);
        check(n <= room);
        std::vector<std::uint8_t> small(room / 2 + 1, 0);
        const std::size_t m = PellixBase64::baseDecode(reinterpret_cast<const char*>(data), size, small.data(),
                                                       small.size(), PellixBase64::kWebSafeBase64DecodeChars, false);
        check(m <= small.size());
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)PellixBase64::decodeString(text);
    (void)PellixBase64::webSafeDecodeString(text);
    if (auto lenient = NSDataTools::px_dataWithBase64EncodedString(text)) {
        check(lenient->size() <= size);
    }
    return 0;
}
