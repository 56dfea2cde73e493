#include "platform/DispatchGroup.h"

#include <atomic>
#include <cstdio>

#include "platform/BlockingScope.h"
#include "platform/DispatchQueue.h"

namespace pellix::platform {

std::shared_ptr<DispatchGroup> DispatchGroup::create() { return std::shared_ptr<DispatchGroup>(new DispatchGroup()); }

void DispatchGroup::enter() { count_.fetch_add(1, std::memory_order_acq_rel); }

void DispatchGroup::leave() {
    // Fast path: not the last one out.
    std::int64_t n = count_.load(std::memory_order_acquire);
    while (n > 1)
        if (count_.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel, std::memory_order_acquire)) return;
    decltype(notifies_) ready;
    {
        std::lock_guard lock(mutex_);
        n = count_.load(std::memory_order_acquire);
        while (n > 0 && !count_.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel, std::memory_order_acquire)) {}
        if (n == 0) {
            // The platform aborts here; losing the process over a counting slip
            // helps nobody, so the extra leave is dropped and reported once.
            static std::atomic<bool> reported{false};
            if (!reported.exchange(true)) std::fprintf(stderr, "pellix: DispatchGroup::leave without enter ignored\n");
            return;
        }
        if (n > 1) return;  // someone entered meanwhile
        ready.swap(notifies_);
        cv_.notify_all();
    }
    for (auto& [queue, block] : ready) queue->async(std::move(block));
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block) {
    enter();
    queue->async([self = shared_from_this(), block = std::move(block)] {
        struct Leave {
            DispatchGroup& g;
            ~Leave() { g.leave(); }
        } leave{*self};
        block();
    });
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block) {
    {
        std::lock_guard lock(mutex_);
        if (count_.load(std::memory_order_acquire) > 0) {
            notifies_.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

void DispatchGroup::wait() {
    std::unique_lock lock(mutex_);
    if (count_.load(std::memory_order_acquire) == 0) return;
    BlockingScope blocking;
    cv_.wait(lock, [this] { return count_.load(std::memory_order_acquire) == 0; });
}

bool DispatchGroup::wait(Clock::Duration timeout) {
    std::unique_lock lock(mutex_);
    if (count_.load(std::memory_order_acquire) == 0) return true;
    if (timeout <= Clock::Duration::zero()) return false;
    BlockingScope blocking;
    const auto deadline = Clock::realDeadline(timeout);
    const auto idle = [this] { return count_.load(std::memory_order_acquire) == 0; };
    if (deadline) return cv_.wait_until(lock, *deadline, idle);
    cv_.wait(lock, idle);  // a time-out past the clock's range: wait until empty
    return true;
}

std::int64_t DispatchGroup::count() const { return count_.load(std::memory_order_acquire); }

}  // namespace pellix::platform
