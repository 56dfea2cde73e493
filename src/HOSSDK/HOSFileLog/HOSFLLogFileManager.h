// HOSFLLogFileManager: where the file logger gets its file names, listings
// and cleanup from. The two notices have empty default bodies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HOSSDK/HOSFileLog/HOSFLLogFileInfo.h"

namespace pellix {

class HOSFLLogFileManager {
public:
    virtual ~HOSFLLogFileManager() = default;

    // Creates an empty log file under a free name (cleaning up old ones) and
    // returns its path.
    virtual std::string createNewLogFile() = 0;
    virtual std::uint64_t maximumNumberOfLogFiles() const = 0;
    virtual void setMaximumNumberOfLogFiles(std::uint64_t n) = 0;
    virtual std::uint64_t logFilesDiskQuota() const = 0;
    virtual void setLogFilesDiskQuota(std::uint64_t bytes) = 0;
    virtual std::string logsDirectory() = 0;
    virtual std::vector<std::string> unsortedLogFilePaths() = 0;
    virtual std::vector<std::string> unsortedLogFileNames() = 0;
    virtual std::vector<HOSFLLogFileInfoPtr> unsortedLogFileInfos() = 0;
    // Newest first.
    virtual std::vector<std::string> sortedLogFilePaths() = 0;
    virtual std::vector<std::string> sortedLogFileNames() = 0;
    virtual std::vector<HOSFLLogFileInfoPtr> sortedLogFileInfos() = 0;

    virtual void didArchiveLogFile(const std::string& path) { (void)path; }
    virtual void didRollAndArchiveLogFile(const std::string& path) { (void)path; }
};

}  // namespace pellix
