// Parameter records of the account and device operations: token, user
// registration and user record, logout, push binding, storage credentials,
// the user's communities and rooms, the owner's mobile number.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixParamRoute.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"

namespace pellix {

class PellixTokenParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixTokenParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdk/v2/token")
    PELLIX_PROPERTY(PellixText, appid, setAppid)
    PELLIX_PROPERTY(PellixText, secret, setSecret)
    PELLIX_PROPERTY(PellixText, grant_type, setGrant_type)
    PELLIX_PROPERTY(PellixText, package_name, setPackage_name)
};

class PellixRegisterParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixRegisterParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/user/register")
    PELLIX_PROPERTY(PellixText, nation_code, setNation_code)
    PELLIX_PROPERTY(PellixText, user_name, setUser_name)
    PELLIX_PROPERTY(PellixText, mobile_no, setMobile_no)
    PELLIX_PROPERTY(PellixText, card_no, setCard_no)
    PELLIX_PROPERTY(PellixText, sdk_app_id, setSdk_app_id)
};

// Complete with an open id (even an empty one), or with both a nation code
// and a mobile number (of any length).
class PellixInitUserInfoParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixInitUserInfoParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v2/user/init_user_info")
    PELLIX_PROPERTY(PellixText, openId, setOpenId)
    PELLIX_PROPERTY(PellixText, nationCode, setNationCode)
    PELLIX_PROPERTY(PellixText, mobile, setMobile)

public:
    bool isParamsComplete() const override { return fieldsSet({"openId"}) || fieldsSet({"nationCode", "mobile"}); }
};

class PellixUserQuitParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixUserQuitParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/user/user_quit")
};

class PellixBindPushTokenParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixBindPushTokenParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/device/push_binding")
    PELLIX_PROPERTY(PellixText, device_token, setDevice_token)
};

class PellixGetHalvane : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixGetHalvane, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdk/v1/halvane_tokens")
};

class PellixMyCommunityParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixMyCommunityParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/user/static")
};

class PellixGetRoomParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixGetRoomParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v2/estate/room")
};

class PellixProprietorMobileParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixProprietorMobileParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/user/owner_mobile")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

}  // namespace pellix
