#include "PellixProxyInfo/PellixFileManager.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "CommonMethod/PellixCommonTypes.h"
#include "PellixLog/PellixLog.h"
#include "platform/Paths.h"

namespace pellix {

namespace fs = std::filesystem;

std::string pellixSDKSaveDirectory() {
    const fs::path dir = fs::path(platform::Paths::documentsDirectory()) / PellixFileManager::kSaveFolderName;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) fs::create_directories(dir, ec);
    return dir.string();
}

const std::shared_ptr<PellixFileManager>& PellixFileManager::shareInstance() {
    static const auto* instance = new std::shared_ptr<PellixFileManager>(new PellixFileManager());
    return *instance;
}

// Worked out at every use: the paths follow the host's home, so a host that
// sets it after the SDK's first file access does not keep writing under the
// previous one.
std::string PellixFileManager::pathOf(const char* fixedName) {
    return (fs::path(pellixSDKSaveDirectory()) / PellixCommonTypes::md5Crypt16WithString(fixedName)).string();
}

std::string PellixFileManager::accessTokenFile() { return pathOf("token.data"); }
std::string PellixFileManager::userInfoFile() { return pathOf("userInfo.data"); }
std::string PellixFileManager::deviceInfoFile() { return pathOf("deviceInfo.data"); }

void PellixFileManager::removeFile(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return;
    if (fs::remove(path, ec) && !ec) {
        PellixLog::verbose("文件删除成功");
    } else {
        PellixLog::verbose("文件删除失败: " + path + ": " + ec.message());
    }
}

void PellixFileManager::clearTokenInfoFile() { removeFile(accessTokenFile()); }
void PellixFileManager::clearUserInfoFile() { removeFile(userInfoFile()); }

}  // namespace pellix
