#include "platform/BlockingScope.h"

#include "platform/WorkerPool.h"

namespace pellix::platform {

BlockingScope::BlockingScope() : counted_(detail::WorkerPool::shared().beginBlocking()) {}

BlockingScope::~BlockingScope() {
    if (counted_) detail::WorkerPool::shared().endBlocking();
}

}  // namespace pellix::platform
