#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace pellix::platform {

namespace {

std::mutex& pathsMutex() {
    static auto* m = new std::mutex();
    return *m;
}

std::string& homeOverride() {
    static auto* s = new std::string();
    return *s;
}

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string userHome() { return envOr("HOME", "/tmp"); }

std::string ensured(std::string path) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
        std::filesystem::create_directories(path, ec);
        if (!ec) ::chmod(path.c_str(), 0700);
    }
    return path;
}

std::string currentHome() {
    std::lock_guard lock(pathsMutex());
    return homeOverride();
}

}  // namespace

std::string Paths::homeDirectory() {
    std::string home = currentHome();
    if (home.empty()) home = envOr("XDG_DATA_HOME", userHome() + "/.local/share") + "/pellix";
    return ensured(home);
}

void Paths::setHomeDirectory(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::lock_guard lock(pathsMutex());
    homeOverride() = std::move(path);
}

std::string Paths::documentsDirectory() { return ensured(homeDirectory() + "/Documents"); }

std::string Paths::libraryDirectory() { return ensured(homeDirectory() + "/Library"); }

std::string Paths::cachesDirectory() {
    if (currentHome().empty()) return ensured(envOr("XDG_CACHE_HOME", userHome() + "/.cache") + "/pellix");
    return ensured(homeDirectory() + "/Library/Caches");
}

std::string Paths::temporaryDirectory() {
    if (currentHome().empty()) {
        std::string base = envOr("TMPDIR", "/tmp");
        while (base.size() > 1 && base.back() == '/') base.pop_back();
        return ensured(base + "/pellix-" + std::to_string(::getuid())) + "/";
    }
    return ensured(homeDirectory() + "/tmp") + "/";
}

}  // namespace pellix::platform
