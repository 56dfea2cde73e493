#include "HOSSDK/HOSFileLog/HOSLog.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "HOSSDK/HOSFileLog/HOSFLFileLogger.h"
#include "HOSSDK/HOSFileLog/HOSFLLog.h"
#include "HOSSDK/HOSFileLog/HOSNSLogger.h"
#include "HOSSDK/HOSUtil.h"

namespace pellix {

void HOSLog::enableLog() {
    if (!HOSUtil::hasPhoneFreeSpace()) return;
    isEnable_.store(true, std::memory_order_relaxed);
    HOSFLLog::removeAllLoggers();
    HOSFLLog::addLogger(HOSNSLogger::sharedInstance());
    HOSFLLog::addLogger(std::make_shared<HOSFLFileLogger>());
}

void HOSLog::disableLog() { isEnable_.store(false, std::memory_order_relaxed); }

namespace {

constexpr std::size_t kRememberedSecrets = 8;
constexpr std::size_t kShortestRememberedSecret = 16;
constexpr const char* kHidden = "<hidden>";

std::mutex& secretsLock() {
    static std::mutex lock;
    return lock;
}
std::deque<std::string>& secrets() {
    static std::deque<std::string> list;
    return list;
}

bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix) {
    if (text.size() - at < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != prefix[i]) return false;
    return true;
}

// Where a value written after its name ends: the delimiters of header lines,
// query strings, XML text and of the escaped forms in descriptions.
bool endsValue(char c) {
    return c == '\n' || c == '\r' || c == '&' || c == '<' || c == '"' || c == '\'' || c == '\\' || c == ',' ||
           c == '}' || c == ';' || c == ' ' || c == '\t';
}

void maskAfter(std::string& text, std::string_view name) {
    for (std::size_t at = 0; at + name.size() <= text.size(); ++at) {
        if (!startsWithNoCase(text, at, name)) continue;
        std::size_t start = at + name.size();
        while (start < text.size() && text[start] == ' ') ++start;
        std::size_t end = start;
        while (end < text.size() && !endsValue(text[end])) ++end;
        if (end > start) text.replace(start, end - start, kHidden);
        at = start;
    }
}

}  // namespace

void HOSLog::rememberSecret(const std::string& secret) {
    // A short text would be found inside ordinary words; real tokens are
    // long, and the name patterns mask them wherever they are labelled.
    if (secret.size() < kShortestRememberedSecret) return;
    std::lock_guard<std::mutex> guard(secretsLock());
    auto& list = secrets();
    if (std::find(list.begin(), list.end(), secret) != list.end()) return;
    list.push_back(secret);
    if (list.size() > kRememberedSecrets) list.pop_front();
}

std::string HOSLog::masked(std::string text) {
    maskAfter(text, "x-hos-security-token:");
    maskAfter(text, "security-token=");
    std::lock_guard<std::mutex> guard(secretsLock());
    for (const auto& secret : secrets())
        for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 1))
            text.replace(at, secret.size(), kHidden);
    return text;
}

void HOSLog::logLine(std::uint64_t flag, const char* file, const char* function, std::uint64_t line,
                     const char* format, ...) {
    if (!format) return;
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<std::size_t>(n));
        std::vsnprintf(text.data(), text.size() + 1, format, ap);
    }
    va_end(ap);
    text = masked(std::move(text));
    const char* prefix = flag == HOSLogFlagError   ? HOSLogErrorFormat
                         : flag == HOSLogFlagDebug ? HOSLogDebugFormat
                                                   : HOSLogVerboseFormat;
    // The text is an argument of the prefix format, never a format itself.
    HOSFLLog::log(flag != HOSLogFlagError, HOSLogLevelAll, flag, 0, file, function, line, std::any(), prefix,
                  text.c_str());
}

}  // namespace pellix
