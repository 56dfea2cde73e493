#include "PellixDataManager/PellixNetServer/DataService/PXJSONResponseSerializer.h"

#include <algorithm>
#include <array>

#include "CommonMethod/PellixCommonTypes.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/Crypto.h"
#include "platform/JSON.h"

namespace pellix {

using platform::ErrorPtr;

namespace {

// Sextet of each byte of the standard alphabet; -1 outside it, -2 for "=".
constexpr std::array<std::int8_t, 256> kSextets = [] {
    std::array<std::int8_t, 256> t{};
    t.fill(-1);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    t['='] = -2;
    return t;
}();

// Base64 decoding in one pass, bytes outside the alphabet skipped: the same
// answers as the SDK's lenient decoder (padding closes the text; a lone
// final sextet fails), without its intermediate buffer. Answers are large
// and this runs for every one of them.
std::optional<platform::Bytes> decodeLenientBase64(std::string_view text) {
    platform::Bytes out(text.size() / 4 * 3 + 3);
    std::uint8_t* o = out.data();
    std::uint32_t acc = 0;
    int count = 0;
    std::size_t padding = 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        // Whole groups of four alphabet characters, the bulk of any answer,
        // in one step each.
        if (count == 0 && padding == 0 && i + 4 <= n) {
            const int a = kSextets[s[i]], b = kSextets[s[i + 1]], c = kSextets[s[i + 2]], d = kSextets[s[i + 3]];
            if ((a | b | c | d) >= 0) {
                const auto v = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6 | d);
                o[0] = static_cast<std::uint8_t>(v >> 16);
                o[1] = static_cast<std::uint8_t>(v >> 8);
                o[2] = static_cast<std::uint8_t>(v);
                o += 3;
                i += 4;
                continue;
            }
        }
        const int v = kSextets[s[i++]];
        if (v == -1) continue;
        if (v == -2) {
            ++padding;
            continue;
        }
        if (padding > 0) return std::nullopt;
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            o[0] = static_cast<std::uint8_t>(acc >> 16);
            o[1] = static_cast<std::uint8_t>(acc >> 8);
            o[2] = static_cast<std::uint8_t>(acc);
            o += 3;
            acc = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2) return std::nullopt;
    if (count == 2) {
        *o++ = static_cast<std::uint8_t>(acc >> 4);
    } else if (count == 3) {
        *o++ = static_cast<std::uint8_t>(acc >> 10);
        *o++ = static_cast<std::uint8_t>(acc >> 2);
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

// platform::isValidUTF8, skipping the leading ASCII run in a tight loop
// first (Base64 bodies are all ASCII, envelopes mostly).
bool isUTF8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    return i == n || platform::isValidUTF8(text.substr(i));
}

}  // namespace

std::shared_ptr<PXJSONResponseSerializer> PXJSONResponseSerializer::serializer() {
    return std::make_shared<PXJSONResponseSerializer>();
}

PXJSONResponseSerializer::PXJSONResponseSerializer()
    : PXJSONResponseSerializer(PellixProxyInfo::sharedInstance()->deviceUUID()) {}

PXJSONResponseSerializer::PXJSONResponseSerializer(const std::string& deviceUUID)
    : key_(PellixCommonTypes::md5Crypt16WithString(deviceUUID)) {
    setAcceptableContentTypes(std::set<std::string>{"application/json", "text/json", "text/javascript", "text/html"});
}

std::shared_ptr<TVHTTPResponseSerializer> PXJSONResponseSerializer::copy() const {
    auto c = std::make_shared<PXJSONResponseSerializer>(std::string());
    copyInto(*c);
    c->setReadingOptions(readingOptions());
    c->setRemovesKeysWithNullValues(removesKeysWithNullValues());
    c->key_ = key_;
    return c;
}

std::optional<platform::Bytes> PXJSONResponseSerializer::decryptBytes(std::string_view body) const {
    // PellixCommonTypes::AES128DecryptWithString, in fewer passes and copies.
    auto cipherText = decodeLenientBase64(body);
    if (!cipherText) return std::nullopt;
    auto plain = platform::crypto::aesDecrypt(platform::crypto::CipherMode::CBC, platform::crypto::Padding::None, key_,
                                              kResponseIV, *cipherText);
    if (!plain) return std::nullopt;
    if (!isUTF8(std::string_view(reinterpret_cast<const char*>(plain->data()), plain->size()))) {
        return std::nullopt;
    }
    // The sender pads with NUL or backspace characters; they go wherever they are.
    std::erase_if(*plain, [](std::uint8_t c) { return c == 0 || c == 8; });
    return plain;
}

std::optional<std::string> PXJSONResponseSerializer::decrypt(std::string_view body) const {
    auto plain = decryptBytes(body);
    if (!plain) return std::nullopt;
    return std::string(plain->begin(), plain->end());
}

TVResponseObject PXJSONResponseSerializer::responseObject(const TVResponse& response, const TVResponseData& data,
                                                          ErrorPtr* error) const {
    if (!passesDecodingGate(response, data, error)) return {};
    if (!data || data->empty() || (data->size() == 1 && (*data)[0] == ' ')) return {};

    // A body that is not UTF-8 text is neither cipher text nor JSON.
    const std::string_view body(reinterpret_cast<const char*>(data->data()), data->size());
    if (!isUTF8(body)) return {};
    const std::optional<platform::Bytes> plain = decryptBytes(body);

    std::string_view chosen;
    if (plain && !plain->empty()) {
        chosen = std::string_view(reinterpret_cast<const char*>(plain->data()), plain->size());
    } else if (body.front() == '{') {
        chosen = body;
    }
    if (chosen.empty()) return {};

    ErrorPtr parseError;
    auto value = platform::JSON::parse(chosen, kReadingOptions, &parseError);
    if (!value) {
        if (error) *error = TVErrorWithUnderlyingError(parseError, *error);
        return {};
    }
    if (removesKeysWithNullValues()) {
        return TVResponseObject(TVJSONObjectByRemovingKeysWithNullValues(*value, readingOptions()));
    }
    return TVResponseObject(std::move(*value));
}

}  // namespace pellix
