#include "PellixDataManager/PellixNetServer/RequestParams/PellixLegacyParams.h"

namespace pellix {

namespace {

constexpr const char* kDefaultDeviceType = "3";

void defaultDeviceType(platform::Dictionary& params) {
    if (!params.find("device_type")) params.set("device_type", kDefaultDeviceType);
}

}  // namespace

// isBinding only steers the path and "system_type"; it is not a parameter.
PELLIX_FIELDS(PellixPushParam,
              pellixField("token", &Self::token_),
              pellixField("device_guid", &Self::device_guid_),
              pellixField("user_id", &Self::user_id_),
              pellixField("device_token", &Self::device_token_))

std::optional<std::string> PellixPushParam::buildRequestPath() const {
    return std::string(isBinding_ ? "v1/push/binding" : "v1/push/unbinding");
}

platform::Dictionary PellixPushParam::buildRequestParam() const {
    platform::Dictionary params = PellixBaseRequestParam::buildRequestParam();
    if (isBinding_) params.set("system_type", "1");
    return params;
}

PELLIX_FIELDS(PellixUserInfoParam,
              pellixField("token", &Self::token_),
              pellixField("nation_code", &Self::nation_code_),
              pellixField("mobile_no", &Self::mobile_no_),
              pellixField("device_guid", &Self::device_guid_),
              pellixField("device_type", &Self::device_type_))

platform::Dictionary PellixUserInfoParam::buildRequestParam() const {
    platform::Dictionary params = PellixBaseRequestParam::buildRequestParam();
    defaultDeviceType(params);
    return params;
}

PELLIX_FIELDS(PellixDepartmentParam)

PELLIX_FIELDS(PellixBuildingParam, pellixField("department_id", &Self::department_id_))

PELLIX_FIELDS(PellixUnitParam, pellixField("building_id", &Self::building_id_))

PELLIX_FIELDS(PellixRoomParam, pellixField("unit_id", &Self::unit_id_))

PELLIX_FIELDS(PellixDisturbParam,
              pellixField("user_id", &Self::user_id_),
              pellixField("device_guid", &Self::device_guid_),
              pellixField("call_status", &Self::call_status_),
              pellixField("forwarding_status", &Self::forwarding_status_))

PELLIX_FIELDS(PellixUserRoomsParam,
              pellixField("user_id", &Self::user_id_),
              pellixField("device_guid", &Self::device_guid_),
              pellixField("device_type", &Self::device_type_))

platform::Dictionary PellixUserRoomsParam::buildRequestParam() const {
    platform::Dictionary params = PellixRootParam::buildRequestParam();
    defaultDeviceType(params);
    return params;
}

PELLIX_FIELDS(PellixRoomDisturbParam,
              pellixField("user_id", &Self::user_id_),
              pellixField("device_guid", &Self::device_guid_),
              pellixField("room_id", &Self::room_id_),
              pellixField("call_status", &Self::call_status_),
              pellixField("forwarding_status", &Self::forwarding_status_))

PELLIX_FIELDS(PellixCallCallParam,
              pellixField("caller_type", &Self::caller_type_),
              pellixField("caller_device_id", &Self::caller_device_id_),
              pellixField("cmd", &Self::cmd_),
              pellixField("room_id", &Self::room_id_))

PELLIX_FIELDS(PellixCallParam,
              pellixField("user_id", &Self::user_id_),
              pellixField("device_guid", &Self::device_guid_),
              pellixField("from_room_id", &Self::from_room_id_),
              pellixField("to_room_id", &Self::to_room_id_),
              pellixField("to_room_no", &Self::to_room_no_),
              pellixField("call_type", &Self::call_type_))

PELLIX_FIELDS(PellixOpenDoorParam,
              pellixField("user_id", &Self::user_id_),
              pellixField("device_guid", &Self::device_guid_),
              pellixField("door_id", &Self::door_id_),
              pellixField("room_id", &Self::room_id_),
              pellixField("operate_type", &Self::operate_type_))

PELLIX_FIELDS(PellixApplyPwdParam,
              pellixField("user_id", &Self::user_id_),
              pellixField("device_guid", &Self::device_guid_),
              pellixField("room_id", &Self::room_id_))

PELLIX_FIELDS(PellixOperateRecordParam,
              pellixField("user_id", &Self::user_id_),
              pellixField("room_id", &Self::room_id_),
              pellixField("start_page", &Self::start_page_),
              pellixField("page_no", &Self::page_no_),
              pellixField("open_type", &Self::open_type_))

PELLIX_FIELDS(PellixCallPhoto,
              pellixField("user_id", &Self::user_id_),
              pellixField("fromSipNo", &Self::fromSipNo_).wire("door_sip_no"))

}  // namespace pellix
