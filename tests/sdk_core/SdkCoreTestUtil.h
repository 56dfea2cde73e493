// Helpers of the SDK-core tests: running the independent reference tools
// (openssl, python3, coreutils) and moving bytes in and out of them.
#pragma once

#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/Value.h"

namespace pellix::test {

// Runs a shell command and returns its standard output; throws when it fails.
inline std::string shell(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("popen failed: " + command);
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    const int status = pclose(pipe);
    if (status != 0) throw std::runtime_error("command failed (" + std::to_string(status) + "): " + command);
    return out;
}

inline std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

inline std::string toHex(const platform::Bytes& b) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto c : b) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

inline std::string toHex(const std::string& s) { return toHex(platform::Bytes(s.begin(), s.end())); }

inline platform::Bytes bytes(const std::string& s) { return platform::Bytes(s.begin(), s.end()); }
inline std::string text(const platform::Bytes& b) { return std::string(b.begin(), b.end()); }

inline platform::Bytes randomBytes(std::mt19937& rng, std::size_t n) {
    platform::Bytes out(n);
    for (auto& c : out) c = static_cast<std::uint8_t>(rng());
    return out;
}

}  // namespace pellix::test
