// PellixAudioPlayer: the SDK's ring tones and the vibration rhythm, for the host.
//
// Tones are the six WAV files of "PellixSDK.bundle/audio", found as
// toneFolder() says; a missing or unreadable file plays nothing (a tone that
// is missing is logged, once per process). Only one tone plays at a time: starting
// one stops the one before. A looping tone plays 11 times in a row. Sound
// goes to platform::AudioPlayer's sink (the host's output by default) after
// the audio session is set for the loudspeaker.
//
// Vibration is the platform's vibrate system sound (platform::SystemSound, a
// host hook), once or every 2.0 s until stopped, on a timer of the calling
// thread's run loop: call from the main thread.
//
// Life cycle: one shared instance, made on first use, never destroyed; the
// constructor is private, so every call acts on it.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/AudioPlayer.h"
#include "platform/Timer.h"

namespace pellix {

class PellixAudioPlayer {
public:
    static PellixAudioPlayer& sharedInstance();
    PellixAudioPlayer(const PellixAudioPlayer&) = delete;
    PellixAudioPlayer& operator=(const PellixAudioPlayer&) = delete;

    void playIncomingAudio(bool looping);
    void playOutgoingAudio(bool looping);
    void playMessageAudio(bool looping);
    void playButtonAudio(bool looping);
    void playBusyAudio(bool looping);
    void playDoorisBusyAudio(bool looping);

    // Nothing happens for a missing, empty or non-existent path, and a tone
    // already playing keeps playing.
    void playAudioFileWithPath(const std::optional<std::string>& path, bool looping);

    // Where the tones are read from: "PellixSDK.bundle/audio" in the main
    // bundle's resource folder (the executable's folder unless the host sets
    // one); without one there, the bundle installed with the library
    // ("<install prefix>/share/pellix"); without that, the one in
    // "../share/pellix" from the executable's folder (an application
    // installed in the library's prefix, also after the tree was moved).
    // nullopt when none of them holds the folder.
    static std::optional<std::string> toneFolder();

    void playVibrate(bool repeats);
    void playVibrate();
    // Ends vibration; a tone that is playing stops (and stays stored), after
    // the session is set to default to the loudspeaker.
    void stopPlayAudioAndVibrate();

    // The player of the tone last started (null when its file failed to open).
    std::shared_ptr<platform::AudioPlayer> audioPlayer() const;
    std::shared_ptr<platform::Timer> vibrateTimer() const;

private:
    PellixAudioPlayer() = default;
    ~PellixAudioPlayer();
    void playBundleTone(const char* fileName, bool looping);

    mutable std::mutex mutex_;
    std::shared_ptr<platform::AudioPlayer> audioPlayer_;
    std::shared_ptr<platform::Timer> vibrateTimer_;
};

}  // namespace pellix
