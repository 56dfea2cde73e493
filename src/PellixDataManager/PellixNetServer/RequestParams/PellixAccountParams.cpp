#include "PellixDataManager/PellixNetServer/RequestParams/PellixAccountParams.h"

namespace pellix {

PELLIX_FIELDS(PellixTokenParam,
              pellixField("appid", &Self::appid_).required(),
              pellixField("secret", &Self::secret_).required(),
              pellixField("grant_type", &Self::grant_type_),
              pellixField("package_name", &Self::package_name_))

PELLIX_FIELDS(PellixRegisterParam,
              pellixField("nation_code", &Self::nation_code_),
              pellixField("user_name", &Self::user_name_),
              pellixField("mobile_no", &Self::mobile_no_),
              pellixField("card_no", &Self::card_no_),
              pellixField("sdk_app_id", &Self::sdk_app_id_))

PELLIX_FIELDS(PellixInitUserInfoParam,
              pellixField("openId", &Self::openId_).wire("open_id"),
              pellixField("nationCode", &Self::nationCode_).wire("nation_code"),
              pellixField("mobile", &Self::mobile_).wire("mobile_no"))

PELLIX_FIELDS(PellixUserQuitParam)

PELLIX_FIELDS(PellixBindPushTokenParam, pellixField("device_token", &Self::device_token_).required())

PELLIX_FIELDS(PellixGetHalvane)

PELLIX_FIELDS(PellixMyCommunityParam)

PELLIX_FIELDS(PellixGetRoomParam)

PELLIX_FIELDS(PellixProprietorMobileParam, pellixField("room_id", &Self::room_id_).required())

}  // namespace pellix
