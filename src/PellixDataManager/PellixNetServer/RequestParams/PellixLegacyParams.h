// The older parameter records, whose paths are relative to the base URL.
// Of these the library sends only the family call's (PellixCallParam); the
// rest are kept for hosts that build requests of their own.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixParamRoute.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"

namespace pellix {

// Binding or unbinding a push token; the path follows `isBinding` each time
// it is asked, and binding adds "system_type" "1".
class PellixPushParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixPushParam, PellixBaseRequestParam)
    PELLIX_PROPERTY(bool, isBinding, setIsBinding)
    PELLIX_PROPERTY(PellixText, token, setToken)
    PELLIX_PROPERTY(PellixText, device_guid, setDevice_guid)
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, device_token, setDevice_token)

public:
    std::uint64_t buildRequestMethod() const override { return kMethodPOST; }
    std::optional<std::string> buildRequestPath() const override;
    platform::Dictionary buildRequestParam() const override;
};

// "device_type" is "3" unless set.
class PellixUserInfoParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixUserInfoParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "v1/user/info")
    PELLIX_PROPERTY(PellixText, token, setToken)
    PELLIX_PROPERTY(PellixText, nation_code, setNation_code)
    PELLIX_PROPERTY(PellixText, mobile_no, setMobile_no)
    PELLIX_PROPERTY(PellixText, device_guid, setDevice_guid)
    PELLIX_PROPERTY(PellixText, device_type, setDevice_type)

public:
    platform::Dictionary buildRequestParam() const override;
};

class PellixDepartmentParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixDepartmentParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "v1/all/department")
};

class PellixBuildingParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixBuildingParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "v1/building")
    PELLIX_PROPERTY(platform::Value, department_id, setDepartment_id)
};

class PellixUnitParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixUnitParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "v1/unit")
    PELLIX_PROPERTY(platform::Value, building_id, setBuilding_id)
};

class PellixRoomParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixRoomParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "v1/room")
    PELLIX_PROPERTY(platform::Value, unit_id, setUnit_id)
};

class PellixDisturbParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixDisturbParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "v1/user/disturb")
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, device_guid, setDevice_guid)
    PELLIX_PROPERTY(platform::Value, call_status, setCall_status)
    PELLIX_PROPERTY(platform::Value, forwarding_status, setForwarding_status)
};

// "device_type" is "3" unless set.
class PellixUserRoomsParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixUserRoomsParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "v1/user/rooms")
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, device_guid, setDevice_guid)
    PELLIX_PROPERTY(PellixText, device_type, setDevice_type)

public:
    platform::Dictionary buildRequestParam() const override;
};

class PellixRoomDisturbParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixRoomDisturbParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "v1/rooms/disturb")
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, device_guid, setDevice_guid)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(platform::Value, call_status, setCall_status)
    PELLIX_PROPERTY(platform::Value, forwarding_status, setForwarding_status)
};

class PellixCallCallParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixCallCallParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "pxs/community/v2/new_push/call")
    PELLIX_PROPERTY(PellixText, caller_type, setCaller_type)
    PELLIX_PROPERTY(PellixText, caller_device_id, setCaller_device_id)
    PELLIX_PROPERTY(PellixText, cmd, setCmd)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

// The family call: a room-to-room call placed over HTTPS.
class PellixCallParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixCallParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "v1/call")
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, device_guid, setDevice_guid)
    PELLIX_PROPERTY(PellixText, from_room_id, setFrom_room_id)
    PELLIX_PROPERTY(PellixText, to_room_id, setTo_room_id)
    PELLIX_PROPERTY(PellixText, to_room_no, setTo_room_no)
    PELLIX_PROPERTY(PellixText, call_type, setCall_type)
};

class PellixOpenDoorParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixOpenDoorParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "v1/doors/open")
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, device_guid, setDevice_guid)
    PELLIX_PROPERTY(PellixText, door_id, setDoor_id)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, operate_type, setOperate_type)
};

class PellixApplyPwdParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixApplyPwdParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "v1/doors/password")
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, device_guid, setDevice_guid)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

class PellixOperateRecordParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixOperateRecordParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "v1/visitor_log")
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(platform::Value, start_page, setStart_page)
    PELLIX_PROPERTY(platform::Value, page_no, setPage_no)
    PELLIX_PROPERTY(platform::Value, open_type, setOpen_type)
};

// The caller's photo: an image answer.
class PellixCallPhoto : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixCallPhoto, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "v1/caller/photo")
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, fromSipNo, setFromSipNo)

public:
    std::uint64_t buildResponseType() const override { return kResponseImage; }
};

}  // namespace pellix
