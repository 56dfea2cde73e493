#include "platform/TimerScheduler.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <thread>

#include "platform/ManualClock.h"

namespace pellix::platform::detail {

TimerScheduler& TimerScheduler::shared() {
    static TimerScheduler* scheduler = new TimerScheduler();  // never destroyed: its thread runs to the end
    return *scheduler;
}

std::uint64_t TimerScheduler::schedule(Clock::TimePoint deadline, Fire fire) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = nextId_++;
    entries_.emplace(Key{deadline, id}, std::move(fire));
    deadlines_.emplace(id, deadline);
    ++changes_;
    startLocked();
    cv_.notify_all();
    return id;
}

bool TimerScheduler::cancel(std::uint64_t id) {
    Fire dropped;  // destroyed outside the lock: it may own the last reference to a timer
    std::lock_guard lock(mutex_);
    auto it = deadlines_.find(id);
    if (it == deadlines_.end()) return false;
    auto e = entries_.find(Key{it->second, id});
    if (e != entries_.end()) {
        dropped = std::move(e->second);
        entries_.erase(e);
    }
    deadlines_.erase(it);
    return true;
}

Clock::TimePoint TimerScheduler::deadlineAfter(Clock::Duration delay) {
    const Clock::TimePoint now = Clock::monotonic();
    if (delay < Clock::Duration::zero()) delay = Clock::Duration::zero();
    if (delay > Clock::TimePoint::max() - now) return Clock::TimePoint::max();
    return now + delay;
}

void TimerScheduler::clockChanged() {
    std::lock_guard lock(mutex_);
    ++changes_;
    cv_.notify_all();
}

std::size_t TimerScheduler::pendingCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void TimerScheduler::startLocked() {
    if (started_) return;
    started_ = true;
    std::thread([this] { threadMain(); }).detach();
}

static void runFire(TimerScheduler::Fire& fire) {
    try {
        fire();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pellix: timer callback failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "pellix: timer callback failed\n");
    }
}

std::size_t TimerScheduler::advance(ManualClock& clock, Clock::TimePoint target) {
    std::size_t fired = 0;
    for (;;) {
        Fire fire;
        {
            std::lock_guard lock(mutex_);
            auto it = entries_.begin();
            if (it == entries_.end() || it->first.first > target) {
                if (clock.monotonicTime() < target) clock.setMonotonicTimeForTimers(target);
                ++changes_;
                cv_.notify_all();
                return fired;
            }
            if (clock.monotonicTime() < it->first.first) clock.setMonotonicTimeForTimers(it->first.first);
            fire = std::move(it->second);
            deadlines_.erase(it->first.second);
            entries_.erase(it);
        }
        runFire(fire);
        ++fired;
    }
}

void TimerScheduler::threadMain() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (entries_.empty()) {
            cv_.wait(lock);
            continue;
        }
        const auto clock = Clock::shared();
        const auto now = clock->monotonicTime();
        auto it = entries_.begin();
        if (it->first.first <= now) {
            Fire fire = std::move(it->second);
            deadlines_.erase(it->first.second);
            entries_.erase(it);
            lock.unlock();
            runFire(fire);
            fire = nullptr;
            lock.lock();
            continue;
        }
        const std::uint64_t seen = changes_;
        if (clock == Clock::system()) {
            // Far deadlines are approached in steps of an hour, which keeps the
            // wait's own arithmetic far from overflow.
            const auto wake = std::min(it->first.first, now + std::chrono::hours(1));
            const auto deadline = std::chrono::steady_clock::time_point(
                std::chrono::duration_cast<std::chrono::steady_clock::duration>(wake.time_since_epoch()));
            cv_.wait_until(lock, deadline, [&] { return changes_ != seen; });
        } else if (dynamic_cast<ManualClock*>(clock.get()) != nullptr) {
            // A manual clock moves only through advance() or setShared(), both of
            // which count as changes.
            cv_.wait(lock, [&] { return changes_ != seen; });
        } else {
            // Some other clock: look again soon.
            cv_.wait_for(lock, std::chrono::milliseconds(5), [&] { return changes_ != seen; });
        }
    }
}

}  // namespace pellix::platform::detail
