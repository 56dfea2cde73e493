// The example host: a small program that uses the library the way a
// resident's app would.
//
// Usage: pellix_example [platform-port home-folder [mqtt-port]]
//
// Without arguments it prints the library's version. With a platform port
// it registers with the platform at https://127.0.0.1:<port>, logs the test
// resident in and prints the user record, then logs out. With an MQTT port
// too it takes a door call from start to end against the peers run.sh
// starts: the facade registers the SIP account and connects MQTT at login;
// a door call arrives; the host answers it, which calls the door station;
// the station answers and echoes the host's microphone (a 1 kHz tone), which
// the host hears back in its loudspeaker (a file in the home folder); the
// host opens the door through the platform and hangs up. Then it reports a
// broken hall light to the property office: it stores a photograph with the
// image tool (which gives the object key), sends a property message with the
// photograph, and downloads the stored photograph by its key, checking it
// byte for byte. Last it logs out and waits until the SIP server has let the
// phone go.
//
// Each step is printed with the milliseconds since start. The exit status is
// 0 only when every step happened; every wait is bounded.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HOSManager/Public/PellixUploadAndDownloadImageTool.h"
#include "HOSSDK/HOSNetworkingRequestDelegate.h"
#include "PellixClient/PellixClient.h"
#include "PellixClient/PellixSDKVersion.h"
#include "PellixDataManager/PellixDataManager.h"
#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixMQTTManager/PellixDoorCallModel.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "PellixSipCallManager/PellixSipCallManager.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "PellixVideoView/PellixVideoView.h"
#include "SipEngineSDK/media/GstCallMedia.h"
#include "platform/DispatchQueue.h"
#include "platform/DispatchSemaphore.h"
#include "platform/Paths.h"
#include "platform/RunLoop.h"

using namespace pellix;
using namespace pellix::platform;

namespace {

// Times count from the start of the program, or from the moment given in
// PELLIX_EXAMPLE_T0_US (microseconds since the epoch), which run.sh sets so
// that the peers' lines and the host's share one clock.
std::chrono::steady_clock::time_point startTime() {
    const auto now = std::chrono::steady_clock::now();
    const char* t0 = std::getenv("PELLIX_EXAMPLE_T0_US");
    if (!t0 || !*t0) return now;
    const std::chrono::system_clock::time_point given{std::chrono::microseconds(std::strtoll(t0, nullptr, 10))};
    const auto since = std::chrono::system_clock::now() - given;
    return since > std::chrono::seconds(0) && since < std::chrono::minutes(1)
               ? now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(since)
               : now;
}

const auto kStart = startTime();

long long elapsedMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - kStart).count();
}

void say(const std::string& line) {
    std::printf("[%6lld ms] host: %s\n", elapsedMs(), line.c_str());
    std::fflush(stdout);
}

std::string text(const PellixText& value) { return value ? *value : "(none)"; }

std::string describe(const PellixErrorPtr& error) {
    if (!error) return "no error given";
    return std::to_string(error->errorCode()) + " " + (error->message() ? *error->message() : "");
}

void printUser(const PellixInitUserInfo& user) {
    auto show = [](const char* name, const PellixText& value) {
        std::printf("  %-18s %s\n", name, value ? value->c_str() : "(none)");
    };
    std::printf("user record:\n");
    show("open_id", user.open_id());
    show("user_id", user.user_id());
    show("sip_no", user.sip_no());
    show("sip_domain", user.sip_domain());
    show("udp_port", user.udp_port());
    show("mqtt_host", user.mqtt_host());
    show("mqtt_port", user.mqtt_port());
    std::string topics;
    for (const auto& t : user.topic().value_or(std::vector<std::string>{})) topics += (topics.empty() ? "" : ", ") + t;
    std::printf("  %-18s %s\n", "topic", topics.c_str());
    std::fflush(stdout);
}

// The host's microphone is a tone of this pitch, and its loudspeaker a file
// of what it plays: 16-bit mono samples at 8 kHz.
constexpr double kToneHz = 1000;
// The object store's test domain (run.sh starts the store stand-in with it).
constexpr const char* kStoreDomain = "test.hos.halvane.com";
constexpr int kSampleRate = 8000;

// Amplitude (of 32767) of the tone in the last quarter second written to
// `path`, by the Goertzel filter; 0 while less than that has been played.
double toneLevel(const std::string& path) {
    constexpr std::size_t kWindow = kSampleRate / 4;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return 0;
    const auto size = static_cast<std::size_t>(in.tellg());
    if (size < kWindow * 2) return 0;
    std::vector<std::int16_t> samples(kWindow);
    in.seekg(static_cast<std::streamoff>((size / 2 - kWindow) * 2));
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(kWindow * 2));
    const double k = 2 * std::cos(2 * M_PI * kToneHz / kSampleRate);
    double s1 = 0, s2 = 0;
    for (const auto x : samples) {
        const double s = x + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return std::sqrt(s1 * s1 + s2 * s2 - k * s1 * s2) * 2 / kWindow;
}

// The resident's app: it takes door calls and follows the call's progress.
// It lives on the main queue, where the library calls its delegates.
class ExampleHost : public PellixClientDelegate, public PellixCallManagerDelegate {
public:
    ExampleHost(std::string loudspeaker, std::shared_ptr<DispatchSemaphore> done)
        : loudspeaker_(std::move(loudspeaker)), done_(std::move(done)) {}

    // What the host saw, in order; the journey succeeded when it saw all of it.
    static constexpr const char* kSteps[] = {
        "registered with the platform", "logged in",          "SIP account registered", "door call received",
        "answered",                     "door station rings", "call connected",         "voice stream ready",
        "own tone heard back",          "door opened",        "call ended",             "photograph stored",
        "property message sent",        "photograph read back", "logged out",           "SIP account unregistered",
    };

    bool implements(PellixClientDelegate::Method method) const override {
        using M = PellixClientDelegate::Method;
        return method == M::CallDidReceiveDoor || method == M::CallDidHangupMessage;
    }
    bool implements(PellixCallManagerDelegate::Method method) const override {
        using M = PellixCallManagerDelegate::Method;
        switch (method) {
        case M::CallDidRegistrationSuccess:
        case M::CallDidRegistrationFailed:
        case M::CallDidTheCallIsCanceled:
        case M::CallDidCallFailedOrWrong:
        case M::CallDidTheCallWasRejected:
        case M::CallDidTheCalledPartyRings:
        case M::CallDidTheCallIsConnected:
        case M::CallDidTheCallEnds:
        case M::CallDidVoiceMediaStreamReady:
            return true;
        default:
            return false;
        }
    }

    void start(const std::string& appId, const std::string& secret) {
        PellixDataManager::registSDKWithAppId(appId, secret, nullptr, [this](bool ok, const PellixErrorPtr& error) {
            if (!ok) return fail("registration failed: " + describe(error));
            step("registered with the platform");
            PellixDataManager::loginSDKWithNationCode(
                std::string("86"), std::string("13800138000"), std::nullopt,
                [this](bool loggedIn, const PellixErrorPtr& error) {
                    if (!loggedIn) return fail("login failed: " + describe(error));
                    step("logged in");
                    if (auto user = PellixProxyInfo::sharedInstance()->userInfo()) printUser(*user);
                    say("waiting for a door call");
                });
        });
    }

    // ---- PellixClientDelegate
    void callDidReceiveDoor(std::shared_ptr<PellixDoorCallModel> call) override {
        door_ = call;
        step("door call received", "callDidReceiveDoor: door " + text(call->doorID()) + " " +
                                       text(call->doorName()) + " (SIP " + text(call->doorCallerNO()) +
                                       ") calls room " + text(call->appRoomID()));
        // Answering calls the door station back; the remote view shows its
        // picture on a video call (this station sends audio only).
        PellixClient::answerDoorMediaCallType(kAudioOnly, call->doorCallerNO().value_or(""), remoteView_);
        step("answered", "answerDoorMediaCallType: audio, calling " + text(call->doorCallerNO()));
    }
    void callDidHangupMessage() override {
        fail("callDidHangupMessage: the door call was ended elsewhere or timed out");
    }

    // ---- PellixCallManagerDelegate
    void callDidRegistrationSuccess() override { step("SIP account registered", "callDidRegistrationSuccess"); }
    void callDidRegistrationFailed(std::int64_t code, const std::optional<std::string>& message) override {
        fail("callDidRegistrationFailed: " + std::to_string(code) + " " + message.value_or(""));
    }
    void callDidTheCallIsCanceled() override { fail("callDidTheCallIsCanceled"); }
    void callDidCallFailedOrWrong(std::int64_t code, const std::optional<std::string>& message) override {
        fail("callDidCallFailedOrWrong: " + std::to_string(code) + " " + message.value_or(""));
    }
    void callDidTheCallWasRejected(std::int64_t code, const std::optional<std::string>& message) override {
        fail("callDidTheCallWasRejected: " + std::to_string(code) + " " + message.value_or(""));
    }
    void callDidTheCalledPartyRings() override { step("door station rings", "callDidTheCalledPartyRings"); }
    void callDidTheCallIsConnectedSupportVideo(bool video, bool) override {
        step("call connected", std::string("callDidTheCallIsConnectedSupportVideo: video ") + (video ? "yes" : "no") +
                                   ", isCalling " + (PellixClient::isCalling() ? "yes" : "no"));
        listenForTone(std::chrono::steady_clock::now() + std::chrono::seconds(15));
    }
    void callDidVoiceMediaStreamReady() override { step("voice stream ready", "callDidVoiceMediaStreamReady"); }
    void callDidTheCallEnds() override {
        if (!seen("door opened")) return fail("callDidTheCallEnds before the host hung up");
        step("call ended", "callDidTheCallEnds");
        storePhotograph();
    }

    // Called on the main queue once the host is done (or has given up).
    void reportMissing() const {
        for (const char* s : kSteps)
            if (!seen(s)) say(std::string("never happened: ") + s);
    }
    bool succeeded() const { return !failed_ && seenCount_ == std::size(kSteps); }

private:
    static constexpr std::int64_t kAudioOnly = 1;
    static constexpr std::int64_t kPropertyContactFolder = 1;

    bool seen(const std::string& name) const {
        for (std::size_t i = 0; i < std::size(kSteps); ++i)
            if (name == kSteps[i]) return seen_[i];
        return false;
    }
    void step(const std::string& name, const std::string& detail = {}) {
        for (std::size_t i = 0; i < std::size(kSteps); ++i) {
            if (name == kSteps[i] && !seen_[i]) {
                seen_[i] = true;
                ++seenCount_;
            }
        }
        say(detail.empty() ? name : name + " (" + detail + ")");
    }
    void fail(const std::string& why) {
        say("FAILED: " + why);
        if (finished_) return;
        failed_ = true;
        finish();
    }
    void finish() {
        if (finished_) return;
        finished_ = true;
        done_->signal();
    }

    // Polls the loudspeaker file until our tone comes back loud enough.
    void listenForTone(std::chrono::steady_clock::time_point deadline) {
        if (finished_) return;
        const double level = toneLevel(loudspeaker_);
        if (level > 4000) {
            step("own tone heard back", "the door station echoes our " + std::to_string(static_cast<int>(kToneHz)) +
                                            " Hz tone at level " + std::to_string(static_cast<int>(level)) +
                                            " of 32767");
            return openDoor();
        }
        if (std::chrono::steady_clock::now() > deadline) return fail("no tone came back from the door station");
        DispatchQueue::main()->after(0.1, [this, deadline] { listenForTone(deadline); });
    }

    void openDoor() {
        auto opened = [this](bool ok, const PellixErrorPtr& error) {
            if (!ok) return fail("opening the door failed: " + describe(error));
            step("door opened", "openDoorWithRoomId " + text(door_->appRoomID()) + " door " + text(door_->doorID()));
            say("hangs up (hangupCurrentCall)");
            PellixClient::hangupCurrentCall();
        };
        PellixDataManager::openDoorWithRoomId(door_->appRoomID(), door_->doorID(), opened);
    }

    // The photograph of the broken light: any bytes do for the object store.
    static platform::Bytes photograph() {
        platform::Bytes bytes(24 * 1024);
        std::uint32_t x = 5001;
        for (auto& b : bytes) {
            x = x * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(x >> 16);
        }
        return bytes;
    }

    // Completions of the image tool run on the main queue, like the
    // facade's; a missing one is caught by main's overall wait.
    void storePhotograph() {
        PellixUploadAndDownloadImageTool::uploadImageData(
            photograph(), kPropertyContactFolder,
            [this](const std::string& key) {
                step("photograph stored", "uploadImageData: object key " + key);
                sendPropertyMessage(key);
            },
            [this] { fail("uploadImageData: the photograph was not stored"); });
    }

    void sendPropertyMessage(const std::string& key) {
        const PellixText room = door_->appRoomID();
        auto sent = [this, key, room](bool ok, const PellixErrorPtr& error) {
            if (!ok) return fail("the property message was refused: " + describe(error));
            step("property message sent", "contactPropertyWithRoomId: room " + text(room) +
                                              ", \"楼道灯坏了\" with one photograph");
            readBack(key);
        };
        PellixDataManager::contactPropertyWithRoomId(
            room, std::string("楼道灯坏了"), platform::Value(platform::Array{platform::Value(photograph())}),
            std::string("1"), sent);
    }

    void readBack(const std::string& key) {
        PellixDataManager::downloadWithImageObjectKey(
            key,
            [this](const platform::Bytes& data, const std::string& got) {
                if (data != photograph())
                    return fail("downloadWithImageObjectKey: " + got + " came back as " + std::to_string(data.size()) +
                                " different bytes");
                step("photograph read back", "downloadWithImageObjectKey: " + std::to_string(data.size()) +
                                                 " bytes, the same as stored");
                logOut();
            },
            [this](const PellixText& got) { fail("downloadWithImageObjectKey: " + text(got) + " was not read"); });
    }

    void logOut() {
        PellixDataManager::loginoutWithCompletion([this](bool out, const PellixErrorPtr& error) {
            if (!out) return fail("logout failed: " + describe(error));
            step("logged out");
            waitForUnregistration(std::chrono::steady_clock::now() + std::chrono::seconds(5));
        });
    }

    // The facade unregisters SIP on logout; the phone has left the SIP
    // server when the registrar has answered that.
    void waitForUnregistration(std::chrono::steady_clock::time_point deadline) {
        if (!PellixSipCallManager::checkSipRegisteredSussess()) {
            step("SIP account unregistered");
            return finish();
        }
        if (std::chrono::steady_clock::now() > deadline) return fail("the SIP account stayed registered");
        DispatchQueue::main()->after(0.05, [this, deadline] { waitForUnregistration(deadline); });
    }

    std::string loudspeaker_;
    std::shared_ptr<DispatchSemaphore> done_;
    std::shared_ptr<PellixVideoView> remoteView_ = PellixVideoView::create();
    std::shared_ptr<PellixDoorCallModel> door_;
    bool seen_[std::size(kSteps)] = {};
    std::size_t seenCount_ = 0;
    bool failed_ = false;
    bool finished_ = false;
};

// A phone would use its microphone and loudspeaker; this host has neither,
// so calls take a tone as the microphone and write what they play to a file.
void useToneAndFileForSound(const std::string& loudspeaker) {
    client::media::setCallMediaFactory([loudspeaker](const client::media::MediaSettings& settings) {
        auto s = settings;
        s.audio.sourceDescription = "audiotestsrc is-live=true wave=sine freq=" + std::to_string(int(kToneHz));
        s.audio.sinkDescription = "audio/x-raw,format=S16LE,rate=" + std::to_string(kSampleRate) +
                                  ",channels=1 ! filesink buffer-mode=unbuffered sync=false location=" + loudspeaker;
        return client::media::gstreamerCallMediaFactory()(s);
    });
}

// Registers, logs in, prints the user record and logs out.
int loginOnly(std::shared_ptr<DispatchSemaphore> done) {
    auto ok = std::make_shared<std::atomic<bool>>(false);
    DispatchQueue::main()->async([done, ok] {
        PellixDataManager::registSDKWithAppId(
            std::string("px-test-app-0001"), std::string("px-test-secret-5f3c2a9d"), nullptr,
            [done, ok](bool registered, const PellixErrorPtr& error) {
                if (!registered) {
                    say("registration failed: " + describe(error));
                    done->signal();
                    return;
                }
                say("registered with the platform");
                PellixDataManager::loginSDKWithNationCode(
                    std::string("86"), std::string("13800138000"), std::nullopt,
                    [done, ok](bool loggedIn, const PellixErrorPtr& error) {
                        if (!loggedIn) {
                            say("login failed: " + describe(error));
                            done->signal();
                            return;
                        }
                        say("logged in");
                        if (auto user = PellixProxyInfo::sharedInstance()->userInfo()) printUser(*user);
                        PellixDataManager::loginoutWithCompletion([done, ok](bool out, const PellixErrorPtr& error) {
                            say(out ? "logged out" : "logout failed: " + describe(error));
                            *ok = out;
                            done->signal();
                        });
                    });
            });
    });
    return done->waitSeconds(30) && *ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // This host has no event loop of its own: the library runs the main loop.
    RunLoop::startMainLoopThread();
    std::printf("Pellix SDK %.1f\n", PellixSDKVersionNumber);
    std::fflush(stdout);
    if (argc < 3) {
        RunLoop::stopMainLoopThread();
        return 0;
    }

    Paths::setHomeDirectory(argv[2]);
    const std::string base = "https://127.0.0.1:" + std::string(argv[1]);
    const std::uint32_t mqttPort = argc >= 4 ? static_cast<std::uint32_t>(std::atoi(argv[3])) : 0;
    PellixGlobleConfig::setEnvironment(2, {base, "127.0.0.1", mqttPort ? mqttPort : 1883});
    auto done = DispatchSemaphore::create(0);

    int status = 0;
    // Kept alive here until the main loop has stopped: the facade holds its
    // delegates weakly, and the host's own timers refer to it.
    std::shared_ptr<ExampleHost> host;
    if (!mqttPort) {
        status = loginOnly(done);
    } else {
        const std::string loudspeaker = std::string(argv[2]) + "/loudspeaker.raw";
        // What an earlier run played must not pass for this call's sound.
        std::remove(loudspeaker.c_str());
        host = std::make_shared<ExampleHost>(loudspeaker, done);
        DispatchQueue::main()->async([host, loudspeaker] {
            // The SIP server of this example is on loopback: bind the SIP
            // engine there, and judge the network by the loopback route
            // rather than by a public host name. Both before the first login.
            client::setText(SipEngineManager::config().transport.ipv4BindAddress, "127.0.0.1");
            SipEngineManager::setReachabilityHostName("localhost");
            // The object store is a stand-in on loopback that answers for
            // its test domain, which the platform's user record names.
            HOSNetworkingRequestDelegate::setHostResolver([](const std::string& host) {
                const std::string domain = kStoreDomain;
                const bool ours = host == domain || (host.size() > domain.size() + 1 &&
                                                     host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
                                                     host[host.size() - domain.size() - 1] == '.');
                return ours ? std::string("127.0.0.1") : host;
            });
            useToneAndFileForSound(loudspeaker);
            PellixClient::registClientDelegate(host);
            PellixClient::registCallManagerDelegate(host);
            host->start("px-test-app-0001", "px-test-secret-5f3c2a9d");
        });
        const bool finished = done->waitSeconds(90);
        // Read and report on the main queue, where the host's state lives.
        bool ok = false;
        DispatchQueue::main()->sync([&] {
            if (!finished) say("gave up waiting after 90 s");
            host->reportMissing();
            ok = finished && host->succeeded();
            PellixClient::removeClientDelegate();
            PellixClient::removeCallManagerDelegate();
            HOSNetworkingRequestDelegate::setHostResolver(nullptr);
        });
        status = ok ? 0 : 1;
    }
    RunLoop::stopMainLoopThread();
    std::printf("[%6lld ms] example host exits with status %d\n", elapsedMs(), status);
    return status;
}
