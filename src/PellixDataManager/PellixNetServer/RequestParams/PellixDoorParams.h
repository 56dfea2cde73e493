// Parameter records of keys and doors: the key list and its order and
// aliases, opening a door, door passwords, entity cards.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixParamRoute.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"

namespace pellix {

// The platform's key is "room_numer_id" (sic), unlike the key-sort record's.
class PellixGetKeyParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixGetKeyParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v2/keypackage/key_list")
    PELLIX_PROPERTY(PellixText, room_numer_id, setRoom_numer_id)
};

class PellixSetKeySortParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixSetKeySortParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/keypackage/key_sortset")
    PELLIX_PROPERTY(PellixText, room_number_id, setRoom_number_id)
    PELLIX_PROPERTY(PellixText, door_id, setDoor_id)
};

class PellixCustomKeyNameParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixCustomKeyNameParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/keypackage/custom_keyname")
    PELLIX_PROPERTY(PellixText, alias, setAlias)
    PELLIX_PROPERTY(PellixText, door_id, setDoor_id)
};

class PellixOpenDoorWithAppKeyParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixOpenDoorWithAppKeyParam, PellixBaseRequestParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/door/app_open")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, door_id, setDoor_id)
    PELLIX_PROPERTY(PellixText, open_type, setOpen_type)
};

// Sends its parent's keys but needs only the room.
class PellixOpenDoorWithSecretParam : public PellixOpenDoorWithAppKeyParam {
    PELLIX_PARAM_RECORD(PellixOpenDoorWithSecretParam, PellixOpenDoorWithAppKeyParam)
    PELLIX_PARAM_ROUTE(kMethodPOST, "/sdkapi/v1/door/app_password")

public:
    bool isParamsComplete() const override { return fieldsFilled({"room_id"}); }
};

class PellixOpenDoorPasswordListParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixOpenDoorPasswordListParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/door/password_list")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

class PellixOpenDoorPasswordDetailParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixOpenDoorPasswordDetailParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/door/password_detail")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
    PELLIX_PROPERTY(PellixText, password_id, setPassword_id)
};

class PellixEntityCardParam : public PellixRootParam {
    PELLIX_PARAM_RECORD(PellixEntityCardParam, PellixRootParam)
    PELLIX_PARAM_ROUTE(kMethodGET, "/sdkapi/v1/card/card_list")
    PELLIX_PROPERTY(PellixText, room_id, setRoom_id)
};

}  // namespace pellix
