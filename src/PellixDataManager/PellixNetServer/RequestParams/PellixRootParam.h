// PellixRootParam: parameter records that may carry their own "token".
//
// The field is sent as "token" when set (it then wins over the pipeline's
// common token) and is the one required field: records under this class that
// declare no required fields of their own are complete only with a token.
#pragma once

#include "PellixDataManager/PellixNetServer/RequestParams/PellixBaseRequestParam.h"

namespace pellix {

class PellixRootParam : public PellixBaseRequestParam {
    PELLIX_PARAM_RECORD(PellixRootParam, PellixBaseRequestParam)
    PELLIX_PROPERTY(PellixText, token, setToken)

public:
    std::uint64_t buildRequestMethod() const override { return kMethodGET; }
    std::optional<std::string> buildRequestPath() const override { return std::nullopt; }
};

}  // namespace pellix
