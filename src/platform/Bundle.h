// Bundle: the application's identity and resources.
//
// The main bundle's info dictionary is set by the host (keys such as
// "CFBundleIdentifier", "CFBundleShortVersionString", "CFBundleVersion",
// "CFBundleExecutable", "CFBundleName"); until then it holds only
// "CFBundleExecutable" (the process name). Its resource folder defaults to the
// folder of the running executable. Other bundles are folders: `bundleWithPath`
// names one, `bundleNamed("X")` looks for "X.bundle" in the main bundle's
// resource folder; their info dictionary is empty unless set.
//
// Thread-safety: all members from any thread. The main bundle lives for the
// whole process.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Value.h"

namespace pellix::platform {

class Bundle {
public:
    static Bundle& mainBundle();
    // A bundle for the folder `path`; nullptr when it is not a folder.
    static std::shared_ptr<Bundle> bundleWithPath(const std::string& path);
    static std::shared_ptr<Bundle> bundleNamed(const std::string& name);

    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    // "CFBundleIdentifier" of the info dictionary, nullopt when absent.
    std::optional<std::string> bundleIdentifier() const;
    Dictionary infoDictionary() const;
    // A copy of the value for `key`, nullopt when absent.
    std::optional<Value> objectForInfoDictionaryKey(const std::string& key) const;
    std::string resourcePath() const;
    std::string bundlePath() const;
    // "<resourcePath>/<name>.<ext>" (ext may be empty) when that file exists.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& ext) const;

    // Host side.
    void setInfoDictionary(Dictionary info);
    void setResourcePath(std::string path);

    explicit Bundle(std::string path);

private:
    mutable std::mutex mutex_;
    std::string path_;
    std::string resourcePath_;
    Dictionary info_;
};

}  // namespace pellix::platform
