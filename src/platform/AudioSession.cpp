#include "platform/AudioSession.h"

namespace pellix::platform {

AudioSession& AudioSession::sharedInstance() {
    static AudioSession* session = new AudioSession();
    return *session;
}

void AudioSession::setCategory(Category category, unsigned options) {
    update([&] {
        category_ = category;
        options_ = options;
    });
}

AudioSession::Category AudioSession::category() const {
    std::lock_guard lock(mutex_);
    return category_;
}

unsigned AudioSession::categoryOptions() const {
    std::lock_guard lock(mutex_);
    return options_;
}

void AudioSession::overrideOutputAudioPort(PortOverride port) {
    update([&] { override_ = port; });
}

AudioSession::PortOverride AudioSession::outputOverride() const {
    std::lock_guard lock(mutex_);
    return override_;
}

void AudioSession::setActive(bool active) {
    update([&] { active_ = active; });
}

bool AudioSession::isActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}

void AudioSession::setChangeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void AudioSession::update(const std::function<void()>& change) {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        change();
        handler = handler_;
    }
    if (handler) handler();
}

}  // namespace pellix::platform
