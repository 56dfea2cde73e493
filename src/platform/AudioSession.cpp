#include "platform/AudioSession.h"

namespace pellix::platform {

AudioSession& AudioSession::sharedInstance() {
    static AudioSession* session = new AudioSession();
    return *session;
}

void AudioSession::setCategory(Category category, unsigned options) {
    {
        std::lock_guard lock(mutex_);
        category_ = category;
        options_ = options;
    }
    changed();
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
    {
        std::lock_guard lock(mutex_);
        override_ = port;
    }
    changed();
}

AudioSession::PortOverride AudioSession::outputOverride() const {
    std::lock_guard lock(mutex_);
    return override_;
}

void AudioSession::setActive(bool active) {
    {
        std::lock_guard lock(mutex_);
        active_ = active;
    }
    changed();
}

bool AudioSession::isActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}

void AudioSession::setChangeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void AudioSession::changed() {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    if (handler) handler();
}

}  // namespace pellix::platform
