#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixDoorRecords.h"

namespace pellix {

PELLIX_FIELDS(PellixDoorPwdStatue,
              pellixField("success", &Self::success_),
              pellixField("msg", &Self::msg_).wire("message"),
              pellixField("door_id", &Self::door_id_),
              pellixField("door_guid", &Self::door_guid_))

PELLIX_FIELDS(PellixDoorPassword,
              pellixField("password", &Self::password_),
              pellixField("expired_time", &Self::expired_time_),
              pellixField("list", &Self::list_))

PELLIX_FIELDS(PellixOpenDoorPwd,
              pellixField("password_id", &Self::password_id_),
              pellixField("password", &Self::password_),
              pellixField("status", &Self::status_),
              pellixField("msg", &Self::msg_).wire("message"),
              pellixField("apply_time", &Self::apply_time_))

PELLIX_FIELDS(PellixOpenDoorDoorStatus,
              pellixField("door_guid", &Self::door_guid_),
              pellixField("door_name", &Self::door_name_),
              pellixField("status", &Self::status_),
              pellixField("msg", &Self::msg_).wire("message"),
              pellixField("use_time", &Self::use_time_))

PELLIX_FIELDS(PellixOpenDoorPasswordDetail,
              pellixField("password", &Self::password_),
              pellixField("apply_time", &Self::apply_time_),
              pellixField("doorsStatus", &Self::doorsStatus_).wire("list"))

}  // namespace pellix
