#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixUserRegister.h"

namespace pellix {

PELLIX_FIELDS(PellixUserRegister, pellixField("open_id", &Self::open_id_))

}  // namespace pellix
