#include "platform/SystemSound.h"

#include <mutex>

namespace pellix::platform {
namespace {

std::mutex& handlerMutex() {
    static std::mutex* m = new std::mutex();
    return *m;
}

std::function<void(std::uint32_t)>& handlerSlot() {
    static auto* slot = new std::function<void(std::uint32_t)>();
    return *slot;
}

}  // namespace

void playSystemSound(std::uint32_t soundID) {
    std::function<void(std::uint32_t)> handler;
    {
        std::lock_guard lock(handlerMutex());
        handler = handlerSlot();
    }
    if (handler) handler(soundID);
}

void setSystemSoundHandler(std::function<void(std::uint32_t)> handler) {
    std::lock_guard lock(handlerMutex());
    handlerSlot() = std::move(handler);
}

}  // namespace pellix::platform
