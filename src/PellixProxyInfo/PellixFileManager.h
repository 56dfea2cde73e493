// PellixFileManager: the SDK's save directory and the names of its archive
// files.
//
// The save directory is "<Documents>/PXCaches(谨慎删除)" under the host-set
// application home; it is created (with intermediate folders) whenever it is
// missing. Each archive is named by the lower-case MD5 hex of a fixed name:
// "token.data", "userInfo.data", "deviceInfo.data". The full paths are worked
// out at each call from the current application home (platform::Paths).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>
#include <string>

namespace pellix {

// The save directory's path, created when missing.
std::string pellixSDKSaveDirectory();

class PellixFileManager {
public:
    static constexpr const char* kSaveFolderName = "PXCaches(谨慎删除)";

    static const std::shared_ptr<PellixFileManager>& shareInstance();

    std::string accessTokenFile();
    std::string userInfoFile();
    std::string deviceInfoFile();

    // Remove the file when it exists (a missing file is not an error); with
    // logging on, "文件删除成功" after a removal or the failure's details.
    void clearTokenInfoFile();
    void clearUserInfoFile();

    PellixFileManager(const PellixFileManager&) = delete;
    PellixFileManager& operator=(const PellixFileManager&) = delete;

private:
    PellixFileManager() = default;
    static std::string pathOf(const char* fixedName);
    static void removeFile(const std::string& path);
};

}  // namespace pellix
