// SipEngineManager: the process-wide owner of the SIP engine.
//
// Start-up (initializeSipEngineManager, once) fills the engine's record,
// creates and starts the engine, attaches the event bridge, watches the
// network, pumps the engine every 0.05 s from a timer on the current (main)
// run loop and posts kSipEngineManager_InitializeSuccess_Notification. The
// account, call and media half lives in the same class (registration,
// presets, codecs, current call).
//
// Threads: every member runs on the main thread, the one that started the
// engine and drives the main run loop; engine callbacks arrive there too.
// runNetworkConnection alone runs on a thread of its own and touches no field.
//
// Delegates are plain non-owning pointers: the manager neither keeps nor
// clears them, so whoever installs one clears it before it goes away.
//
// What reaches the outside, and only when configured (all off by default, so
// a host or a test that sets nothing sends nothing anywhere but to its SIP
// registrar and peers): the DNS servers given to the engine
// (setDNSServers), the network kick's LAN address (setNetworkKickAddress),
// STUN and relay (through the record, per account). The reachability watcher
// only asks the kernel's routing table about its host name
// (setReachabilityHostName), which is looked up by the system resolver.
//
// Failures are never reported to callers: set-up problems are logged, engine
// operations are skipped while no engine exists.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SipEngineSDK/SipEngine.h"

namespace pellix {

namespace platform {
class Reachability;
class Timer;
}  // namespace platform

class SipEngineUIRegistrationDelegate;
class SipEngineUICallDelegate;
class VideoFrameInfoDelegate;
class SipEventObserver;

extern const char* const kSipEngineManager_InitializeSuccess_Notification;

struct _SipEngineManager_VideoSize {
    std::int32_t width;
    std::int32_t height;
};

class SipEngineManager;
// The watcher's callback; also called directly by the manager. `info` is the manager.
void networkReachabilityCallBack(platform::Reachability* target, std::uint32_t flags, void* info);

class SipEngineManager {
public:
    static const std::shared_ptr<SipEngineManager>& sharedInstance();

    // The engine's record, built before any other code of the library runs.
    static client::Config& config();

    // ---- configuration and start-up
    void initializeSipEngineManager();
    void handleTimer();
    void configureProxyReachability();
    static bool networkIsReachable();
    void kickOffNetworkConnection();
    void runNetworkConnection();
    void applicationDidEnterBackground();
    void applicationDidBecomeActive();
    void configureDNS();
    void resetTransport();
    void terminateSipEngine();

    // Host settings (none of them sends anything by itself).
    // Name servers configureDNS gives the engine; none by default.
    static void setDNSServers(std::vector<std::string> servers);
    // "host" or "host:port" of the network kick; empty (the default): no kick.
    static void setNetworkKickAddress(std::string address);
    // Host name the reachability watcher asks the routing table about.
    static void setReachabilityHostName(std::string host);
    // How the host installs a keep-alive handler run about every `timeout`
    // seconds in the background; false when it cannot. None installed: the
    // handler cannot be registered.
    using KeepAliveInstaller = std::function<bool(double timeout, std::function<void()> handler)>;
    static void setKeepAliveInstaller(KeepAliveInstaller installer);
    // How the host drops its pending local notifications (none: nothing to drop).
    static void setLocalNotificationCanceller(std::function<void()> canceller);
    static void cancelAllLocalNotifications();

    // ---- engine access
    client::SipEngine* gainSipEngine() const { return sipEngine_; }
    client::CallManager* gainCallManager() const;
    client::SipProfileManager* gainSipProfileManager() const;
    client::RegistrationManager* gainRegistrationManager() const;
    client::RTCVoiceEngine* gainRTCVoiceEngine() const;
    client::RTCVideoEngine* gainRTCVideoEngine() const;
    client::SipProfile* gainCurrentSipProfile();
    static _SipEngineManager_VideoSize gainVideoSize();
    static float gainBitrate();
    static float gainFrameRate();

    // ---- account
    void loadConfigureWithSipAccount(const std::string& account, const std::string& authName,
                                     const std::optional<std::string>& password, const std::string& domain,
                                     bool supportSipProxy, const std::string& sipProxy, std::int64_t transportType,
                                     bool supportWebrtc, bool supportRtcpFb, std::int64_t expire,
                                     const std::string& displayName, bool keepAlive, std::int64_t videoType,
                                     const std::string& stunServer, const std::string& stunServerPort,
                                     const std::string& turnServer, const std::string& turnServerPort,
                                     const std::string& turnUserName, const std::string& turnPassword);
    void registerSipAccount(const std::string& account, const std::string& authName,
                            const std::optional<std::string>& password, const std::string& domain,
                            bool supportSipProxy, const std::string& sipProxy, std::int64_t transportType,
                            bool supportWebrtc, bool supportRtcpFb, std::int64_t expire,
                            const std::string& displayName, bool keepAlive);
    bool isSipRegistered();
    void deRegisterSipAccount();
    void refreshSipRegister();

    // ---- calls and media
    void configureCurrentCall(client::Call* call) { currentCall_ = call; }
    // A new engine call becomes the current call unless the current one is
    // live (placed here, answered here, or connected): a stray caller never
    // takes over the call in progress. Returns whether it did.
    bool adoptNewCall(client::Call* call);
    // An ended call stops being the current call; any other call's end
    // leaves the current call alone.
    void releaseCall(client::Call* call) {
        if (currentCall_ == call) currentCall_ = nullptr;
        if (answeredCall_ == call) answeredCall_ = nullptr;
    }
    client::Call* currentCall() const { return currentCall_; }
    bool inCalling() const;
    client::Call* gainIncomingCall() const;
    bool haveIncomingCall() const;
    void answerIncomingCall(bool audio, bool enableVideo);
    void rejectCurrentCall();
    void hangUpCurrentCall();
    client::Call* makeCall(const std::string& callee, bool withVideoCall, const std::string& displayName);
    void configureLoudSpeakerStatus(bool on);

    // ---- delegates (plain, non-owning)
    SipEngineUIRegistrationDelegate* registrationDelegate() const { return registrationDelegate_; }
    void setRegistrationDelegate(SipEngineUIRegistrationDelegate* d) { registrationDelegate_ = d; }
    SipEngineUICallDelegate* callDelegate() const { return callDelegate_; }
    void setCallDelegate(SipEngineUICallDelegate* d) { callDelegate_ = d; }
    VideoFrameInfoDelegate* videoFrameInfoDelegate() const { return videoFrameInfoDelegate_; }
    void setVideoFrameInfoDelegate(VideoFrameInfoDelegate* d) { videoFrameInfoDelegate_ = d; }

    // For tests and the reachability verdict.
    std::int64_t connectivity() const { return connectivity_; }
    bool isInitialized() const { return isInitialized_; }

    SipEngineManager(const SipEngineManager&) = delete;
    SipEngineManager& operator=(const SipEngineManager&) = delete;
    ~SipEngineManager();

private:
    friend void networkReachabilityCallBack(platform::Reachability*, std::uint32_t, void*);
    SipEngineManager();

    std::shared_ptr<platform::Reachability> proxyReachability_;
    std::shared_ptr<platform::Timer> mIterateTimer_;
    SipEngineUIRegistrationDelegate* registrationDelegate_ = nullptr;
    SipEngineUICallDelegate* callDelegate_ = nullptr;
    VideoFrameInfoDelegate* videoFrameInfoDelegate_ = nullptr;
    SipEventObserver* eventObserver_ = nullptr;
    client::SipEngine* sipEngine_ = nullptr;
    client::Call* currentCall_ = nullptr;
    client::Call* answeredCall_ = nullptr;   // the incoming call answered here, until it ends
    client::SipProfile* currentProfile_ = nullptr;
    bool isInitialized_ = false;
    std::int64_t connectivity_ = 0;
};

}  // namespace pellix
