#include "HOSSDK/HOSTask/HOSCancellationToken.h"

#include <algorithm>
#include <chrono>

#include "HOSSDK/HOSTask/HOSCancellationTokenRegistration.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"

namespace pellix {

std::shared_ptr<HOSCancellationToken> HOSCancellationToken::make() {
    return std::make_shared<HOSCancellationToken>(Private{});
}

void HOSCancellationToken::throwIfDisposed() const {
    if (disposed_)
        throw platform::Exception(platform::Exception::kInternalInconsistencyException, "Object already disposed");
}

bool HOSCancellationToken::isCancellationRequested() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    throwIfDisposed();
    return cancellationRequested_;
}

std::shared_ptr<HOSCancellationTokenRegistration> HOSCancellationToken::registerCancellationObserverWithBlock(
    std::function<void()> block) {
    auto registration = HOSCancellationTokenRegistration::registrationWithToken(shared_from_this(), std::move(block));
    bool alreadyCancelled = false;
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        if (disposed_) return registration;
        if (cancellationRequested_)
            alreadyCancelled = true;
        else
            registrations_.push_back(registration);
    }
    // A cancellation that happened before the observer came is reported at
    // once rather than lost.
    if (alreadyCancelled) registration->notifyDelegate();
    return registration;
}

void HOSCancellationToken::cancel() {
    std::vector<std::shared_ptr<HOSCancellationTokenRegistration>> copy;
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        throwIfDisposed();
        if (cancellationRequested_) return;
        ++delayGeneration_;
        cancellationRequested_ = true;
        copy = registrations_;
    }
    notifyCancellation(copy);
}

void HOSCancellationToken::notifyCancellation(
    const std::vector<std::shared_ptr<HOSCancellationTokenRegistration>>& registrations) {
    for (const auto& r : registrations) r->notifyDelegate();
}

void HOSCancellationToken::cancelPrivate(std::uint64_t generation) {
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        // Withdrawn, replaced, or the token was disposed meanwhile: a timer
        // must not raise on a disposed token.
        if (generation != delayGeneration_ || disposed_) return;
    }
    cancel();
}

void HOSCancellationToken::cancelAfterDelay(std::int32_t millis) {
    {
        std::lock_guard<std::recursive_mutex> g(lock_);
        throwIfDisposed();
    }
    if (millis < -1)
        throw platform::Exception(platform::Exception::kInvalidArgumentException, "Delay must be >= -1");
    if (millis == 0) {
        cancel();
        return;
    }
    std::lock_guard<std::recursive_mutex> g(lock_);
    throwIfDisposed();
    const std::uint64_t generation = ++delayGeneration_;
    if (cancellationRequested_ || millis == -1) return;
    std::weak_ptr<HOSCancellationToken> weak = weak_from_this();
    platform::DispatchQueue::global()->after(std::chrono::milliseconds(millis), [weak, generation] {
        if (auto token = weak.lock()) token->cancelPrivate(generation);
    });
}

void HOSCancellationToken::dispose() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (disposed_) return;
    // Each registration removes itself from the list while it is disposed.
    const auto snapshot = registrations_;
    for (const auto& r : snapshot) r->dispose();
    registrations_.clear();
    ++delayGeneration_;
    disposed_ = true;
}

void HOSCancellationToken::unregisterRegistration(const std::shared_ptr<HOSCancellationTokenRegistration>& registration) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    throwIfDisposed();
    auto it = std::find(registrations_.begin(), registrations_.end(), registration);
    if (it != registrations_.end()) registrations_.erase(it);
}

}  // namespace pellix
