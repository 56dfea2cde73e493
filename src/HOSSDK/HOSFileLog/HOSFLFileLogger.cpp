#include "HOSSDK/HOSFileLog/HOSFLFileLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "HOSSDK/HOSFileLog/HOSFLLog.h"
#include "HOSSDK/HOSFileLog/HOSFLLogFileFormatterDefault.h"
#include "HOSSDK/HOSFileLog/HOSFLLogFileManagerDefault.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"
#include "platform/Log.h"

namespace pellix {

namespace {
std::atomic<int> gExceptionCount{0};
}  // namespace

HOSFLFileLogger::HOSFLFileLogger() : HOSFLFileLogger(std::make_shared<HOSFLLogFileManagerDefault>()) {}

HOSFLFileLogger::HOSFLFileLogger(std::shared_ptr<HOSFLLogFileManager> logFileManager)
    : HOSFLAbstractLogger("hos.filelog.fileLogger"),
      logFileManager_(std::move(logFileManager)),
      maximumFileSize_(hoskFLDefaultLogMaxFileSize),
      rollingFrequency_(hoskFLDefaultLogRollingFrequency) {
    // Nobody else can see the logger yet, so the formatter is set directly
    // rather than through the queue hops of setLogFormatter.
    logFormatter_ = std::make_shared<HOSFLLogFileFormatterDefault>();
}

HOSFLFileLogger::~HOSFLFileLogger() { closeCurrentFile(); }

void HOSFLFileLogger::closeCurrentFile() {
    if (currentLogFileHandle_ < 0) return;
    ::fsync(currentLogFileHandle_);
    ::close(currentLogFileHandle_);
    currentLogFileHandle_ = -1;
}

// ---- settings ---------------------------------------------------------------

std::uint64_t HOSFLFileLogger::maximumFileSize() {
    checkNotOnLoggingQueues();
    std::uint64_t v = 0;
    auto queue = loggerQueue_;
    HOSFLLog::loggingQueue()->sync([&] { queue->sync([&] { v = maximumFileSize_; }); });
    return v;
}

void HOSFLFileLogger::setMaximumFileSize(std::uint64_t bytes) {
    checkNotOnLoggingQueues();
    auto self = std::static_pointer_cast<HOSFLFileLogger>(shared_from_this());
    auto queue = loggerQueue_;
    HOSFLLog::loggingQueue()->async([self, queue, bytes] {
        queue->async([self, bytes] {
            self->maximumFileSize_ = bytes;
            self->maybeRollLogFileDueToSize();
        });
    });
}

double HOSFLFileLogger::rollingFrequency() {
    checkNotOnLoggingQueues();
    double v = 0;
    auto queue = loggerQueue_;
    HOSFLLog::loggingQueue()->sync([&] { queue->sync([&] { v = rollingFrequency_; }); });
    return v;
}

void HOSFLFileLogger::setRollingFrequency(double seconds) {
    checkNotOnLoggingQueues();
    auto self = std::static_pointer_cast<HOSFLFileLogger>(shared_from_this());
    auto queue = loggerQueue_;
    HOSFLLog::loggingQueue()->async([self, queue, seconds] {
        queue->async([self, seconds] {
            self->rollingFrequency_ = seconds;
            self->maybeRollLogFileDueToAge();
        });
    });
}

// ---- choosing and opening ---------------------------------------------------

HOSFLLogFileInfoPtr HOSFLFileLogger::currentLogFileInfo() {
    if (currentLogFileInfo_) return currentLogFileInfo_;
    auto infos = logFileManager_->sortedLogFileInfos();
    if (!infos.empty()) {
        auto newest = infos.front();
        bool archive = false;
        if (newest->isArchived())
            archive = false;
        else if (shouldArchiveRecentLogFileInfo(*newest))
            archive = true;
        else if (maximumFileSize_ > 0 && newest->fileSize() >= maximumFileSize_)
            archive = true;
        else if (rollingFrequency_ > 0.0 && newest->age() >= rollingFrequency_)
            archive = true;
        // No data-protection classes on this platform, so the background-mode
        // test never asks for archiving.
        if (!doNotReuseLogFiles() && !newest->isArchived() && !archive) {
            currentLogFileInfo_ = newest;
        } else if (archive) {
            newest->setIsArchived(true);
            logFileManager_->didArchiveLogFile(newest->filePath());
        }
    }
    if (!currentLogFileInfo_)
        currentLogFileInfo_ = HOSFLLogFileInfo::logFileWithPath(logFileManager_->createNewLogFile());
    return currentLogFileInfo_;
}

int HOSFLFileLogger::currentLogFileHandle() {
    if (currentLogFileHandle_ >= 0) return currentLogFileHandle_;
    const std::string path = currentLogFileInfo()->filePath();
    // O_APPEND: every line lands whole at the end, also when another process
    // appends to the same file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        currentDevice_ = st.st_dev;
        currentInode_ = st.st_ino;
    }
    currentLogFileHandle_ = fd;
    return fd;
}

bool HOSFLFileLogger::currentFileWasMoved() const {
    if (currentLogFileHandle_ < 0 || !currentLogFileInfo_) return false;
    struct stat open {};
    if (::fstat(currentLogFileHandle_, &open) == 0 && open.st_nlink == 0) return true;  // deleted
    struct stat atPath {};
    if (::stat(currentLogFileInfo_->filePath().c_str(), &atPath) != 0) return true;  // renamed away
    return atPath.st_dev != currentDevice_ || atPath.st_ino != currentInode_;        // replaced
}

// ---- rolling ----------------------------------------------------------------

void HOSFLFileLogger::rollLogFileNow() {
    if (currentLogFileHandle_ < 0) return;
    ::fsync(currentLogFileHandle_);
    // Mark the open file itself: it may have been renamed meanwhile.
    if (::fsetxattr(currentLogFileHandle_, HOSFLLogFileArchivedAttributeName, "", 0, 0) != 0)
        platform::Log::writef("FLLogFileInfo: setxattr(%s, %s): error = %s", HOSFLLogFileArchivedAttributeName,
                              currentLogFileInfo_ ? currentLogFileInfo_->filePath().c_str() : "",
                              std::strerror(errno));
    ::close(currentLogFileHandle_);
    currentLogFileHandle_ = -1;
    if (currentLogFileInfo_) logFileManager_->didRollAndArchiveLogFile(currentLogFileInfo_->filePath());
    currentLogFileInfo_.reset();
}

void HOSFLFileLogger::maybeRollLogFileDueToSize() {
    if (currentLogFileHandle_ < 0 || maximumFileSize_ == 0) return;
    const off_t offset = ::lseek(currentLogFileHandle_, 0, SEEK_CUR);
    if (offset >= 0 && static_cast<std::uint64_t>(offset) >= maximumFileSize_) rollLogFileNow();
}

void HOSFLFileLogger::rollLogFile() { rollLogFileWithCompletionBlock(nullptr); }

void HOSFLFileLogger::rollLogFileWithCompletionBlock(std::function<void()> completion) {
    auto finish = [completion = std::move(completion)] {
        if (completion) platform::DispatchQueue::global()->async(completion);
    };
    if (isOnInternalLoggerQueue()) {
        rollLogFileNow();
        finish();
        return;
    }
    if (isOnGlobalLoggingQueue())
        throw platform::Exception(platform::Exception::kInternalInconsistencyException,
                                  "Core architecture requirement failure");
    auto self = std::static_pointer_cast<HOSFLFileLogger>(shared_from_this());
    auto queue = loggerQueue_;
    HOSFLLog::loggingQueue()->async([self, queue, finish] {
        queue->async([self, finish] {
            self->rollLogFileNow();
            finish();
        });
    });
}

void HOSFLFileLogger::willRemoveLogger() { rollLogFileNow(); }

// ---- writing ----------------------------------------------------------------

void HOSFLFileLogger::logMessage(const HOSFLLogMessagePtr& message) {
    std::optional<std::string> line = message->message();
    bool formatted = false;
    if (logFormatter_) {
        line = logFormatter_->formatLogMessage(*message);
        formatted = true;
    }
    if (!line) return;
    if ((!formatted || automaticallyAppendNewlineForCustomFormatters()) && (line->empty() || line->back() != '\n'))
        line->push_back('\n');
    try {
        if (currentFileWasMoved()) rollLogFileNow();
        willLogMessage();
        const int fd = currentLogFileHandle();
        if (fd < 0) return;  // the file cannot be opened: the record is dropped
        const char* p = line->data();
        std::size_t left = line->size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        didLogMessage();
    } catch (const std::exception& e) {
        const int count = ++gExceptionCount;
        if (count <= 10) {
            platform::Log::writef("FLFileLogger.logMessage: %s", e.what());
            if (count == 10)
                platform::Log::write("FLFileLogger.logMessage: Too many exceptions -- will not log any more of them.");
        }
    }
}

}  // namespace pellix
