#include "HOSSDK/HOSFileLog/HOSFLLogFileManagerDefault.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Paths.h"

namespace pellix {

namespace {

bool endsWith(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isProtectionLevel(const std::string& level) {
    return level == "NSFileProtectionNone" || level == "NSFileProtectionComplete" ||
           level == "NSFileProtectionCompleteUnlessOpen" ||
           level == "NSFileProtectionCompleteUntilFirstUserAuthentication";
}

}  // namespace

HOSFLLogFileManagerDefault::HOSFLLogFileManagerDefault(std::optional<std::string> logsDirectory)
    : HOSFLLogFileManagerDefault(std::move(logsDirectory), std::nullopt) {}

HOSFLLogFileManagerDefault::HOSFLLogFileManagerDefault(std::optional<std::string> logsDirectory,
                                                       std::optional<std::string> defaultFileProtectionLevel)
    : maximumNumberOfLogFiles_(hoskFLDefaultLogMaxNumLogFiles),
      logFilesDiskQuota_(hoskFLDefaultLogFilesDiskQuota),
      logsDirectory_(logsDirectory ? std::move(*logsDirectory) : defaultLogsDirectory()) {
    if (defaultFileProtectionLevel && isProtectionLevel(*defaultFileProtectionLevel))
        defaultFileProtectionLevel_ = std::move(defaultFileProtectionLevel);
}

std::string HOSFLLogFileManagerDefault::defaultLogsDirectory() {
    return platform::Paths::cachesDirectory() + "/HOSLogs";
}

const std::string& HOSFLLogFileManagerDefault::applicationName() {
    static const std::string* name = [] {
        auto id = platform::Bundle::mainBundle().bundleIdentifier();
        if (id && !id->empty()) return new std::string(*id);
        return new std::string(program_invocation_short_name ? program_invocation_short_name : "");
    }();
    return *name;
}

std::string HOSFLLogFileManagerDefault::logsDirectory() {
    std::error_code ec;
    if (!std::filesystem::is_directory(logsDirectory_, ec)) {
        std::filesystem::create_directories(logsDirectory_, ec);
        if (ec)
            platform::Log::writef("FLFileLogManagerDefault: Error creating logsDirectory: %s",
                                  ec.message().c_str());
    }
    return logsDirectory_;
}

bool HOSFLLogFileManagerDefault::isLogFile(const std::string& fileName) const {
    return fileName.rfind(applicationName(), 0) == 0 && endsWith(fileName, ".log");
}

std::string HOSFLLogFileManagerDefault::newLogFileName() const {
    const double now = platform::Clock::now();
    const double whole = std::floor(now);
    const auto t = static_cast<std::time_t>(whole);
    int ms = static_cast<int>((now - whole) * 1000.0);
    if (ms > 999) ms = 999;
    struct tm tm {};
    gmtime_r(&t, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d--%02d-%02d-%02d-%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return applicationName() + " " + stamp + ".log";
}

std::optional<double> HOSFLLogFileManagerDefault::dateFromLogFileName(const std::string& fileName) {
    auto blank = fileName.rfind(' ');
    std::string part = blank == std::string::npos ? fileName : fileName.substr(blank + 1);
    if (endsWith(part, ".log")) part.resize(part.size() - 4);
    if (endsWith(part, ".archived")) part.resize(part.size() - 9);
    int y, mo, d, h, mi, s, ms, consumed = 0;
    if (std::sscanf(part.c_str(), "%4d-%2d-%2d--%2d-%2d-%2d-%3d%n", &y, &mo, &d, &h, &mi, &s, &ms, &consumed) != 7 ||
        static_cast<std::size_t>(consumed) != part.size())
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<double>(timegm(&tm)) + ms / 1000.0;
}

std::vector<std::string> HOSFLLogFileManagerDefault::unsortedLogFilePaths() {
    const std::string dir = logsDirectory();
    std::vector<std::string> out;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    while (struct dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (isLogFile(name)) out.push_back(dir + "/" + name);
    }
    ::closedir(d);
    return out;
}

std::vector<std::string> HOSFLLogFileManagerDefault::unsortedLogFileNames() {
    std::vector<std::string> out;
    for (const auto& p : unsortedLogFilePaths()) out.push_back(p.substr(p.rfind('/') + 1));
    return out;
}

std::vector<HOSFLLogFileInfoPtr> HOSFLLogFileManagerDefault::unsortedLogFileInfos() {
    std::vector<HOSFLLogFileInfoPtr> out;
    for (auto& p : unsortedLogFilePaths()) out.push_back(HOSFLLogFileInfo::logFileWithPath(std::move(p)));
    return out;
}

std::vector<HOSFLLogFileInfoPtr> HOSFLLogFileManagerDefault::sortedLogFileInfos() {
    std::vector<std::pair<double, HOSFLLogFileInfoPtr>> dated;
    for (auto& info : unsortedLogFileInfos()) {
        auto date = dateFromLogFileName(info->fileName());
        if (!date) date = info->creationDate();
        // A file with no date at all sorts as the oldest (last), so the cleanup
        // removes it first.
        dated.emplace_back(date.value_or(0.0), std::move(info));
    }
    std::stable_sort(dated.begin(), dated.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first > b.first;
        return a.second->fileName() > b.second->fileName();
    });
    std::vector<HOSFLLogFileInfoPtr> out;
    for (auto& d : dated) out.push_back(std::move(d.second));
    return out;
}

std::vector<std::string> HOSFLLogFileManagerDefault::sortedLogFilePaths() {
    std::vector<std::string> out;
    for (const auto& i : sortedLogFileInfos()) out.push_back(i->filePath());
    return out;
}

std::vector<std::string> HOSFLLogFileManagerDefault::sortedLogFileNames() {
    std::vector<std::string> out;
    for (const auto& i : sortedLogFileInfos()) out.push_back(i->fileName());
    return out;
}

std::string HOSFLLogFileManagerDefault::createNewLogFile() {
    const std::string fileName = newLogFileName();
    const std::string dir = logsDirectory();
    const std::string base = fileName.substr(0, fileName.size() - 4);  // without ".log"
    std::string path;
    for (unsigned long attempt = 1;; ++attempt) {
        const std::string name = attempt == 1 ? fileName : base + " " + std::to_string(attempt) + ".log";
        path = dir + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            break;
        }
        // Only a taken name is worth another attempt; any other failure
        // leaves a path that will not open, and the record is dropped.
        if (errno != EEXIST || attempt >= 10000) return path;
    }
    deleteOldLogFiles();
    return path;
}

void HOSFLLogFileManagerDefault::deleteOldLogFiles() {
    auto infos = sortedLogFileInfos();
    std::optional<std::size_t> first;
    const std::uint64_t quota = logFilesDiskQuota();
    if (quota > 0) {
        std::uint64_t used = 0;
        for (std::size_t i = 0; i < infos.size(); ++i) {
            used += infos[i]->fileSize();
            if (used > quota) {
                first = i;
                break;
            }
        }
    }
    const std::uint64_t count = maximumNumberOfLogFiles();
    if (count > 0) {
        const auto limit = static_cast<std::size_t>(std::min<std::uint64_t>(count, infos.size()));
        first = first ? std::min(*first, limit) : limit;
    }
    if (first && *first == 0 && !infos.empty() && !infos.front()->isArchived()) first = 1;  // the file being written
    if (!first) return;
    for (std::size_t i = *first; i < infos.size(); ++i) ::unlink(infos[i]->filePath().c_str());
}

}  // namespace pellix
