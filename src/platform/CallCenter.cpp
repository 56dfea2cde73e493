#include "platform/CallCenter.h"

#include <algorithm>

#include "platform/DispatchQueue.h"

namespace pellix::platform {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<CellularCall> calls;
    std::vector<std::weak_ptr<CallCenter>> centres;
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial("platform.CallCenter.telephony");
};

Registry& registry() {
    static auto* r = new Registry();
    return *r;
}

}  // namespace

std::shared_ptr<CallCenter> CallCenter::create() {
    std::shared_ptr<CallCenter> centre(new CallCenter());
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase_if(r.centres, [](const auto& w) { return w.expired(); });
    r.centres.push_back(centre);
    return centre;
}

void CallCenter::setCallEventHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::optional<std::vector<CellularCall>> CallCenter::currentCalls() const {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.calls.empty()) return std::nullopt;
    return r.calls;
}

void CallCenter::reportCallEvent(const CellularCall& call) {
    auto& r = registry();
    std::vector<std::weak_ptr<CallCenter>> centres;
    {
        std::lock_guard lock(r.mutex);
        auto same = [&](const CellularCall& c) { return c.callID == call.callID; };
        std::erase_if(r.calls, same);
        if (call.callState != CellularCall::State::Disconnected) r.calls.push_back(call);
        centres = r.centres;
    }
    r.queue->async([centres = std::move(centres), call] {
        for (const auto& weak : centres) {
            auto centre = weak.lock();
            if (!centre) continue;
            Handler handler;
            {
                std::lock_guard lock(centre->mutex_);
                handler = centre->handler_;
            }
            if (handler) handler(call);
        }
    });
}

}  // namespace pellix::platform
