#include "MQTTClient/ReconnectTimer.h"

#include "platform/DispatchQueue.h"

namespace pellix {

std::shared_ptr<ReconnectTimer> ReconnectTimer::initWithRetryInterval(double retryInterval, double maxRetryInterval,
                                                                      std::shared_ptr<platform::DispatchQueue> queue,
                                                                      Block reconnectBlock) {
    auto timer = std::shared_ptr<ReconnectTimer>(new ReconnectTimer());
    timer->retryInterval_ = retryInterval;
    timer->currentRetryInterval_ = retryInterval;
    timer->maxRetryInterval_ = maxRetryInterval;
    timer->reconnectBlock_ = std::move(reconnectBlock);
    timer->queue_ = std::move(queue);
    return timer;
}

ReconnectTimer::~ReconnectTimer() { stop(); }

void ReconnectTimer::schedule() {
    // A timer left pending would fire as well and reconnect a second time,
    // possibly tearing down the connection the first run made.
    stop();
    std::weak_ptr<ReconnectTimer> weak = weak_from_this();
    timer_ = GCDTimer::scheduledTimerWithTimeInterval(currentRetryInterval_, false, queue_, [weak] {
        if (auto self = weak.lock()) self->reconnect();
    });
}

void ReconnectTimer::stop() {
    if (timer_) timer_->invalidate();
    timer_.reset();
}

void ReconnectTimer::resetRetryInterval() { currentRetryInterval_ = retryInterval_; }

void ReconnectTimer::reconnect() {
    stop();
    if (currentRetryInterval_ < maxRetryInterval_) currentRetryInterval_ *= 2;
    if (reconnectBlock_) reconnectBlock_();
}

}  // namespace pellix
