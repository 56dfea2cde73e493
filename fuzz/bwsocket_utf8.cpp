// Incremental UTF-8 validation against ICU's one-shot conversion.
//
// Input: byte 0 seeds where the text is cut, the rest is the text. Fed in
// pieces the way the frame reader feeds it (each check starts at the first
// unchecked byte), the text must be accepted exactly when u_strFromUTF8
// accepts it whole. A single check must stop only before a character that
// a valid continuation could still complete (at most three bytes back).
#include <unicode/ustring.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "BWSocket/BWUTF8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::span<const std::uint8_t> text(data + 1, size - 1);

    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, reinterpret_cast<const char*>(text.data()), static_cast<int32_t>(text.size()),
                  &status);
    const bool expected = status != U_INVALID_CHAR_FOUND;

    std::uint32_t state = data[0] * 2654435761u + 7;
    std::size_t scanned = 0, end = 0;
    bool valid = true;
    while (end < text.size() && valid) {
        state = state * 1103515245u + 12345u;
        end = std::min(text.size(), end + 1 + (state >> 16) % 16);
        const auto r = pellix::BWValidatePartialUTF8(text.subspan(scanned, end - scanned));
        if (r < 0) {
            valid = false;
        } else {
            scanned += static_cast<std::size_t>(r);
            if (end - scanned > 3) std::abort();
        }
    }
    if (valid && scanned != text.size()) valid = false;  // a character cut by the end
    if (valid != expected) std::abort();
    if (pellix::BWIsValidUTF8(text) != expected) std::abort();
    return 0;
}
