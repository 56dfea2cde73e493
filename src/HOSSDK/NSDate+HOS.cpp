#include "HOSSDK/NSDate+HOS.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "platform/Clock.h"

namespace pellix {

namespace {

std::mutex& skewLock() {
    static std::mutex* m = new std::mutex;
    return *m;
}
double gClockSkew = 0;

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool isLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned kLen[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kLen[m - 1];
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, const char* b) {
    for (char c : a) {
        if (*b == '\0' || lower(c) != lower(*b)) return false;
        ++b;
    }
    return *b == '\0';
}

// A small cursor over the text being parsed.
struct Cursor {
    std::string_view s;
    std::size_t i = 0;

    bool literal(char c) {
        if (i < s.size() && s[i] == c) return ++i, true;
        return false;
    }
    // Between min and max decimal digits.
    bool number(int minDigits, int maxDigits, std::int64_t& out) {
        std::size_t start = i;
        out = 0;
        while (i < s.size() && static_cast<int>(i - start) < maxDigits && s[i] >= '0' && s[i] <= '9')
            out = out * 10 + (s[i++] - '0');
        return static_cast<int>(i - start) >= minDigits;
    }
    // One of the given three-letter names; its index.
    bool name(const char* const* names, int count, int& index) {
        if (s.size() - i < 3) return false;
        for (index = 0; index < count; ++index)
            if (equalsIgnoringCase(s.substr(i, 3), names[index])) return i += 3, true;
        return false;
    }
    bool atEnd() const { return i == s.size(); }
};

// Offset from GMT in seconds: "GMT", "UTC", "GMT+8", "GMT+08:00", "+0800".
bool parseZone(Cursor& c, std::int64_t& offset) {
    offset = 0;
    std::string_view rest = c.s.substr(c.i);
    if (rest.size() >= 3 && (equalsIgnoringCase(rest.substr(0, 3), "GMT") || equalsIgnoringCase(rest.substr(0, 3), "UTC"))) {
        c.i += 3;
        if (c.atEnd()) return true;
    }
    int sign = 0;
    if (c.literal('+')) sign = 1;
    else if (c.literal('-')) sign = -1;
    else return false;
    std::int64_t hours = 0, minutes = 0;
    std::size_t start = c.i;
    if (!c.number(1, 4, hours)) return false;
    if (c.i - start == 4) {  // "+hhmm"
        minutes = hours % 100;
        hours /= 100;
    } else if (c.i - start == 3) {
        return false;
    } else if (c.literal(':') && !c.number(2, 2, minutes)) {
        return false;
    }
    if (hours > 23 || minutes > 59) return false;
    offset = sign * (hours * 3600 + minutes * 60);
    return true;
}

}  // namespace

void hos_setClockSkew(double seconds) {
    std::lock_guard<std::mutex> lock(skewLock());
    gClockSkew = seconds;
}

double hos_clockSkewFixedDate() {
    double skew;
    {
        std::lock_guard<std::mutex> lock(skewLock());
        skew = gClockSkew;
    }
    return platform::Clock::now() - skew;
}

std::optional<double> hos_dateFromString(std::string_view text) {
    Cursor c{text};
    int weekday = 0, month = 0;
    std::int64_t day = 0, year = 0, hour = 0, minute = 0, second = 0, offset = 0;
    if (!c.name(kDays, 7, weekday) || !c.literal(',') || !c.literal(' ')) return std::nullopt;
    if (!c.number(1, 2, day) || !c.literal(' ')) return std::nullopt;
    if (!c.name(kMonths, 12, month) || !c.literal(' ')) return std::nullopt;
    if (!c.number(1, 4, year) || !c.literal(' ')) return std::nullopt;
    if (!c.number(1, 2, hour) || !c.literal(':') || !c.number(1, 2, minute) || !c.literal(':') ||
        !c.number(1, 2, second) || !c.literal(' '))
        return std::nullopt;
    if (!parseZone(c, offset) || !c.atEnd()) return std::nullopt;
    if (year < 1 || day < 1 || day > daysInMonth(year, static_cast<unsigned>(month + 1)) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month + 1), static_cast<unsigned>(day));
    return static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second - offset);
}

std::string hos_asStringValue(double date) {
    if (!std::isfinite(date)) date = 0;
    // Keep within years 1 to 9999, the range the four-digit year field holds.
    date = std::fmin(std::fmax(date, -62135596800.0), 253402300799.0);
    const auto whole = static_cast<std::int64_t>(std::floor(date));
    std::int64_t days = whole / 86400, secs = whole % 86400;
    if (secs < 0) secs += 86400, --days;
    std::int64_t year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    const int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02u %s %04lld %02d:%02d:%02d GMT", kDays[weekday], day, kMonths[month - 1],
                  static_cast<long long>(year), static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60));
    return buf;
}

bool hos_setClockSkewFromServerDate(const std::optional<std::string>& dateHeader) {
    if (!dateHeader) return false;
    const std::optional<double> serverDate = hos_dateFromString(*dateHeader);
    if (!serverDate) return false;
    hos_setClockSkew(platform::Clock::now() - *serverDate);
    return true;
}

}  // namespace pellix
