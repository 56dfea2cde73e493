// DateFormatter: dates as text by a platform date pattern ("yyyy-MM-dd",
// "YYYY/MM/dd" ...), in the device's locale and time zone.
//
// Patterns use the platform's (Unicode) pattern letters: "yyyy" is the
// calendar year, "YYYY" the week-based year of the locale's week rules, which
// differs from the calendar year in the first or last days of a year.
//
// The device's time zone is the process's (TZ, else /etc/localtime) until the
// host sets another with setDefaultTimeZone(); the locale is the process's.
//
// Failure: a date outside what the calendar can represent (or not finite)
// gives std::nullopt, never a crash.
//
// Thread-safety: any function from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellix::platform {

class DateFormatter {
public:
    // Formats `date` (seconds since 1970-01-01 UTC) with `pattern` in the
    // device's locale and time zone.
    static std::optional<std::string> format(double date, std::string_view pattern);

    // Reads `text` by `pattern` in the device's locale and time zone (a zone
    // in the text, "Z" → "+0800", wins): seconds since 1970-01-01 UTC, or
    // std::nullopt unless the whole text matches the pattern strictly.
    static std::optional<double> parse(std::string_view text, std::string_view pattern);

    // Makes `zoneID` ("UTC", "Asia/Shanghai", ...) the device's time zone for
    // every later format(); false (nothing changed) for an unknown ID.
    static bool setDefaultTimeZone(std::string_view zoneID);
};

}  // namespace pellix::platform
