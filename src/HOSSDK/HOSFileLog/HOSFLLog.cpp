#include "HOSSDK/HOSFileLog/HOSFLLog.h"

#include <unistd.h>

#include <cstdio>

#include "platform/DispatchGroup.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

namespace pellix {

namespace {

char gGlobalLoggingQueueIdentity;
// Marks every queue the hub calls a logger on, so a log call can tell that it
// runs inside a logger.
char gLoggerQueueMarker;

struct HubState {
    std::shared_ptr<platform::DispatchQueue> loggingQueue;
    std::shared_ptr<platform::DispatchGroup> loggingGroup;
    platform::DispatchSemaphore queueSemaphore{1000};
    unsigned numProcessors = 1;
};

HubState& hub() {
    static auto* state = [] {
        auto* s = new HubState();
        s->loggingQueue = platform::DispatchQueue::serial("hos.filelog");
        s->loggingQueue->setSpecific(&gGlobalLoggingQueueIdentity, &gGlobalLoggingQueueIdentity);
        s->loggingGroup = platform::DispatchGroup::create();
        const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
        s->numProcessors = n > 1 ? static_cast<unsigned>(n) : 1;
        return s;
    }();
    return *state;
}

bool onHubOrLoggerQueue() {
    return platform::DispatchQueue::getCurrentSpecific(&gGlobalLoggingQueueIdentity) != nullptr ||
           platform::DispatchQueue::getCurrentSpecific(&gLoggerQueueMarker) != nullptr;
}

}  // namespace

const void* const HOSFLLog::GlobalLoggingQueueIdentityKey = &gGlobalLoggingQueueIdentity;

HOSFLLog::HOSFLLog() {
    loggers_.reserve(4);
    platform::NotificationCenter::defaultCenter().addObserver(
        "UIApplicationWillTerminateNotification", static_cast<const void*>(nullptr),
        std::shared_ptr<platform::DispatchQueue>(),
        [](const platform::Notification&) { HOSFLLog::flushLog(); });
}

HOSFLLog& HOSFLLog::sharedInstance() {
    static auto* instance = new HOSFLLog();
    return *instance;
}

const std::shared_ptr<platform::DispatchQueue>& HOSFLLog::loggingQueue() { return hub().loggingQueue; }

void HOSFLLog::assertOnLoggingQueue() {
    if (!hub().loggingQueue->isCurrent())
        throw platform::Exception(platform::Exception::kInternalInconsistencyException,
                                  "This method should only be run on the logging thread/queue");
}

// ---- registration -----------------------------------------------------------

void HOSFLLog::addLogger(const HOSFLLoggerPtr& logger) { addLogger(logger, HOSLogLevelAll); }

void HOSFLLog::addLogger(const HOSFLLoggerPtr& logger, std::uint64_t level) {
    if (!logger) return;
    HOSFLLog& self = sharedInstance();
    hub().loggingQueue->async([&self, logger, level] { self.lt_addLogger(logger, level); });
}

void HOSFLLog::removeLogger(const HOSFLLoggerPtr& logger) {
    if (!logger) return;
    HOSFLLog& self = sharedInstance();
    hub().loggingQueue->async([&self, logger] { self.lt_removeLogger(logger); });
}

void HOSFLLog::removeAllLoggers() {
    HOSFLLog& self = sharedInstance();
    hub().loggingQueue->async([&self] { self.lt_removeAllLoggers(); });
}

std::vector<HOSFLLoggerPtr> HOSFLLog::allLoggers() {
    HOSFLLog& self = sharedInstance();
    std::vector<HOSFLLoggerPtr> out;
    hub().loggingQueue->sync([&] {
        assertOnLoggingQueue();
        for (const auto& n : self.loggers_) out.push_back(n.logger);
    });
    return out;
}

std::vector<HOSFLLoggerInformation> HOSFLLog::allLoggersWithLevel() {
    HOSFLLog& self = sharedInstance();
    std::vector<HOSFLLoggerInformation> out;
    hub().loggingQueue->sync([&] {
        assertOnLoggingQueue();
        for (const auto& n : self.loggers_) out.push_back(HOSFLLoggerInformation::informationWithLogger(n.logger, n.level));
    });
    return out;
}

void HOSFLLog::lt_addLogger(const HOSFLLoggerPtr& logger, std::uint64_t level) {
    assertOnLoggingQueue();
    for (const auto& n : loggers_)
        if (n.logger == logger && n.level == level) return;
    auto queue = logger->loggerQueue();
    if (!queue) {
        auto name = logger->loggerName();
        queue = platform::DispatchQueue::serial(name ? *name : std::string());
    }
    queue->setSpecific(&gLoggerQueueMarker, &gLoggerQueueMarker);
    loggers_.push_back(HOSLoggerNode{logger, level, queue});
    queue->async([logger, queue] { logger->didAddLogger(queue); });
}

void HOSFLLog::lt_removeLogger(const HOSFLLoggerPtr& logger) {
    assertOnLoggingQueue();
    for (auto it = loggers_.begin(); it != loggers_.end(); ++it) {
        if (it->logger != logger) continue;
        it->loggerQueue->async([logger] { logger->willRemoveLogger(); });
        loggers_.erase(it);
        return;
    }
}

void HOSFLLog::lt_removeAllLoggers() {
    assertOnLoggingQueue();
    for (const auto& n : loggers_) {
        auto logger = n.logger;
        n.loggerQueue->async([logger] { logger->willRemoveLogger(); });
    }
    loggers_.clear();
}

// ---- logging ----------------------------------------------------------------

void HOSFLLog::log(bool asynchronous, std::uint64_t level, std::uint64_t flag, std::int64_t context, const char* file,
                   const char* function, std::uint64_t line, std::any tag, const char* format, ...) {
    if (!format) return;
    va_list ap;
    va_start(ap, format);
    logv(asynchronous, level, flag, context, file, function, line, std::move(tag), format, ap);
    va_end(ap);
}

void HOSFLLog::logv(bool asynchronous, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                    const char* file, const char* function, std::uint64_t line, std::any tag, const char* format,
                    va_list args) {
    if (!format) return;
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<std::size_t>(n));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    log(asynchronous, std::move(text), level, flag, context, file, function, line, std::move(tag));
}

void HOSFLLog::log(bool asynchronous, std::string message, std::uint64_t level, std::uint64_t flag,
                   std::int64_t context, const char* file, const char* function, std::uint64_t line, std::any tag) {
    auto record = std::make_shared<const HOSFLLogMessage>(std::move(message), level, flag, context,
                                                          file ? file : "", function ? function : "", line,
                                                          std::move(tag), 0, std::nullopt);
    sharedInstance().queueLogMessage(std::move(record), asynchronous);
}

void HOSFLLog::log(bool asynchronous, HOSFLLogMessagePtr message) {
    if (!message) return;
    sharedInstance().queueLogMessage(std::move(message), asynchronous);
}

void HOSFLLog::queueLogMessage(HOSFLLogMessagePtr message, bool asynchronous) {
    HubState& h = hub();
    // From inside the hub or a logger, waiting for delivery (or for room
    // under the 1000) would wait for this very queue: go asynchronous and
    // uncounted instead.
    const bool inside = onHubOrLoggerQueue();
    const bool counted = !inside;
    if (counted) h.queueSemaphore.wait();
    if (asynchronous || inside)
        h.loggingQueue->async([this, message = std::move(message), counted] { lt_log(message, counted); });
    else
        h.loggingQueue->sync([this, &message, counted] { lt_log(message, counted); });
}

void HOSFLLog::lt_log(const HOSFLLogMessagePtr& message, bool counted) {
    assertOnLoggingQueue();
    HubState& h = hub();
    std::vector<const HOSLoggerNode*> selected;
    for (const auto& n : loggers_)
        if (message->flag() & n.level) selected.push_back(&n);
    if (h.numProcessors < 2) {
        for (const auto* n : selected) {
            auto logger = n->logger;
            n->loggerQueue->sync([&] { logger->logMessage(message); });
        }
    } else if (!selected.empty()) {
        for (const auto* n : selected) {
            auto logger = n->logger;
            h.loggingGroup->async(n->loggerQueue, [logger, message] { logger->logMessage(message); });
        }
        h.loggingGroup->wait();
    }
    if (counted) h.queueSemaphore.signal();
}

void HOSFLLog::flushLog() {
    HOSFLLog& self = sharedInstance();
    hub().loggingQueue->sync([&self] { self.lt_flush(); });
}

void HOSFLLog::lt_flush() {
    assertOnLoggingQueue();
    HubState& h = hub();
    for (const auto& n : loggers_) {
        auto logger = n.logger;
        h.loggingGroup->async(n.loggerQueue, [logger] { logger->flush(); });
    }
    h.loggingGroup->wait();
}

}  // namespace pellix
