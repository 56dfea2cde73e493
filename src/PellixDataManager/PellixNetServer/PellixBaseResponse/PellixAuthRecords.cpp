#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixAuthRecords.h"

#include <string_view>
#include <utility>

namespace pellix {

namespace {

void noticeTypeRule(std::int64_t& type, const platform::Value& value) {
    static constexpr std::pair<std::string_view, std::int64_t> kTypes[] = {
        {"building_id", PellixPropertyNotice::kBuilding},
        {"unit_id", PellixPropertyNotice::kUnit},
        {"room_id", PellixPropertyNotice::kRoom},
        {"user_id", PellixPropertyNotice::kUser},
    };
    type = PellixPropertyNotice::kUnknown;
    if (const std::string* text = value.stringIf()) {
        for (const auto& [name, code] : kTypes) {
            if (*text == name) type = code;
        }
    }
}

void changeTypeRule(std::int64_t& type, const platform::Value& value) {
    const std::string* text = value.stringIf();
    if (!text) return;
    std::string lower = *text;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (lower == "add") {
        type = PellixAuthorizationChange::kAdd;
    } else if (lower == "del") {
        type = PellixAuthorizationChange::kDel;
    } else if (lower == "update") {
        type = PellixAuthorizationChange::kUpdate;
    }
}

}  // namespace

PELLIX_FIELDS(PellixAuthorizeInfo,
              pellixField("auth_user_id", &Self::auth_user_id_),
              pellixField("auth_user_mobile", &Self::auth_user_mobile_),
              pellixField("auth_user_name", &Self::auth_user_name_),
              pellixField("begin_time", &Self::begin_time_),
              pellixField("end_time", &Self::end_time_),
              pellixField("is_no_limit", &Self::is_no_limit_),
              pellixField("auth_type", &Self::auth_type_),
              pellixField("auth_type_info", &Self::auth_type_info_),
              pellixField("nation_code", &Self::nation_code_))

PELLIX_FIELDS(PellixAuthorizeListInfo,
              pellixField("upper_limit", &Self::upper_limit_),
              pellixField("auth_list_number", &Self::auth_list_number_),
              pellixField("authList", &Self::authList_).wire("list"))

PELLIX_FIELDS(PellixPropertyMessage,
              pellixField("msg", &Self::msg_).wire("message"),
              pellixField("create_time", &Self::create_time_))

PELLIX_FIELDS(PellixPropertyPublishInfo,
              pellixField("content", &Self::content_),
              pellixField("photos_name", &Self::photos_name_),
              pellixField("tag_type", &Self::tag_type_),
              pellixField("tag_type_info", &Self::tag_type_info_),
              pellixField("user_id", &Self::user_id_),
              pellixField("status", &Self::status_),
              pellixField("create_time", &Self::create_time_),
              pellixField("reply_list", &Self::reply_list_))

PELLIX_FIELDS(PellixPropertyNotice,
              pellixField("noticeType", &Self::noticeType_).wire("type").rule(noticeTypeRule),
              pellixField("noticeType_id", &Self::noticeType_id_).wire("object_id"),
              pellixField("adduser", &Self::adduser_),
              pellixField("content", &Self::content_),
              pellixField("notice_id", &Self::notice_id_),
              pellixField("time", &Self::time_),
              pellixField("title", &Self::title_),
              pellixField("urgent", &Self::urgent_))

PELLIX_FIELDS(PellixAuthorizationChange,
              pellixField("title", &Self::title_),
              pellixField("content", &Self::content_),
              pellixField("room_id", &Self::room_id_),
              pellixField("type", &Self::type_).rule(changeTypeRule))

}  // namespace pellix
