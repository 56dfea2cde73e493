// HOSFLAbstractLogger: base of the loggers. Owns the logger's serial queue
// (labelled with the logger's name and marked so that code can ask whether it
// runs there) and its formatter.
//
// The formatter is read and set through the hop discipline: the getter waits
// on the logging queue and, inside it, on the logger's queue; the setter hops
// asynchronously the same way, so it takes effect before any record queued
// after it. Neither may be called on the logging queue or on the logger's own
// queue (code there reads the field directly): such a call throws
// platform::Exception NSInternalInconsistencyException with "Core
// architecture requirement failure" (logging queue) or "MUST access ivar
// directly, NOT via self.* syntax." (logger queue) instead of deadlocking.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "HOSSDK/HOSFileLog/HOSFLLogger.h"

namespace pellix {

class HOSFLAbstractLogger : public HOSFLLogger, public std::enable_shared_from_this<HOSFLAbstractLogger> {
public:
    // `loggerName` labels the queue (subclasses pass their own name).
    explicit HOSFLAbstractLogger(std::string loggerName = "HOSFLAbstractLogger");
    HOSFLAbstractLogger(const HOSFLAbstractLogger&) = delete;
    HOSFLAbstractLogger& operator=(const HOSFLAbstractLogger&) = delete;

    void logMessage(const HOSFLLogMessagePtr&) override {}
    std::shared_ptr<HOSFLLogFormatter> logFormatter() override;
    void setLogFormatter(std::shared_ptr<HOSFLLogFormatter> formatter) override;
    std::shared_ptr<platform::DispatchQueue> loggerQueue() override { return loggerQueue_; }
    std::optional<std::string> loggerName() override { return loggerName_; }

    bool isOnGlobalLoggingQueue() const;
    bool isOnInternalLoggerQueue() const;
    void setLoggerQueue(std::shared_ptr<platform::DispatchQueue> queue);

protected:
    // Throws as described above when called on the logging queue or on this
    // logger's queue.
    void checkNotOnLoggingQueues() const;

    // Read and written on the logger's queue only.
    std::shared_ptr<HOSFLLogFormatter> logFormatter_;
    std::shared_ptr<platform::DispatchQueue> loggerQueue_;

private:
    std::string loggerName_;
};

}  // namespace pellix
