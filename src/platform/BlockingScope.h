// BlockingScope: tells the worker pool that the current thread is about to
// block.
//
// Put one around any wait that may last (a network round trip the thread waits
// for, a condition variable, a sleep): while it is alive, a pool worker does not
// count as busy, so the pool may start another worker for the queued work,
// which is what keeps "a task waiting for a later task" from deadlocking.
// The library's own waits (semaphores, groups, `sync`, operation-queue waits,
// `RunLoop::runUntil`) already do this. On threads that are not pool workers
// it does nothing. Scopes nest.
#pragma once

namespace pellix::platform {

class BlockingScope {
public:
    BlockingScope();
    ~BlockingScope();
    BlockingScope(const BlockingScope&) = delete;
    BlockingScope& operator=(const BlockingScope&) = delete;

private:
    bool counted_;
};

}  // namespace pellix::platform
