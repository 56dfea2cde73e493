// Small helpers shared by the codec tests: hex literals and printing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace pellix::test {

// "10 0D 00 04" → bytes; blanks are ignored.
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

inline std::string toHex(const platform::Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out.push_back(' ');
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    return out;
}

inline platform::Bytes bytesOf(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }

}  // namespace pellix::test
