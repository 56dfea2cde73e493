// Ring tones through a real GStreamer pipeline into a WAV file, checked with
// sox, and the vibration rhythm on a manual clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <thread>

#include "PellixAudioPlayer/PellixAudioPlayer.h"
#include "support/TestSupport.h"
#include "platform/AudioSession.h"
#include "platform/Bundle.h"
#include "platform/ManualClock.h"
#include "platform/RunLoop.h"
#include "platform/SystemSound.h"

namespace pellix {
namespace {

using platform::AudioSession;

long soxSamples(const std::string& path) {
    FILE* pipe = popen(("soxi -s '" + path + "' 2>/dev/null").c_str(), "r");
    if (!pipe) return -1;
    long samples = -1;
    if (fscanf(pipe, "%ld", &samples) != 1) samples = -1;
    pclose(pipe);
    return samples;
}

std::string toneFile(const std::string& name) {
    return test::sourceDir() + "/resources/PellixSDK.bundle/audio/" + name;
}

bool waitUntil(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class AudioPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Bundle::mainBundle().setResourcePath(test::sourceDir() + "/resources");
        useSink(false);
        AudioSession::sharedInstance().setCategory(AudioSession::Category::SoloAmbient);
        AudioSession::sharedInstance().overrideOutputAudioPort(AudioSession::PortOverride::None);
    }
    void TearDown() override {
        PellixAudioPlayer::sharedInstance().stopPlayAudioAndVibrate();
        platform::setSystemSoundHandler(nullptr);
    }
    // `realTime`: the sink keeps pace with the clock, so a tone lasts as long
    // as it sounds; otherwise it is written as fast as it decodes.
    void useSink(bool realTime) {
        platform::AudioPlayer::setSinkDescription("audioconvert ! audio/x-raw,format=S16LE ! wavenc ! filesink " +
                                                  std::string(realTime ? "sync=true " : "") + "location=" + out());
    }
    std::string out() const { return dir.file("out.wav"); }

    test::TempDir dir;
};

TEST_F(AudioPlayerTest, EachToneWritesItsFileOnceOrElevenTimesWhenLooping) {
    struct Case {
        void (PellixAudioPlayer::*play)(bool);
        const char* file;
    };
    const Case cases[] = {
        {&PellixAudioPlayer::playIncomingAudio, "incoming.wav"},
        {&PellixAudioPlayer::playOutgoingAudio, "outgoing.wav"},
        {&PellixAudioPlayer::playMessageAudio, "message.wav"},
        {&PellixAudioPlayer::playButtonAudio, "button.wav"},
        {&PellixAudioPlayer::playBusyAudio, "busy.wav"},
        {&PellixAudioPlayer::playDoorisBusyAudio, "doorisbusy.wav"},
    };
    auto& tones = PellixAudioPlayer::sharedInstance();
    for (const auto& c : cases) {
        const long once = soxSamples(toneFile(c.file));
        ASSERT_GT(once, 0) << c.file;
        for (bool looping : {false, true}) {
            SCOPED_TRACE(std::string(c.file) + (looping ? " looping" : " once"));
            (tones.*c.play)(looping);
            auto player = tones.audioPlayer();
            ASSERT_NE(player, nullptr);
            EXPECT_EQ(player->path(), toneFile(c.file));
            ASSERT_TRUE(waitUntil([&] { return !player->isPlaying(); }, 20));
            EXPECT_EQ(soxSamples(out()), looping ? 11 * once : once);
        }
    }
    auto& session = AudioSession::sharedInstance();
    EXPECT_EQ(session.category(), AudioSession::Category::PlayAndRecord);
    EXPECT_EQ(session.categoryOptions(), 0u);
    EXPECT_EQ(session.outputOverride(), AudioSession::PortOverride::Speaker);
    EXPECT_TRUE(session.isActive());
}

TEST_F(AudioPlayerTest, ASecondToneStopsTheFirstAtOnce) {
    useSink(true);
    auto& tones = PellixAudioPlayer::sharedInstance();
    tones.playIncomingAudio(true);  // 4.4 s in real time
    auto first = tones.audioPlayer();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->isPlaying());
    tones.playButtonAudio(false);
    EXPECT_FALSE(first->isPlaying());
    auto second = tones.audioPlayer();
    ASSERT_NE(second, first);
    ASSERT_TRUE(waitUntil([&] { return !second->isPlaying(); }, 5));
    // The file holds the button tone alone: nothing of the first was left
    // running to write after it.
    EXPECT_EQ(soxSamples(out()), soxSamples(toneFile("button.wav")));
}

TEST_F(AudioPlayerTest, StopDuringPlayStopsButKeepsThePlayerAndRoutesToTheSpeaker) {
    useSink(true);
    auto& tones = PellixAudioPlayer::sharedInstance();
    tones.playIncomingAudio(true);
    auto player = tones.audioPlayer();
    ASSERT_TRUE(player && player->isPlaying());
    tones.stopPlayAudioAndVibrate();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(tones.audioPlayer(), player);
    EXPECT_EQ(AudioSession::sharedInstance().category(), AudioSession::Category::PlayAndRecord);
    EXPECT_EQ(AudioSession::sharedInstance().categoryOptions(), AudioSession::kCategoryOptionDefaultToSpeaker);
}

TEST_F(AudioPlayerTest, StopAfterTheToneEndedLeavesTheSessionAlone) {
    auto& tones = PellixAudioPlayer::sharedInstance();
    tones.playButtonAudio(false);
    auto player = tones.audioPlayer();
    ASSERT_TRUE(player && waitUntil([&] { return !player->isPlaying(); }, 5));
    AudioSession::sharedInstance().setCategory(AudioSession::Category::Playback);
    tones.stopPlayAudioAndVibrate();
    EXPECT_EQ(AudioSession::sharedInstance().category(), AudioSession::Category::Playback);
    EXPECT_EQ(tones.audioPlayer(), player);
}

TEST_F(AudioPlayerTest, PathsThatPlayNothingLeaveTheRunningToneAlone) {
    useSink(true);
    test::writeFile(dir.file("noise.wav"), "RIFF....WAVEnot really a wave file");
    auto& tones = PellixAudioPlayer::sharedInstance();
    tones.playIncomingAudio(true);
    auto running = tones.audioPlayer();
    ASSERT_TRUE(running && running->isPlaying());
    for (const std::optional<std::string>& path :
         {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>(dir.file("none.wav")),
          std::optional<std::string>(dir.path())}) {
        tones.playAudioFileWithPath(path, false);
        EXPECT_EQ(tones.audioPlayer(), running) << path.value_or("(nil)");
        EXPECT_TRUE(running->isPlaying()) << path.value_or("(nil)");
    }
    // A file that exists but does not decode stops the tone before it (the
    // new player is made only then) and plays nothing.
    tones.playAudioFileWithPath(dir.file("noise.wav"), false);
    EXPECT_FALSE(running->isPlaying());
    EXPECT_EQ(tones.audioPlayer(), nullptr);
    platform::ErrorPtr error;
    EXPECT_EQ(platform::AudioPlayer::create(dir.file("noise.wav"), &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), platform::AudioPlayer::kErrorDomain);
}

TEST_F(AudioPlayerTest, MissingBundleTonePlaysNothing) {
    platform::Bundle::mainBundle().setResourcePath(dir.path());
    PellixAudioPlayer::sharedInstance().playIncomingAudio(false);
    PellixAudioPlayer::sharedInstance().playButtonAudio(false);
    EXPECT_EQ(soxSamples(out()), -1);
}

class VibrationTest : public AudioPlayerTest {
protected:
    void SetUp() override {
        AudioPlayerTest::SetUp();
        clock = std::make_shared<platform::ManualClock>();
        platform::Clock::setShared(clock);
        platform::setSystemSoundHandler([this](std::uint32_t id) {
            EXPECT_EQ(id, platform::kSystemSoundVibrate);
            ++vibrations;
        });
    }
    void TearDown() override {
        AudioPlayerTest::TearDown();
        platform::Clock::setShared(nullptr);
    }
    void advance(double seconds) {
        clock->advance(seconds);
        platform::RunLoop::main()->runUntil([] { return false; }, 0.05);
    }
    std::shared_ptr<platform::ManualClock> clock;
    int vibrations = 0;
};

TEST_F(VibrationTest, OnceOrEveryTwoSecondsUntilStopped) {
    auto& tones = PellixAudioPlayer::sharedInstance();
    tones.playVibrate(false);
    EXPECT_EQ(vibrations, 1);
    advance(10);
    EXPECT_EQ(vibrations, 1);

    tones.playVibrate(true);
    EXPECT_EQ(vibrations, 2);
    advance(1.9);
    EXPECT_EQ(vibrations, 2);
    advance(0.1);
    EXPECT_EQ(vibrations, 3);
    advance(2);
    advance(2);
    EXPECT_EQ(vibrations, 5);

    // Starting again replaces the rhythm rather than adding a second one.
    tones.playVibrate(true);
    EXPECT_EQ(vibrations, 6);
    advance(2);
    EXPECT_EQ(vibrations, 7);

    tones.stopPlayAudioAndVibrate();
    EXPECT_EQ(tones.vibrateTimer(), nullptr);
    advance(10);
    EXPECT_EQ(vibrations, 7);
}

}  // namespace
}  // namespace pellix
