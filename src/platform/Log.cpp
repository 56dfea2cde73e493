#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

namespace pellix::platform {

namespace {

struct LogState {
    std::mutex mutex;
    Log::Sink sink;
};

LogState& state() {
    static LogState* s = new LogState();  // never destroyed: logging may happen during exit
    return *s;
}

thread_local bool tInsideSink = false;

void writeStderr(std::string_view line) {
    std::string out(line);
    out += '\n';
    const char* p = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace

void Log::write(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (tInsideSink) {
        // A sink that logs would deadlock on our lock; its lines go to stderr.
        writeStderr(line);
        return;
    }
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.sink) {
        writeStderr(line);
        return;
    }
    tInsideSink = true;
    try {
        s.sink(line);
    } catch (...) {
        // A throwing sink must not take the caller down with it.
        tInsideSink = false;
        writeStderr(line);
        return;
    }
    tInsideSink = false;
}

void Log::writef(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line;
    if (n > 0) {
        line.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(line.data(), line.size(), format, args);
        line.resize(static_cast<std::size_t>(n));
    }
    va_end(args);
    write(line);
}

void Log::setSink(Sink sink) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.sink = std::move(sink);
}

}  // namespace pellix::platform
