// HOSCancellationTokenSource: owner of one cancellation token; hands the
// token to the work it may want to cancel. Every operation forwards to the
// token and may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>

#include "HOSSDK/HOSTask/HOSCancellationToken.h"

namespace pellix {

class HOSCancellationTokenSource {
public:
    HOSCancellationTokenSource();
    HOSCancellationTokenSource(const HOSCancellationTokenSource&) = delete;
    HOSCancellationTokenSource& operator=(const HOSCancellationTokenSource&) = delete;

    static std::shared_ptr<HOSCancellationTokenSource> cancellationTokenSource();

    const HOSCancellationTokenPtr& token() const { return token_; }
    bool isCancellationRequested() const { return token_->isCancellationRequested(); }
    void cancel() { token_->cancel(); }
    void cancelAfterDelay(std::int32_t millis) { token_->cancelAfterDelay(millis); }
    void dispose() { token_->dispose(); }

private:
    HOSCancellationTokenPtr token_;
};

}  // namespace pellix
