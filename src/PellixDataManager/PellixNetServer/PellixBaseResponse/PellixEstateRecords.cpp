#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixEstateRecords.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace pellix {

namespace {

constexpr std::int32_t kIdentityCard = 1;

// The OCR service's card type. Its answer is outside our control: a value we
// cannot read as a 32-bit integer gives 0 (no card) instead of failing.
void cardTypeRule(std::int32_t& type, const platform::Value& value) {
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    type = 0;
    if (value.isNumber()) {
        if (value.isDouble()) {
            const double d = std::trunc(value.asDouble());
            if (std::isfinite(d) && d >= kMin && d <= kMax) type = static_cast<std::int32_t>(d);
        } else if (value.isUInt()) {
            if (value.asUInt() <= static_cast<std::uint64_t>(kMax)) type = static_cast<std::int32_t>(value.asUInt());
        } else {
            const std::int64_t i = value.intValue();
            if (i >= kMin && i <= kMax) type = static_cast<std::int32_t>(i);
        }
    } else if (const std::string* text = value.stringIf()) {
        const char* begin = text->data();
        const char* end = begin + text->size();
        if (begin != end && *begin == '+') ++begin;
        std::int32_t parsed = 0;
        const auto [ptr, ec] = std::from_chars(begin, end, parsed);
        if (ec == std::errc() && ptr == end && begin != end) type = parsed;
    }
}

}  // namespace

PELLIX_FIELDS(PellixEstateDepartmentSearch,
              pellixField("city_id", &Self::city_id_),
              pellixField("city_name", &Self::city_name_),
              pellixField("dep_id", &Self::dep_id_),
              pellixField("dep_name", &Self::dep_name_),
              pellixField("province_name", &Self::province_name_),
              pellixField("district_name", &Self::district_name_))

PELLIX_FIELDS(PellixEstateCity,
              pellixField("city_id", &Self::city_id_),
              pellixField("city_name", &Self::city_name_))

PELLIX_FIELDS(PellixEstateDepartment,
              pellixField("dep_id", &Self::dep_id_),
              pellixField("dep_name", &Self::dep_name_))

PELLIX_FIELDS(PellixEstateBuildingUnit,
              pellixField("building_id", &Self::building_id_),
              pellixField("building_no", &Self::building_no_),
              pellixField("building_name", &Self::building_name_),
              pellixField("unit_id", &Self::unit_id_),
              pellixField("unit_no", &Self::unit_no_),
              pellixField("unit_name", &Self::unit_name_),
              pellixField("full_name", &Self::full_name_))

PELLIX_FIELDS(PellixEstateRoomNumber,
              pellixField("room_number_id", &Self::room_number_id_),
              pellixField("room_number", &Self::room_number_),
              pellixField("is_open_card", &Self::is_open_card_))

PELLIX_FIELDS(PellixSelfAuthRecord,
              pellixField("apply_time", &Self::apply_time_),
              pellixField("status_code", &Self::status_code_),
              pellixField("status_info", &Self::status_info_),
              pellixField("mobile_no", &Self::mobile_no_),
              pellixField("apply_person", &Self::apply_person_),
              pellixField("apply_identity", &Self::apply_identity_),
              pellixField("city_name", &Self::city_name_),
              pellixField("dep_name", &Self::dep_name_),
              pellixField("room_full_name", &Self::room_full_name_),
              pellixField("self_help_status", &Self::self_help_status_),
              pellixField("review_reason", &Self::review_reason_),
              pellixField("verification_code", &Self::verification_code_))

PELLIX_FIELDS(PellixOCRIdentifyCardSideFront,
              pellixField("type", &Self::type_).rule(cardTypeRule),
              pellixField("address", &Self::address_),
              pellixField("birthday", &Self::birthday_),
              pellixField("gender", &Self::gender_),
              pellixField("id_card_number", &Self::id_card_number_),
              pellixField("name", &Self::name_),
              pellixField("race", &Self::race_),
              pellixField("side", &Self::side_))

bool PellixOCRIdentifyCardSideFront::checkValue() const {
    if (type_ != kIdentityCard) return false;
    if (!name_ || platform::utf16Length(*name_) <= 1) return false;
    return address_ && birthday_ && gender_ && id_card_number_ && race_;
}

PELLIX_FIELDS(PellixOCRIdentifyCardSideBack,
              pellixField("type", &Self::type_).rule(cardTypeRule),
              pellixField("issued_by", &Self::issued_by_),
              pellixField("side", &Self::side_),
              pellixField("valid_date", &Self::valid_date_))

bool PellixOCRIdentifyCardSideBack::checkValue() const {
    return type_ == kIdentityCard && issued_by_ && valid_date_;
}

}  // namespace pellix
