#include "SipEngineSDK/SipHeaders.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace client::headers {

bool isValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        uint32_t cp;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; }
        else return false;
        if (i + n >= s.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

bool isToken(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    for (char ch : name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (std::isalnum(c)) continue;
        if (!std::strchr("-.!%*_+`'~", c) || c == 0) return false;
    }
    return true;
}

std::map<std::string, std::string> readCustom(const std::vector<std::pair<std::string, std::string>>& raw) {
    std::map<std::string, std::string> out;
    for (const auto& [name, value] : raw) {
        if (out.size() == kMaxHeaders) break;
        if (name.size() < 3 || (name[0] != 'X' && name[0] != 'x') || name[1] != '-' || !isToken(name)) continue;
        if (value.size() > kMaxValueBytes || !isValidUtf8(value)) continue;
        if (value.find('\0') != std::string::npos) continue;
        out.emplace(name, value);
    }
    return out;
}

std::string writeBlock(const std::map<std::string, std::string>& headers) {
    std::string out;
    std::size_t n = 0;
    for (const auto& [name, value] : headers) {
        if (n == kMaxHeaders) break;
        if (!isToken(name) || value.size() > kMaxValueBytes || value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            continue;
        out += name + ": " + value + "\r\n";
        ++n;
    }
    return out;
}

bool isDtmfTone(char t) {
    return (t >= '0' && t <= '9') || t == '*' || t == '#' || (t >= 'A' && t <= 'D');
}

std::optional<char> readDtmfRelay(std::string_view body) {
    if (body.size() > 4096) return std::nullopt;
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t end = body.find('\n', pos);
        if (end == std::string_view::npos) end = body.size();
        std::string_view line = body.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
        if (key.size() != 6 || strncasecmp(key.data(), "signal", 6) != 0) continue;
        if (value == "10") return '*';
        if (value == "11") return '#';
        if (value.size() != 1) return std::nullopt;
        char t = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
        return isDtmfTone(t) ? std::optional<char>(t) : std::nullopt;
    }
    return std::nullopt;
}

std::string writeDtmfRelay(char tone, int durationMs) {
    return std::string("Signal=") + tone + "\r\nDuration=" + std::to_string(durationMs) + "\r\n";
}

}  // namespace client::headers
