// Small helpers shared by the codec tests: hex literals and printing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "support/Hex.h"

namespace pellix::test {

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
