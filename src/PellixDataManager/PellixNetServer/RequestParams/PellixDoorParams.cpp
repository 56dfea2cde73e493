#include "PellixDataManager/PellixNetServer/RequestParams/PellixDoorParams.h"

namespace pellix {

PELLIX_FIELDS(PellixGetKeyParam, pellixField("room_numer_id", &Self::room_numer_id_).required())

PELLIX_FIELDS(PellixSetKeySortParam,
              pellixField("room_number_id", &Self::room_number_id_).required(),
              pellixField("door_id", &Self::door_id_).required())

PELLIX_FIELDS(PellixCustomKeyNameParam,
              pellixField("alias", &Self::alias_).required(),
              pellixField("door_id", &Self::door_id_).required())

PELLIX_FIELDS(PellixOpenDoorWithAppKeyParam,
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("door_id", &Self::door_id_).required(),
              pellixField("open_type", &Self::open_type_))

PELLIX_FIELDS(PellixOpenDoorWithSecretParam)

PELLIX_FIELDS(PellixOpenDoorPasswordListParam, pellixField("room_id", &Self::room_id_).required())

PELLIX_FIELDS(PellixOpenDoorPasswordDetailParam,
              pellixField("room_id", &Self::room_id_).required(),
              pellixField("password_id", &Self::password_id_).required())

PELLIX_FIELDS(PellixEntityCardParam, pellixField("room_id", &Self::room_id_).required())

}  // namespace pellix
