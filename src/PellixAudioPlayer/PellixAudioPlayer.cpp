#include "PellixAudioPlayer/PellixAudioPlayer.h"

#include <atomic>
#include <filesystem>
#include <vector>

#include "platform/AudioSession.h"
#include "PellixLog/PellixLog.h"
#include "platform/Bundle.h"
#include "platform/SystemSound.h"

namespace pellix {
namespace {

constexpr double kVibrateInterval = 2.0;
// AVAudioPlayer counts loops after the first pass: 10 extra, 11 in all.
constexpr int kLoopingRepeats = 10;

constexpr const char* kToneFolder = "PellixSDK.bundle/audio";

bool isFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

bool isFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

std::string installedDataDir() {
#ifdef PELLIX_INSTALLED_DATA_DIR
    return PELLIX_INSTALLED_DATA_DIR;
#else
    return {};
#endif
}

std::string executableDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

}  // namespace

PellixAudioPlayer& PellixAudioPlayer::sharedInstance() {
    static PellixAudioPlayer* instance = new PellixAudioPlayer();
    return *instance;
}

PellixAudioPlayer::~PellixAudioPlayer() {
    if (vibrateTimer_) vibrateTimer_->invalidate();
}

void PellixAudioPlayer::playIncomingAudio(bool looping) { playBundleTone("incoming.wav", looping); }
void PellixAudioPlayer::playOutgoingAudio(bool looping) { playBundleTone("outgoing.wav", looping); }
void PellixAudioPlayer::playMessageAudio(bool looping) { playBundleTone("message.wav", looping); }
void PellixAudioPlayer::playButtonAudio(bool looping) { playBundleTone("button.wav", looping); }
void PellixAudioPlayer::playBusyAudio(bool looping) { playBundleTone("busy.wav", looping); }
void PellixAudioPlayer::playDoorisBusyAudio(bool looping) { playBundleTone("doorisbusy.wav", looping); }

std::optional<std::string> PellixAudioPlayer::toneFolder() {
    std::vector<std::string> candidates{platform::Bundle::mainBundle().resourcePath()};
    if (const auto installed = installedDataDir(); !installed.empty()) candidates.push_back(installed);
    if (const auto exe = executableDir(); !exe.empty()) candidates.push_back(exe + "/../share/pellix");
    for (const auto& dir : candidates) {
        const std::string folder = dir + "/" + kToneFolder;
        if (isFolder(folder)) return std::filesystem::path(folder).lexically_normal().string();
    }
    return std::nullopt;
}

void PellixAudioPlayer::playBundleTone(const char* fileName, bool looping) {
    const auto folder = toneFolder();
    const std::string path = folder ? *folder + "/" + fileName : std::string();
    if (folder && isFile(path)) {
        playAudioFileWithPath(path, looping);
        return;
    }
    // A host that forgot the bundle would otherwise ring silently with no
    // clue; one line is enough to say where the tones were looked for.
    static std::atomic<bool> logged{false};
    if (logged.exchange(true)) return;
    std::string text = std::string("no ring tone ") + fileName + ": ";
    if (folder) {
        text += *folder + " lacks it";
    } else {
        text += std::string(kToneFolder) + " is in none of " + platform::Bundle::mainBundle().resourcePath();
        if (const auto installed = installedDataDir(); !installed.empty()) text += ", " + installed;
        text += ", <executable folder>/../share/pellix";
        text += " (set platform::Bundle::mainBundle().setResourcePath to the folder holding PellixSDK.bundle)";
    }
    PellixLog::debug(text);
}

void PellixAudioPlayer::playAudioFileWithPath(const std::optional<std::string>& path, bool looping) {
    if (!path || path->empty() || !isFile(*path)) return;
    std::shared_ptr<platform::AudioPlayer> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(audioPlayer_);
    }
    if (previous) previous->stop();

    platform::ErrorPtr error;
    auto player = platform::AudioPlayer::create(*path, &error);
    {
        std::lock_guard lock(mutex_);
        audioPlayer_ = player;
    }
    if (!player || error) return;
    auto& session = platform::AudioSession::sharedInstance();
    session.setCategory(platform::AudioSession::Category::PlayAndRecord);
    session.overrideOutputAudioPort(platform::AudioSession::PortOverride::Speaker);
    session.setActive(true);
    player->setNumberOfLoops(looping ? kLoopingRepeats : 0);
    player->setVolume(1.0);
    player->prepareToPlay();
    player->play();
}

void PellixAudioPlayer::playVibrate(bool repeats) {
    std::shared_ptr<platform::Timer> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::move(vibrateTimer_);
    }
    if (previous) previous->invalidate();
    auto timer = platform::Timer::scheduled(kVibrateInterval, repeats,
                                            [](platform::Timer&) { sharedInstance().playVibrate(); });
    {
        std::lock_guard lock(mutex_);
        vibrateTimer_ = timer;
    }
    timer->fire();
}

void PellixAudioPlayer::playVibrate() { platform::playSystemSound(platform::kSystemSoundVibrate); }

void PellixAudioPlayer::stopPlayAudioAndVibrate() {
    std::shared_ptr<platform::Timer> timer;
    std::shared_ptr<platform::AudioPlayer> player;
    {
        std::lock_guard lock(mutex_);
        timer = std::move(vibrateTimer_);
        player = audioPlayer_;
    }
    if (timer) timer->invalidate();
    if (player && player->isPlaying()) {
        platform::AudioSession::sharedInstance().setCategory(platform::AudioSession::Category::PlayAndRecord,
                                                            platform::AudioSession::kCategoryOptionDefaultToSpeaker);
        player->stop();
    }
}

std::shared_ptr<platform::AudioPlayer> PellixAudioPlayer::audioPlayer() const {
    std::lock_guard lock(mutex_);
    return audioPlayer_;
}

std::shared_ptr<platform::Timer> PellixAudioPlayer::vibrateTimer() const {
    std::lock_guard lock(mutex_);
    return vibrateTimer_;
}

}  // namespace pellix
