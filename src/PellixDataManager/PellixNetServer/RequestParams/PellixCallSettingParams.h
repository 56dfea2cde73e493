// Parameter records of the call settings: call transfer and do-not-disturb.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixParamRoute.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"

namespace pellix {

class PellixCallTransferParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixCallTransferParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/calltransfer/number")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

class PellixSetCallTransferParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixSetCallTransferParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/calltransfer/number_set")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, mobile, setMobile)
    PELLIX_PROPERTY(PellixText, nation_code, setNation_code)
};

// Always complete: the list needs nothing but the common parameters.
class PellixCallTransferMobilesParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixCallTransferMobilesParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/calltransfer/number_list")

public:
    bool isParamsComplete() const override { return true; }
};

class PellixGetCallDisturb : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixGetCallDisturb, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/call/disturb_info")
};

// `app_status` travels as "disturb_status".
class PellixSetCallRoomDisturb : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixSetCallRoomDisturb, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/call/room_disturb")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, app_status, setApp_status)
    PELLIX_PROPERTY(PellixText, call_status, setCall_status)
};

class PellixSetCallDisturb : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixSetCallDisturb, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/call/onekey_disturb")
    PELLIX_PROPERTY(PellixText, disturb_status, setDisturb_status)
    PELLIX_PROPERTY(PellixText, call_status, setCall_status)
};

}  // namespace pellix
