#include "PellixDataManager/PellixDataManagerPrivate.h"

#include "CommonMethod/PellixCommonTypes.h"
#include "PellixDataManager/PellixNetServer/PellixNetServices.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixAccountParams.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixLegacyParams.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/Clock.h"

namespace pellix {

std::optional<std::string> PellixDataManagerPrivate::decryptSignKey(const std::string& signKey) {
    // An empty key is still a key: requests must append it, not the nil
    // text, or the platform refuses every signature without saying why.
    return PellixCommonTypes::AES128DecryptWithString(signKey, kSignKeyAESKey, kSignKeyAESIV);
}

void PellixDataManagerPrivate::refreshhAccessTokenWithAppId(const PellixText& appId, const PellixText& secretKey,
                                                            const PellixText& packageName,
                                                            BoolCompletion completion) {
    auto param = std::make_shared<PellixTokenParam>();
    param->setAppid(appId);
    param->setSecret(secretKey);
    param->setPackage_name(packageName);
    PellixNetServices::getPellixSDKData(
        param, PellixRecordClass::of<PellixToken>(),
        [appId, secretKey, completion](const std::shared_ptr<PellixBaseResponse>& response) {
            auto records = response->bodyRecords<PellixToken>();
            if (records.empty()) {
                // No token came back: storing nothing and saying yes would
                // leave every later request unsigned.
                if (completion) completion(false, PellixError::errorWithCode(500, PellixError::tableMessage(500)));
                return;
            }
            auto token = records.front();
            token->setUpdateDate(platform::Clock::now());
            token->setKey(PellixProxyInfo::tokenKey(appId, secretKey, PellixGlobleConfig::sharedInstance()->mode()));
            token->setSign(token->sign_key() ? decryptSignKey(*token->sign_key()) : std::nullopt);
            PellixProxyInfo::sharedInstance()->saveToken(token, appId, secretKey);
            if (completion) completion(true, nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(false, error);
        });
}

void PellixDataManagerPrivate::getHalvaneTokenCompletion(HalvaneCompletion completion) {
    PellixNetServices::getPellixSDKData(
        std::make_shared<PellixGetHalvane>(), PellixRecordClass::of<PXHalvaneInfoClassModel>(),
        [completion](const std::shared_ptr<PellixBaseResponse>& response) {
            auto records = response->bodyRecords<PXHalvaneInfoClassModel>();
            if (!completion) return;
            if (records.empty()) {
                completion(nullptr, PellixError::errorWithCode(500, PellixError::tableMessage(500)));
                return;
            }
            completion(records.front(), nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(nullptr, error);
        });
}

void PellixDataManagerPrivate::makeCall(const PellixText& deviceGuid, const PellixText& fromRoomId,
                                        const PellixText& toRoomId, const PellixText& toRoomNo,
                                        const PellixText& callType, CallCompletion completion) {
    auto param = std::make_shared<PellixCallParam>();
    if (auto token = PellixProxyInfo::sharedInstance()->token()) param->setToken(token->token());
    param->setUser_id(std::nullopt);
    param->setDevice_guid(deviceGuid);
    param->setFrom_room_id(fromRoomId);
    param->setTo_room_id(toRoomId);
    param->setTo_room_no(toRoomNo);
    param->setCall_type(callType);
    PellixNetServices::getPellixSDKData(
        param, PellixRecordClass::of<PellixCall>(),
        [completion](const std::shared_ptr<PellixBaseResponse>& response) {
            auto records = response->bodyRecords<PellixCall>();
            if (completion) completion(records.empty() ? nullptr : records.front(), nullptr);
        },
        [completion](const PellixErrorPtr& error) {
            if (completion) completion(nullptr, error);
        });
}

}  // namespace pellix
