// HOSCancellationToken: a one-way cancellation request that task
// continuations poll and that observers may subscribe to.
//
// A token is made by its HOSCancellationTokenSource and always lives in a
// std::shared_ptr. It moves once from active to cancelled, and independently
// once to disposed. Observers are called on the cancelling thread, in the order
// they registered, after the token's lock has been released; each observer
// runs under its registration's own lock. An observer registered on a token
// that is already cancelled is called at once, on the registering thread.
//
// Threads: every operation may be called from any thread.
//
// Failure: isCancellationRequested, cancel, cancelAfterDelay and
// unregisterRegistration on a disposed token throw platform::Exception
// NSInternalInconsistencyException "Object already disposed"; a token must not
// be disposed while anything that holds it can still ask it.
// cancelAfterDelay with a delay below -1 throws NSInvalidArgumentException
// "Delay must be >= -1".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace pellix {

class HOSCancellationTokenRegistration;
class HOSCancellationTokenSource;

class HOSCancellationToken : public std::enable_shared_from_this<HOSCancellationToken> {
public:
    HOSCancellationToken(const HOSCancellationToken&) = delete;
    HOSCancellationToken& operator=(const HOSCancellationToken&) = delete;

    bool isCancellationRequested() const;

    // Adds an observer called on cancellation. The returned registration
    // stops it again (dispose). On a disposed token the registration is
    // returned but kept nowhere, so it is never called.
    std::shared_ptr<HOSCancellationTokenRegistration> registerCancellationObserverWithBlock(std::function<void()> block);

    void cancel();
    // 0 cancels at once; a positive delay (milliseconds) replaces any pending
    // delayed cancellation; -1 only withdraws a pending one.
    void cancelAfterDelay(std::int32_t millis);
    // Disposes every registration, drops the list and withdraws a pending
    // delayed cancellation. Idempotent.
    void dispose();

    void unregisterRegistration(const std::shared_ptr<HOSCancellationTokenRegistration>& registration);

private:
    friend class HOSCancellationTokenSource;
    struct Private {};

public:
    explicit HOSCancellationToken(Private) {}

private:
    static std::shared_ptr<HOSCancellationToken> make();
    void throwIfDisposed() const;
    void cancelPrivate(std::uint64_t generation);
    static void notifyCancellation(const std::vector<std::shared_ptr<HOSCancellationTokenRegistration>>& registrations);

    mutable std::recursive_mutex lock_;
    bool cancellationRequested_ = false;
    bool disposed_ = false;
    std::vector<std::shared_ptr<HOSCancellationTokenRegistration>> registrations_;
    // Bumped whenever a pending delayed cancellation is withdrawn or replaced;
    // a delayed cancellation fires only when its generation is still current.
    std::uint64_t delayGeneration_ = 0;
};

using HOSCancellationTokenPtr = std::shared_ptr<HOSCancellationToken>;

}  // namespace pellix
