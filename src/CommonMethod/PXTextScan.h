// Small text helpers shared by the string, data and crypto utilities: the
// hex-pair reading they all use, and the UTF-8 check that stands for "bytes
// that make a string".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pellix::pxtext {

// Reads a two-character hex pair the way a hex scanner does: leading hex
// digits (either case) are taken, reading stops at the first other
// character; a pair that starts with a non-digit reads as 0.
inline std::uint8_t hexPairValue(char first, char second) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    const int hi = digit(first);
    if (hi < 0) return 0;
    const int lo = digit(second);
    if (lo < 0) return static_cast<std::uint8_t>(hi);
    return static_cast<std::uint8_t>(hi * 16 + lo);
}

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates,
// nothing above U+10FFFF).
inline bool isValidUTF8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned min;
        unsigned cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

}  // namespace pellix::pxtext
