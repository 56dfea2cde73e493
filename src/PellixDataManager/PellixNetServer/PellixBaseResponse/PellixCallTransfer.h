// PellixCallTransfer: answer of the call-transfer query: whether transfer is
// allowed and the number calls are transferred to.
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

class PellixCallTransfer : public PellixBaseResponse {
    PELLIX_RECORD(PellixCallTransfer, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, set_permission, setSet_permission)
    PELLIX_PROPERTY(PellixText, nation_code, setNation_code)
    PELLIX_PROPERTY(PellixText, transfer_mobile, setTransfer_mobile)
};

}  // namespace pellix
