// HOSFLFileLogger: writes each record as one line to a log file chosen by its
// file manager, rolling to a new file when the current one reaches
// maximumFileSize (default 5 MiB).
//
// Lifecycle: no file is open after creation. At the first record the logger
// resumes the newest log file (when it is not archived, smaller than the
// maximum and younger than rollingFrequency, default 24 hours) or makes a new
// one. After each write it checks the size; at the limit it rolls: the file is
// synced, closed and marked archived, and the next record makes a new file,
// whose creation lets the manager delete the old one. Removing the logger from
// the hub rolls too.
//
// Files are opened with O_APPEND, so each line is one atomic append even when
// another process writes the same file; the size check reads the offset after
// the write, i.e. the file's whole size. Before each write the logger checks
// that its open file is still the one at its path: when someone deleted or
// renamed it, the logger rolls and the line goes to a new file.
//
// Failures: a write error is caught and counted; the first ten are written to
// the system log ("FLFileLogger.logMessage: ..."), the tenth followed by
// "FLFileLogger.logMessage: Too many exceptions -- will not log any more of
// them."; the record is lost and the logger keeps working. A file that cannot
// be opened drops records silently (each record tries again).
//
// Threads: all file work runs on the logger's serial queue
// "hos.filelog.fileLogger". maximumFileSize and rollingFrequency follow the
// hop discipline of HOSFLAbstractLogger (not callable on the logging queue or
// on this logger's queue); the other settings are atomics.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "HOSSDK/HOSFileLog/HOSFLAbstractLogger.h"
#include "HOSSDK/HOSFileLog/HOSFLLogFileManager.h"

namespace pellix {

class HOSFLFileLogger : public HOSFLAbstractLogger {
public:
    // With a HOSFLLogFileManagerDefault on the default directory.
    HOSFLFileLogger();
    explicit HOSFLFileLogger(std::shared_ptr<HOSFLLogFileManager> logFileManager);
    ~HOSFLFileLogger() override;

    void logMessage(const HOSFLLogMessagePtr& message) override;
    void willRemoveLogger() override;

    void rollLogFile();
    // On the logger's queue it rolls at once; elsewhere it hops through the
    // logging queue (not callable there). The completion runs afterwards on
    // the default global queue.
    void rollLogFileWithCompletionBlock(std::function<void()> completion);

    std::uint64_t maximumFileSize();
    void setMaximumFileSize(std::uint64_t bytes);
    double rollingFrequency();
    void setRollingFrequency(double seconds);

    bool doNotReuseLogFiles() const { return doNotReuseLogFiles_.load(); }
    void setDoNotReuseLogFiles(bool v) { doNotReuseLogFiles_.store(v); }
    bool automaticallyAppendNewlineForCustomFormatters() const { return appendNewline_.load(); }
    void setAutomaticallyAppendNewlineForCustomFormatters(bool v) { appendNewline_.store(v); }
    const std::shared_ptr<HOSFLLogFileManager>& logFileManager() const { return logFileManager_; }

    // Internal steps, on the logger's queue.
    HOSFLLogFileInfoPtr currentLogFileInfo();
    // The open descriptor of the current file, -1 when it cannot be opened.
    int currentLogFileHandle();
    void rollLogFileNow();
    void maybeRollLogFileDueToSize();
    void maybeRollLogFileDueToAge() {}
    bool shouldArchiveRecentLogFileInfo(const HOSFLLogFileInfo&) { return false; }
    void willLogMessage() {}
    void didLogMessage() { maybeRollLogFileDueToSize(); }

private:
    // True when the open file was deleted or renamed by someone else.
    bool currentFileWasMoved() const;
    void closeCurrentFile();

    HOSFLLogFileInfoPtr currentLogFileInfo_;
    std::shared_ptr<HOSFLLogFileManager> logFileManager_;
    int currentLogFileHandle_ = -1;
    dev_t currentDevice_ = 0;
    ino_t currentInode_ = 0;
    std::uint64_t maximumFileSize_;
    double rollingFrequency_;
    std::atomic<bool> doNotReuseLogFiles_{false};
    std::atomic<bool> appendNewline_{true};
};

}  // namespace pellix
