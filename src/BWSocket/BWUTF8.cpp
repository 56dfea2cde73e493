#include "BWSocket/BWUTF8.h"

#include <unicode/utf8.h>

#include <cstring>
#include <limits>

namespace pellix {

namespace {

// Eight bytes at a time while they are all ASCII: most text is, and the
// decoding step below is then only taken for the other characters.
std::size_t skipASCII(const std::uint8_t* p, std::size_t i, std::size_t size) {
    while (i + 8 <= size) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ULL) break;
        i += 8;
    }
    while (i < size && p[i] < 0x80) ++i;
    return i;
}

}  // namespace

std::int32_t BWValidatePartialUTF8(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return -1;
    const std::uint8_t* s = bytes.data();
    const auto length = static_cast<std::int32_t>(bytes.size());
    std::int32_t i = 0;
    while (i < length) {
        i = static_cast<std::int32_t>(skipASCII(s, static_cast<std::size_t>(i), bytes.size()));
        if (i >= length) break;
        const std::int32_t start = i;
        const UChar32 lead = s[i++];
        // Strict: -1 for every ill-formed sequence, surrogates included.
        const UChar32 c = utf8_nextCharSafeBody(s, &i, length, lead, -1);
        if (c >= 0) continue;
        // ICU stops after the longest well-formed prefix of the character;
        // a prefix that runs to the end is a character cut by the piece.
        if (i == length && U8_IS_LEAD(lead)) return start;
        return -1;
    }
    return length;
}

bool BWIsValidUTF8(std::span<const std::uint8_t> bytes) {
    return BWValidatePartialUTF8(bytes) == static_cast<std::int64_t>(bytes.size());
}

}  // namespace pellix
