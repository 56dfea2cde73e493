// Hex literals for byte-level tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Value.h"

namespace pellix::test {

// "10 0D 00 04" → bytes; anything that is not a hex digit is skipped.
inline platform::Bytes hex(const std::string& text) {
    platform::Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

// bytes → "100d0004": two lower-case hex digits per byte, nothing between.
inline std::string hexText(const platform::Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (auto b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0f]);
    }
    return out;
}

}  // namespace pellix::test
