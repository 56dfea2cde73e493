#include "platform/TextServices.h"

#include <unicode/brkiter.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <memory>

namespace pellix::platform::text {

std::optional<std::string> applyTransform(std::string_view text, std::string_view transformID) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString id = icu::UnicodeString::fromUTF8(icu::StringPiece(transformID.data(), static_cast<int32_t>(transformID.size())));
    std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(id, UTRANS_FORWARD, status));
    if (U_FAILURE(status) || !t) return std::nullopt;
    // Reject invalid UTF-8 rather than transform replacement characters.
    int32_t needed = 0;
    UErrorCode check = U_ZERO_ERROR;
    u_strFromUTF8(nullptr, 0, &needed, text.data(), static_cast<int32_t>(text.size()), &check);
    if (check != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(check)) return std::nullopt;
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    t->transliterate(s);
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::u16string toUTF16(std::string_view text) {
    icu::UnicodeString s = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length()));
}

std::vector<std::size_t> composedCharacterBoundaries(std::u16string_view text) {
    std::vector<std::size_t> out;
    if (text.empty()) {
        out.push_back(0);
        return out;
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        // Without ICU data fall back to code points: never split a surrogate pair.
        for (std::size_t i = 0; i < text.size(); ++i) {
            bool low = (text[i] & 0xFC00) == 0xDC00;
            bool afterHigh = i > 0 && (text[i - 1] & 0xFC00) == 0xD800;
            if (!(low && afterHigh)) out.push_back(i);
        }
        out.push_back(text.size());
        return out;
    }
    icu::UnicodeString s(false, reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()));
    it->setText(s);
    for (int32_t p = it->first(); p != icu::BreakIterator::DONE; p = it->next()) out.push_back(static_cast<std::size_t>(p));
    if (out.empty() || out.back() != text.size()) out.push_back(text.size());
    return out;
}

}  // namespace pellix::platform::text
