#include "MQTTClient/GCDTimer.h"

#include <chrono>
#include <cstdint>

#include "platform/DispatchQueue.h"
#include "platform/DispatchTimer.h"

namespace pellix {

std::shared_ptr<GCDTimer> GCDTimer::scheduledTimerWithTimeInterval(double interval, bool repeats,
                                                                   std::shared_ptr<platform::DispatchQueue> queue,
                                                                   Block block) {
    std::shared_ptr<GCDTimer> timer(new GCDTimer());
    timer->initWithInterval(interval, repeats, std::move(queue), std::move(block));
    return timer;
}

GCDTimer::~GCDTimer() { invalidate(); }

void GCDTimer::initWithInterval(double interval, bool repeats, std::shared_ptr<platform::DispatchQueue> queue,
                                Block block) {
    auto source = platform::DispatchTimer::create(std::move(queue));
    const double nanoseconds = interval * 1e9;
    const platform::Clock::Duration period(nanoseconds > 0 ? static_cast<std::int64_t>(nanoseconds) : 0);
    source->setTimer(period, period);
    // The handler holds the timer and the block until the source is
    // cancelled, which drops the handler and with it this cycle.
    source->setEventHandler([self = shared_from_this(), repeats, block = std::move(block)] {
        if (!repeats) {
            self->invalidate();
        }
        if (block) {
            block();
        }
    });
    {
        std::lock_guard lock(mutex_);
        timer_ = source;
    }
    source->resume();
}

void GCDTimer::invalidate() {
    std::shared_ptr<platform::DispatchTimer> source;
    {
        std::lock_guard lock(mutex_);
        source = timer_;
    }
    if (source) {
        source->cancel();
    }
}

std::shared_ptr<platform::DispatchTimer> GCDTimer::timer() const {
    std::lock_guard lock(mutex_);
    return timer_;
}

}  // namespace pellix
