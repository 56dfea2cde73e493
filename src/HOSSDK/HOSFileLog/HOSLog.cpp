#include "HOSSDK/HOSFileLog/HOSLog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace pellix {

// First cut: lines go straight to standard error until the logging hub lands.
void HOSLog::enableLog() { isEnable_.store(true, std::memory_order_relaxed); }

void HOSLog::disableLog() { isEnable_.store(false, std::memory_order_relaxed); }

void HOSLog::logLine(std::uint64_t flag, const char*, const char*, std::uint64_t, const char* format, ...) {
    if (!format) return;
    va_list ap;
    va_start(ap, format);
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    const char* prefix = flag == HOSLogFlagError ? HOSLogErrorFormat
                         : flag == HOSLogFlagDebug ? HOSLogDebugFormat
                                                   : HOSLogVerboseFormat;
    std::fprintf(stderr, prefix, buf);
    std::fputc('\n', stderr);
}

}  // namespace pellix
