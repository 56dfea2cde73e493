// HOSFLLog: the logging hub. Accepts records from any thread and hands each
// one to every registered logger whose level shares a bit with the record's
// flag.
//
// Ordering: one serial logging queue ("hos.filelog") orders all hub work:
// registration changes, delivery and flushes take effect in submission order.
// Each logger has its own serial queue, so its logMessage calls never overlap
// and arrive in record order. A record is delivered to all matching loggers
// (in parallel on machines with more than one processor) before the hub takes
// the next one.
//
// Back-pressure: at most 1000 records are queued or in delivery; a producer
// that finds 1000 outstanding waits.
//
// Synchronous calls (a synchronous log, flushLog, allLoggers) wait for the
// logging queue. A synchronous log made from the logging queue or from a
// logger's queue is delivered asynchronously instead (it would otherwise wait
// for itself) and does not count against the 1000; flushLog and allLoggers
// must not be called from a logger's queue.
//
// The hub and its queue are created on first use and live for the process;
// the hub flushes all loggers on "UIApplicationWillTerminateNotification".
#pragma once

#include <any>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HOSSDK/HOSFileLog/HOSFLLogger.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"

namespace pellix {

namespace platform {
class DispatchGroup;
class DispatchSemaphore;
}  // namespace platform

// A logger and the level it was added with (snapshot item of
// allLoggersWithLevel).
struct HOSFLLoggerInformation {
    HOSFLLoggerPtr logger;
    std::uint64_t level;
    static HOSFLLoggerInformation informationWithLogger(HOSFLLoggerPtr logger, std::uint64_t level) {
        return {std::move(logger), level};
    }
};

// One registration inside the hub.
struct HOSLoggerNode {
    HOSFLLoggerPtr logger;
    std::uint64_t level;
    std::shared_ptr<platform::DispatchQueue> loggerQueue;
};

class HOSFLLog {
public:
    HOSFLLog(const HOSFLLog&) = delete;
    HOSFLLog& operator=(const HOSFLLog&) = delete;

    static HOSFLLog& sharedInstance();

    // Queue-specific key marking the logging queue (its value: the key's own
    // address).
    static const void* const GlobalLoggingQueueIdentityKey;
    static const std::shared_ptr<platform::DispatchQueue>& loggingQueue();

    // Registration; a null logger is ignored. Asynchronous on the logging
    // queue. The same logger with the same level is added once; with another
    // level it gets a second node.
    static void addLogger(const HOSFLLoggerPtr& logger);
    static void addLogger(const HOSFLLoggerPtr& logger, std::uint64_t level);
    // Removes the first node of that logger.
    static void removeLogger(const HOSFLLoggerPtr& logger);
    static void removeAllLoggers();
    // Snapshots in registration order (synchronous on the logging queue).
    static std::vector<HOSFLLoggerPtr> allLoggers();
    static std::vector<HOSFLLoggerInformation> allLoggersWithLevel();

    // printf-style; a null format logs nothing.
    static void log(bool asynchronous, std::uint64_t level, std::uint64_t flag, std::int64_t context, const char* file,
                    const char* function, std::uint64_t line, std::any tag, const char* format, ...)
        __attribute__((format(printf, 9, 10)));
    static void logv(bool asynchronous, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                     const char* file, const char* function, std::uint64_t line, std::any tag, const char* format,
                     va_list args) __attribute__((format(printf, 9, 0)));
    static void log(bool asynchronous, std::string message, std::uint64_t level, std::uint64_t flag,
                    std::int64_t context, const char* file, const char* function, std::uint64_t line, std::any tag);
    static void log(bool asynchronous, HOSFLLogMessagePtr message);

    // Returns when every record queued before it has been delivered and every
    // logger has flushed.
    static void flushLog();

private:
    HOSFLLog();
    void queueLogMessage(HOSFLLogMessagePtr message, bool asynchronous);
    void lt_log(const HOSFLLogMessagePtr& message, bool counted);
    void lt_addLogger(const HOSFLLoggerPtr& logger, std::uint64_t level);
    void lt_removeLogger(const HOSFLLoggerPtr& logger);
    void lt_removeAllLoggers();
    void lt_flush();
    static void assertOnLoggingQueue();

    std::vector<HOSLoggerNode> loggers_;  // touched only on the logging queue
};

}  // namespace pellix
