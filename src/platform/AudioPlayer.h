// AudioPlayer: plays one sound file through GStreamer, optionally looping.
//
// `create` opens and decodes the start of the file (so an unreadable file
// fails there, with an error, and not later) and leaves the player prepared.
// `play` starts it; `numberOfLoops` extra passes follow the first without a
// gap (0: play once). The player is playing from `play` until the last pass
// ends, `stop` is called, or the stream fails; then it is idle and may be
// played again from the start.
//
// Output: the sink is a GStreamer launch text, process-wide, read when a
// player is created: "autoaudiosink" (the host's sound output) unless the
// host or a test sets another, e.g. "wavenc ! filesink location=/tmp/x.wav".
//
// Thread-safety: all members from any thread. The stream runs on GStreamer's
// threads; end-of-pass handling runs on a private serial queue. Destroying
// the player stops it.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/Error.h"

namespace pellix::platform {

class AudioPlayer : public std::enable_shared_from_this<AudioPlayer> {
public:
    static constexpr const char* kErrorDomain = "AudioPlayer";

    // nullptr with `*error` set (when given) when the file cannot be played.
    static std::shared_ptr<AudioPlayer> create(const std::string& path, ErrorPtr* error = nullptr);

    static void setSinkDescription(std::string launchText);
    static std::string sinkDescription();

    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    const std::string& path() const { return path_; }
    void setNumberOfLoops(int loops);  // negative counts as 0
    int numberOfLoops() const;
    void setVolume(double volume);     // 0.0 ... 1.0
    double volume() const;
    bool prepareToPlay();
    // False when the stream cannot start.
    bool play();
    void stop();
    bool isPlaying() const;

    struct Impl;

private:
    explicit AudioPlayer(std::string path);
    // On the private queue: a pass ended (or the stream failed) during the
    // run numbered `generation` (0 is never a run).
    void finishPass(int kind, unsigned generation);

    std::string path_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pellix::platform
