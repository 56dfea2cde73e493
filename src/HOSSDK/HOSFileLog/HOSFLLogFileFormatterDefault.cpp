#include "HOSSDK/HOSFileLog/HOSFLLogFileFormatterDefault.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace pellix {

HOSFLLogFileFormatterDefault::HOSFLLogFileFormatterDefault(DateFormatter dateFormatter)
    : dateFormatter_(dateFormatter ? std::move(dateFormatter) : DateFormatter(&defaultDate)) {}

std::string HOSFLLogFileFormatterDefault::defaultDate(double timestamp) {
    const double whole = std::floor(timestamp);
    const auto t = static_cast<std::time_t>(whole);
    int ms = static_cast<int>((timestamp - whole) * 1000.0);
    if (ms > 999) ms = 999;
    struct tm tm {};
    localtime_r(&t, &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%04d/%02d/%02d %02d:%02d:%02d:%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return out;
}

std::optional<std::string> HOSFLLogFileFormatterDefault::formatLogMessage(const HOSFLLogMessage& message) {
    return dateFormatter_(message.timestamp()) + "  " + message.message();
}

}  // namespace pellix
