// Response records of visitor authorisations and property messages, and the
// two records that arrive over MQTT: property notices and authorisation
// changes (made as envelopes of their own class, so the message's "data"
// object fills the record itself).
#pragma once

#include <cstdint>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

class PellixAuthorizeInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixAuthorizeInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, auth_user_id, setAuth_user_id)
    PELLIX_PROPERTY(PellixText, auth_user_mobile, setAuth_user_mobile)
    PELLIX_PROPERTY(PellixText, auth_user_name, setAuth_user_name)
    PELLIX_PROPERTY(PellixText, begin_time, setBegin_time)
    PELLIX_PROPERTY(PellixText, end_time, setEnd_time)
    PELLIX_PROPERTY(PellixText, is_no_limit, setIs_no_limit)
    PELLIX_PROPERTY(PellixText, auth_type, setAuth_type)
    PELLIX_PROPERTY(PellixText, auth_type_info, setAuth_type_info)
    PELLIX_PROPERTY(PellixText, nation_code, setNation_code)
};

// "list" lands in `authList`.
class PellixAuthorizeListInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixAuthorizeListInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, upper_limit, setUpper_limit)
    PELLIX_PROPERTY(PellixText, auth_list_number, setAuth_list_number)
    PELLIX_PROPERTY(PellixRecordList<PellixAuthorizeInfo>, authList, setAuthList)
};

class PellixPropertyMessage : public PellixBaseResponse {
    PELLIX_RECORD(PellixPropertyMessage, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, msg, setMsg)
    PELLIX_PROPERTY(PellixText, create_time, setCreate_time)
};

// `photos_name` holds "photos_name" as sent.
class PellixPropertyPublishInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixPropertyPublishInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, content, setContent)
    PELLIX_PROPERTY(platform::Value, photos_name, setPhotos_name)
    PELLIX_PROPERTY(PellixText, tag_type, setTag_type)
    PELLIX_PROPERTY(PellixText, tag_type_info, setTag_type_info)
    PELLIX_PROPERTY(PellixText, user_id, setUser_id)
    PELLIX_PROPERTY(PellixText, status, setStatus)
    PELLIX_PROPERTY(PellixText, create_time, setCreate_time)
    PELLIX_PROPERTY(PellixRecordList<PellixPropertyMessage>, reply_list, setReply_list)
};

// A property notice pushed over MQTT. "type" names what the notice
// addresses ("building_id" 1, "unit_id" 2, "room_id" 3, "user_id" 4, anything
// else -1; 0 until a "type" is seen) and "object_id" its id.
class PellixPropertyNotice : public PellixBaseResponse {
    PELLIX_RECORD(PellixPropertyNotice, PellixBaseResponse)
    PELLIX_PROPERTY(std::int64_t, noticeType, setNoticeType)
    PELLIX_PROPERTY(PellixText, noticeType_id, setNoticeType_id)
    PELLIX_PROPERTY(PellixText, adduser, setAdduser)
    PELLIX_PROPERTY(PellixText, content, setContent)
    PELLIX_PROPERTY(PellixText, notice_id, setNotice_id)
    PELLIX_PROPERTY(PellixText, time, setTime)
    PELLIX_PROPERTY(PellixText, title, setTitle)
    PELLIX_PROPERTY(PellixText, urgent, setUrgent)

public:
    static constexpr std::int64_t kBuilding = 1;
    static constexpr std::int64_t kUnit = 2;
    static constexpr std::int64_t kRoom = 3;
    static constexpr std::int64_t kUser = 4;
    static constexpr std::int64_t kUnknown = -1;
};

// An authorisation change pushed over MQTT. "type" in any letter case:
// "add" 1, "del" 2, "update" 3; anything else leaves `type` as it was.
class PellixAuthorizationChange : public PellixBaseResponse {
    PELLIX_RECORD(PellixAuthorizationChange, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, title, setTitle)
    PELLIX_PROPERTY(PellixText, content, setContent)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(std::int64_t, type, setType)

public:
    static constexpr std::int64_t kAdd = 1;
    static constexpr std::int64_t kDel = 2;
    static constexpr std::int64_t kUpdate = 3;
};

}  // namespace pellix
