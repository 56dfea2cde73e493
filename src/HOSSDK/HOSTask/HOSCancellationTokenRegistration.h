// HOSCancellationTokenRegistration: one observer of a cancellation token.
//
// The token keeps its registrations strongly; a registration keeps its token
// weakly. dispose() stops the observer for good and removes the registration
// from its token. Safe to use from any thread; a registration disposed while
// its token is notifying is skipped, never called.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace pellix {

class HOSCancellationToken;

class HOSCancellationTokenRegistration : public std::enable_shared_from_this<HOSCancellationTokenRegistration> {
public:
    HOSCancellationTokenRegistration(const HOSCancellationTokenRegistration&) = delete;
    HOSCancellationTokenRegistration& operator=(const HOSCancellationTokenRegistration&) = delete;

    static std::shared_ptr<HOSCancellationTokenRegistration> registrationWithToken(
        const std::shared_ptr<HOSCancellationToken>& token, std::function<void()> delegate);

    void dispose();
    bool isDisposed() const;

private:
    friend class HOSCancellationToken;
    struct Private {};

public:
    explicit HOSCancellationTokenRegistration(Private) {}

private:
    // Calls the observer under this registration's lock; a disposed
    // registration is skipped.
    void notifyDelegate();

    mutable std::recursive_mutex lock_;
    bool disposed_ = false;
    std::weak_ptr<HOSCancellationToken> token_;
    std::function<void()> cancellationObserverBlock_;
};

}  // namespace pellix
