// NotificationCenter: process-wide broadcast of named notifications.
//
// `post` delivers synchronously on the posting thread: every matching observer
// is called, in registration order, before `post` returns. Observers with a
// queue are the exception: their block is queued on that queue (`async`), or
// called inline when the poster already runs on that queue.
//
// Matching: an observer registered with a name sees only that name (empty
// name: every name); registered with an object it sees only notifications
// whose object has that identity (nullptr: any object).
//
// Changes during delivery are safe: an observer removed while a post is in
// progress (by itself, by another observer, or by another thread) is not
// called afterwards, even later in the same post; an observer added during a
// post sees the next post, not the current one. Removal does not wait for a
// call already running on another thread. Observer blocks may post, add and
// remove freely (no lock is held while they run).
//
// Thread-safety: all members from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Notification.h"

namespace pellix::platform {

class DispatchQueue;

class NotificationCenter {
public:
    // Identifies one registration; 0 is never a valid token.
    using Token = std::uint64_t;
    using Block = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Block observer; `queue` may be null (call on the posting thread).
    Token addObserver(std::string name, const void* object, std::shared_ptr<DispatchQueue> queue, Block block);
    // Observer owned by `owner` (the platform's target-style observer, removed
    // with the owner's other registrations by `removeObserver(owner)`).
    Token addObserverWithOwner(const void* owner, std::string name, const void* object, Block block);

    void removeObserver(Token token);
    // Removes every registration of `owner`; with a name and/or object only
    // those matching them (empty name / null object = any).
    void removeObserver(const void* owner, const std::string& name = {}, const void* object = nullptr);

    void post(const Notification& notification);
    void post(std::string name, std::shared_ptr<void> object = nullptr, Dictionary userInfo = {});
    // Posts with an identity-only object (see Notification::identity).
    void post(std::string name, const void* object, Dictionary userInfo = {});
    void post(std::string name, std::nullptr_t, Dictionary userInfo = {});

    // Registrations alive (for tests).
    std::size_t observerCount() const;

    struct Entry;  // defined in NotificationCenter.cpp

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    Token nextToken_ = 1;
};

}  // namespace pellix::platform
