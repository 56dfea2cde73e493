#include "PellixDataManager/PellixNetServer/RequestParams/PellixRootParam.h"

namespace pellix {

PELLIX_FIELDS(PellixRootParam, pellixField("token", &Self::token_).required())

}  // namespace pellix
