#include "platform/Operation.h"

#include <cstdio>
#include <exception>

#include "platform/BlockingScope.h"

namespace pellix::platform {

namespace {
class BlockOperation final : public Operation {
public:
    explicit BlockOperation(std::function<void()> fn) : fn_(std::move(fn)) {}
    void main() override {
        if (fn_) fn_();
    }

private:
    std::function<void()> fn_;
};
}  // namespace

std::shared_ptr<Operation> Operation::block(std::function<void()> fn) {
    return std::make_shared<BlockOperation>(std::move(fn));
}

bool Operation::isExecuting() const {
    std::lock_guard lock(mutex_);
    return executing_;
}

bool Operation::isFinished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(mutex_);
    completion_ = std::move(block);
}

void Operation::waitUntilFinished() {
    std::unique_lock lock(mutex_);
    if (finished_) return;
    BlockingScope blocking;
    cv_.wait(lock, [this] { return finished_; });
}

void Operation::start() {
    bool run;
    {
        std::lock_guard lock(mutex_);
        if (started_) return;
        started_ = true;
        run = !cancelled_.load();
        executing_ = run;
    }
    if (run) {
        try {
            main();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pellix: uncaught exception in an operation: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "pellix: uncaught exception in an operation\n");
        }
    }
    std::function<void()> completion;
    {
        std::lock_guard lock(mutex_);
        executing_ = false;
        finished_ = true;
        completion = std::move(completion_);
        cv_.notify_all();
    }
    if (completion) completion();
}

}  // namespace pellix::platform
