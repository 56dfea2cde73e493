// PellixUserRegister: answer of the user registration: the new open id.
#pragma once

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

class PellixUserRegister : public PellixBaseResponse {
    PELLIX_RECORD(PellixUserRegister, PellixBaseResponse)
    PELLIX_PROPERTY(PellixText, open_id, setOpen_id)
};

}  // namespace pellix
