// DispatchTimer: a timer source whose handler runs on a dispatch queue.
//
// Created suspended: set the handler and the schedule, then `resume()`. The
// handler runs as a block of the queue (any queue, the main queue included).
// `setTimer(start, interval)` (re)arms it: first firing `start` seconds from
// now, then every `interval` seconds; interval <= 0 makes it fire once. The
// times are measured on the process clock (Clock.h). If the handler has not
// run yet when the timer comes due again, the firings merge into one.
//
// `suspend` / `resume` nest as on the platform (a timer runs while it has been
// resumed once more than suspended); an unbalanced `resume` is ignored instead
// of crashing. Firings that fall due while suspended merge into one delivered
// on resume. `cancel` stops it for good: no new firing is handed to the queue
// and a firing still waiting on the queue is dropped; a handler already
// running finishes (from another thread, one that is just starting may still
// run once, as on the platform). The cancel handler is then queued on the
// queue. While resumed, armed and not cancelled the timer keeps itself alive,
// as the platform's sources do: cancel it to let it go (a one-shot timer that
// has fired, or a suspended one, lives only as long as its owners hold it).
//
// Thread-safety: all members from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Clock.h"

namespace pellix::platform {

class DispatchQueue;

class DispatchTimer : public std::enable_shared_from_this<DispatchTimer> {
public:
    using Handler = std::function<void()>;

    static std::shared_ptr<DispatchTimer> create(std::shared_ptr<DispatchQueue> queue);

    ~DispatchTimer();
    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    void setEventHandler(Handler handler);
    void setCancelHandler(Handler handler);
    // (Re)arms the schedule from now; allowed at any time, also while running.
    void setTimer(Clock::Duration start, Clock::Duration interval);
    void setTimer(double startSeconds, double intervalSeconds) {
        setTimer(Clock::seconds(startSeconds), Clock::seconds(intervalSeconds));
    }

    void resume();
    void suspend();
    void cancel();
    bool isCancelled() const;

    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }

    struct State;  // defined in DispatchTimer.cpp

private:
    explicit DispatchTimer(std::shared_ptr<DispatchQueue> queue);
    void arm();
    std::shared_ptr<DispatchTimer> updateKeepAlive();
    void onDue(std::uint64_t generation);
    void deliver();

    std::shared_ptr<DispatchQueue> queue_;
    std::unique_ptr<State> state_;
};

}  // namespace pellix::platform
