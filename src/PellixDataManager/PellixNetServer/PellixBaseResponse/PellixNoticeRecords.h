// Response records of community notices and visitor history.
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

class PellixCommunityNotice : public PellixBaseResponse {
    PELLIX_RECORD(PellixCommunityNotice, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, notice_id, setNotice_id)
    PELLIX_PROPERTY(PellixText, title, setTitle)
    PELLIX_PROPERTY(PellixText, content, setContent)
    PELLIX_PROPERTY(PellixText, content_remark, setContent_remark)
    PELLIX_PROPERTY(PellixText, publisher, setPublisher)
    PELLIX_PROPERTY(PellixText, is_urgent, setIs_urgent)
    PELLIX_PROPERTY(PellixText, is_top, setIs_top)
    PELLIX_PROPERTY(PellixText, add_time, setAdd_time)
    PELLIX_PROPERTY(PellixText, is_system, setIs_system)
    PELLIX_PROPERTY(PellixText, dep_name, setDep_name)
};

// "id" lands in `recordId` and "description" in `des`.
class PellixVistorHistoryInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixVistorHistoryInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, recordId, setRecordId)
    PELLIX_PROPERTY(PellixText, open_type, setOpen_type)
    PELLIX_PROPERTY(PellixText, open_type_info, setOpen_type_info)
    PELLIX_PROPERTY(PellixText, des, setDes)
    PELLIX_PROPERTY(PellixText, thumbnail_url, setThumbnail_url)
    PELLIX_PROPERTY(PellixText, img_url, setImg_url)
    PELLIX_PROPERTY(PellixText, is_connect, setIs_connect)
    PELLIX_PROPERTY(PellixText, timestamp, setTimestamp)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, door_guid, setDoor_guid)
    PELLIX_PROPERTY(PellixText, date, setDate)
    PELLIX_PROPERTY(PellixText, time, setTime)
    PELLIX_PROPERTY(PellixText, user_name, setUser_name)
    PELLIX_PROPERTY(PellixText, door_name, setDoor_name)
    PELLIX_PROPERTY(PellixText, owner_type, setOwner_type)
};

}  // namespace pellix
