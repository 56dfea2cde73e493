// ReconnectTimer: runs a block once after a delay that doubles after every
// run (1, 2, 4 ... seconds) until it has reached the maximum.
//
// schedule() arms a one-shot timer with the current delay and cancels one
// still pending, so at most one run is ever due. reconnect() is the timer's
// action: it stops the timer, doubles the delay while it is below the
// maximum, then runs the block.
//
// Threads: use it from its queue (the block runs there).
#pragma once

#include <functional>
#include <memory>

#include "MQTTClient/GCDTimer.h"

namespace pellix {

namespace platform {
class DispatchQueue;
}

class ReconnectTimer : public std::enable_shared_from_this<ReconnectTimer> {
public:
    using Block = std::function<void()>;

    static std::shared_ptr<ReconnectTimer> initWithRetryInterval(double retryInterval, double maxRetryInterval,
                                                                 std::shared_ptr<platform::DispatchQueue> queue,
                                                                 Block reconnectBlock);
    ~ReconnectTimer();

    void schedule();
    void stop();
    void resetRetryInterval();
    void reconnect();

    std::shared_ptr<GCDTimer> timer() const { return timer_; }
    double retryInterval() const { return retryInterval_; }
    double currentRetryInterval() const { return currentRetryInterval_; }
    double maxRetryInterval() const { return maxRetryInterval_; }
    std::shared_ptr<platform::DispatchQueue> queue() const { return queue_; }

private:
    ReconnectTimer() = default;

    std::shared_ptr<GCDTimer> timer_;
    double retryInterval_ = 0;
    double currentRetryInterval_ = 0;
    double maxRetryInterval_ = 0;
    std::shared_ptr<platform::DispatchQueue> queue_;
    Block reconnectBlock_;
};

}  // namespace pellix
