// Operation: one unit of work for an OperationQueue.
//
// Subclass and override `main()`, or use `Operation::block(fn)`. An operation
// runs at most once. `cancel()` only sets the flag: an operation cancelled
// before it starts is finished without running `main()`; one already running
// should look at `isCancelled()` and return early. The completion block runs
// once the operation is finished (also when it was cancelled before starting),
// on the thread that finished it.
//
// Thread-safety: all members from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace pellix::platform {

class Operation : public std::enable_shared_from_this<Operation> {
public:
    Operation() = default;
    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // An operation whose main() calls `fn`.
    static std::shared_ptr<Operation> block(std::function<void()> fn);

    // The work; runs on a worker of the queue (or on the main thread for the
    // main operation queue).
    virtual void main() {}

    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }
    bool isExecuting() const;
    bool isFinished() const;

    void setCompletionBlock(std::function<void()> block);

    // Blocks until the operation has finished (a marked blocking wait).
    void waitUntilFinished();

    // Runs the operation on the calling thread: main() unless cancelled, then
    // finished and the completion block. Used by OperationQueue; calling it a
    // second time does nothing.
    void start();

private:
    friend class OperationQueue;
    std::atomic<bool> enqueued_{false};
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool started_ = false;
    bool executing_ = false;
    bool finished_ = false;
    std::function<void()> completion_;
};

}  // namespace pellix::platform
