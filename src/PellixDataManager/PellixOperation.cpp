#include "PellixDataManager/PellixOperation.h"

#include "PellixDataManager/PellixNetServer/PellixNetServices.h"

namespace pellix {

PellixErrorPtr pellixParamsMissingError() {
    return PellixError::errorWithCode(PellixError::kParamsMissingCode, PellixError::kParamsMissingMessage);
}

void pellixSend(const std::shared_ptr<PellixBaseRequestParam>& record, PellixBodyType bodyType, bool gated,
                PellixSuccessBlock success, PellixFailureBlock failure) {
    if (gated && !record->isParamsComplete()) {
        if (failure) failure(pellixParamsMissingError());
        return;
    }
    PellixNetServices::getPellixSDKData(record, bodyType, std::move(success), std::move(failure));
}

}  // namespace pellix
