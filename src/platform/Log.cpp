#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <unistd.h>

namespace pellix::platform {

namespace {

struct LogState {
    std::mutex mutex;  // one line at a time: held while the sink runs
    // Shared so that a sink replacing itself stays alive until its call returns.
    std::shared_ptr<const Log::Sink> sink;
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
    std::unique_lock lock(s.mutex);
    std::shared_ptr<const Sink> sink = s.sink;
    if (!sink) {
        writeStderr(line);
        return;
    }
    tInsideSink = true;
    try {
        (*sink)(line);
    } catch (...) {
        // A throwing sink must not take the caller down with it.
        writeStderr(line);
    }
    tInsideSink = false;
    lock.unlock();
    // A sink replaced meanwhile may go with this last reference; its captures'
    // destructors may log, so that happens outside the lock.
    sink.reset();
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
    std::shared_ptr<const Sink> fresh = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
    std::shared_ptr<const Sink> old;
    if (tInsideSink) {
        // Called by the running sink, whose write() on this thread holds the
        // lock already and keeps the old sink alive until the call returns.
        old = std::exchange(s.sink, std::move(fresh));
    } else {
        // Waits for a sink running on another thread: once this returns the old
        // sink is not called again, so the caller may free what it uses.
        std::lock_guard lock(s.mutex);
        old = std::exchange(s.sink, std::move(fresh));
    }
    // `old` is released here, outside the lock (its destructor may log).
}

}  // namespace pellix::platform
