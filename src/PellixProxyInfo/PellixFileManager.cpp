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

std::string PellixFileManager::cachedPath(std::optional<std::string>& slot, const char* fixedName) {
    std::lock_guard lock(mutex_);
    if (!slot) slot = (fs::path(pellixSDKSaveDirectory()) / PellixCommonTypes::md5Crypt16WithString(fixedName)).string();
    return *slot;
}

std::string PellixFileManager::accessTokenFile() { return cachedPath(tokenFile_, "token.data"); }
std::string PellixFileManager::userInfoFile() { return cachedPath(userInfoFile_, "userInfo.data"); }
std::string PellixFileManager::deviceInfoFile() { return cachedPath(deviceInfoFile_, "deviceInfo.data"); }

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
