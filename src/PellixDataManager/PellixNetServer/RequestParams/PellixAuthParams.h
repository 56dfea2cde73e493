// Parameter records of visitor authorisations and property messages.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixParamRoute.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"

namespace pellix {

class PellixAddAuthParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixAddAuthParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/auth/add")
    PELLIX_PROPERTY(PellixText, nation_code, setNation_code)
    PELLIX_PROPERTY(PellixText, name, setName)
    PELLIX_PROPERTY(PellixText, auth_mobile, setAuth_mobile)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, auth_type, setAuth_type)
    PELLIX_PROPERTY(PellixText, begin_time, setBegin_time)
    PELLIX_PROPERTY(PellixText, end_time, setEnd_time)
};

class PellixModifyAuthParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixModifyAuthParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/auth/modify")
    PELLIX_PROPERTY(PellixText, auth_user_id, setAuth_user_id)
    PELLIX_PROPERTY(PellixText, name, setName)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, auth_type, setAuth_type)
    PELLIX_PROPERTY(PellixText, begin_time, setBegin_time)
    PELLIX_PROPERTY(PellixText, end_time, setEnd_time)
};

class PellixDeleteAuthParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixDeleteAuthParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/auth/delete")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, auth_user_id, setAuth_user_id)
};

class PellixStopAuthParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixStopAuthParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/auth/stop")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

class PellixGetAuthParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixGetAuthParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/auth/lists")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, page_no, setPage_no)
    PELLIX_PROPERTY(PellixText, start_page, setStart_page)
};

class PellixPropertyPublishParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixPropertyPublishParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/property/publish_message")
    PELLIX_PROPERTY(PellixText, content, setContent)
    PELLIX_PROPERTY(PellixText, images_name, setImages_name)
    PELLIX_PROPERTY(PellixText, tag_type, setTag_type)
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, dep_id, setDep_id)
};

class PellixGetPropertyPublishParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixGetPropertyPublishParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/property/message_list")
    PELLIX_PROPERTY(PellixText, page_no, setPage_no)
    PELLIX_PROPERTY(PellixText, start_page, setStart_page)
    PELLIX_PROPERTY(PellixText, dep_id, setDep_id)
};

}  // namespace pellix
