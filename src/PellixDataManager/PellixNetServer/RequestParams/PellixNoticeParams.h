// Parameter records of community notices and visitor history.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixParamRoute.h"

namespace pellix {

class PellixGetCommunityNoticeListParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixGetCommunityNoticeListParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/message/notice")
    PELLIX_PROPERTY(PellixText, start_page, setStart_page)
    PELLIX_PROPERTY(PellixText, page_no, setPage_no)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

class PellixGetNoticeDetailParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixGetNoticeDetailParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/message/notice_detail")
    PELLIX_PROPERTY(PellixText, notice_id, setNotice_id)
};

class PellixGetVistorHistoryParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixGetVistorHistoryParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/visitor/user_visitors")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, open_type, setOpen_type)
    PELLIX_PROPERTY(PellixText, start_page, setStart_page)
    PELLIX_PROPERTY(PellixText, page_no, setPage_no)
};

// The same query for the whole room.
class PellixGetRoomVistorHistoryParam : public PellixGetVistorHistoryParam {
    PELLIX_PARAM_RECORD(PellixGetRoomVistorHistoryParam, PellixGetVistorHistoryParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/visitor/room_visitors")
};

}  // namespace pellix
