// Parameter records of the estate look-ups (department, city, building and
// unit, room) and of self-authentication. Page fields are number objects,
// sent as numbers.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixParamRoute.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"

namespace pellix {

class PellixEstateDepartmentSearchParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixEstateDepartmentSearchParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/estate/department_search")
    PELLIX_PROPERTY(PellixText, keyword, setKeyword)
    PELLIX_PROPERTY(platform::Value, start_page, setStart_page)
    PELLIX_PROPERTY(platform::Value, page_no, setPage_no)
};

// Declares no required field, so only a token makes it complete (no
// operation asks).
class PellixEstateCityParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixEstateCityParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/estate/city")
    PELLIX_PROPERTY(PellixText, keyword, setKeyword)
    PELLIX_PROPERTY(platform::Value, start_page, setStart_page)
    PELLIX_PROPERTY(platform::Value, page_no, setPage_no)
};

class PellixEstateDepartmentListParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixEstateDepartmentListParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/estate/department_list")
    PELLIX_PROPERTY(PellixText, city_id, setCity_id)
    PELLIX_PROPERTY(PellixText, keyword, setKeyword)
    PELLIX_PROPERTY(platform::Value, start_page, setStart_page)
    PELLIX_PROPERTY(platform::Value, page_no, setPage_no)
};

class PellixEstateBuildingUnitParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixEstateBuildingUnitParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/estate/building_unit")
    PELLIX_PROPERTY(PellixText, dep_id, setDep_id)
    PELLIX_PROPERTY(PellixText, keyword, setKeyword)
    PELLIX_PROPERTY(platform::Value, start_page, setStart_page)
    PELLIX_PROPERTY(platform::Value, page_no, setPage_no)
};

class PellixEstateRoomNumberParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixEstateRoomNumberParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/estate/room_number")
    PELLIX_PROPERTY(PellixText, unit_id, setUnit_id)
    PELLIX_PROPERTY(PellixText, keyword, setKeyword)
    PELLIX_PROPERTY(platform::Value, start_page, setStart_page)
    PELLIX_PROPERTY(platform::Value, page_no, setPage_no)
};

// Always complete.
class PellixSelfAuthRecordParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixSelfAuthRecordParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/selfauth/record")
    PELLIX_PROPERTY(platform::Value, start_page, setStart_page)
    PELLIX_PROPERTY(platform::Value, page_no, setPage_no)

public:
    bool isParamsComplete() const override { return true; }
};

// Sent with GET: all seventeen fields travel in the query string.
class PellixSelfAuthApplyParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixSelfAuthApplyParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/selfauth/apply")
    PELLIX_PROPERTY(PellixText, room_number_id, setRoom_number_id)
    PELLIX_PROPERTY(PellixText, city_id, setCity_id)
    PELLIX_PROPERTY(PellixText, dep_id, setDep_id)
    PELLIX_PROPERTY(PellixText, real_name, setReal_name)
    PELLIX_PROPERTY(PellixText, mobile_no, setMobile_no)
    PELLIX_PROPERTY(PellixText, self_help_status, setSelf_help_status)
    PELLIX_PROPERTY(PellixText, auth_type, setAuth_type)
    PELLIX_PROPERTY(PellixText, card_img1, setCard_img1)
    PELLIX_PROPERTY(PellixText, card_img2, setCard_img2)
    PELLIX_PROPERTY(PellixText, card_img3, setCard_img3)
    PELLIX_PROPERTY(PellixText, card_no, setCard_no)
    PELLIX_PROPERTY(PellixText, card_name, setCard_name)
    PELLIX_PROPERTY(PellixText, nation, setNation)
    PELLIX_PROPERTY(PellixText, address, setAddress)
    PELLIX_PROPERTY(PellixText, government, setGovernment)
    PELLIX_PROPERTY(PellixText, validity, setValidity)
    PELLIX_PROPERTY(PellixText, nation_code, setNation_code)
};

}  // namespace pellix
