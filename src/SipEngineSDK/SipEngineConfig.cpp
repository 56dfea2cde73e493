#include "SipEngineSDK/SipEngineConfig.h"

#include <cstring>

namespace client {

std::size_t utf8PrefixLength(std::string_view value, std::size_t maxBytes) {
    if (value.size() <= maxBytes) return value.size();
    std::size_t n = maxBytes;
    // Step back over continuation bytes to the lead byte of the character the
    // cut falls into; that character is dropped whole.
    while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) --n;
    return n;
}

void setText(char* field, std::size_t fieldSize, std::string_view value) {
    if (fieldSize == 0) return;
    std::size_t n = utf8PrefixLength(value, fieldSize - 1);
    if (auto zero = value.substr(0, n).find('\0'); zero != std::string_view::npos) n = zero;
    std::memcpy(field, value.data(), n);
    std::memset(field + n, 0, fieldSize - n);
}

}  // namespace client
