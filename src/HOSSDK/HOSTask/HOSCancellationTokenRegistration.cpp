#include "HOSSDK/HOSTask/HOSCancellationTokenRegistration.h"

#include "HOSSDK/HOSTask/HOSCancellationToken.h"

namespace pellix {

std::shared_ptr<HOSCancellationTokenRegistration> HOSCancellationTokenRegistration::registrationWithToken(
    const std::shared_ptr<HOSCancellationToken>& token, std::function<void()> delegate) {
    auto r = std::make_shared<HOSCancellationTokenRegistration>(Private{});
    r->token_ = token;
    r->cancellationObserverBlock_ = std::move(delegate);
    return r;
}

bool HOSCancellationTokenRegistration::isDisposed() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return disposed_;
}

void HOSCancellationTokenRegistration::dispose() {
    std::shared_ptr<HOSCancellationToken> token;
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        if (disposed_) return;
        disposed_ = true;
        token = token_.lock();
        token_.reset();
    }
    // Own lock first, the token's afterwards, never both from this side.
    if (token) {
        try {
            token->unregisterRegistration(shared_from_this());
        } catch (...) {
            // The token was disposed meanwhile and dropped its list anyway.
        }
    }
    std::lock_guard<std::recursive_mutex> g(lock_);
    cancellationObserverBlock_ = nullptr;
}

void HOSCancellationTokenRegistration::notifyDelegate() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    // Disposed between the token's snapshot and this call: stay silent.
    if (disposed_ || !cancellationObserverBlock_) return;
    cancellationObserverBlock_();
}

}  // namespace pellix
