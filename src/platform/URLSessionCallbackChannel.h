// URLSessionCallbackChannel: runs one task's delegate callbacks on the
// session's delegate queue one at a time, in the order they were posted,
// whatever the queue's width. Internal to URLSession.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/OperationQueue.h"

namespace pellix::platform {

class URLSessionCallbackChannel : public std::enable_shared_from_this<URLSessionCallbackChannel> {
public:
    explicit URLSessionCallbackChannel(std::shared_ptr<OperationQueue> queue) : queue_(std::move(queue)) {}

    // Thread-safe.
    void post(std::function<void()> callback) {
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(std::move(callback));
            if (scheduled_) return;
            scheduled_ = true;
        }
        schedule();
    }

private:
    void schedule() {
        queue_->addOperation([self = shared_from_this()] { self->drain(); });
    }
    // Runs what was pending when it started, then yields the queue to other
    // tasks' callbacks if more arrived meanwhile.
    void drain() {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(pending_);
        }
        for (auto& cb : batch) cb();
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) {
                scheduled_ = false;
                return;
            }
        }
        schedule();
    }

    std::shared_ptr<OperationQueue> queue_;
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
    bool scheduled_ = false;
};

}  // namespace pellix::platform
