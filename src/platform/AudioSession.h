// AudioSession: how this process wants its sound routed, for the host to apply.
//
// The library records the category, its options, the output override and
// whether the session is active; the host reads them (or installs a change
// handler) and routes its audio accordingly. Nothing here touches a device.
// Initially: category SoloAmbient, no options, no override, inactive.
//
// Thread-safety: all members from any thread; the change handler runs on the
// thread that made the change, outside the lock.
#pragma once

#include <functional>
#include <mutex>

namespace pellix::platform {

class AudioSession {
public:
    enum class Category { Ambient, SoloAmbient, Playback, Record, PlayAndRecord };
    enum class PortOverride { None, Speaker };
    // Option bit: route to the loudspeaker instead of the receiver.
    static constexpr unsigned kCategoryOptionDefaultToSpeaker = 8;

    static AudioSession& sharedInstance();
    AudioSession(const AudioSession&) = delete;
    AudioSession& operator=(const AudioSession&) = delete;

    void setCategory(Category category, unsigned options = 0);
    Category category() const;
    unsigned categoryOptions() const;
    void overrideOutputAudioPort(PortOverride port);
    PortOverride outputOverride() const;
    void setActive(bool active);
    bool isActive() const;

    // Host side: called after every change.
    void setChangeHandler(std::function<void()> handler);

private:
    AudioSession() = default;
    // Applies `change` under the lock, then tells the host.
    void update(const std::function<void()>& change);
    mutable std::mutex mutex_;
    Category category_ = Category::SoloAmbient;
    unsigned options_ = 0;
    PortOverride override_ = PortOverride::None;
    bool active_ = false;
    std::function<void()> handler_;
};

}  // namespace pellix::platform
