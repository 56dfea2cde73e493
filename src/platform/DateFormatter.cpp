#include "platform/DateFormatter.h"

#include <unicode/timezone.h>
#include <unicode/udat.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>

namespace pellix::platform {

namespace {

// 100 million days either side of 1970 (about 273,790 years): well inside
// what the calendar arithmetic handles, so nothing past it reaches it.
constexpr double kMaxMillis = 8.64e15;

}  // namespace

std::optional<std::string> DateFormatter::format(double date, std::string_view pattern) {
    const double millis = date * 1000.0;
    if (!std::isfinite(millis) || std::fabs(millis) > kMaxMillis) return std::nullopt;
    const icu::UnicodeString upattern =
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UDateFormat, decltype(&udat_close)> formatter(
        udat_open(UDAT_PATTERN, UDAT_PATTERN, nullptr, nullptr, -1, upattern.getBuffer(), upattern.length(), &status),
        &udat_close);
    if (U_FAILURE(status) || !formatter) return std::nullopt;
    UChar buffer[128];
    status = U_ZERO_ERROR;
    int32_t length = udat_format(formatter.get(), millis, buffer, 128, nullptr, &status);
    icu::UnicodeString out;
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        std::u16string big(static_cast<std::size_t>(length) + 1, u'\0');
        length = udat_format(formatter.get(), millis, big.data(), length + 1, nullptr, &status);
        if (U_FAILURE(status)) return std::nullopt;
        out.setTo(big.data(), length);
    } else if (U_FAILURE(status)) {
        return std::nullopt;
    } else {
        out.setTo(buffer, length);
    }
    std::string text;
    out.toUTF8String(text);
    return text;
}

std::optional<double> DateFormatter::parse(std::string_view text, std::string_view pattern) {
    const icu::UnicodeString upattern =
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
    const icu::UnicodeString utext =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UDateFormat, decltype(&udat_close)> formatter(
        udat_open(UDAT_PATTERN, UDAT_PATTERN, nullptr, nullptr, -1, upattern.getBuffer(), upattern.length(), &status),
        &udat_close);
    if (U_FAILURE(status) || !formatter) return std::nullopt;
    // Lenient reading would turn "2026-13-40" into a date in the next year.
    udat_setLenient(formatter.get(), false);
    int32_t position = 0;
    status = U_ZERO_ERROR;
    const UDate millis = udat_parse(formatter.get(), utext.getBuffer(), utext.length(), &position, &status);
    if (U_FAILURE(status) || position != utext.length() || !std::isfinite(millis)) return std::nullopt;
    return millis / 1000.0;
}

bool DateFormatter::setDefaultTimeZone(std::string_view zoneID) {
    const icu::UnicodeString id = icu::UnicodeString::fromUTF8(icu::StringPiece(zoneID.data(), static_cast<int32_t>(zoneID.size())));
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
    // An unknown ID gives the "Etc/Unknown" zone (GMT) rather than an error.
    if (!zone || *zone == icu::TimeZone::getUnknown()) return false;
    icu::TimeZone::adoptDefault(zone.release());
    return true;
}

}  // namespace pellix::platform
