#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixCallTransfer.h"

namespace pellix {

PELLIX_FIELDS(PellixCallTransfer,
              pellixField("set_permission", &Self::set_permission_),
              pellixField("nation_code", &Self::nation_code_),
              pellixField("transfer_mobile", &Self::transfer_mobile_))

}  // namespace pellix
