#include "platform/Bundle.h"

#include <filesystem>
#include <system_error>

namespace pellix::platform {

namespace fs = std::filesystem;

Bundle::Bundle(std::string path) : path_(path), resourcePath_(std::move(path)) {}

Bundle& Bundle::mainBundle() {
    static auto* bundle = [] {
        std::error_code ec;
        const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
        auto* b = new Bundle(ec ? fs::current_path(ec).string() : exe.parent_path().string());
        if (!ec) b->info_.set("CFBundleExecutable", exe.filename().string());
        return b;
    }();
    return *bundle;
}

std::shared_ptr<Bundle> Bundle::bundleWithPath(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !fs::is_directory(path, ec)) return nullptr;
    return std::make_shared<Bundle>(path);
}

std::shared_ptr<Bundle> Bundle::bundleNamed(const std::string& name) {
    if (name.empty()) return nullptr;
    return bundleWithPath(mainBundle().resourcePath() + "/" + name + ".bundle");
}

std::optional<std::string> Bundle::bundleIdentifier() const {
    std::lock_guard lock(mutex_);
    const Value* v = info_.find("CFBundleIdentifier");
    if (!v || !v->isString()) return std::nullopt;
    return v->asString();
}

Dictionary Bundle::infoDictionary() const {
    std::lock_guard lock(mutex_);
    return info_;
}

std::optional<Value> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const Value* v = info_.find(key);
    if (!v) return std::nullopt;
    return *v;
}

std::string Bundle::resourcePath() const {
    std::lock_guard lock(mutex_);
    return resourcePath_;
}

std::string Bundle::bundlePath() const {
    std::lock_guard lock(mutex_);
    return path_;
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& ext) const {
    std::string file = resourcePath() + "/" + name;
    if (!ext.empty()) file += (ext.front() == '.' ? "" : ".") + ext;
    std::error_code ec;
    if (name.empty() || !fs::is_regular_file(file, ec)) return std::nullopt;
    return file;
}

void Bundle::setInfoDictionary(Dictionary info) {
    std::lock_guard lock(mutex_);
    info_ = std::move(info);
}

void Bundle::setResourcePath(std::string path) {
    std::lock_guard lock(mutex_);
    resourcePath_ = std::move(path);
}

}  // namespace pellix::platform
