// GCDTimer: a timer that runs a block on a dispatch queue, for the session's
// retransmission and keep-alive timers and the reconnect timer.
//
// The first call comes one interval after creation, never at once; a
// repeating timer then fires every interval until invalidate(). A timer that
// does not repeat is cancelled just before its block runs, so the block may
// schedule a new timer without overlap.
//
// Ownership: a scheduled timer keeps itself alive (its event handler holds it
// and the block) until it is invalidated or, when it does not repeat, has
// fired; dropping the last outside reference does not stop it. invalidate()
// is safe to call again and from any thread; after it returns no new firing
// starts (one already running finishes). The block runs on the queue given
// at creation.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace pellix {

namespace platform {
class DispatchQueue;
class DispatchTimer;
}  // namespace platform

class GCDTimer : public std::enable_shared_from_this<GCDTimer> {
public:
    using Block = std::function<void()>;

    // Creates and starts a timer (interval in seconds, cut to whole nanoseconds).
    static std::shared_ptr<GCDTimer> scheduledTimerWithTimeInterval(double interval, bool repeats,
                                                                    std::shared_ptr<platform::DispatchQueue> queue,
                                                                    Block block);
    ~GCDTimer();
    GCDTimer(const GCDTimer&) = delete;
    GCDTimer& operator=(const GCDTimer&) = delete;

    // Cancels the timer source when there is one.
    void invalidate();
    // The dispatch timer source behind it.
    std::shared_ptr<platform::DispatchTimer> timer() const;

private:
    GCDTimer() = default;
    void initWithInterval(double interval, bool repeats, std::shared_ptr<platform::DispatchQueue> queue, Block block);

    mutable std::mutex mutex_;
    std::shared_ptr<platform::DispatchTimer> timer_;
};

}  // namespace pellix
