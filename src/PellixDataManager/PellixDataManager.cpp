#include "PellixDataManager/PellixDataManager.h"

#include <algorithm>

#include "PellixDataManager/PellixDataManagerHooks.h"
#include "PellixDataManager/PellixDataManagerPrivate.h"
#include "PellixDataManager/PellixNetServer/PellixNetServices.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixAccountParams.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixLog/PellixLog.h"
#include "PellixProxyInfo/PellixFileManager.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/NotificationCenter.h"

namespace pellix {

namespace {

PellixErrorPtr paramsMissing() {
    return PellixError::errorWithCode(PellixError::kParamsMissingCode, PellixError::kParamsMissingMessage);
}

void report(const PellixDataManager::Completion& completion, bool ok, const PellixErrorPtr& error) {
    if (completion) completion(ok, error);
}

// Binds a push token and writes the result to the debug log.
void bindPushTokenLogged(const PellixText& token, bool logFailure) {
    PellixDataManager::bindPushTokenWithDeviceToken(token, [logFailure](bool ok, const PellixErrorPtr&) {
        if (ok) {
            PellixLog::debug("push token上传成功");
        } else if (logFailure) {
            PellixLog::debug("push token上传失败");
        }
    });
}

std::string hexLower(const platform::Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

}  // namespace

// Registration once the facade is up (it is started from above, see
// PellixDataManager::registSDKWithAppId).
void PellixDataManagerPrivate::registSDKWithStartedClient(const PellixText& appId, const PellixText& secretKey,
                                                          const std::shared_ptr<PellixOptions>& givenOptions,
                                                          BoolCompletion completion) {
    std::shared_ptr<PellixOptions> options = givenOptions;
    if (!options) {
        options = std::make_shared<PellixOptions>();
        options->setMode(2);
        options->setRequestTimeout(0);
        options->setIsShowLog(false);
    }
    const auto config = PellixGlobleConfig::sharedInstance();
    config->setRequestTimeout(options->requestTimeout());
    config->setPellixSDKMode(options->mode());
    if (options->isShowLog()) {
        PellixLog::enableLog();
    } else {
        PellixLog::disableLog();
    }

    const auto store = PellixProxyInfo::sharedInstance();
    bool answered = false;
    store->getAccessTokenWithAppId(appId, secretKey, [&](std::shared_ptr<PellixToken> token) {
        if (!token) return;
        answered = true;
        report(completion, true, nullptr);
    });

    store->getUserInfoWithAppId(appId, secretKey, [config](std::shared_ptr<PellixInitUserInfo> user) {
        if (!user) return;
        if (user->mqtt_host() && !user->mqtt_host()->empty()) {
            config->setMqttServer(*user->mqtt_host());
            config->setMqttPort(static_cast<std::uint32_t>(
                platform::Value(user->mqtt_port().value_or("0")).intValue()));
        }
        platform::NotificationCenter::defaultCenter().post(kPellixSDKClientInitUserInfoNotification, user);
        PellixDataManagerHooks::current().configureImageTool();
    });

    auto param = std::make_shared<PellixTokenParam>();
    param->setAppid(appId);
    param->setSecret(secretKey);
    if (!param->isParamsComplete()) {
        if (!answered) report(completion, false, paramsMissing());
        return;
    }

    PellixDataManagerPrivate::refreshhAccessTokenWithAppId(
        appId, secretKey, store->package_name(),
        [answered, completion](bool ok, const PellixErrorPtr& error) {
            if (!answered) report(completion, ok, ok ? nullptr : error);
        });
}

void PellixDataManager::loginSDKWithNationCode(const PellixText& nationCode, const PellixText& mobileNo,
                                               const PellixText& openId, Completion completion) {
    auto param = std::make_shared<PellixInitUserInfoParam>();
    param->setOpenId(openId);
    param->setMobile(mobileNo);
    param->setNationCode(nationCode ? nationCode : PellixText("86"));
    if (!param->isParamsComplete()) {
        report(completion, false, paramsMissing());
        return;
    }
    const auto store = PellixProxyInfo::sharedInstance();
    if (openId && !openId->empty()) store->setOpenId(openId);

    PellixNetServices::getPellixSDKData(
        param, PellixRecordClass::of<PellixInitUserInfo>(),
        [completion](const std::shared_ptr<PellixBaseResponse>& response) {
            auto records = response->bodyRecords<PellixInitUserInfo>();
            if (records.empty()) {
                // Without a user record there is no one logged in.
                report(completion, false, PellixError::errorWithCode(500, PellixError::tableMessage(500)));
                return;
            }
            auto user = records.front();
            const auto store = PellixProxyInfo::sharedInstance();
            platform::NotificationCenter::defaultCenter().post(kPellixSDKClientInitUserInfoNotification, user);
            store->setOpenId(user->open_id());
            user->setKey(PellixProxyInfo::userInfoKey(PellixGlobleConfig::sharedInstance()->mode()));
            store->setUserInfo(user);
            if (auto push = store->pushToken(); push && !push->empty()) bindPushTokenLogged(push, false);
            PellixDataManagerHooks::current().configureImageTool();
            report(completion, true, nullptr);
        },
        [completion](const PellixErrorPtr& error) { report(completion, false, error); });
}

void PellixDataManager::loginoutWithCompletion(Completion completion) {
    auto param = std::make_shared<PellixUserQuitParam>();
    PellixNetServices::getPellixSDKData(
        param, nullptr,
        [completion](const std::shared_ptr<PellixBaseResponse>&) {
            platform::NotificationCenter::defaultCenter().post(kPellixSDKClientLogoutNotification, nullptr);
            PellixProxyInfo::clearAllData();
            PellixFileManager::shareInstance()->clearUserInfoFile();
            report(completion, true, nullptr);
        },
        [completion](const PellixErrorPtr& error) { report(completion, false, error); });
}

void PellixDataManager::bindPushTokenWithDeviceToken(const PellixText& deviceToken, Completion completion) {
    auto param = std::make_shared<PellixBindPushTokenParam>();
    param->setDevice_token(deviceToken);
    if (!param->isParamsComplete()) {
        report(completion, false, paramsMissing());
        return;
    }
    PellixNetServices::getPellixSDKData(
        param, nullptr, [completion](const std::shared_ptr<PellixBaseResponse>&) { report(completion, true, nullptr); },
        [completion](const PellixErrorPtr& error) { report(completion, false, error); });
}

void PellixDataManager::registerDeviceToken(const platform::Bytes& deviceToken) {
    // The token's description without "<", ">" and blanks: its bytes in hex.
    const std::string token = hexLower(deviceToken);
    if (PellixLog::isLogEnable()) PellixLog::debug("deviceTokenString：\n" + token + "\n");
    PellixProxyInfo::sharedInstance()->setPushToken(token);
    if (!token.empty()) bindPushTokenLogged(token, true);
}

}  // namespace pellix
