#include "platform/Timer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <unordered_set>

#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/TimerScheduler.h"

namespace pellix::platform {

namespace {
constexpr double kMinInterval = 0.0001;
}

struct Timer::State {
    std::mutex mutex;
    Block block;
    bool valid = true;
    bool scheduled = false;
    bool firePending = false;
    std::weak_ptr<RunLoop> loop;
    std::uint64_t schedulerId = 0;
    Clock::TimePoint nextFire{};
};

Timer::Timer(double intervalSeconds, bool repeats, Block block)
    // NaN would pass std::max and make the re-arm step zero, a division by zero.
    : interval_(std::isnan(intervalSeconds) ? kMinInterval : std::max(intervalSeconds, kMinInterval)),
      repeats_(repeats),
      state_(std::make_unique<State>()) {
    state_->block = std::move(block);
}

Timer::~Timer() {
    if (state_->schedulerId) detail::TimerScheduler::shared().cancel(state_->schedulerId);
}

std::shared_ptr<Timer> Timer::create(double intervalSeconds, bool repeats, Block block) {
    return std::shared_ptr<Timer>(new Timer(intervalSeconds, repeats, std::move(block)));
}

std::shared_ptr<Timer> Timer::scheduled(double intervalSeconds, bool repeats, Block block) {
    auto t = create(intervalSeconds, repeats, std::move(block));
    RunLoop::current()->addTimer(t);
    return t;
}

bool Timer::isValid() const {
    std::lock_guard lock(state_->mutex);
    return state_->valid;
}

// Called by the scheduler when the deadline is reached: re-arm a repeating
// timer and hand one firing to the run loop unless one is still waiting there.
static void onDue(const std::weak_ptr<Timer>& weak);

void Timer::schedule(const std::shared_ptr<RunLoop>& loop) {
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->valid || state_->scheduled) return;
        state_->scheduled = true;
        state_->loop = loop;
        state_->nextFire = detail::TimerScheduler::deadlineAfter(Clock::seconds(interval_));
        std::weak_ptr<Timer> weak = shared_from_this();
        state_->schedulerId = detail::TimerScheduler::shared().schedule(state_->nextFire, [weak] { onDue(weak); });
    }
    loop->keepTimer(shared_from_this(), true);
}

void Timer::invalidate() {
    std::shared_ptr<RunLoop> loop;
    Block dropped;  // released outside the lock: it may hold the timer's owner
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->valid) return;
        state_->valid = false;
        if (state_->schedulerId) detail::TimerScheduler::shared().cancel(state_->schedulerId);
        state_->schedulerId = 0;
        loop = state_->loop.lock();
        dropped = std::move(state_->block);
    }
    if (loop) loop->keepTimer(shared_from_this(), false);
}

void Timer::fire() {
    Block block;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->valid) return;
        block = state_->block;
    }
    if (!repeats_) invalidate();
    if (block) block(*this);
}

void Timer::deliverFire() {
    State& s = *state_;
    Block block;
    {
        std::lock_guard lock(s.mutex);
        s.firePending = false;
        if (!s.valid) return;
        block = s.block;
    }
    if (!repeats_) invalidate();
    try {
        if (block) block(*this);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pellix: uncaught exception in a timer block: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "pellix: uncaught exception in a timer block\n");
    }
}

void Timer::onDueImpl() {
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->valid) return;
        state_->schedulerId = 0;
        if (repeats_) {
            const auto step = Clock::seconds(interval_);
            auto next = state_->nextFire + step;
            const auto now = Clock::monotonic();
            // Fell behind: skip the missed firings.
            if (next <= now) next += step * ((now - next) / step + 1);
            state_->nextFire = next;
            std::weak_ptr<Timer> weak = shared_from_this();
            state_->schedulerId = detail::TimerScheduler::shared().schedule(next, [weak] { onDue(weak); });
        }
        if (state_->firePending) return;
        loop = state_->loop.lock();
        if (!loop) return;
        state_->firePending = true;
    }
    std::shared_ptr<Timer> self = shared_from_this();
    loop->perform([self] { self->deliverFire(); });
}

static void onDue(const std::weak_ptr<Timer>& weak) {
    if (auto t = weak.lock()) t->onDueImpl();
}

}  // namespace pellix::platform
