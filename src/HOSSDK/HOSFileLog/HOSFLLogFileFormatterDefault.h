// HOSFLLogFileFormatterDefault: "<timestamp>  <message>" with the timestamp
// as "yyyy/MM/dd HH:mm:ss:SSS" in the local time zone. Never returns none.
#pragma once

#include <functional>
#include <string>

#include "HOSSDK/HOSFileLog/HOSFLLogger.h"

namespace pellix {

class HOSFLLogFileFormatterDefault : public HOSFLLogFormatter {
public:
    // Formats a timestamp (seconds since 1970) for the line.
    using DateFormatter = std::function<std::string(double timestamp)>;

    HOSFLLogFileFormatterDefault() : HOSFLLogFileFormatterDefault(nullptr) {}
    // None gives the default pattern.
    explicit HOSFLLogFileFormatterDefault(DateFormatter dateFormatter);

    std::optional<std::string> formatLogMessage(const HOSFLLogMessage& message) override;

    static std::string defaultDate(double timestamp);

private:
    DateFormatter dateFormatter_;
};

}  // namespace pellix
