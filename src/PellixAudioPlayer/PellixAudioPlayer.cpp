#include "PellixAudioPlayer/PellixAudioPlayer.h"

#include <filesystem>

#include "platform/AudioSession.h"
#include "platform/Bundle.h"
#include "platform/SystemSound.h"

namespace pellix {
namespace {

constexpr double kVibrateInterval = 2.0;
// AVAudioPlayer counts loops after the first pass: 10 extra, 11 in all.
constexpr int kLoopingRepeats = 10;

bool isFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
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

void PellixAudioPlayer::playBundleTone(const char* fileName, bool looping) {
    const std::string path =
        platform::Bundle::mainBundle().resourcePath() + "/PellixSDK.bundle/audio/" + fileName;
    if (isFile(path)) playAudioFileWithPath(path, looping);
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
