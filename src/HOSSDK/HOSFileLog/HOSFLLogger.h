// HOSFLLogger and HOSFLLogFormatter: what the logging hub delivers records to,
// and what turns a record into a line.
//
// Optional operations have empty default bodies; the hub calls them on the
// logger's own serial queue.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "HOSSDK/HOSFileLog/HOSFLLogMessage.h"

namespace pellix {

namespace platform {
class DispatchQueue;
}

class HOSFLLogger;

class HOSFLLogFormatter {
public:
    virtual ~HOSFLLogFormatter() = default;
    // The line for a record; none drops the line.
    virtual std::optional<std::string> formatLogMessage(const HOSFLLogMessage& message) = 0;
    // Called on the logger's queue when the formatter is set on / removed from
    // a logger.
    virtual void didAddToLogger(const std::shared_ptr<HOSFLLogger>& logger,
                                const std::shared_ptr<platform::DispatchQueue>& queue) {
        (void)logger, (void)queue;
    }
    virtual void willRemoveFromLogger(const std::shared_ptr<HOSFLLogger>& logger) { (void)logger; }
};

class HOSFLLogger {
public:
    virtual ~HOSFLLogger() = default;
    // Called by the hub on the logger's queue, one record at a time, in
    // record order.
    virtual void logMessage(const HOSFLLogMessagePtr& message) = 0;
    virtual std::shared_ptr<HOSFLLogFormatter> logFormatter() = 0;
    virtual void setLogFormatter(std::shared_ptr<HOSFLLogFormatter> formatter) = 0;

    // Sent on the logger's queue after the hub added it.
    virtual void didAddLogger(const std::shared_ptr<platform::DispatchQueue>& queue) { (void)queue; }
    // Sent on the logger's queue when the hub removes it.
    virtual void willRemoveLogger() {}
    virtual void flush() {}
    // The queue the hub should call this logger on; null lets the hub make one
    // labelled with loggerName().
    virtual std::shared_ptr<platform::DispatchQueue> loggerQueue() { return nullptr; }
    virtual std::optional<std::string> loggerName() { return std::nullopt; }
};

using HOSFLLoggerPtr = std::shared_ptr<HOSFLLogger>;

}  // namespace pellix
