// DispatchGroup: counts outstanding work and tells when all of it is done.
//
// `enter` adds one, `leave` removes one; `async(queue, block)` enters, runs the
// block on `queue` and leaves. When the count drops to zero every registered
// `notify` block is queued on its queue, in registration order, and the
// registrations are cleared; `notify` on an idle group queues its block at once.
// `wait` blocks (a marked blocking wait, BlockingScope.h) until the count is
// zero; its time-out measures real time.
//
// An unbalanced `leave` (count already zero) is ignored rather than crashing
// the process, and reported once to stderr.
//
// Groups are shared objects: the pending async blocks keep the group alive.
// Thread-safety: all members from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Clock.h"

namespace pellix::platform {

class DispatchQueue;

class DispatchGroup : public std::enable_shared_from_this<DispatchGroup> {
public:
    static std::shared_ptr<DispatchGroup> create();

    void enter();
    void leave();
    void async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block);
    void notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block);

    // Waits without limit.
    void wait();
    // True when the group emptied within `timeout`, false on time-out. A
    // time-out beyond the clock's range (Duration::max()) waits without limit.
    bool wait(Clock::Duration timeout);
    bool waitSeconds(double seconds) { return wait(Clock::seconds(seconds)); }

    // Outstanding count (for tests).
    std::int64_t count() const;

private:
    DispatchGroup() = default;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    // Changes lock-free except when it reaches zero, which happens only under
    // `mutex_`: waiters and notify registrations see zero consistently, and
    // the leaver is done with the group once it lets go of the lock.
    std::atomic<std::int64_t> count_{0};
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifies_;
};

}  // namespace pellix::platform
