// TVProgress: the progress of one transfer direction of a task (total and
// completed unit counts), cancellable and pausable through handlers that act
// on the task.
//
// Threads: counts may be read from any thread; updates come from the
// manager's delegate queue, and the observer runs there, once per update that
// changes the fraction completed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

namespace pellix {

class TVProgress {
public:
    using Handler = std::function<void()>;
    using Observer = std::function<void(TVProgress&)>;

    TVProgress() = default;
    TVProgress(const TVProgress&) = delete;
    TVProgress& operator=(const TVProgress&) = delete;

    std::int64_t totalUnitCount() const { return total_.load(); }
    std::int64_t completedUnitCount() const { return completed_.load(); }
    // completed / total; 0 while the total is unknown (negative) or zero.
    double fractionCompleted() const;
    // Sets both counts, then tells the observer when the fraction changed.
    void update(std::int64_t total, std::int64_t completed);
    void setTotalUnitCount(std::int64_t total) { update(total, completed_.load()); }
    void setCompletedUnitCount(std::int64_t completed) { update(total_.load(), completed); }

    bool isCancellable() const { return cancellable_; }
    void setCancellable(bool v) { cancellable_ = v; }
    bool isPausable() const { return pausable_; }
    void setPausable(bool v) { pausable_ = v; }
    bool isCancelled() const { return cancelled_.load(); }
    bool isPaused() const { return paused_.load(); }

    void setCancellationHandler(Handler h);
    void setPausingHandler(Handler h);
    void setResumingHandler(Handler h);
    void setFractionCompletedObserver(Observer o);

    // Run the handlers (cancel only when cancellable, pause only when
    // pausable).
    void cancel();
    void pause();
    void resume();

private:
    std::atomic<std::int64_t> total_{0};
    std::atomic<std::int64_t> completed_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> paused_{false};
    bool cancellable_ = true;
    bool pausable_ = false;
    mutable std::mutex mutex_;
    Handler cancellation_, pausing_, resuming_;
    Observer observer_;
};

}  // namespace pellix
