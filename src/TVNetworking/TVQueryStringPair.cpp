#include "TVNetworking/TVQueryStringPair.h"

#include <algorithm>

#include "platform/TextServices.h"

namespace pellix {

using platform::Value;

namespace {

bool keptUnescaped(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/' || c == '?';
}

void escapeInto(std::string_view s, std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : s) {
        if (keptUnescaped(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
}

// UTF-16 units of UTF-8 text with, for each unit, the byte offset of the
// character it belongs to (plus one entry for the end). Invalid bytes count
// as one unit each, as the platform counts them.
struct Utf16Map {
    std::u16string units;
    std::vector<std::size_t> byteOffset;
};

Utf16Map mapUtf16(std::string_view s) {
    Utf16Map m;
    m.units.reserve(s.size());
    m.byteOffset.reserve(s.size() + 1);
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        char32_t cp = 0xFFFD;
        bool ok = n > 0 && i + n <= s.size();
        if (ok) {
            cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
            for (std::size_t k = 1; k < n; ++k) {
                unsigned char cc = static_cast<unsigned char>(s[i + k]);
                if ((cc & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                cp = (cp << 6) | (cc & 0x3F);
            }
            static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        }
        if (!ok) {
            n = 1;
            cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            m.units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            m.units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            m.byteOffset.push_back(i);
            m.byteOffset.push_back(i);
        } else {
            m.units.push_back(static_cast<char16_t>(cp));
            m.byteOffset.push_back(i);
        }
        i += n;
    }
    m.byteOffset.push_back(s.size());
    return m;
}

// Walks the batches: fn(byteBegin, byteEnd, utf16Length).
template <typename Fn>
void forEachBatch(std::string_view s, Fn fn) {
    if (s.empty()) return;
    if (s.size() <= kTVPercentEscapeBatchSize) {  // at most 50 UTF-16 units: one batch
        fn(std::size_t(0), s.size(), platform::utf16Length(s));
        return;
    }
    Utf16Map m = mapUtf16(s);
    const std::size_t length = m.units.size();
    std::vector<std::size_t> bounds = platform::text::composedCharacterBoundaries(m.units);
    std::size_t index = 0;
    while (index < length) {
        std::size_t end = std::min(index + kTVPercentEscapeBatchSize, length);
        auto it = std::lower_bound(bounds.begin(), bounds.end(), end);
        if (it != bounds.end()) end = *it;
        fn(m.byteOffset[index], m.byteOffset[end], end - index);
        index = end;
    }
}

void flatten(const std::string& key, bool hasKey, const Value& value, std::vector<TVQueryStringPair>& out) {
    if (const platform::Dictionary* d = value.dictionaryIf()) {
        std::vector<const platform::Dictionary::Entry*> entries;
        entries.reserve(d->size());
        for (const auto& e : *d) entries.push_back(&e);
        std::stable_sort(entries.begin(), entries.end(),
                         [](auto* a, auto* b) { return platform::compareUTF16(a->first, b->first) < 0; });
        for (const auto* e : entries) {
            if (hasKey) flatten(key + "[" + e->first + "]", true, e->second, out);
            else flatten(e->first, true, e->second, out);
        }
    } else if (const platform::Array* a = value.arrayIf()) {
        for (const Value& element : *a) flatten(key + "[]", true, element, out);
    } else {
        out.emplace_back(key, value);
    }
}

}  // namespace

std::string TVPercentEscapedStringFromString(std::string_view string) {
    std::string out;
    out.reserve(string.size() + string.size() / 2);
    forEachBatch(string, [&](std::size_t b, std::size_t e, std::size_t) { escapeInto(string.substr(b, e - b), out); });
    return out;
}

std::vector<std::size_t> TVPercentEscapeBatchLengths(std::string_view string) {
    std::vector<std::size_t> lengths;
    forEachBatch(string, [&](std::size_t, std::size_t, std::size_t units) { lengths.push_back(units); });
    return lengths;
}

std::string TVQueryStringPair::URLEncodedStringValue() const {
    if (value_.isNull()) return TVPercentEscapedStringFromString(field_);
    return TVPercentEscapedStringFromString(field_) + "=" + TVPercentEscapedStringFromString(value_.description());
}

std::vector<TVQueryStringPair> TVQueryStringPairsFromKeyAndValue(const std::string& key, const Value& value) {
    std::vector<TVQueryStringPair> out;
    flatten(key, !key.empty(), value, out);
    return out;
}

std::vector<TVQueryStringPair> TVQueryStringPairsFromDictionary(const Value& dictionary) {
    return TVQueryStringPairsFromKeyAndValue(std::string(), dictionary);
}

std::string TVQueryStringFromParameters(const Value& parameters) {
    std::string out;
    bool first = true;
    for (const TVQueryStringPair& pair : TVQueryStringPairsFromDictionary(parameters)) {
        if (!first) out.push_back('&');
        first = false;
        out += pair.URLEncodedStringValue();
    }
    return out;
}

}  // namespace pellix
