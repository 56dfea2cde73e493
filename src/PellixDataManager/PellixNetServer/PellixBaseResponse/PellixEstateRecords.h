// Response records of the estate look-ups used by self-service verification
// (department search, city, department, building and unit, room), the
// self-verification history, and the two sides of an identity card read by
// the OCR service.
#pragma once

#include <cstdint>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

class PellixEstateDepartmentSearch : public PellixBaseResponse {
    PELLIX_RECORD(PellixEstateDepartmentSearch, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, city_id, setCity_id)
    PELLIX_PROPERTY(PellixText, city_name, setCity_name)
    PELLIX_PROPERTY(PellixText, dep_id, setDep_id)
    PELLIX_PROPERTY(PellixText, dep_name, setDep_name)
    PELLIX_PROPERTY(PellixText, province_name, setProvince_name)
    PELLIX_PROPERTY(PellixText, district_name, setDistrict_name)
};

class PellixEstateCity : public PellixBaseResponse {
    PELLIX_RECORD(PellixEstateCity, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, city_id, setCity_id)
    PELLIX_PROPERTY(PellixText, city_name, setCity_name)
};

class PellixEstateDepartment : public PellixBaseResponse {
    PELLIX_RECORD(PellixEstateDepartment, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, dep_id, setDep_id)
    PELLIX_PROPERTY(PellixText, dep_name, setDep_name)
};

class PellixEstateBuildingUnit : public PellixBaseResponse {
    PELLIX_RECORD(PellixEstateBuildingUnit, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, building_id, setBuilding_id)
    PELLIX_PROPERTY(PellixText, building_no, setBuilding_no)
    PELLIX_PROPERTY(PellixText, building_name, setBuilding_name)
    PELLIX_PROPERTY(PellixText, unit_id, setUnit_id)
    PELLIX_PROPERTY(PellixText, unit_no, setUnit_no)
    PELLIX_PROPERTY(PellixText, unit_name, setUnit_name)
    PELLIX_PROPERTY(PellixText, full_name, setFull_name)
};

class PellixEstateRoomNumber : public PellixBaseResponse {
    PELLIX_RECORD(PellixEstateRoomNumber, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, room_number_id, setRoom_number_id)
    PELLIX_PROPERTY(PellixText, room_number, setRoom_number)
    PELLIX_PROPERTY(PellixText, is_open_card, setIs_open_card)
};

class PellixSelfAuthRecord : public PellixBaseResponse {
    PELLIX_RECORD(PellixSelfAuthRecord, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, apply_time, setApply_time)
    PELLIX_PROPERTY(PellixText, status_code, setStatus_code)
    PELLIX_PROPERTY(PellixText, status_info, setStatus_info)
    PELLIX_PROPERTY(PellixText, mobile_no, setMobile_no)
    PELLIX_PROPERTY(PellixText, apply_person, setApply_person)
    PELLIX_PROPERTY(PellixText, apply_identity, setApply_identity)
    PELLIX_PROPERTY(PellixText, city_name, setCity_name)
    PELLIX_PROPERTY(PellixText, dep_name, setDep_name)
    PELLIX_PROPERTY(PellixText, room_full_name, setRoom_full_name)
    PELLIX_PROPERTY(PellixText, self_help_status, setSelf_help_status)
    PELLIX_PROPERTY(PellixText, review_reason, setReview_reason)
    PELLIX_PROPERTY(PellixText, verification_code, setVerification_code)
};

// `type` (the OCR service's card type, 1 for an identity card) reads a
// number as its integer and decimal text as its integer; anything else, or a
// value outside 32 bits, gives 0, which checkValue() refuses.
class PellixOCRIdentifyCardSideFront : public PellixBaseResponse {
    PELLIX_RECORD(PellixOCRIdentifyCardSideFront, PellixBaseResponse)
    PELLIX_PROPERTY(std::int32_t, type, setType)
    PELLIX_PROPERTY(PellixText, address, setAddress)
    PELLIX_PROPERTY(PellixText, birthday, setBirthday)
    PELLIX_PROPERTY(PellixText, gender, setGender)
    PELLIX_PROPERTY(PellixText, id_card_number, setId_card_number)
    PELLIX_PROPERTY(PellixText, name, setName)
    PELLIX_PROPERTY(PellixText, race, setRace)
    PELLIX_PROPERTY(PellixText, side, setSide)

public:
    // An identity card's front: type 1, a name of two characters or more,
    // and every field but `side` present.
    bool checkValue() const;
};

class PellixOCRIdentifyCardSideBack : public PellixBaseResponse {
    PELLIX_RECORD(PellixOCRIdentifyCardSideBack, PellixBaseResponse)
    PELLIX_PROPERTY(std::int32_t, type, setType)
    PELLIX_PROPERTY(PellixText, issued_by, setIssued_by)
    PELLIX_PROPERTY(PellixText, side, setSide)
    PELLIX_PROPERTY(PellixText, valid_date, setValid_date)

public:
    // An identity card's back: type 1 with the issuer and validity present.
    bool checkValue() const;
};

}  // namespace pellix
