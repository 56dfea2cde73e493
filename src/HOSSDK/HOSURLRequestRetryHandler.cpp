#include "HOSSDK/HOSURLRequestRetryHandler.h"

#include <cmath>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSNetworkingRequestDelegate.h"

namespace pellix {

std::shared_ptr<HOSURLRequestRetryHandler> HOSURLRequestRetryHandler::defaultRetryHandler() {
    auto handler = std::make_shared<HOSURLRequestRetryHandler>();
    handler->setMaxRetryCount(3);
    return handler;
}

HOSRetryType HOSURLRequestRetryHandler::shouldRetry(std::uint32_t currentRetryCount,
                                                    const HOSNetworkingRequestDelegate& requestDelegate,
                                                    const std::shared_ptr<const platform::HTTPURLResponse>& response,
                                                    const platform::ErrorPtr& error) const {
    if (currentRetryCount >= maxRetryCount_) return HOSRetryTypeNoRetry;
    // The caller has already been handed the bytes of a streamed download.
    if (requestDelegate.onRecieveData()) return HOSRetryTypeNoRetry;
    if (!error) return HOSRetryTypeNoRetry;
    if (error->domain() == HOSClientErrorDomain) {
        // A disk that cannot take the body will not take it on the next try,
        // nor will an oversized reply shrink.
        return error->code() == HOSClientErrorCodeTaskCancelled ||
                       error->code() == HOSClientErrorCodeFileCannotWrite ||
                       error->code() == HOSClientErrorCodeInvalidResponse
                   ? HOSRetryTypeNoRetry
                   : HOSRetryTypeRetry;
    }
    if (response && response->statusCode() == 403) {
        const auto* code = error->userInfo().find("Code");
        if (code && code->isString() && code->asString() == "RequestTimeTooSkewed") return HOSRetryTypeFixClockSkew;
    }
    return HOSRetryTypeNoRetry;
}

double HOSURLRequestRetryHandler::timeIntervalForRetry(std::uint32_t currentRetryCount, HOSRetryType retryType) const {
    if (retryType == HOSRetryTypeRetryNow || retryType == HOSRetryTypeFixClockSkew) return 0.0;
    return std::pow(2.0, static_cast<double>(currentRetryCount)) * 200.0 / 1000.0;
}

}  // namespace pellix
