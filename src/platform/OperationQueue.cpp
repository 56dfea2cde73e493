#include "platform/OperationQueue.h"

#include <algorithm>

#include "platform/BlockingScope.h"
#include "platform/DispatchQueue.h"

namespace pellix::platform {

OperationQueue::OperationQueue(std::string name, bool isMain) : name_(std::move(name)), isMain_(isMain) {
    if (isMain_) width_ = 1;
}

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name) {
    return std::shared_ptr<OperationQueue>(new OperationQueue(std::move(name), false));
}

std::shared_ptr<OperationQueue> OperationQueue::mainQueue() {
    static auto* q = new std::shared_ptr<OperationQueue>(new OperationQueue("main", true));
    return *q;
}

std::string OperationQueue::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void OperationQueue::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(mutex_);
    return width_;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    std::lock_guard lock(mutex_);
    if (isMain_) return;
    width_ = count < 0 ? kDefaultMaxConcurrentOperationCount : count;
    pumpLocked();
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& op) {
    if (!op || op->enqueued_.exchange(true)) return;
    std::lock_guard lock(mutex_);
    waiting_.push_back(op);
    pumpLocked();
}

void OperationQueue::addOperation(std::function<void()> block) { addOperation(Operation::block(std::move(block))); }

std::size_t OperationQueue::operationCount() const {
    std::lock_guard lock(mutex_);
    return waiting_.size() + running_;
}

std::shared_ptr<Operation> OperationQueue::startNextLocked() {
    if (suspended_ || waiting_.empty() || (width_ >= 0 && running_ >= static_cast<std::size_t>(width_))) return nullptr;
    auto op = std::move(waiting_.front());
    waiting_.pop_front();
    ++running_;
    runningOps_.push_back(op);
    return op;
}

void OperationQueue::pumpLocked() {
    while (auto op = startNextLocked()) {
        auto self = shared_from_this();
        auto queue = isMain_ ? DispatchQueue::main() : DispatchQueue::global();
        queue->async([self, op] { self->run(op); });
    }
}

void OperationQueue::run(const std::shared_ptr<Operation>& first) {
    std::shared_ptr<Operation> op = first;
    for (;;) {
        op->start();
        std::lock_guard lock(mutex_);
        --running_;
        auto it = std::find(runningOps_.begin(), runningOps_.end(), op);
        if (it != runningOps_.end()) runningOps_.erase(it);
        // The thread that finished an operation goes on with the next one it
        // may start, rather than handing each to the pool afresh: a queue
        // kept busy costs one dispatch and one wake-up per busy stretch, not
        // per operation. The main queue yields to its run loop each time.
        if (!isMain_) {
            if (auto next = startNextLocked()) {
                op = std::move(next);
                pumpLocked();
                continue;
            }
        }
        pumpLocked();
        if (running_ == 0 && waiting_.empty()) idle_.notify_all();
        return;
    }
}

void OperationQueue::cancelAllOperations() {
    std::lock_guard lock(mutex_);
    for (auto& op : waiting_) op->cancel();
    for (auto& op : runningOps_) op->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(mutex_);
    if (running_ == 0 && waiting_.empty()) return;
    BlockingScope blocking;
    idle_.wait(lock, [this] { return running_ == 0 && waiting_.empty(); });
}

void OperationQueue::setSuspended(bool suspended) {
    std::lock_guard lock(mutex_);
    suspended_ = suspended;
    pumpLocked();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(mutex_);
    return suspended_;
}

}  // namespace pellix::platform
