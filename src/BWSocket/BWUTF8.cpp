#include "BWSocket/BWUTF8.h"

#include <cstring>
#include <limits>

namespace pellix {

namespace {

// Eight bytes at a time while they are all ASCII: most text is, and the
// checks below are then only made for the other characters.
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

bool isTrail(std::uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

// The well-formed sequences (Unicode, table 3-7): the second byte's range
// depends on the lead (E0: A0-BF, no overlong; ED: 80-9F, no surrogate;
// F0: 90-BF, no overlong; F4: 80-8F, nothing above U+10FFFF); every other
// byte after the lead is 80-BF. Leads C0, C1 and F5-FF never begin one.
std::int32_t BWValidatePartialUTF8(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return -1;
    const std::uint8_t* s = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t c = s[i];
        if (c < 0x80) {
            i = skipASCII(s, i + 1, n);
            continue;
        }
        std::size_t trail;
        std::uint8_t low = 0x80, high = 0xBF;
        if (c < 0xC2) {
            return -1;
        } else if (c < 0xE0) {
            trail = 1;
        } else if (c < 0xF0) {
            trail = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c < 0xF5) {
            trail = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return -1;
        }
        if (i + trail < n) {
            const std::uint8_t second = s[i + 1];
            if (second < low || second > high) return -1;
            if (trail >= 2 && !isTrail(s[i + 2])) return -1;
            if (trail == 3 && !isTrail(s[i + 3])) return -1;
            i += trail + 1;
            continue;
        }
        // The piece ends inside this character: what is there must be able
        // to begin it; the rest comes with the next piece.
        if (i + 1 < n && (s[i + 1] < low || s[i + 1] > high)) return -1;
        if (i + 2 < n && !isTrail(s[i + 2])) return -1;
        return static_cast<std::int32_t>(i);
    }
    return static_cast<std::int32_t>(n);
}

bool BWIsValidUTF8(std::span<const std::uint8_t> bytes) {
    return BWValidatePartialUTF8(bytes) == static_cast<std::int64_t>(bytes.size());
}

}  // namespace pellix
