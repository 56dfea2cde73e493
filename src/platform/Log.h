// Log: the system-log stand-in.
//
// One line per call, to stderr unless the host installs its own sink. Lines
// from different threads never interleave: the sink is called under a lock,
// one line at a time. A sink that logs from inside itself (or a failure inside
// the sink) does not deadlock: such nested lines go straight to stderr.
#pragma once

#include <functional>
#include <string_view>

namespace pellix::platform {

class Log {
public:
    // Receives each line without its trailing newline.
    using Sink = std::function<void(std::string_view line)>;

    // Writes one line (a trailing newline is not needed and is dropped).
    // Thread-safe.
    static void write(std::string_view line);
    // printf-style; the result is written as one line. Thread-safe.
    static void writef(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Replaces the sink; an empty function restores stderr. Takes effect for
    // every line written after it returns; thread-safe. From another thread it
    // waits for a sink call in progress, so the old sink is not called once it
    // returns. A sink may call it too (a one-shot sink putting the previous one
    // back): its own call finishes with its captures intact, and the next line
    // goes to the new sink.
    static void setSink(Sink sink);
};

}  // namespace pellix::platform
