// HOSFLLogMessage: one log record. Every field is fixed at creation; records
// travel between threads as std::shared_ptr<const HOSFLLogMessage>.
#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pellix {

class HOSFLLogMessage {
public:
    // Kept for callers that pass them; our strings are always owned copies, so
    // they change nothing.
    enum Options : std::int64_t {
        HOSFLLogMessageCopyFile = 1,
        HOSFLLogMessageCopyFunction = 2,
        HOSFLLogMessageDontCopyMessage = 4,
    };

    // `timestamp` in seconds since 1970; none means now (platform clock).
    // Records the calling thread's id, name and dispatch-queue label.
    HOSFLLogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                    std::string file, std::string function, std::uint64_t line, std::any tag,
                    std::int64_t options, std::optional<double> timestamp);

    const std::string& message() const { return message_; }
    std::uint64_t level() const { return level_; }
    std::uint64_t flag() const { return flag_; }
    std::int64_t context() const { return context_; }
    const std::string& file() const { return file_; }
    // Last path component of file(), cut before its last ".".
    const std::string& fileName() const { return fileName_; }
    const std::string& function() const { return function_; }
    std::uint64_t line() const { return line_; }
    const std::any& tag() const { return tag_; }
    std::int64_t options() const { return options_; }
    double timestamp() const { return timestamp_; }
    // The creating thread's system thread id in decimal.
    const std::string& threadID() const { return threadID_; }
    const std::optional<std::string>& threadName() const { return threadName_; }
    // Label of the dispatch queue the record was made on; "" when none.
    const std::string& queueLabel() const { return queueLabel_; }

private:
    std::string message_;
    std::uint64_t level_;
    std::uint64_t flag_;
    std::int64_t context_;
    std::string file_;
    std::string fileName_;
    std::string function_;
    std::uint64_t line_;
    std::any tag_;
    std::int64_t options_;
    double timestamp_;
    std::string threadID_;
    std::optional<std::string> threadName_;
    std::string queueLabel_;
};

using HOSFLLogMessagePtr = std::shared_ptr<const HOSFLLogMessage>;

// File name of `path` without its extension: the part after the last "/",
// cut before the last "." when that dot lies inside the name. None for a null
// path. (The caller's bytes are always copied, whatever `copy` says.)
std::optional<std::string> HOSFLExtractFileNameWithoutExtension(const char* path, bool copy);

}  // namespace pellix
