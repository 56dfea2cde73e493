#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRoomRecords.h"

namespace pellix {

namespace {

// Reads back an archive written by the field table: every own field through
// its rule, then the flags through their Boolean value (the archive holds
// them as numbers, which a text-flag rule would read as NO).
template <class Record>
void decodeArchive(Record& record, const platform::Dictionary& archive,
                   std::initializer_list<std::pair<std::string_view, bool Record::*>> flags) {
    for (const auto& field : Record::fields().ownFields()) {
        if (const platform::Value* value = archive.find(field.name)) field.assign(record, *value);
    }
    for (const auto& [name, member] : flags) {
        if (const platform::Value* value = archive.find(name)) record.*member = value->boolValue();
    }
}

}  // namespace

PELLIX_FIELDS(PellixRoomInfo,
              pellixField("dep_id", &Self::dep_id_),
              pellixField("dep_name", &Self::dep_name_),
              pellixField("building_id", &Self::building_id_),
              pellixField("building_name", &Self::building_name_),
              pellixField("unit_id", &Self::unit_id_),
              pellixField("unit_name", &Self::unit_name_),
              pellixField("room_number_id", &Self::room_number_id_),
              pellixField("room_number", &Self::room_number_),
              pellixField("autu_type", &Self::autu_type_),
              pellixField("authorization_number", &Self::authorization_number_),
              pellixField("open_card_number", &Self::open_card_number_),
              pellixField("room_full_name", &Self::room_full_name_))

platform::Dictionary PellixRoomInfo::encodeWithCoder() const { return fields().encode(*this); }

void PellixRoomInfo::initWithCoder(const platform::Dictionary& archive) { decodeArchive<PellixRoomInfo>(*this, archive, {}); }

PELLIX_FIELDS(PellixEstateTopicRoom,
              pellixField("topic", &Self::topic_),
              pellixField("list", &Self::list_))

PELLIX_FIELDS(PellixCommunityInfo,
              pellixField("dep_id", &Self::dep_id_),
              pellixField("dep_name", &Self::dep_name_),
              pellixField("building_id", &Self::building_id_),
              pellixField("building_name", &Self::building_name_),
              pellixField("unit_id", &Self::unit_id_),
              pellixField("unit_name", &Self::unit_name_),
              pellixField("room_number_id", &Self::room_number_id_),
              pellixField("room_number", &Self::room_number_),
              pellixField("autu_type", &Self::autu_type_),
              pellixField("auth_counts", &Self::auth_counts_),
              pellixField("card_counts", &Self::card_counts_))

PELLIX_FIELDS(PellixKeyInfo,
              pellixField("door_id", &Self::door_id_),
              pellixField("door_name", &Self::door_name_),
              pellixField("door_alias", &Self::door_alias_),
              pellixField("door_guid", &Self::door_guid_),
              pellixField("door_sip_no", &Self::door_sip_no_),
              pellixField("ssid", &Self::ssid_),
              pellixField("ssid_secretkey", &Self::ssid_secretkey_),
              pellixField("ssid_pwd", &Self::ssid_pwd_),
              pellixField("door_type", &Self::door_type_),
              pellixField("is_support_token", &Self::is_support_token_).rule(pellixTextFlag),
              pellixField("totp_token", &Self::totp_token_),
              pellixField("totp_pin_length", &Self::totp_pin_length_),
              pellixField("totp_expires_time", &Self::totp_expires_time_),
              pellixField("is_online", &Self::is_online_).rule(pellixTextFlag),
              pellixField("door_version_type", &Self::door_version_type_),
              pellixField("door_version_describe", &Self::door_version_describe_))

platform::Dictionary PellixKeyInfo::encodeWithCoder() const { return fields().encode(*this); }

void PellixKeyInfo::initWithCoder(const platform::Dictionary& archive) {
    decodeArchive<PellixKeyInfo>(*this, archive,
                                 {{"is_support_token", &Self::is_support_token_}, {"is_online", &Self::is_online_}});
}

PELLIX_FIELDS(PellixKeyList,
              pellixField("isBluetooth", &Self::isBluetooth_).wire("is_bluetooth").rule(pellixTextFlag),
              pellixField("management_phone", &Self::management_phone_),
              pellixField("list", &Self::list_))

platform::Dictionary PellixKeyList::encodeWithCoder() const { return fields().encode(*this); }

void PellixKeyList::initWithCoder(const platform::Dictionary& archive) {
    if (const platform::Value* v = archive.find("isBluetooth")) isBluetooth_ = v->boolValue();
    if (const platform::Value* v = archive.find("management_phone")) fields().find("management_phone")->assign(*this, *v);
    // The keys archived themselves; they are read back the same way, not as
    // JSON answers.
    if (const platform::Value* v = archive.find("list")) {
        list_.emplace();
        if (const platform::Array* items = v->arrayIf()) {
            for (const platform::Value& item : *items) {
                if (const platform::Dictionary* d = item.dictionaryIf()) {
                    auto key = std::make_shared<PellixKeyInfo>();
                    key->initWithCoder(*d);
                    list_->push_back(std::move(key));
                }
            }
        }
    }
}

}  // namespace pellix
