// Response records of the room-to-room call, do-not-disturb settings, entity
// cards, the owner's mobile numbers and the call-transfer number list.
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

// The family call's answer. `callerList` and `toRoomId` hold "sip_list" and
// "to_room_id" exactly as sent; the client facade reads `transactionId` and
// `toRoomId` to withdraw the call.
class PellixCall : public PellixBaseResponse {
    PELLIX_RECORD(PellixCall, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, expiredSeconds, setExpiredSeconds)
    PELLIX_PROPERTY(PellixText, transactionId, setTransactionId)
    PELLIX_PROPERTY(platform::Value, callerList, setCallerList)
    PELLIX_PROPERTY(platform::Value, toRoomId, setToRoomId)
};

class PellixRoomCallDisturbInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixRoomCallDisturbInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, app_status, setApp_status)
    PELLIX_PROPERTY(PellixText, call_status, setCall_status)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

class PellixCallDisturbInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixCallDisturbInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, app_status, setApp_status)
    PELLIX_PROPERTY(PellixText, call_status, setCall_status)
    PELLIX_PROPERTY(PellixRecordList<PellixRoomCallDisturbInfo>, room_disturb_list, setRoom_disturb_list)
};

// "disturb_status" lands in `app_status` ("app_status" too, by its name).
class PellixRoomDisturbSettingResult : public PellixBaseResponse {
    PELLIX_RECORD(PellixRoomDisturbSettingResult, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, app_status, setApp_status)
    PELLIX_PROPERTY(PellixText, call_status, setCall_status)
};

class PellixDisturbSettingResult : public PellixBaseResponse {
    PELLIX_RECORD(PellixDisturbSettingResult, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, app_status, setApp_status)
    PELLIX_PROPERTY(PellixText, call_status, setCall_status)
};

class PellixEntityCardInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixEntityCardInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, dep_name, setDep_name)
    PELLIX_PROPERTY(PellixText, owner_name, setOwner_name)
    PELLIX_PROPERTY(PellixText, start_time, setStart_time)
    PELLIX_PROPERTY(PellixText, end_time, setEnd_time)
    PELLIX_PROPERTY(PellixText, status_code, setStatus_code)
    PELLIX_PROPERTY(PellixText, status_info, setStatus_info)
    PELLIX_PROPERTY(PellixText, card_number, setCard_number)
    PELLIX_PROPERTY(PellixText, card_type, setCard_type)
    PELLIX_PROPERTY(PellixText, card_type_info, setCard_type_info)
    PELLIX_PROPERTY(PellixText, remark, setRemark)
    PELLIX_PROPERTY(PellixText, memo, setMemo)
};

class PellixOwnMobile : public PellixBaseResponse {
    PELLIX_RECORD(PellixOwnMobile, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, mobile_no, setMobile_no)
};

// `numbers`: the transfer numbers joined by ",".
class PellixCallTranferMobile : public PellixBaseResponse {
    PELLIX_RECORD(PellixCallTranferMobile, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, numbers, setNumbers)
};

}  // namespace pellix
