#include "PellixDataManager/PellixNetServer/RequestParams/PellixCallSettingParams.h"

namespace pellix {

PELLIX_FIELDS(PellixCallTransferParam, pellixField("room_id", &Self::room_id_).required())

PELLIX_FIELDS(PellixSetCallTransferParam,
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("mobile", &Self::mobile_).required(),
              pellixField("nation_code", &Self::nation_code_).required())

PELLIX_FIELDS(PellixCallTransferMobilesParam)

PELLIX_FIELDS(PellixGetCallDisturb)

PELLIX_FIELDS(PellixSetCallRoomDisturb,
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("app_status", &Self::app_status_).wire("disturb_status").required(),
              pellixField("call_status", &Self::call_status_).required())

PELLIX_FIELDS(PellixSetCallDisturb,
              pellixField("disturb_status", &Self::disturb_status_).required(),
              pellixField("call_status", &Self::call_status_).required())

}  // namespace pellix
