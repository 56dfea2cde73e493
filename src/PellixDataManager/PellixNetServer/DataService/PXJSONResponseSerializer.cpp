#include "PellixDataManager/PellixNetServer/DataService/PXJSONResponseSerializer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

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

// Room decodeLenientBase64 needs for a text of this length.
std::size_t decodedCapacity(std::size_t textSize) { return textSize / 4 * 3 + 3; }

// Base64 decoding in one pass, bytes outside the alphabet skipped: the same
// answers as the SDK's lenient decoder (padding closes the text; a lone
// final sextet fails), without its intermediate buffer. Answers are large
// and this runs for every one of them. Writes into out (decodedCapacity
// bytes) and gives the length decoded.
std::optional<std::size_t> decodeLenientBase64(std::string_view text, std::uint8_t* out) {
    std::uint8_t* o = out;
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
    return static_cast<std::size_t>(o - out);
}

// Drops every NUL and backspace byte of p[0..n) (the sender pads with them,
// wherever they are) and gives the length left. The padding sits at the end
// of a whole answer, so the text is first searched eight bytes at a time.
std::size_t dropPadding(std::uint8_t* p, std::size_t n) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        const std::uint64_t b = w ^ (kOnes * 8);
        // Nonzero exactly when some byte of w is 0, or some byte of b is 0 (8 in w).
        if (((w - kOnes) & ~w & kHigh) | ((b - kOnes) & ~b & kHigh)) break;
    }
    std::size_t kept = i;
    for (; i < n; ++i) {
        if (p[i] != 0 && p[i] != 8) p[kept++] = p[i];
    }
    return kept;
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

std::optional<PXJSONResponseSerializer::Plain> PXJSONResponseSerializer::decryptPlain(std::string_view body) const {
    // PellixCommonTypes::AES128DecryptWithString in fewer passes: the cipher
    // text is decoded into one buffer and decrypted where it lies.
    Plain plain;
    plain.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(decodedCapacity(body.size()));
    const auto decoded = decodeLenientBase64(body, plain.bytes.get());
    if (!decoded) return std::nullopt;
    if (!platform::crypto::aesDecryptInPlace(platform::crypto::CipherMode::CBC, key_, kResponseIV,
                                             std::span<std::uint8_t>(plain.bytes.get(), *decoded))) {
        return std::nullopt;
    }
    plain.size = *decoded;
    if (!platform::isValidUTF8(plain.text())) return std::nullopt;
    plain.size = dropPadding(plain.bytes.get(), plain.size);
    return plain;
}

std::optional<std::string> PXJSONResponseSerializer::decrypt(std::string_view body) const {
    auto plain = decryptPlain(body);
    if (!plain) return std::nullopt;
    return std::string(plain->text());
}

TVResponseObject PXJSONResponseSerializer::responseObject(const TVResponse& response, const TVResponseData& data,
                                                          ErrorPtr* error) const {
    if (!passesDecodingGate(response, data, error)) return {};
    if (!data || data->empty() || (data->size() == 1 && (*data)[0] == ' ')) return {};

    // A body that is not UTF-8 text is neither cipher text nor JSON.
    const std::string_view body(reinterpret_cast<const char*>(data->data()), data->size());
    if (!platform::isValidUTF8(body)) return {};
    const std::optional<Plain> plain = decryptPlain(body);

    std::string_view chosen;
    if (plain && plain->size > 0) {
        chosen = plain->text();
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
