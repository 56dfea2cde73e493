// PellixProxyInfo: the session store.
//
// One object per process holding who the SDK is registered as (app id,
// secret key, package name), who is logged in (open id, user record), the
// access token, the push device token and the device UUID. The token record,
// the user record and the device UUID survive restarts as keyed archives in
// the save directory (PellixFileManager); a file that cannot be read back
// (missing, truncated, damaged) counts as no record.
//
// Thread safety: every field is guarded by the store's lock, so the request
// pipeline may read from any thread. Completion blocks are called on the
// caller's thread, outside the lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixInitUserInfo.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixToken.h"

namespace pellix {

class PellixProxyInfo {
public:
    // Tokens with this many seconds left or fewer are not reported as cached.
    static constexpr double kTokenMinimumLifetime = 15;

    static const std::shared_ptr<PellixProxyInfo>& sharedInstance();

    std::shared_ptr<PellixToken> token() const;
    // Stores the record and archives it to the token file (verbose log
    // "用户访问令牌 存档 1/0"); nullptr deletes the token file.
    void setToken(std::shared_ptr<PellixToken> token);

    std::shared_ptr<PellixInitUserInfo> userInfo() const;
    // Stores the record and archives it to the user file ("用户信息 存档 1/0");
    // nullptr deletes the user file.
    void setUserInfo(std::shared_ptr<PellixInitUserInfo> userInfo);

    // The installation's identity: read from the device file, or created once
    // (a random UUID, upper-case, 36 characters) and archived. The device
    // file is never deleted by the SDK.
    std::string deviceUUID();

    PellixText pushToken() const;
    void setPushToken(PellixText pushToken);
    PellixText openId() const;
    void setOpenId(PellixText openId);
    PellixText appId() const;
    void setAppId(PellixText appId);
    PellixText secretKey() const;
    void setSecretKey(PellixText secretKey);
    // Always the main bundle's identifier, whatever was set.
    PellixText package_name() const;
    void setPackage_name(PellixText packageName);

    // Stores the token through setToken() (only when non-null), then the app
    // id and secret key.
    void saveToken(std::shared_ptr<PellixToken> token, PellixText appId, PellixText secret);

    // Replays the archived token. It matches when it has an update date and
    // its key is "<appId>:<secretKey>:<mode>" for the current environment.
    // No match: the session is cleared, the token and user files deleted and
    // the block called with nullptr. Match: the record is held (not archived
    // again), the credentials stored, and the block gets the record when more
    // than 15 s of its lifetime remain, else nullptr.
    void getAccessTokenWithAppId(const PellixText& appId, const PellixText& secretKey,
                                 const std::function<void(std::shared_ptr<PellixToken>)>& completion);
    // Replays the archived user record. Not called at all unless the record's
    // key is "mode:<mode>" for the current environment; then, when it has
    // both "sip_no" and "mqtt_host", it is stored (archived again), its open
    // id held and handed to the block; otherwise the block gets nullptr.
    void getUserInfoWithAppId(const PellixText& appId, const PellixText& secretKey,
                              const std::function<void(std::shared_ptr<PellixInitUserInfo>)>& completion);

    // True when the held token record carries a non-empty token.
    static bool isSDKRegister();
    // Forgets the user record (deleting its file) and the open id; the token,
    // its file, the device UUID, push token and credentials stay.
    static void clearAllData();

    // "<appId>:<secretKey>:<mode>" and "mode:<mode>", as the archives carry them.
    static std::string tokenKey(const PellixText& appId, const PellixText& secretKey, std::uint64_t mode);
    static std::string userInfoKey(std::uint64_t mode);

    PellixProxyInfo(const PellixProxyInfo&) = delete;
    PellixProxyInfo& operator=(const PellixProxyInfo&) = delete;

private:
    PellixProxyInfo() = default;

    mutable std::mutex mutex_;
    std::shared_ptr<PellixToken> token_;
    std::shared_ptr<PellixInitUserInfo> userInfo_;
    std::string deviceUUID_;
    PellixText pushToken_;
    PellixText openId_;
    PellixText appId_;
    PellixText secretKey_;
    PellixText packageName_;
};

}  // namespace pellix
