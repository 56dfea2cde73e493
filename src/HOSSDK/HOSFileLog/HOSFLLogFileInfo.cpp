#include "HOSSDK/HOSFileLog/HOSFLLogFileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Value.h"

namespace pellix {

namespace {

std::string lastPathComponent(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

double seconds(const struct timespec& ts) { return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9; }

}  // namespace

HOSFLLogFileInfo::HOSFLLogFileInfo(std::string filePath) : filePath_(std::move(filePath)) {}

std::shared_ptr<HOSFLLogFileInfo> HOSFLLogFileInfo::logFileWithPath(std::string filePath) {
    return std::make_shared<HOSFLLogFileInfo>(std::move(filePath));
}

const std::string& HOSFLLogFileInfo::fileName() {
    if (!fileName_) fileName_ = lastPathComponent(filePath_);
    return *fileName_;
}

const std::optional<struct stat>& HOSFLLogFileInfo::fileAttributes() {
    if (!attributesRead_) {
        struct stat st {};
        if (::stat(filePath_.c_str(), &st) == 0) fileAttributes_ = st;
        attributesRead_ = true;
    }
    return fileAttributes_;
}

std::optional<double> HOSFLLogFileInfo::creationDate() {
    if (!creationRead_) {
        creationRead_ = true;
        struct statx sx {};
        if (::statx(AT_FDCWD, filePath_.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0 &&
            (sx.stx_mask & STATX_BTIME))
            creationDate_ = static_cast<double>(sx.stx_btime.tv_sec) + sx.stx_btime.tv_nsec / 1e9;
        else
            creationDate_ = modificationDate();
    }
    return creationDate_;
}

std::optional<double> HOSFLLogFileInfo::modificationDate() {
    const auto& a = fileAttributes();
    if (!a) return std::nullopt;
    return seconds(a->st_mtim);
}

std::uint64_t HOSFLLogFileInfo::fileSize() {
    if (fileSize_ == 0) {
        const auto& a = fileAttributes();
        if (a) fileSize_ = static_cast<std::uint64_t>(a->st_size);
    }
    return fileSize_;
}

double HOSFLLogFileInfo::age() {
    auto created = creationDate();
    return created ? platform::Clock::now() - *created : 0.0;
}

bool HOSFLLogFileInfo::isArchived() { return hasExtendedAttributeWithName(HOSFLLogFileArchivedAttributeName); }

void HOSFLLogFileInfo::setIsArchived(bool archived) {
    if (archived)
        addExtendedAttributeWithName(HOSFLLogFileArchivedAttributeName);
    else
        removeExtendedAttributeWithName(HOSFLLogFileArchivedAttributeName);
}

void HOSFLLogFileInfo::reset() {
    fileName_.reset();
    fileAttributes_.reset();
    attributesRead_ = false;
    creationDate_.reset();
    creationRead_ = false;
}

void HOSFLLogFileInfo::renameFile(const std::string& newName) {
    if (newName == fileName()) return;
    const std::string target = directoryOf(filePath_) + "/" + newName;
    if (::access(target.c_str(), F_OK) == 0 && ::unlink(target.c_str()) != 0)
        platform::Log::writef("FLLogFileInfo: Error deleting archive (%s): %s", fileName().c_str(),
                              std::strerror(errno));
    if (::rename(filePath_.c_str(), target.c_str()) != 0)
        platform::Log::writef("FLLogFileInfo: Error renaming file (%s): %s", fileName().c_str(), std::strerror(errno));
    filePath_ = target;
    reset();
}

bool HOSFLLogFileInfo::hasExtendedAttributeWithName(const std::string& name) const {
    return ::getxattr(filePath_.c_str(), name.c_str(), nullptr, 0) >= 0;
}

void HOSFLLogFileInfo::addExtendedAttributeWithName(const std::string& name) const {
    if (::setxattr(filePath_.c_str(), name.c_str(), "", 0, 0) != 0)
        platform::Log::writef("FLLogFileInfo: setxattr(%s, %s): error = %s", name.c_str(), filePath_.c_str(),
                              std::strerror(errno));
}

void HOSFLLogFileInfo::removeExtendedAttributeWithName(const std::string& name) const {
    if (::removexattr(filePath_.c_str(), name.c_str()) != 0 && errno != ENODATA)
        platform::Log::writef("FLLogFileInfo: removexattr(%s, %s): error = %s", name.c_str(),
                              lastPathComponent(filePath_).c_str(), std::strerror(errno));
}

std::size_t HOSFLLogFileInfo::hash() const { return std::hash<std::string>()(filePath_); }

std::string HOSFLLogFileInfo::description() {
    auto orEmpty = [](const std::optional<double>& d) { return d ? platform::Value(*d) : platform::Value(""); };
    platform::Dictionary d{
        {"filePath", filePath_},
        {"fileName", fileName()},
        {"fileAttributes", fileAttributes() ? platform::Value(platform::Dictionary{
                                                  {"size", static_cast<long long>(fileAttributes()->st_size)},
                                                  {"mode", static_cast<long long>(fileAttributes()->st_mode)}})
                                            : platform::Value("")},
        {"creationDate", orEmpty(creationDate())},
        {"modificationDate", orEmpty(modificationDate())},
        {"fileSize", fileSize()},
        {"age", age()},
        {"isArchived", isArchived()},
    };
    return platform::Value(std::move(d)).description();
}

}  // namespace pellix
