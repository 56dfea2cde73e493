// HOSFLLogFileManagerDefault: log files "<application name> <UTC time>.log"
// in a directory (by default "HOSLogs" in the caches folder), newest first by
// the time in their names, and the cleanup that keeps at most
// maximumNumberOfLogFiles files (default 1) within logFilesDiskQuota bytes
// (default 5 MiB). 0 turns either limit off; a new limit takes effect at the
// next cleanup.
//
// New files are created exclusively (O_EXCL, mode 0600): two processes that
// pick the same name at the same millisecond end up with two files (" 2" goes
// before ".log" for the second).
//
// A file counts as a log file when its name begins with the application name
// and ends in ".log"; other files in the directory are never touched.
//
// The platform's data-protection classes do not exist here; a protection
// level given at creation is kept for callers that read it and has no effect
// on the files.
//
// Threads: the limits may be set from any thread; the file operations are
// meant for the file logger's queue (each call is self-contained).
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "HOSSDK/HOSFileLog/HOSFLLogFileManager.h"

namespace pellix {

class HOSFLLogFileManagerDefault : public HOSFLLogFileManager {
public:
    HOSFLLogFileManagerDefault() : HOSFLLogFileManagerDefault(std::nullopt) {}
    explicit HOSFLLogFileManagerDefault(std::optional<std::string> logsDirectory);
    HOSFLLogFileManagerDefault(std::optional<std::string> logsDirectory,
                               std::optional<std::string> defaultFileProtectionLevel);

    std::string createNewLogFile() override;
    std::uint64_t maximumNumberOfLogFiles() const override { return maximumNumberOfLogFiles_.load(); }
    void setMaximumNumberOfLogFiles(std::uint64_t n) override { maximumNumberOfLogFiles_.store(n); }
    std::uint64_t logFilesDiskQuota() const override { return logFilesDiskQuota_.load(); }
    void setLogFilesDiskQuota(std::uint64_t bytes) override { logFilesDiskQuota_.store(bytes); }
    // Creates the directory (with parents) when missing; a failure is written
    // to the system log and the path is returned all the same.
    std::string logsDirectory() override;
    std::vector<std::string> unsortedLogFilePaths() override;
    std::vector<std::string> unsortedLogFileNames() override;
    std::vector<HOSFLLogFileInfoPtr> unsortedLogFileInfos() override;
    std::vector<std::string> sortedLogFilePaths() override;
    std::vector<std::string> sortedLogFileNames() override;
    std::vector<HOSFLLogFileInfoPtr> sortedLogFileInfos() override;

    // The caches folder + "/HOSLogs".
    static std::string defaultLogsDirectory();
    // The main bundle's identifier, else the process name, else "" (computed
    // once per process).
    static const std::string& applicationName();
    bool isLogFile(const std::string& fileName) const;
    // "<application name> <yyyy-MM-dd--HH-mm-ss-SSS in UTC>.log" for now.
    std::string newLogFileName() const;
    // Reads the time of a log file name written by newLogFileName (seconds
    // since 1970), none when it does not parse.
    static std::optional<double> dateFromLogFileName(const std::string& fileName);

    // The cleanup run after each new file.
    void deleteOldLogFiles();

    const std::optional<std::string>& defaultFileProtectionLevel() const { return defaultFileProtectionLevel_; }

private:
    std::atomic<std::uint64_t> maximumNumberOfLogFiles_;
    std::atomic<std::uint64_t> logFilesDiskQuota_;
    std::string logsDirectory_;
    std::optional<std::string> defaultFileProtectionLevel_;
};

}  // namespace pellix
