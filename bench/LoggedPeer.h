// LoggedPeer: start a local peer process with its standard output in a file,
// and wait for the line it prints once it listens. Shared by the benchmarks
// that talk to the Node.js stand-ins. Not thread-safe: use from main().
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace pellix::bench {

// The source tree, where the peers live: $PELLIX_SOURCE_DIR, else the one
// the benchmark was built from. (Not this file's __FILE__: the compiler sees
// a path relative to the build folder, wrong from any other directory.)
inline std::string sourceDir() {
    if (const char* s = std::getenv("PELLIX_SOURCE_DIR")) return s;
    return PELLIX_SOURCE_DIR;
}

// Starts args[0] (looked up on PATH) with its standard output written to
// `log`; the pid, or -1 when it cannot be started.
inline pid_t spawnWithLog(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

// Reads `log` every 50 ms, `tries` times at most, until `pattern` matches;
// the match's groups (group 0 first), or nothing when it never does.
inline std::optional<std::vector<std::string>> waitForLogLine(const std::string& log, const std::regex& pattern,
                                                              int tries) {
    for (int i = 0; i < tries; ++i) {
        std::ifstream in(log);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        std::smatch m;
        if (std::regex_search(text, m, pattern)) {
            std::vector<std::string> groups;
            for (const auto& g : m) groups.push_back(g.str());
            return groups;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

}  // namespace pellix::bench
