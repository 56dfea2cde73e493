#include "HOSSDK/HOSFileLog/HOSFLAbstractLogger.h"

#include "HOSSDK/HOSFileLog/HOSFLLog.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"

namespace pellix {

HOSFLAbstractLogger::HOSFLAbstractLogger(std::string loggerName) : loggerName_(std::move(loggerName)) {
    loggerQueue_ = platform::DispatchQueue::serial(loggerName_);
    loggerQueue_->setSpecific(this, this);
}

bool HOSFLAbstractLogger::isOnGlobalLoggingQueue() const {
    return platform::DispatchQueue::getCurrentSpecific(HOSFLLog::GlobalLoggingQueueIdentityKey) != nullptr;
}

bool HOSFLAbstractLogger::isOnInternalLoggerQueue() const {
    return platform::DispatchQueue::getCurrentSpecific(this) != nullptr;
}

void HOSFLAbstractLogger::setLoggerQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    if (!queue) return;
    loggerQueue_->setSpecific(this, nullptr);
    loggerQueue_ = std::move(queue);
    loggerQueue_->setSpecific(this, this);
}

void HOSFLAbstractLogger::checkNotOnLoggingQueues() const {
    if (isOnGlobalLoggingQueue())
        throw platform::Exception(platform::Exception::kInternalInconsistencyException,
                                  "Core architecture requirement failure");
    if (isOnInternalLoggerQueue())
        throw platform::Exception(platform::Exception::kInternalInconsistencyException,
                                  "MUST access ivar directly, NOT via self.* syntax.");
}

std::shared_ptr<HOSFLLogFormatter> HOSFLAbstractLogger::logFormatter() {
    checkNotOnLoggingQueues();
    std::shared_ptr<HOSFLLogFormatter> result;
    auto queue = loggerQueue_;
    HOSFLLog::loggingQueue()->sync([&] { queue->sync([&] { result = logFormatter_; }); });
    return result;
}

void HOSFLAbstractLogger::setLogFormatter(std::shared_ptr<HOSFLLogFormatter> formatter) {
    checkNotOnLoggingQueues();
    auto self = shared_from_this();
    auto queue = loggerQueue_;
    HOSFLLog::loggingQueue()->async([self, queue, formatter] {
        queue->async([self, queue, formatter] {
            if (formatter == self->logFormatter_) return;
            if (self->logFormatter_) self->logFormatter_->willRemoveFromLogger(self);
            self->logFormatter_ = formatter;
            if (formatter) formatter->didAddToLogger(self, queue);
        });
    });
}

}  // namespace pellix
