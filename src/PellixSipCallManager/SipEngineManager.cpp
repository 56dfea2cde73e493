#include "PellixSipCallManager/SipEngineManager.h"

#include <csignal>
#include <cstdio>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

#include "CommonMethod/PellixCommonTypes.h"
#include "PellixLog/PellixLog.h"
#include "PellixSipCallManager/SipEngineUIDelegates.h"
#include "PellixSipCallManager/SipEventObserver.h"
#include "SipEngineSDK/CallMedia.h"
#include "SipEngineSDK/media/GstCallMedia.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Reachability.h"
#include "platform/SocketOutputStream.h"
#include "platform/SocketStreamPair.h"
#include "platform/Timer.h"

namespace pellix {

const char* const kSipEngineManager_InitializeSuccess_Notification = "kSipEngineManager_InitializeSuccess_Notification";

namespace {

// The engine's record: constant-initialised, so it exists before any code of
// the library runs, and lives for the whole process.
client::Config s_config;
bool kNetworkReachable = false;
_SipEngineManager_VideoSize s_video_size = {320, 240};
float s_bitrate = 256.0f;
std::int32_t s_fps = 15;

struct HostSettings {
    std::mutex mutex;
    std::vector<std::string> dnsServers;
    std::string kickAddress;
    std::string reachabilityHost = "www.example.com";
    SipEngineManager::KeepAliveInstaller keepAlive;
    std::function<void()> cancelNotifications;
};
HostSettings& host() {
    static auto* h = new HostSettings;
    return *h;
}

void log(const std::string& text) { PellixLog::debug(text); }

struct VideoPreset {
    std::int32_t width, height;
    float bitrate;
    std::int32_t fps;
};
VideoPreset presetFor(std::int64_t videoType) {
    switch (videoType) {
    case 1: return {352, 288, 384.0f, 15};
    case 2: return {640, 480, 512.0f, 17};
    case 3: return {1280, 720, 1024.0f, 20};
    default: return {320, 240, 256.0f, 15};
    }
}

struct CodecSwitch {
    const char* name;
    bool on;
};
constexpr CodecSwitch kAudioCodecs[] = {{"g729", true},  {"GSM", false},  {"ILBC", false}, {"PCMU", true},
                                        {"PCMA", true},  {"isac", false}, {"opus", false}, {"g722", false}};
constexpr CodecSwitch kVideoCodecs[] = {{"VP8", false},    {"VP9", false},    {"H264", true},
                                        {"red", false},    {"ulpfec", false}, {"rtx", false}};

template <std::size_t N>
std::string joinSwitchedOn(const CodecSwitch (&table)[N]) {
    std::string out;
    for (const auto& c : table) {
        if (!c.on) continue;
        if (!out.empty()) out += ",";
        out += c.name;
    }
    return out;
}

// The integer value of a decimal text as the platform's strings read it:
// leading blanks, a sign, digits; anything else ends it; none gives 0;
// out of range saturates.
std::int32_t intValue(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) v = 2147483648LL;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) v = 2147483647LL;
    return static_cast<std::int32_t>(v);
}

}  // namespace

// ---------------------------------------------------------------- life

SipEngineManager::SipEngineManager() = default;
SipEngineManager::~SipEngineManager() = default;

const std::shared_ptr<SipEngineManager>& SipEngineManager::sharedInstance() {
    static auto* theSipEngineManager = new std::shared_ptr<SipEngineManager>(new SipEngineManager());
    return *theSipEngineManager;
}

client::Config& SipEngineManager::config() { return s_config; }

void SipEngineManager::setDNSServers(std::vector<std::string> servers) {
    std::lock_guard lock(host().mutex);
    host().dnsServers = std::move(servers);
}
void SipEngineManager::setNetworkKickAddress(std::string address) {
    std::lock_guard lock(host().mutex);
    host().kickAddress = std::move(address);
}
void SipEngineManager::setReachabilityHostName(std::string name) {
    std::lock_guard lock(host().mutex);
    host().reachabilityHost = std::move(name);
}
void SipEngineManager::setKeepAliveInstaller(KeepAliveInstaller installer) {
    std::lock_guard lock(host().mutex);
    host().keepAlive = std::move(installer);
}
void SipEngineManager::setLocalNotificationCanceller(std::function<void()> canceller) {
    std::lock_guard lock(host().mutex);
    host().cancelNotifications = std::move(canceller);
}
void SipEngineManager::cancelAllLocalNotifications() {
    std::function<void()> f;
    {
        std::lock_guard lock(host().mutex);
        f = host().cancelNotifications;
    }
    if (f) f();
}

void SipEngineManager::initializeSipEngineManager() {
    if (isInitialized_) return;
    connectivity_ = 2;
    std::signal(SIGPIPE, SIG_IGN);
    if (!sipEngine_) {
        s_config.transport.udpPort = 0;
        s_config.transport.tcpPort = 0;
        s_config.transport.tlsPort = 0;
        s_config.transport.enableIPv4 = true;
        s_config.transport.enableIPv6 = false;
        client::setText(s_config.media.audioCodecs, "g729,pcma,pcmu");
        s_config.log.enabled = true;
        s_config.log.level = -1;
        // Calls carry real media unless the host chose its own backend.
        if (!client::media::callMediaFactory()) {
            client::media::setCallMediaFactory(client::media::gstreamerCallMediaFactory());
        }
        sipEngine_ = client::SipEngineFactory::Create(s_config);
        if (!eventObserver_) eventObserver_ = new SipEventObserver(this, sipEngine_);
        s_config.media.rtpTimeoutMs = 10000;
        sipEngine_->Initialize();
        sipEngine_->GetRegistrationManager()->AddObserver(eventObserver_);
        sipEngine_->GetCallManager()->AddObserver(eventObserver_);
        configureProxyReachability();
        mIterateTimer_ = platform::Timer::scheduled(0.05, true, [this](platform::Timer&) { handleTimer(); });
        registrationDelegate_ = nullptr;
        callDelegate_ = nullptr;
        char ua[256];
        std::snprintf(ua, sizeof(ua), "iOS Client 1.0 (%s %s)", PellixCommonTypes::gainPlatformString().c_str(),
                      "64bit");
        client::setText(s_config.userAgent, ua);
        sipEngine_->GetCallManager()->SetAutoRinging(1);
    }
    isInitialized_ = true;
    platform::NotificationCenter::defaultCenter().post(kSipEngineManager_InitializeSuccess_Notification, nullptr);
}

void SipEngineManager::handleTimer() {
    if (sipEngine_) sipEngine_->ProcessEvents();
}

void SipEngineManager::configureProxyReachability() {
    if (proxyReachability_) {
        log("Cancelling old network reachability");
        proxyReachability_->setCallback({});
        proxyReachability_->unschedule();
        proxyReachability_.reset();
    }
    std::string name;
    {
        std::lock_guard lock(host().mutex);
        name = host().reachabilityHost;
    }
    proxyReachability_ = platform::Reachability::withName(name);
    if (!proxyReachability_) return;
    std::uint32_t flags = 0;
    if (auto f = proxyReachability_->flags()) flags = *f;
    else log("Cannot get reachability flags");
    platform::Reachability* target = proxyReachability_.get();
    networkReachabilityCallBack(target, flags, this);
    proxyReachability_->setCallback([this, target](std::uint32_t f) { networkReachabilityCallBack(target, f, this); });
    // The callback is only ever called from the kernel's route announcements:
    // when they cannot be subscribed to, it is as good as not registered.
    // A watcher thread that cannot be started leaves it unscheduled.
    try {
        if (!proxyReachability_->schedule()) log("Cannot register reachability cb");
    } catch (const std::system_error&) {
        log("Cannot register schedule reachability cb");
    }
}

void networkReachabilityCallBack(platform::Reachability*, std::uint32_t flags, void* info) {
    char line[64];
    std::snprintf(line, sizeof(line), "Network connection flag [%x]", flags);
    log(line);
    auto* m = static_cast<SipEngineManager*>(info);
    if (!m || !m->sipEngine_) return;
    auto* registration = m->sipEngine_->GetRegistrationManager();
    constexpr std::uint32_t kDownBits = platform::Reachability::kConnectionRequired |
                                        platform::Reachability::kConnectionOnTraffic |
                                        platform::Reachability::kConnectionOnDemand;
    if (flags == 0 || (flags & kDownBits) != 0) {
        m->kickOffNetworkConnection();
        m->connectivity_ = 2;
        registration->SetNetworkReachable(false);
        kNetworkReachable = false;
        log("Network connectivity [DOWN] !");
        return;
    }
    std::int64_t kind = (flags & platform::Reachability::kIsWWAN) ? 1 : 0;
    if (m->connectivity_ == 2) {
        registration->SetNetworkReachable(false);
        registration->SetNetworkReachable(true);
        kNetworkReachable = true;
        log("Network connectivity [UP] !");
    } else if (m->connectivity_ != kind) {
        registration->SetNetworkReachable(false);
        registration->SetNetworkReachable(true);
        kNetworkReachable = true;
        log("Network connectivity now [Changed] !");
    }
    m->connectivity_ = kind;
    log(std::string("New network connectivity  of type [") + (kind == 1 ? "wwan" : "wifi") + "]");
}

bool SipEngineManager::networkIsReachable() { return kNetworkReachable; }

void SipEngineManager::kickOffNetworkConnection() {
    {
        std::lock_guard lock(host().mutex);
        if (host().kickAddress.empty()) return;
    }
    std::thread([] { sharedInstance()->runNetworkConnection(); }).detach();
}

void SipEngineManager::runNetworkConnection() {
    std::string address;
    {
        std::lock_guard lock(host().mutex);
        address = host().kickAddress;
    }
    if (address.empty()) return;
    std::uint32_t port = 15000;
    if (auto colon = address.rfind(':'); colon != std::string::npos && address.find(':') == colon) {
        port = static_cast<std::uint32_t>(intValue(address.substr(colon + 1)));
        address = address.substr(0, colon);
    }
    // Waking the radio is the point; nothing is read and no outcome matters.
    // The write waits for the connection (bytes written before it is up would
    // be dropped when the stream closes), at most a few seconds.
    struct Writer : platform::SocketStreamDelegate {
        std::promise<void> done;
        bool finished = false;
        void stream(platform::SocketOutputStream& out, platform::StreamEvent event) override {
            if (finished) return;
            if (event == platform::StreamEvent::HasSpaceAvailable) {
                static const std::uint8_t hello[] = {'h', 'e', 'l', 'l', 'o'};
                out.write(hello, sizeof(hello));
            } else if (event != platform::StreamEvent::ErrorOccurred) {
                return;
            }
            finished = true;
            done.set_value();
        }
    };
    auto writer = std::make_shared<Writer>();
    auto finished = writer->done.get_future();
    auto pair = platform::SocketStreamPair::create(address, port);
    pair.input.reset();
    pair.output->setDelegate(writer);
    pair.output->scheduleInQueue(platform::DispatchQueue::serial("pellix.sip.network-kick"));
    pair.output->open();
    finished.wait_for(std::chrono::seconds(5));
    pair.output->close();
}

void SipEngineManager::applicationDidEnterBackground() {
    if (!sipEngine_) return;
    KeepAliveInstaller installer;
    {
        std::lock_guard lock(host().mutex);
        installer = host().keepAlive;
    }
    bool ok = installer && installer(600, [] {
                  log("keepalive handler");
                  auto& m = *sharedInstance();
                  m.kickOffNetworkConnection();
                  m.refreshSipRegister();
              });
    log(ok ? "keepalive handler succesfully registered" : "keepalive handler cannot be registered");
    log("Enter to background mode !");
}

void SipEngineManager::applicationDidBecomeActive() {
    if (!proxyReachability_) {
        log("No proxy reachability context created !");
    } else {
        std::uint32_t flags = 0;
        auto f = proxyReachability_->flags();
        if (!f) {
            log("Cannot get reachability flags, re-creating reachability context.");
            configureProxyReachability();
        } else {
            flags = *f;
            networkReachabilityCallBack(proxyReachability_.get(), flags, this);
            if (flags == 0) configureProxyReachability();
        }
    }
    if (sipEngine_) refreshSipRegister();
}

void SipEngineManager::configureDNS() {
    if (!sipEngine_) return;
    std::vector<std::string> servers;
    {
        std::lock_guard lock(host().mutex);
        servers = host().dnsServers;
    }
    for (const auto& s : servers) sipEngine_->AddDnsServer(s.c_str());
}

void SipEngineManager::resetTransport() {
    if (sipEngine_) sipEngine_->ResetTransport();
}

void SipEngineManager::terminateSipEngine() {
    if (mIterateTimer_) {
        mIterateTimer_->invalidate();
        mIterateTimer_.reset();
    }
    if (sipEngine_) {
        sipEngine_->Terminate();
        delete eventObserver_;
        eventObserver_ = nullptr;
        client::SipEngineFactory::Delete(sipEngine_);
        currentCall_ = nullptr;
        currentProfile_ = nullptr;
    }
    if (proxyReachability_) {
        proxyReachability_->setCallback({});
        proxyReachability_->unschedule();
        proxyReachability_.reset();
    }
}

// ---------------------------------------------------------------- engine access

client::CallManager* SipEngineManager::gainCallManager() const {
    return sipEngine_ ? sipEngine_->GetCallManager() : nullptr;
}
client::SipProfileManager* SipEngineManager::gainSipProfileManager() const {
    return sipEngine_ ? sipEngine_->GetSipProfileManager() : nullptr;
}
client::RegistrationManager* SipEngineManager::gainRegistrationManager() const {
    return sipEngine_ ? sipEngine_->GetRegistrationManager() : nullptr;
}
client::RTCVoiceEngine* SipEngineManager::gainRTCVoiceEngine() const {
    return sipEngine_ ? sipEngine_->GetMediaEngine()->GetVoiceEngine() : nullptr;
}
client::RTCVideoEngine* SipEngineManager::gainRTCVideoEngine() const {
    return sipEngine_ ? sipEngine_->GetMediaEngine()->GetVideoEngine() : nullptr;
}

client::SipProfile* SipEngineManager::gainCurrentSipProfile() {
    auto* profiles = gainSipProfileManager();
    if (!profiles) return nullptr;
    currentProfile_ = profiles->FindProfile("main_profile");
    if (!currentProfile_) currentProfile_ = profiles->CreateProfile("main_profile");
    return currentProfile_;
}

_SipEngineManager_VideoSize SipEngineManager::gainVideoSize() { return s_video_size; }
float SipEngineManager::gainBitrate() { return s_bitrate; }
float SipEngineManager::gainFrameRate() { return static_cast<float>(s_fps); }

// ---------------------------------------------------------------- account

void SipEngineManager::loadConfigureWithSipAccount(
    const std::string& account, const std::string& authName, const std::optional<std::string>& password,
    const std::string& domain, bool supportSipProxy, const std::string& sipProxy, std::int64_t transportType,
    bool supportWebrtc, bool supportRtcpFb, std::int64_t expire, const std::string& displayName, bool keepAlive,
    std::int64_t videoType, const std::string& stunServer, const std::string& stunServerPort,
    const std::string& turnServer, const std::string& turnServerPort, const std::string& turnUserName,
    const std::string& turnPassword) {
    if (!account.empty() && !domain.empty() && password)
        registerSipAccount(account, authName, password, domain, supportSipProxy, sipProxy, transportType,
                           supportWebrtc, supportRtcpFb, expire, displayName, keepAlive);

    VideoPreset preset = presetFor(videoType);
    s_video_size = {preset.width, preset.height};
    s_bitrate = preset.bitrate;
    s_fps = preset.fps;

    if (!stunServer.empty()) {
        client::setText(s_config.media.stunServer, stunServer);
        if (!stunServerPort.empty()) s_config.media.stunPort = static_cast<std::uint16_t>(intValue(stunServerPort));
    }
    if (!turnServer.empty() && !turnUserName.empty()) {
        client::setText(s_config.media.stunServer, turnServer);
        if (!turnServerPort.empty()) s_config.media.stunPort = static_cast<std::uint16_t>(intValue(turnServerPort));
        client::setText(s_config.media.relayUserName, turnUserName);
        if (!turnPassword.empty()) client::setText(s_config.media.relayPassword, turnPassword);
    }

    std::string audio = joinSwitchedOn(kAudioCodecs);
    log("Set Audio Codecs : " + audio);
    client::setText(s_config.media.audioCodecs, audio);
    std::string video = joinSwitchedOn(kVideoCodecs);
    log("Set Video Codecs : " + video);
    client::setText(s_config.media.videoCodecs, video);

    if (auto* voice = gainRTCVoiceEngine()) {
        voice->SetEchoCancellation(true, 3);
        voice->SetNoiseSuppression(true, 5);
    }
}

void SipEngineManager::registerSipAccount(const std::string& account, const std::string& authName,
                                          const std::optional<std::string>& password, const std::string& domain,
                                          bool supportSipProxy, const std::string& sipProxy,
                                          std::int64_t transportType, bool supportWebrtc, bool supportRtcpFb,
                                          std::int64_t expire, const std::string& displayName, bool keepAlive) {
    if (account.empty() || domain.empty() || !password) return;
    auto* profiles = gainSipProfileManager();
    if (!profiles) return;
    currentProfile_ = profiles->FindProfile("main_profile");
    if (!currentProfile_) currentProfile_ = profiles->CreateProfile("main_profile");
    client::SipProfile* p = currentProfile_;
    p->SetUserName(account.c_str());
    p->SetAuthName(authName.empty() ? account.c_str() : authName.c_str());
    if (!displayName.empty()) p->SetDisplayName(displayName.c_str());
    p->SetPassword(password->c_str());
    p->SetDomain(domain.c_str());
    if (supportSipProxy && !sipProxy.empty()) p->SetProxy(sipProxy.c_str());
    if (expire != 0) p->expires = static_cast<std::int32_t>(expire);
    p->supportWebrtc = supportWebrtc;
    p->supportRtcpFb = supportRtcpFb;
    p->transport = (transportType >= 0 && transportType <= 2) ? static_cast<std::int32_t>(transportType) : 2;
    p->keepAlive = keepAlive;
    p->persistentContact = true;
    gainRegistrationManager()->Register(p);
}

bool SipEngineManager::isSipRegistered() {
    if (!currentProfile_) return false;
    auto* registration = gainRegistrationManager();
    return registration && registration->IsRegistered(currentProfile_);
}

void SipEngineManager::deRegisterSipAccount() {
    auto* registration = gainRegistrationManager();
    if (registration && currentProfile_ && registration->IsRegistered(currentProfile_))
        registration->Unregister(currentProfile_);
}

void SipEngineManager::refreshSipRegister() {
    auto* registration = gainRegistrationManager();
    if (registration && currentProfile_ && registration->IsRegistered(currentProfile_))
        registration->Refresh(currentProfile_);
}

// ---------------------------------------------------------------- calls

bool SipEngineManager::inCalling() const {
    if (!sipEngine_ || !currentCall_) return false;
    auto s = currentCall_->GetState();
    return s == client::Call::kConnected || s == client::Call::kRemoteUpdated;
}

client::Call* SipEngineManager::gainIncomingCall() const {
    if (sipEngine_ && currentCall_ && currentCall_->GetDirection() == client::Call::kIncoming) return currentCall_;
    return nullptr;
}

bool SipEngineManager::haveIncomingCall() const {
    if (!sipEngine_ || !currentCall_ || currentCall_->GetDirection() != client::Call::kIncoming) return false;
    auto s = currentCall_->GetState();
    return s == client::Call::kNewCall || s == client::Call::kRinging;
}

void SipEngineManager::answerIncomingCall(bool audio, bool enableVideo) {
    if (!sipEngine_ || !currentCall_ || currentCall_->GetDirection() != client::Call::kIncoming) return;
    if (currentCall_->GetState() == client::Call::kConnected) return;
    if (currentCall_->Answer(audio, enableVideo)) answeredCall_ = currentCall_;
}

bool SipEngineManager::adoptNewCall(client::Call* call) {
    if (currentCall_ && currentCall_ != call) {
        const auto state = currentCall_->GetState();
        const bool onlyRinging = currentCall_->GetDirection() == client::Call::kIncoming &&
                                 answeredCall_ != currentCall_ &&
                                 (state == client::Call::kNewCall || state == client::Call::kRinging);
        if (!onlyRinging) return false;
    }
    currentCall_ = call;
    return true;
}

// Refusal and hang-up act on the current call alone: another engine call
// (a caller still ringing here) is not the host's to end this way.
void SipEngineManager::rejectCurrentCall() {
    if (sipEngine_ && currentCall_) currentCall_->Reject(603, 0);
    currentCall_ = nullptr;
}

void SipEngineManager::hangUpCurrentCall() {
    if (sipEngine_ && currentCall_) currentCall_->Hangup();
    currentCall_ = nullptr;
}

client::Call* SipEngineManager::makeCall(const std::string& callee, bool withVideoCall, const std::string&) {
    if (!inCalling()) {
        std::map<std::string, std::string> headers{{"X-MyHeader1", "MyValue1"}, {"X-MyHeader2", "MyValue2"}};
        if (currentProfile_ && sipEngine_)
            currentCall_ = gainCallManager()->MakeCall(currentProfile_, callee.c_str(), "ios-app",
                                                       currentProfile_->supportWebrtc, 1, withVideoCall, 0, headers);
    }
    return currentCall_;
}

void SipEngineManager::configureLoudSpeakerStatus(bool on) {
    if (auto* voice = gainRTCVoiceEngine()) voice->SetLoudspeakerStatus(on);
}

}  // namespace pellix
