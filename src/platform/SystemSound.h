// SystemSound: the phone's short system sounds, played by the host.
//
// The library names a sound by its platform number (kSystemSoundVibrate makes
// the device vibrate); the host installs a handler that plays it. Without a
// handler the request is dropped: a desktop host has nothing to vibrate.
//
// Thread-safety: all members from any thread; the handler runs on the calling
// thread.
#pragma once

#include <cstdint>
#include <functional>

namespace pellix::platform {

inline constexpr std::uint32_t kSystemSoundVibrate = 4095;

void playSystemSound(std::uint32_t soundID);
void setSystemSoundHandler(std::function<void(std::uint32_t soundID)> handler);

}  // namespace pellix::platform
