// Response records of rooms and door keys: the user's rooms with their MQTT
// topics, room and community records, the key list and its keys.
//
// PellixRoomInfo, PellixKeyInfo and PellixKeyList archive themselves for the
// host: every property under its own name, flags as numbers (nothing in the
// SDK archives them).
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

class PellixRoomInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixRoomInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, dep_id, setDep_id)
    PELLIX_PROPERTY(PellixText, dep_name, setDep_name)
    PELLIX_PROPERTY(PellixText, building_id, setBuilding_id)
    PELLIX_PROPERTY(PellixText, building_name, setBuilding_name)
    PELLIX_PROPERTY(PellixText, unit_id, setUnit_id)
    PELLIX_PROPERTY(PellixText, unit_name, setUnit_name)
    PELLIX_PROPERTY(PellixText, room_number_id, setRoom_number_id)
    PELLIX_PROPERTY(PellixText, room_number, setRoom_number)
    PELLIX_PROPERTY(PellixText, autu_type, setAutu_type)
    PELLIX_PROPERTY(PellixText, authorization_number, setAuthorization_number)
    PELLIX_PROPERTY(PellixText, open_card_number, setOpen_card_number)
    PELLIX_PROPERTY(PellixText, room_full_name, setRoom_full_name)

public:
    platform::Dictionary encodeWithCoder() const override;
    void initWithCoder(const platform::Dictionary& archive) override;
};

// The rooms of the user and the MQTT topics they are reached on; `topic`
// is compared with the user record's topic list by the room-list operation.
class PellixEstateTopicRoom : public PellixBaseResponse {
    PELLIX_RECORD(PellixEstateTopicRoom, PellixBaseResponse)
    PELLIX_PROPERTY(PellixTextList, topic, setTopic)
    PELLIX_PROPERTY(PellixRecordList<PellixRoomInfo>, list, setList)
};

// Declared for the host; no operation produces it.
class PellixCommunityInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixCommunityInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, dep_id, setDep_id)
    PELLIX_PROPERTY(PellixText, dep_name, setDep_name)
    PELLIX_PROPERTY(PellixText, building_id, setBuilding_id)
    PELLIX_PROPERTY(PellixText, building_name, setBuilding_name)
    PELLIX_PROPERTY(PellixText, unit_id, setUnit_id)
    PELLIX_PROPERTY(PellixText, unit_name, setUnit_name)
    PELLIX_PROPERTY(PellixText, room_number_id, setRoom_number_id)
    PELLIX_PROPERTY(PellixText, room_number, setRoom_number)
    PELLIX_PROPERTY(PellixText, autu_type, setAutu_type)
    PELLIX_PROPERTY(PellixText, auth_counts, setAuth_counts)
    PELLIX_PROPERTY(PellixText, card_counts, setCard_counts)
};

// One door key. "is_support_token" and "is_online" are text flags: YES only
// for the text "1".
class PellixKeyInfo : public PellixBaseResponse {
    PELLIX_RECORD(PellixKeyInfo, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, door_id, setDoor_id)
    PELLIX_PROPERTY(PellixText, door_name, setDoor_name)
    PELLIX_PROPERTY(PellixText, door_alias, setDoor_alias)
    PELLIX_PROPERTY(PellixText, door_guid, setDoor_guid)
    PELLIX_PROPERTY(PellixText, door_sip_no, setDoor_sip_no)
    PELLIX_PROPERTY(PellixText, ssid, setSsid)
    PELLIX_PROPERTY(PellixText, ssid_secretkey, setSsid_secretkey)
    PELLIX_PROPERTY(PellixText, ssid_pwd, setSsid_pwd)
    PELLIX_PROPERTY(PellixText, door_type, setDoor_type)
    PELLIX_PROPERTY(bool, is_support_token, setIs_support_token)
    PELLIX_PROPERTY(PellixText, totp_token, setTotp_token)
    PELLIX_PROPERTY(PellixText, totp_pin_length, setTotp_pin_length)
    PELLIX_PROPERTY(PellixText, totp_expires_time, setTotp_expires_time)
    PELLIX_PROPERTY(bool, is_online, setIs_online)
    PELLIX_PROPERTY(PellixText, door_version_type, setDoor_version_type)
    PELLIX_PROPERTY(PellixText, door_version_describe, setDoor_version_describe)

public:
    platform::Dictionary encodeWithCoder() const override;
    void initWithCoder(const platform::Dictionary& archive) override;
};

// The keys of a room; "is_bluetooth" (a text flag) lands in `isBluetooth`.
class PellixKeyList : public PellixBaseResponse {
    PELLIX_RECORD(PellixKeyList, PellixBaseResponse)
    PELLIX_PROPERTY(bool, isBluetooth, setIsBluetooth)
    PELLIX_PROPERTY(PellixText, management_phone, setManagement_phone)
    PELLIX_PROPERTY(PellixRecordList<PellixKeyInfo>, list, setList)

public:
    platform::Dictionary encodeWithCoder() const override;
    void initWithCoder(const platform::Dictionary& archive) override;
};

}  // namespace pellix
