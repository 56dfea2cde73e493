// HOSURLRequestRetryHandler: after a failed attempt, whether and how soon a
// storage request is sent again. Transport failures and status-0 replies are
// retried with exponential back-off (0.2 s, 0.4 s, 0.8 s ...); a clock-skew
// reply is retried at once after the date is restamped; everything else, a
// cancelled request and a streamed download are not.
//
// Holds only its count; used by one request at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Error.h"
#include "platform/HTTPURLResponse.h"

namespace pellix {

class HOSNetworkingRequestDelegate;

enum HOSRetryType : std::int64_t {
    HOSRetryTypeRetry = 1,
    HOSRetryTypeNoRetry = 2,
    HOSRetryTypeRetryNow = 3,
    HOSRetryTypeFixClockSkew = 4,
};

class HOSURLRequestRetryHandler {
public:
    static std::shared_ptr<HOSURLRequestRetryHandler> defaultRetryHandler();

    std::uint32_t maxRetryCount() const { return maxRetryCount_; }
    void setMaxRetryCount(std::uint32_t count) { maxRetryCount_ = count; }

    HOSRetryType shouldRetry(std::uint32_t currentRetryCount, const HOSNetworkingRequestDelegate& requestDelegate,
                             const std::shared_ptr<const platform::HTTPURLResponse>& response,
                             const platform::ErrorPtr& error) const;
    // Seconds to wait before the retry that follows `currentRetryCount`
    // earlier retries.
    double timeIntervalForRetry(std::uint32_t currentRetryCount, HOSRetryType retryType) const;

private:
    std::uint32_t maxRetryCount_ = 3;
};

using HOSURLRequestRetryHandlerPtr = std::shared_ptr<HOSURLRequestRetryHandler>;

}  // namespace pellix
