#include "CommonMethod/PellixBase64.h"

#include <array>
#include <limits>

namespace pellix {

namespace {

constexpr char kPaddingChar = '=';

constexpr std::array<std::uint8_t, 256> makeDecodeTable(const char* alphabet) {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = PellixBase64::kInvalidChar;
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}

constexpr std::array<bool, 256> makeSpaceTable() {
    std::array<bool, 256> table{};
    for (unsigned c : {9u, 10u, 11u, 12u, 13u, 32u, 160u, 255u}) table[c] = true;
    return table;
}

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kWebSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr auto kStandardDecode = makeDecodeTable(kStandard);
constexpr auto kWebSafeDecode = makeDecodeTable(kWebSafe);
constexpr auto kSpace = makeSpaceTable();

bool isSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }

bool isASCII(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) > 0x7F) return false;
    }
    return true;
}

std::optional<std::string> toString(std::optional<PellixBase64::Bytes> data) {
    if (!data) return std::nullopt;
    return std::string(data->begin(), data->end());
}

}  // namespace

const char PellixBase64::kBase64EncodeChars[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char PellixBase64::kWebSafeBase64EncodeChars[65] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const std::uint8_t* const PellixBase64::kBase64DecodeChars = kStandardDecode.data();
const std::uint8_t* const PellixBase64::kWebSafeBase64DecodeChars = kWebSafeDecode.data();

std::size_t PellixBase64::guessEncodedLength(std::size_t length, bool padded) {
    if (length > (std::numeric_limits<std::size_t>::max() - 5) / 8) return 0;
    std::size_t len = (length * 8 + 5) / 6;
    if (padded) len = ((len + 3) / 4) * 4;
    return len;
}

std::size_t PellixBase64::guessDecodedLength(std::size_t length) {
    if (length > std::numeric_limits<std::size_t>::max() - 3) return 0;
    return ((length + 3) / 4) * 3;
}

std::size_t PellixBase64::baseEncode(const std::uint8_t* src, std::size_t srcLen, char* dest, std::size_t destLen,
                                     const char* charset, bool padded) {
    if (!srcLen || !destLen || !src || !dest || !charset) return 0;
    std::size_t out = 0;
    // Three bytes make four characters; the room is checked before each write.
    while (srcLen > 2) {
        if (destLen - out < 4) return 0;  // our calc for encoded length was wrong
        dest[out++] = charset[src[0] >> 2];
        dest[out++] = charset[((src[0] & 0x03) << 4) | (src[1] >> 4)];
        dest[out++] = charset[((src[1] & 0x0f) << 2) | (src[2] >> 6)];
        dest[out++] = charset[src[2] & 0x3f];
        src += 3;
        srcLen -= 3;
    }
    if (srcLen == 2) {
        if (destLen - out < (padded ? 4u : 3u)) return 0;
        dest[out++] = charset[src[0] >> 2];
        dest[out++] = charset[((src[0] & 0x03) << 4) | (src[1] >> 4)];
        dest[out++] = charset[(src[1] & 0x0f) << 2];
        if (padded) dest[out++] = kPaddingChar;
    } else if (srcLen == 1) {
        if (destLen - out < (padded ? 4u : 2u)) return 0;
        dest[out++] = charset[src[0] >> 2];
        dest[out++] = charset[(src[0] & 0x03) << 4];
        if (padded) {
            dest[out++] = kPaddingChar;
            dest[out++] = kPaddingChar;
        }
    }
    return out;
}

std::size_t PellixBase64::baseDecode(const char* src, std::size_t srcLen, std::uint8_t* dest, std::size_t destLen,
                                     const std::uint8_t* charset, bool requirePadding) {
    if (!srcLen || !destLen || !src || !dest || !charset) return 0;

    std::size_t pos = 0;
    std::size_t destIndex = 0;
    int state = 0;
    bool sawPadding = false;
    while (pos < srcLen && src[pos] != '\0') {
        const char ch = src[pos++];
        if (isSpace(ch)) continue;
        if (ch == kPaddingChar) {
            sawPadding = true;
            break;
        }
        const std::uint8_t decode = charset[static_cast<unsigned char>(ch)];
        if (decode == kInvalidChar) return 0;
        switch (state) {
            case 0:
                if (destIndex >= destLen) return 0;  // our calc for decoded length was wrong
                dest[destIndex] = static_cast<std::uint8_t>(decode << 2);
                state = 1;
                break;
            case 1:
                if (destIndex >= destLen) return 0;
                dest[destIndex] |= decode >> 4;
                if (destIndex + 1 < destLen) dest[destIndex + 1] = static_cast<std::uint8_t>((decode & 0x0f) << 4);
                ++destIndex;
                state = 2;
                break;
            case 2:
                if (destIndex >= destLen) return 0;
                dest[destIndex] |= decode >> 2;
                if (destIndex + 1 < destLen) dest[destIndex + 1] = static_cast<std::uint8_t>((decode & 0x03) << 6);
                ++destIndex;
                state = 3;
                break;
            default:
                if (destIndex >= destLen) return 0;
                dest[destIndex] |= decode;
                ++destIndex;
                state = 0;
                break;
        }
    }

    // Stops at the end of the input or at a NUL, whichever comes first.
    auto atEnd = [&] { return pos >= srcLen || src[pos] == '\0'; };
    if (sawPadding) {
        if (state == 0 || state == 1) return 0;  // "=" as the first or second character of a group
        if (atEnd()) {
            if (state == 2) return 0;  // a second "=" is still owed
        } else {
            if (state == 2) {
                while (!atEnd() && isSpace(src[pos])) ++pos;
                if (atEnd() || src[pos] != kPaddingChar) return 0;
                ++pos;
            }
            while (!atEnd()) {
                if (!isSpace(src[pos++])) return 0;
            }
        }
    } else if (requirePadding) {
        if (state != 0) return 0;
    } else if (state == 1) {
        return 0;  // a lone 6-bit remainder holds no byte
    }

    // Bits beyond the data in the last character mean the input was not made
    // by an encoder.
    if (destIndex < destLen && dest[destIndex] != 0) return 0;
    return destIndex;
}

std::optional<PellixBase64::Bytes> PellixBase64::baseEncode(const void* bytes, std::size_t length, const char* charset,
                                                            bool padded) {
    const std::size_t maxLength = guessEncodedLength(length, padded);
    if (maxLength == 0) return std::nullopt;
    std::string out(maxLength, '\0');
    const std::size_t written =
        baseEncode(static_cast<const std::uint8_t*>(bytes), length, out.data(), out.size(), charset, padded);
    if (written == 0 || written != maxLength) return std::nullopt;  // how did we calc the length wrong?
    return Bytes(out.begin(), out.end());
}

std::optional<PellixBase64::Bytes> PellixBase64::baseDecode(const void* bytes, std::size_t length,
                                                            const std::uint8_t* charset, bool requirePadding) {
    const std::size_t maxLength = guessDecodedLength(length);
    if (maxLength == 0) return std::nullopt;
    Bytes out(maxLength, 0);  // zero-filled: the trailing-bits check reads the next byte
    const std::size_t written =
        baseDecode(static_cast<const char*>(bytes), length, out.data(), out.size(), charset, requirePadding);
    if (written == 0) return std::nullopt;
    out.resize(written);
    return out;
}

std::optional<PellixBase64::Bytes> PellixBase64::encodeData(const Bytes& data) {
    return baseEncode(data.data(), data.size(), kBase64EncodeChars, true);
}
std::optional<PellixBase64::Bytes> PellixBase64::decodeData(const Bytes& data) {
    return baseDecode(data.data(), data.size(), kBase64DecodeChars, true);
}
std::optional<PellixBase64::Bytes> PellixBase64::encodeBytes(const void* bytes, std::size_t length) {
    return baseEncode(bytes, length, kBase64EncodeChars, true);
}
std::optional<PellixBase64::Bytes> PellixBase64::decodeBytes(const void* bytes, std::size_t length) {
    return baseDecode(bytes, length, kBase64DecodeChars, true);
}
std::optional<std::string> PellixBase64::stringByEncodingData(const Bytes& data) { return toString(encodeData(data)); }
std::optional<std::string> PellixBase64::stringByEncodingBytes(const void* bytes, std::size_t length) {
    return toString(encodeBytes(bytes, length));
}
std::optional<PellixBase64::Bytes> PellixBase64::decodeString(std::string_view string) {
    if (!isASCII(string)) return std::nullopt;
    return decodeBytes(string.data(), string.size());
}

std::optional<PellixBase64::Bytes> PellixBase64::webSafeEncodeData(const Bytes& data, bool padded) {
    return baseEncode(data.data(), data.size(), kWebSafeBase64EncodeChars, padded);
}
std::optional<PellixBase64::Bytes> PellixBase64::webSafeDecodeData(const Bytes& data) {
    return baseDecode(data.data(), data.size(), kWebSafeBase64DecodeChars, false);
}
std::optional<PellixBase64::Bytes> PellixBase64::webSafeEncodeBytes(const void* bytes, std::size_t length,
                                                                    bool padded) {
    return baseEncode(bytes, length, kWebSafeBase64EncodeChars, padded);
}
std::optional<PellixBase64::Bytes> PellixBase64::webSafeDecodeBytes(const void* bytes, std::size_t length) {
    return baseDecode(bytes, length, kWebSafeBase64DecodeChars, false);
}
std::optional<std::string> PellixBase64::stringByWebSafeEncodingData(const Bytes& data, bool padded) {
    return toString(webSafeEncodeData(data, padded));
}
std::optional<std::string> PellixBase64::stringByWebSafeEncodingBytes(const void* bytes, std::size_t length,
                                                                      bool padded) {
    return toString(webSafeEncodeBytes(bytes, length, padded));
}
std::optional<PellixBase64::Bytes> PellixBase64::webSafeDecodeString(std::string_view string) {
    if (!isASCII(string)) return std::nullopt;
    return webSafeDecodeBytes(string.data(), string.size());
}

}  // namespace pellix
