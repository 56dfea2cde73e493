// HOSFLLogFileInfo: one log file on disk, with its attributes read once and
// cached, and the archived mark.
//
// The archived mark is the extended attribute "user.hos.log.archived" with an
// empty value (Linux admits user attributes only in the "user." namespace);
// the name of an archived file does not change. Failures to read attributes
// give none / size 0; failures to set or remove the mark are written to the
// system log and otherwise ignored.
//
// Threads: not synchronised; the file logger uses it on its own queue.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pellix {

inline constexpr const char* HOSFLLogFileArchivedAttributeName = "user.hos.log.archived";

class HOSFLLogFileInfo {
public:
    explicit HOSFLLogFileInfo(std::string filePath);
    static std::shared_ptr<HOSFLLogFileInfo> logFileWithPath(std::string filePath);

    const std::string& filePath() const { return filePath_; }
    const std::string& fileName();
    // The file's attributes (stat), none when unreadable.
    const std::optional<struct stat>& fileAttributes();
    // Seconds since 1970: birth time where the file system records it, else
    // the modification time. None when unreadable.
    std::optional<double> creationDate();
    std::optional<double> modificationDate();
    // 0 when unreadable; re-read while 0 (an empty file is read each time).
    std::uint64_t fileSize();
    // Seconds from creationDate to now (platform clock); 0 without a date.
    double age();

    bool isArchived();
    void setIsArchived(bool archived);

    // Drops the cached name, attributes and dates (the size stays).
    void reset();
    // Moves the file to `newName` in the same directory, replacing a file of
    // that name; filePath follows in any case.
    void renameFile(const std::string& newName);

    bool hasExtendedAttributeWithName(const std::string& name) const;
    void addExtendedAttributeWithName(const std::string& name) const;
    void removeExtendedAttributeWithName(const std::string& name) const;

    bool isEqual(const HOSFLLogFileInfo& other) const { return filePath_ == other.filePath_; }
    std::size_t hash() const;
    std::string description();

private:
    std::string filePath_;
    std::optional<std::string> fileName_;
    std::optional<struct stat> fileAttributes_;
    bool attributesRead_ = false;
    std::optional<double> creationDate_;
    bool creationRead_ = false;
    std::uint64_t fileSize_ = 0;
};

using HOSFLLogFileInfoPtr = std::shared_ptr<HOSFLLogFileInfo>;

}  // namespace pellix
