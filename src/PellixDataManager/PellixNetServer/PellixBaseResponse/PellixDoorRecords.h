// Response records of door passwords. Records with a `msg` take their own
// "message" there, so the envelope's `message` stays untouched.
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

// One door's outcome; "success" is the value's Boolean reading.
class PellixDoorPwdStatue : public PellixBaseResponse {
    PELLIX_RECORD(PellixDoorPwdStatue, PellixBaseResponse)
    PELLIX_PROPERTY(bool, success, setSuccess)
    PELLIX_PROPERTY(PellixText, msg, setMsg)
    PELLIX_PROPERTY(PellixText, door_id, setDoor_id)
    PELLIX_PROPERTY(PellixText, door_guid, setDoor_guid)
};

class PellixDoorPassword : public PellixBaseResponse {
    PELLIX_RECORD(PellixDoorPassword, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, password, setPassword)
    PELLIX_PROPERTY(PellixText, expired_time, setExpired_time)
    PELLIX_PROPERTY(PellixRecordList<PellixDoorPwdStatue>, list, setList)
};

class PellixOpenDoorPwd : public PellixBaseResponse {
    PELLIX_RECORD(PellixOpenDoorPwd, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, password_id, setPassword_id)
    PELLIX_PROPERTY(PellixText, password, setPassword)
    PELLIX_PROPERTY(PellixText, status, setStatus)
    PELLIX_PROPERTY(PellixText, msg, setMsg)
    PELLIX_PROPERTY(PellixText, apply_time, setApply_time)
};

class PellixOpenDoorDoorStatus : public PellixBaseResponse {
    PELLIX_RECORD(PellixOpenDoorDoorStatus, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, door_guid, setDoor_guid)
    PELLIX_PROPERTY(PellixText, door_name, setDoor_name)
    PELLIX_PROPERTY(PellixText, status, setStatus)
    PELLIX_PROPERTY(PellixText, msg, setMsg)
    PELLIX_PROPERTY(PellixText, use_time, setUse_time)
};

// "list" lands in `doorsStatus`.
class PellixOpenDoorPasswordDetail : public PellixBaseResponse {
    PELLIX_RECORD(PellixOpenDoorPasswordDetail, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, password, setPassword)
    PELLIX_PROPERTY(PellixText, apply_time, setApply_time)
    PELLIX_PROPERTY(PellixRecordList<PellixOpenDoorDoorStatus>, doorsStatus, setDoorsStatus)
};

}  // namespace pellix
