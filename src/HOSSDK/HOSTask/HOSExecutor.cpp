#include "HOSSDK/HOSTask/HOSExecutor.h"

#include <pthread.h>

#include <cstdint>

#include "platform/DispatchQueue.h"
#include "platform/OperationQueue.h"

namespace pellix {

namespace {

// The calling thread's stack bounds, read once per thread (reading them can
// be costly: for the main thread the C library scans the process's maps).
struct StackBounds {
    std::uintptr_t high = 0;
    std::size_t size = 0;
};

const StackBounds& currentStackBounds() {
    thread_local StackBounds bounds = [] {
        StackBounds b;
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* low = nullptr;
            std::size_t size = 0;
            if (pthread_attr_getstack(&attr, &low, &size) == 0) {
                b.high = reinterpret_cast<std::uintptr_t>(low) + size;
                b.size = size;
            }
            pthread_attr_destroy(&attr);
        }
        return b;
    }();
    return bounds;
}

}  // namespace

std::size_t HOSExecutor::remainingStackSize(std::size_t* total) {
    const StackBounds& b = currentStackBounds();
    if (total) *total = b.size;
    if (b.size == 0) return 0;
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const std::uintptr_t used = b.high > here ? b.high - here : 0;
    return used < b.size ? b.size - used : 0;
}

const std::shared_ptr<HOSExecutor>& HOSExecutor::defaultExecutor() {
    static const auto* executor = new std::shared_ptr<HOSExecutor>(std::make_shared<HOSExecutor>([](Work work) {
        std::size_t total = 0;
        const std::size_t remaining = remainingStackSize(&total);
        if (remaining < total / 10)
            platform::DispatchQueue::global(platform::QoS::Default)->async(std::move(work));
        else
            work();
    }));
    return *executor;
}

const std::shared_ptr<HOSExecutor>& HOSExecutor::immediateExecutor() {
    static const auto* executor =
        new std::shared_ptr<HOSExecutor>(std::make_shared<HOSExecutor>([](Work work) { work(); }));
    return *executor;
}

const std::shared_ptr<HOSExecutor>& HOSExecutor::mainThreadExecutor() {
    static const auto* executor = new std::shared_ptr<HOSExecutor>(std::make_shared<HOSExecutor>([](Work work) {
        const auto& main = platform::DispatchQueue::main();
        if (main->isCurrent())
            work();
        else
            main->async(std::move(work));
    }));
    return *executor;
}

std::shared_ptr<HOSExecutor> HOSExecutor::executorWithBlock(Runner block) {
    return std::make_shared<HOSExecutor>(std::move(block));
}

std::shared_ptr<HOSExecutor> HOSExecutor::executorWithDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    return std::make_shared<HOSExecutor>([queue = std::move(queue)](Work work) { queue->async(std::move(work)); });
}

std::shared_ptr<HOSExecutor> HOSExecutor::executorWithOperationQueue(std::shared_ptr<platform::OperationQueue> queue) {
    return std::make_shared<HOSExecutor>(
        [queue = std::move(queue)](Work work) { queue->addOperation(std::move(work)); });
}

}  // namespace pellix
