#include "HOSSDK/NSString+HOS.h"

#include <cstdint>

#include "platform/Paths.h"

namespace pellix {

namespace {

bool isWhiteSpace(std::uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// Decodes the well-formed UTF-8 sequence starting at s[i]; its length in n.
// Malformed bytes decode as U+FFFD (never white space) of length 1.
std::uint32_t decodeAt(std::string_view s, std::size_t i, std::size_t& n) {
    const auto b = static_cast<unsigned char>(s[i]);
    n = 1;
    if (b < 0x80) return b;
    std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (len == 0 || i + len > s.size()) return 0xFFFD;
    std::uint32_t c = b & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        const auto cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (cb & 0x3F);
    }
    n = len;
    return c;
}

}  // namespace

std::string hos_trim(std::string_view text) {
    std::size_t begin = 0, n = 0;
    while (begin < text.size() && isWhiteSpace(decodeAt(text, begin, n))) begin += n;
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last character.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && end - start < 4) --start;
        if (!isWhiteSpace(decodeAt(text, start, n)) || start + n != end) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

bool hos_isNotEmpty(std::string_view text) { return !hos_trim(text).empty(); }

bool hos_isNotEmpty(const std::optional<std::string>& text) { return text && hos_isNotEmpty(std::string_view(*text)); }

std::string hos_stringByAppendingPathComponentForURL(std::string_view receiver, std::string_view component) {
    std::string out(receiver);
    if (out.empty() || out.back() != '/') out += '/';
    out += component;
    return out;
}

std::string hos_documentDirectory() {
    // Asked each time: the application home may be set after the first use
    // (a host that moves it, a test with a home of its own), and a path kept
    // from before would name a folder no longer in use.
    return platform::Paths::documentsDirectory();
}

}  // namespace pellix
