#include "HOSSDK/HOSErrors.h"

namespace pellix {

platform::ErrorPtr HOSClientError(HOSClientErrorCode code, std::string message) {
    return platform::Error::make(HOSClientErrorDomain, code, {{HOSErrorMessageKey, std::move(message)}});
}

platform::ErrorPtr HOSClientError(HOSClientErrorCode code) { return platform::Error::make(HOSClientErrorDomain, code); }

platform::ErrorPtr HOSServerMessageError(std::int64_t code, std::string message) {
    return platform::Error::make(HOSServerErrorDomain, code, {{HOSErrorMessageKey, std::move(message)}});
}

platform::ErrorPtr HOSServerError(std::int64_t httpStatus, platform::Dictionary xmlBody) {
    return platform::Error::make(HOSServerErrorDomain, -httpStatus, std::move(xmlBody));
}

platform::ErrorPtr HOSCancelledTransportError(const platform::Error& transportError) {
    return platform::Error::make(HOSClientErrorDomain, HOSClientErrorCodeTaskCancelled, transportError.userInfo());
}

platform::ErrorPtr HOSNetworkError(const platform::Error& transportError) {
    platform::Dictionary info = transportError.userInfo();
    info.set(HOSOriginErrorCodeKey, std::to_string(transportError.code()));
    return platform::Error::make(HOSClientErrorDomain, HOSClientErrorCodeNetworkError, std::move(info));
}

}  // namespace pellix
