// HOSExecutor: decides where a task continuation runs.
//
// An executor is a runner: a function that takes a piece of work and runs it
// somewhere (inline, on a dispatch queue, on the main queue, on an operation
// queue). Executors are immutable after creation and may be used from any
// thread; the three shared ones are created once, on first use, and live for
// the life of the process.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace pellix {

namespace platform {
class DispatchQueue;
class OperationQueue;
}  // namespace platform

class HOSExecutor {
public:
    using Work = std::function<void()>;
    using Runner = std::function<void(Work)>;

    explicit HOSExecutor(Runner block) : block_(std::move(block)) {}
    HOSExecutor(const HOSExecutor&) = delete;
    HOSExecutor& operator=(const HOSExecutor&) = delete;

    // Inline on the calling thread while at least a tenth of the thread's
    // stack is free; below that, asynchronously on the default global queue
    // (which starts on a fresh stack). This bounds the depth of long chains of
    // continuations that complete one another inline.
    static const std::shared_ptr<HOSExecutor>& defaultExecutor();
    // Inline, at once, on the calling thread.
    static const std::shared_ptr<HOSExecutor>& immediateExecutor();
    // On the main thread inline; elsewhere asynchronously on the main queue.
    static const std::shared_ptr<HOSExecutor>& mainThreadExecutor();

    static std::shared_ptr<HOSExecutor> executorWithBlock(Runner block);
    // Each work item asynchronously on the queue.
    static std::shared_ptr<HOSExecutor> executorWithDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue);
    // Each work item as one operation added to the queue.
    static std::shared_ptr<HOSExecutor> executorWithOperationQueue(std::shared_ptr<platform::OperationQueue> queue);

    void execute(Work work) const { block_(std::move(work)); }
    const Runner& block() const { return block_; }

    // Free stack of the calling thread in bytes; *total receives the stack's
    // whole size. Used by defaultExecutor.
    static std::size_t remainingStackSize(std::size_t* total);

private:
    Runner block_;
};

using HOSExecutorPtr = std::shared_ptr<HOSExecutor>;

}  // namespace pellix
