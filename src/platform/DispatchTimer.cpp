#include "platform/DispatchTimer.h"

#include <algorithm>
#include <mutex>

#include "platform/DispatchQueue.h"
#include "platform/TimerScheduler.h"

namespace pellix::platform {

struct DispatchTimer::State {
    std::mutex mutex;
    Handler handler;
    Handler cancelHandler;
    bool configured = false;
    Clock::Duration interval{};
    Clock::TimePoint nextFire{};
    int suspendCount = 1;  // created suspended
    bool cancelled = false;
    bool due = false;             // a firing waits to be delivered
    bool deliveryQueued = false;  // a delivery block sits on the queue
    std::uint64_t generation = 0;
    std::uint64_t schedulerId = 0;
    // Set while resumed, not cancelled and armed: a running timer lives on
    // without its owner, a spent or stopped one does not.
    std::shared_ptr<DispatchTimer> keepAlive;
};

DispatchTimer::DispatchTimer(std::shared_ptr<DispatchQueue> queue)
    : queue_(std::move(queue)), state_(std::make_unique<State>()) {}

DispatchTimer::~DispatchTimer() {
    if (state_->schedulerId) detail::TimerScheduler::shared().cancel(state_->schedulerId);
}

std::shared_ptr<DispatchTimer> DispatchTimer::create(std::shared_ptr<DispatchQueue> queue) {
    if (!queue) queue = DispatchQueue::global();
    return std::shared_ptr<DispatchTimer>(new DispatchTimer(std::move(queue)));
}

void DispatchTimer::setEventHandler(Handler handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

void DispatchTimer::setCancelHandler(Handler handler) {
    std::lock_guard lock(state_->mutex);
    state_->cancelHandler = std::move(handler);
}

void DispatchTimer::setTimer(Clock::Duration start, Clock::Duration interval) {
    std::shared_ptr<DispatchTimer> released;
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled) return;
    state_->configured = true;
    // Capped like every other interval (Clock::seconds) so re-arming cannot overflow.
    state_->interval = std::clamp(interval, Clock::Duration::zero(), Clock::seconds(1e12));
    state_->nextFire = detail::TimerScheduler::deadlineAfter(start);
    state_->due = false;  // a new schedule replaces a firing not yet delivered
    arm();
    released = updateKeepAlive();
}

// With the state locked: holds or lets go of the self-reference to match the
// state; what it lets go of is handed back for release outside the lock.
std::shared_ptr<DispatchTimer> DispatchTimer::updateKeepAlive() {
    State& s = *state_;
    const bool wanted = s.suspendCount == 0 && !s.cancelled && s.schedulerId != 0;
    if (wanted && !s.keepAlive) s.keepAlive = shared_from_this();
    if (!wanted) return std::move(s.keepAlive);
    return nullptr;
}

// With the state locked: (re)registers the next deadline with the scheduler.
void DispatchTimer::arm() {
    State& s = *state_;
    if (s.schedulerId) detail::TimerScheduler::shared().cancel(s.schedulerId);
    s.schedulerId = 0;
    const std::uint64_t gen = ++s.generation;
    std::weak_ptr<DispatchTimer> weak = weak_from_this();
    s.schedulerId = detail::TimerScheduler::shared().schedule(s.nextFire, [weak, gen] {
        if (auto t = weak.lock()) t->onDue(gen);
    });
}

void DispatchTimer::onDue(std::uint64_t generation) {
    std::shared_ptr<DispatchTimer> released;
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (s.cancelled || generation != s.generation) return;
    s.schedulerId = 0;
    if (s.interval > Clock::Duration::zero()) {
        auto next = s.nextFire + s.interval;
        const auto now = Clock::monotonic();
        if (next <= now) next += s.interval * ((now - next) / s.interval + 1);  // fell behind: merge
        s.nextFire = next;
        arm();
    }
    s.due = true;
    if (s.suspendCount == 0 && !s.deliveryQueued) {
        s.deliveryQueued = true;
        queue_->async([self = shared_from_this()] { self->deliver(); });
    }
    released = updateKeepAlive();
}

void DispatchTimer::deliver() {
    Handler handler;
    {
        std::lock_guard lock(state_->mutex);
        State& s = *state_;
        s.deliveryQueued = false;
        if (s.cancelled || s.suspendCount > 0 || !s.due) return;
        s.due = false;
        handler = s.handler;
    }
    if (handler) handler();
}

void DispatchTimer::resume() {
    std::shared_ptr<DispatchTimer> released;
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (s.suspendCount == 0) return;  // unbalanced resume: ignored rather than fatal
    if (--s.suspendCount > 0) return;
    if (s.cancelled) return;
    released = updateKeepAlive();
    if (s.due && !s.deliveryQueued) {
        s.deliveryQueued = true;
        queue_->async([self = shared_from_this()] { self->deliver(); });
    }
}

void DispatchTimer::suspend() {
    std::shared_ptr<DispatchTimer> released;
    std::lock_guard lock(state_->mutex);
    if (state_->suspendCount++ == 0) released = std::move(state_->keepAlive);
    // `released` is destroyed after the lock is dropped (declared before it).
}

void DispatchTimer::cancel() {
    std::shared_ptr<DispatchTimer> released;
    Handler cancelHandler, dropped;  // destroyed outside the lock
    {
        std::lock_guard lock(state_->mutex);
        State& s = *state_;
        if (s.cancelled) return;
        s.cancelled = true;
        s.due = false;
        ++s.generation;
        if (s.schedulerId) detail::TimerScheduler::shared().cancel(s.schedulerId);
        s.schedulerId = 0;
        released = std::move(s.keepAlive);
        cancelHandler = std::move(s.cancelHandler);
        dropped = std::move(s.handler);
    }
    if (cancelHandler) queue_->async(std::move(cancelHandler));
}

bool DispatchTimer::isCancelled() const {
    std::lock_guard lock(state_->mutex);
    return state_->cancelled;
}

}  // namespace pellix::platform
