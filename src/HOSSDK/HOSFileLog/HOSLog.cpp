#include "HOSSDK/HOSFileLog/HOSLog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

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
    const char* prefix = flag == HOSLogFlagError   ? HOSLogErrorFormat
                         : flag == HOSLogFlagDebug ? HOSLogDebugFormat
                                                   : HOSLogVerboseFormat;
    // The text is an argument of the prefix format, never a format itself.
    HOSFLLog::log(flag != HOSLogFlagError, HOSLogLevelAll, flag, 0, file, function, line, std::any(), prefix,
                  text.c_str());
}

}  // namespace pellix
