#include "PellixDataManager/PellixNetServer/RequestParams/PellixAuthParams.h"

namespace pellix {

PELLIX_FIELDS(PellixAddAuthParam,
              pellixField("nation_code", &Self::nation_code_).required(),
              pellixField("name", &Self::name_).required(),
              pellixField("auth_mobile", &Self::auth_mobile_).required(),
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("auth_type", &Self::auth_type_).required(),
              pellixField("begin_time", &Self::begin_time_).required(),
              pellixField("end_time", &Self::end_time_).required())

PELLIX_FIELDS(PellixModifyAuthParam,
              pellixField("auth_user_id", &Self::auth_user_id_).required(),
              pellixField("name", &Self::name_).required(),
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("auth_type", &Self::auth_type_).required(),
              pellixField("begin_time", &Self::begin_time_).required(),
              pellixField("end_time", &Self::end_time_).required())

PELLIX_FIELDS(PellixDeleteAuthParam,
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("auth_user_id", &Self::auth_user_id_).required())

PELLIX_FIELDS(PellixStopAuthParam, pellixField("room_id", &Self::room_id_).required())

PELLIX_FIELDS(PellixGetAuthParam,
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("page_no", &Self::page_no_).required(),
              pellixField("start_page", &Self::start_page_).required())

PELLIX_FIELDS(PellixPropertyPublishParam,
              pellixField("content", &Self::content_).required(),
              pellixField("images_name", &Self::images_name_).required(),
              pellixField("tag_type", &Self::tag_type_).required(),
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("dep_id", &Self::dep_id_).required())

PELLIX_FIELDS(PellixGetPropertyPublishParam,
              pellixField("page_no", &Self::page_no_).required(),
              pellixField("start_page", &Self::start_page_).required(),
              pellixField("dep_id", &Self::dep_id_).required())

}  // namespace pellix
