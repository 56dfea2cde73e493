#include "CommonMethod/NSStringTools.h"

#include "CommonMethod/NSDataTools.h"
#include "CommonMethod/PXBase32Codec.h"
#include "CommonMethod/PXTextScan.h"
#include "PellixLog/PellixLog.h"
#include "platform/Crypto.h"
#include "platform/Log.h"

namespace pellix {

namespace {

bool queryAllowed(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',':
        case '-': case '.': case '/': case ':': case ';': case '=': case '?': case '@': case '_': case '~':
            return true;
        default:
            return false;
    }
}

std::optional<std::string> utf8Text(const std::optional<platform::Bytes>& data) {
    if (!data) return std::nullopt;
    std::string text(data->begin(), data->end());
    if (!pxtext::isValidUTF8(text)) return std::nullopt;
    return text;
}

}  // namespace

std::optional<std::string> NSStringTools::px_utf8EncodingString(std::string_view string) {
    if (string.empty()) return std::nullopt;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(string.size() * 3);
    for (char ch : string) {
        const auto c = static_cast<unsigned char>(ch);
        if (queryAllowed(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string NSStringTools::px_SHA1(std::string_view string) {
    auto digest = platform::crypto::sha1(string);
    return digest ? platform::crypto::hex(*digest) : std::string();
}

std::string NSStringTools::px_base64EncodedString(std::string_view string) {
    return NSDataTools::px_base64EncodedString(platform::Bytes(string.begin(), string.end()));
}

std::optional<std::string> NSStringTools::px_stringWithBase64EncodedString(std::string_view string) {
    return utf8Text(NSDataTools::px_dataWithBase64EncodedString(string));
}

std::optional<std::string> NSStringTools::base32String(std::string_view string) {
    return PXBase32Codec::base32StringFromData(platform::Bytes(string.begin(), string.end()));
}

std::optional<std::string> NSStringTools::stringFromBase32String(std::string_view string) {
    return utf8Text(PXBase32Codec::dataFromBase32String(string));
}

std::optional<std::string> NSStringTools::stringFromHexString(std::string_view string) {
    // Fewer than two characters hold no byte; the text is empty.
    if (string.size() < 2) return std::string();
    std::string bytes;
    bytes.reserve(string.size() / 2);
    for (std::size_t i = 0; i + 2 <= string.size(); i += 2) {
        const std::uint8_t byte = pxtext::hexPairValue(string[i], string[i + 1]);
        if (byte == 0) break;  // the bytes are read as a NUL-terminated string
        bytes.push_back(static_cast<char>(byte));
    }
    if (!pxtext::isValidUTF8(bytes)) return std::nullopt;
    // The decoded text may be a door secret: it is logged only while the
    // SDK's log switch is on, like every other SDK line.
    if (PellixLog::isLogEnable()) platform::Log::writef("------字符串=======%s", bytes.c_str());
    return bytes;
}

}  // namespace pellix
