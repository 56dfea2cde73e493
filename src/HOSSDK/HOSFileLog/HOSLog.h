// HOSLog: the storage log switch and the call-site macros.
//
// Storage logging is off until the host calls HOSLog::enableLog(). Every log
// call site goes through HOS_LOG_ERROR / HOS_LOG_DEBUG / HOS_LOG_VERBOSE, which
// test the switch first (one relaxed atomic load) and only then build the text,
// so a disabled log costs no formatting at all.
//
//   HOS_LOG_DEBUG("request %s finished in %d ms", name.c_str(), ms);
//
// The macros take a printf-style format and its arguments (checked by the
// compiler). The built text is handed to the logging hub (HOSFLLog) as the only
// argument of the line kind's prefix format, so every line reads "[Error]: ",
// "[Debug]: " or "[Verbose]: " followed by the text, and a '%' inside the text
// is never interpreted a second time.
//
// Delivery: error lines are synchronous (when HOS_LOG_ERROR returns, every
// registered logger has handled the line); debug and verbose lines are queued
// and the call returns at once. Any thread may log. A synchronous line logged
// from the logging queue or from a logger's own queue is delivered
// asynchronously instead of waiting for itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace pellix {

// Log flags: one bit each. A logger receives a record when the record's flag
// AND the logger's level is non-zero.
inline constexpr std::uint64_t HOSLogFlagError = 1;
inline constexpr std::uint64_t HOSLogFlagDebug = 8;
inline constexpr std::uint64_t HOSLogFlagVerbose = 16;
// The level the storage code passes with every record and gives every logger.
inline constexpr std::uint64_t HOSLogLevelAll = UINT64_MAX;

// Prefix formats of the three line kinds (the built text is their argument).
inline constexpr const char* HOSLogErrorFormat = "[Error]: %s";
inline constexpr const char* HOSLogDebugFormat = "[Debug]: %s";
inline constexpr const char* HOSLogVerboseFormat = "[Verbose]: %s";

// Defaults shared by the file logger and the free-space test.
inline constexpr std::uint64_t hoskFLDefaultLogMaxFileSize = 5242880;       // 5 MiB
inline constexpr double hoskFLDefaultLogRollingFrequency = 86400.0;          // 24 hours, seconds
inline constexpr std::uint64_t hoskFLDefaultLogMaxNumLogFiles = 1;
inline constexpr std::uint64_t hoskFLDefaultLogFilesDiskQuota = 5242880;

class HOSLog {
public:
    HOSLog() = delete;

    // Switches the storage log on when the home directory's file system has at
    // least hoskFLDefaultLogMaxFileSize bytes free: replaces every registered
    // logger by the console logger and a new file logger. With too little room
    // (or unreadable file-system attributes) nothing changes and nothing is
    // reported.
    static void enableLog();
    // Switches the storage log off; registered loggers stay registered.
    static void disableLog();
    static bool isLogEnable() noexcept { return isEnable_.load(std::memory_order_relaxed); }

    // Used by the macros below: formats the text and hands it to the hub with
    // the flag's prefix format, level HOSLogLevelAll, context 0 and no tag.
    static void logLine(std::uint64_t flag, const char* file, const char* function, std::uint64_t line,
                        const char* format, ...) __attribute__((format(printf, 5, 6)));

    // Security tokens never reach a logger. Every line is masked before it
    // is handed on: the value after "x-hos-security-token:" (a signed
    // header, as in a string to sign or an echoed one) or "security-token="
    // (a query item), and any text equal to a token remembered here, become
    // "<hidden>". The signer remembers each token it sends (the last few,
    // of 16 characters or more).
    static void rememberSecret(const std::string& secret);
    static std::string masked(std::string text);

private:
    static inline std::atomic<bool> isEnable_{false};
};

}  // namespace pellix

#define HOS_LOG_LINE_(flag, ...)                                                                     \
    do {                                                                                            \
        if (::pellix::HOSLog::isLogEnable())                                                        \
            ::pellix::HOSLog::logLine((flag), __FILE__, __PRETTY_FUNCTION__, __LINE__, __VA_ARGS__); \
    } while (0)

#define HOS_LOG_ERROR(...) HOS_LOG_LINE_(::pellix::HOSLogFlagError, __VA_ARGS__)
#define HOS_LOG_DEBUG(...) HOS_LOG_LINE_(::pellix::HOSLogFlagDebug, __VA_ARGS__)
#define HOS_LOG_VERBOSE(...) HOS_LOG_LINE_(::pellix::HOSLogFlagVerbose, __VA_ARGS__)
