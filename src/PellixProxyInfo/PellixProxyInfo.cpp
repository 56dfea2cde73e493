#include "PellixProxyInfo/PellixProxyInfo.h"

#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixLog/PellixLog.h"
#include "PellixProxyInfo/PellixFileManager.h"
#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/KeyedArchive.h"

namespace pellix {

namespace {

// The device file holds the UUID text under the archive's root key.
constexpr const char* kRootKey = "root";

bool archive(const std::string& path, const platform::Dictionary& root) {
    // The folder may have been removed while the application ran.
    pellixSDKSaveDirectory();
    return platform::KeyedArchive::write(path, root);
}

void logArchive(const char* what, bool ok) { PellixLog::verbose(std::string(what) + " 存档 " + (ok ? "1" : "0")); }

std::string describe(const PellixText& text) { return text ? *text : "(null)"; }

std::string modeText(std::uint64_t mode) { return std::to_string(static_cast<long>(mode)); }

}  // namespace

const std::shared_ptr<PellixProxyInfo>& PellixProxyInfo::sharedInstance() {
    static const auto* instance = new std::shared_ptr<PellixProxyInfo>(new PellixProxyInfo());
    return *instance;
}

std::string PellixProxyInfo::tokenKey(const PellixText& appId, const PellixText& secretKey, std::uint64_t mode) {
    return describe(appId) + ":" + describe(secretKey) + ":" + modeText(mode);
}

std::string PellixProxyInfo::userInfoKey(std::uint64_t mode) { return "mode:" + modeText(mode); }

std::shared_ptr<PellixToken> PellixProxyInfo::token() const {
    std::lock_guard lock(mutex_);
    return token_;
}

void PellixProxyInfo::setToken(std::shared_ptr<PellixToken> token) {
    {
        std::lock_guard lock(mutex_);
        token_ = token;
    }
    auto files = PellixFileManager::shareInstance();
    if (token) {
        logArchive("用户访问令牌", archive(files->accessTokenFile(), token->encodeWithCoder()));
    } else {
        files->clearTokenInfoFile();
    }
}

std::shared_ptr<PellixInitUserInfo> PellixProxyInfo::userInfo() const {
    std::lock_guard lock(mutex_);
    return userInfo_;
}

void PellixProxyInfo::setUserInfo(std::shared_ptr<PellixInitUserInfo> userInfo) {
    {
        std::lock_guard lock(mutex_);
        userInfo_ = userInfo;
    }
    auto files = PellixFileManager::shareInstance();
    if (userInfo) {
        logArchive("用户信息", archive(files->userInfoFile(), userInfo->encodeWithCoder()));
    } else {
        files->clearUserInfoFile();
    }
}

std::string PellixProxyInfo::deviceUUID() {
    std::lock_guard lock(mutex_);
    if (!deviceUUID_.empty()) return deviceUUID_;
    const std::string path = PellixFileManager::shareInstance()->deviceInfoFile();
    if (auto stored = platform::KeyedArchive::read(path)) {
        if (const platform::Value* root = stored->find(kRootKey); root && root->stringIf() && !root->asString().empty()) {
            deviceUUID_ = root->asString();
            return deviceUUID_;
        }
    }
    deviceUUID_ = platform::Device::makeUUID();
    logArchive("设备UUID信息", archive(path, platform::Dictionary{{kRootKey, deviceUUID_}}));
    return deviceUUID_;
}

PellixText PellixProxyInfo::pushToken() const {
    std::lock_guard lock(mutex_);
    return pushToken_;
}
void PellixProxyInfo::setPushToken(PellixText pushToken) {
    std::lock_guard lock(mutex_);
    pushToken_ = std::move(pushToken);
}
PellixText PellixProxyInfo::openId() const {
    std::lock_guard lock(mutex_);
    return openId_;
}
void PellixProxyInfo::setOpenId(PellixText openId) {
    std::lock_guard lock(mutex_);
    openId_ = std::move(openId);
}
PellixText PellixProxyInfo::appId() const {
    std::lock_guard lock(mutex_);
    return appId_;
}
void PellixProxyInfo::setAppId(PellixText appId) {
    std::lock_guard lock(mutex_);
    appId_ = std::move(appId);
}
PellixText PellixProxyInfo::secretKey() const {
    std::lock_guard lock(mutex_);
    return secretKey_;
}
void PellixProxyInfo::setSecretKey(PellixText secretKey) {
    std::lock_guard lock(mutex_);
    secretKey_ = std::move(secretKey);
}
PellixText PellixProxyInfo::package_name() const { return platform::Bundle::mainBundle().bundleIdentifier(); }
void PellixProxyInfo::setPackage_name(PellixText packageName) {
    std::lock_guard lock(mutex_);
    packageName_ = std::move(packageName);
}

void PellixProxyInfo::saveToken(std::shared_ptr<PellixToken> token, PellixText appId, PellixText secret) {
    if (token) setToken(std::move(token));
    std::lock_guard lock(mutex_);
    appId_ = std::move(appId);
    secretKey_ = std::move(secret);
}

void PellixProxyInfo::getAccessTokenWithAppId(const PellixText& appId, const PellixText& secretKey,
                                              const std::function<void(std::shared_ptr<PellixToken>)>& completion) {
    auto files = PellixFileManager::shareInstance();
    std::shared_ptr<PellixToken> cached;
    if (auto stored = platform::KeyedArchive::read(files->accessTokenFile())) {
        cached = std::make_shared<PellixToken>();
        cached->initWithCoder(*stored);
    }
    const std::uint64_t mode = PellixGlobleConfig::sharedInstance()->mode();
    const bool matches = cached && cached->updateDate() && cached->key() == tokenKey(appId, secretKey, mode);
    if (!matches) {
        // Issued for other credentials or another environment: nothing of it may be replayed.
        clearAllData();
        files->clearTokenInfoFile();
        files->clearUserInfoFile();
        if (completion) completion(nullptr);
        return;
    }

    const double lifetime = cached->expires_in() ? platform::Value(*cached->expires_in()).doubleValue() : 0;
    const double remaining = lifetime - (platform::Clock::now() - *cached->updateDate());
    {
        std::lock_guard lock(mutex_);
        // Held even when expired: it is sent until a fresh token replaces it.
        token_ = cached;
        appId_ = appId;
        secretKey_ = secretKey;
    }
    if (completion) completion(remaining > kTokenMinimumLifetime ? cached : nullptr);
}

void PellixProxyInfo::getUserInfoWithAppId(const PellixText&, const PellixText&,
                                           const std::function<void(std::shared_ptr<PellixInitUserInfo>)>& completion) {
    auto stored = platform::KeyedArchive::read(PellixFileManager::shareInstance()->userInfoFile());
    if (!stored) return;
    auto record = std::make_shared<PellixInitUserInfo>();
    record->initWithCoder(*stored);
    if (record->key() != userInfoKey(PellixGlobleConfig::sharedInstance()->mode())) return;
    if (record->sip_no() && record->mqtt_host()) {
        setUserInfo(record);
        setOpenId(record->open_id());
        if (completion) completion(record);
    } else {
        if (completion) completion(nullptr);
    }
}

bool PellixProxyInfo::isSDKRegister() {
    auto token = sharedInstance()->token();
    return token && token->token() && !token->token()->empty();
}

void PellixProxyInfo::clearAllData() {
    auto& store = sharedInstance();
    store->setUserInfo(nullptr);
    store->setOpenId(std::nullopt);
}

}  // namespace pellix
