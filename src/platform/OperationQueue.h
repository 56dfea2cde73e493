// OperationQueue: runs Operations in submission order with at most
// `maxConcurrentOperationCount` running at once (the queue's width).
//
// Operations start in the order they were added, as soon as fewer than the
// width are running and the queue is not suspended; they run on pool workers
// (DispatchQueue.h), except on `mainQueue()`, whose operations run one at a
// time as main-queue blocks on the main thread. Width -1 (the default) means
// no limit of the queue's own; width 0 holds everything back.
//
// `cancelAllOperations` cancels every operation queued or running (queued ones
// then finish without running). `setSuspended(true)` stops new operations
// from starting; running ones go on. `waitUntilAllOperationsAreFinished`
// blocks (a marked blocking wait) until nothing is queued or running; it must
// not be called from one of the queue's own operations, nor on the main thread
// for the main operation queue.
//
// Thread-safety: all members from any thread. The queue's pending work keeps
// it alive.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Operation.h"

namespace pellix::platform {

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
public:
    static constexpr int kDefaultMaxConcurrentOperationCount = -1;

    static std::shared_ptr<OperationQueue> create(std::string name = {});
    // The queue whose operations run on the main thread (width 1).
    static std::shared_ptr<OperationQueue> mainQueue();

    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    std::string name() const;
    void setName(std::string name);

    int maxConcurrentOperationCount() const;
    // Widening starts waiting operations at once; ignored on the main queue.
    void setMaxConcurrentOperationCount(int count);

    // Adds an operation; adding one that was added before (to any queue) is
    // ignored.
    void addOperation(const std::shared_ptr<Operation>& op);
    void addOperation(std::function<void()> block);

    // Operations queued or running.
    std::size_t operationCount() const;

    void cancelAllOperations();
    void waitUntilAllOperationsAreFinished();

    void setSuspended(bool suspended);
    bool isSuspended() const;

private:
    OperationQueue(std::string name, bool isMain);
    void pumpLocked();
    // The next waiting operation, counted as running, when the queue may
    // start one now; null otherwise.
    std::shared_ptr<Operation> startNextLocked();
    void run(const std::shared_ptr<Operation>& op);

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::string name_;
    bool isMain_;
    int width_ = kDefaultMaxConcurrentOperationCount;
    bool suspended_ = false;
    std::size_t running_ = 0;
    std::deque<std::shared_ptr<Operation>> waiting_;
    std::vector<std::shared_ptr<Operation>> runningOps_;
};

}  // namespace pellix::platform
