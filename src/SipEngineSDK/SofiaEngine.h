#pragma once
// The engine on sofia-sip: nua for SIP, soa (inside nua) for SDP offer and
// answer. Internal to the SDK layer; hosts use the interfaces of SipEngine.h.
//
// sofia runs on one su_root, created on the engine's thread with sofia's
// threading switched off, so nua's stack and its callbacks run only inside
// su_root_step() from ProcessEvents(). Work the API must report (a state the
// host caused, such as a call made or rejected) is queued and reported at the
// start of the next ProcessEvents(), never from inside the API call.
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "SipEngineSDK/Sdp.h"
#include "SipEngineSDK/SofiaWake.h"
#include "SipEngineSDK/SipEngine.h"

struct su_root_s;
struct nua_s;
struct nua_handle_s;
struct sip_s;
struct tag_type_s;
union tag_value_u;

namespace client {

class SofiaEngine;
class SofiaCall;

// What a nua handle's magic points at.
struct HandleOwner {
    enum Kind { Profile, Call } kind;
};

class SofiaProfile final : public SipProfile {
public:
    explicit SofiaProfile(std::string name) : SipProfile(std::move(name)) {}
    HandleOwner owner{HandleOwner::Profile};
    nua_handle_s* handle = nullptr;
    std::string handleIdentity;   // what the handle was made for
    nua_handle_s* keepAliveHandle = nullptr;
    std::chrono::steady_clock::time_point nextKeepAlive{};
    int authAttempts = 0;
    bool unregistering = false;
    bool inFlight = false;  // a REGISTER of ours awaits its final answer
    bool wanted = false;   // registered or being registered at the host's request
    // The registration's Call-ID and last CSeq: a handle made afresh after a
    // transport rebuild goes on with the same registration.
    std::string callId;
    uint32_t lastCSeq = 0;
    // The realm the registrar challenged with: a call's challenge is
    // answered only in it.
    std::string realm;
};

class SofiaVideoStream final : public VideoStream {
public:
    explicit SofiaVideoStream(SofiaCall& call) : call_(call) {}
    void Start(int camera, int, int, std::shared_ptr<media::VideoRenderer> localRenderer,
               std::shared_ptr<media::VideoRenderer> remoteRenderer, int rotation, uint16_t width,
               uint16_t height, int bitRateKbps, int frameRate) override;
    void SetDirection(int direction) override;
    int GetDirection() const override { return direction_; }
    void AddObserver(VideoStreamObserver* observer) override;
    void ChangeCapture(int camera, int rotation, int, std::shared_ptr<media::VideoRenderer> localRenderer) override;
    void SetRotation(int rotation) override;
    const std::vector<VideoStreamObserver*>& observers() const { return observers_; }

private:
    SofiaCall& call_;
    int direction_ = kSendRecv;
    std::vector<VideoStreamObserver*> observers_;
};

class SofiaAudioStream final : public AudioStream {
public:
    explicit SofiaAudioStream(SofiaCall& call) : call_(call) {}
    void Mute(bool mute) override;
    bool IsMuted() const override { return muted_; }

private:
    SofiaCall& call_;
    bool muted_ = false;
};

class SofiaCall final : public Call, public MediaSession {
public:
    SofiaCall(SofiaEngine& engine, int id, int direction);
    ~SofiaCall() override;

    // Call
    bool Answer(bool audio, bool video) override;
    bool Reject(int status, int reserved) override;
    bool SendDtmf(int, const char* tones, int) override;
    bool Hangup() override;
    bool UpdateMedia(bool video) override;
    const char* RemoteId() const override { return remoteId_.c_str(); }
    int GetDirection() const override { return direction_; }
    CallState GetState() const override { return state_; }
    bool SupportVideo() const override { return video_; }
    bool SupportData() const override { return false; }
    MediaSession* GetMediaSession() override { return this; }
    const std::map<std::string, std::string>& GetCustomHeaders() const override { return headers_; }
    int GetErrorCode() const override { return errorCode_; }
    const char* GetErrorReason() const override { return errorReason_.c_str(); }
    // MediaSession
    VideoStream* GetVideoStream() override { return &videoStream_; }
    AudioStream* GetAudioStream() override { return &audioStream_; }

private:
    friend class SofiaEngine;
    friend class SofiaVideoStream;
    friend class SofiaAudioStream;

    bool ended() const { return ended_; }
    // Our description; given the peer's offer, the answer to it.
    std::string offer(bool video, const std::string& answering = {});
    // Takes the SDP texts of a nua state event and, once the call is up,
    // hands the agreed streams to the media: planMedia() agrees them (and
    // with them the call's video flag), startMedia() hands what changed to
    // the media; applyMedia() does both.
    void applyMedia();
    void planMedia();
    void startMedia();
    void applyVideoPlan();
    // Sends the re-INVITE of a media update.
    void sendUpdate(bool video);

    SofiaEngine& engine_;
    SofiaProfile* profile_ = nullptr;   // outgoing: the caller's account, for challenges
    bool toOwnServer_ = false;          // outgoing: sent to the account's domain or proxy
    HandleOwner owner_{HandleOwner::Call};
    nua_handle_s* handle_ = nullptr;
    int id_;
    int direction_;
    CallState state_ = kNewCall;
    bool video_ = false;
    bool wantVideo_ = false;
    bool answered_ = false;     // incoming: final answer sent; outgoing: 200 received
    bool accepted_ = false;     // incoming: answered with 200 (being set up or up)
    bool rejected_ = false;     // incoming: refused by the host
    // Incoming: when the INVITE arrived (the ringing time-out counts from it).
    // Connected: when the media last began (the media time-out counts from it
    // until a packet arrives).
    std::chrono::steady_clock::time_point since_ = std::chrono::steady_clock::now();
    bool hangingUp_ = false;
    bool updating_ = false;     // our re-INVITE in flight or waiting for the INFOs
    int infosInFlight_ = 0;     // DTMF INFOs not yet answered
    std::optional<bool> queuedUpdate_;   // re-INVITE (video on/off) held until they are
    std::optional<std::chrono::steady_clock::time_point> retryUpdateAt_;   // after a 491
    bool remoteUpdating_ = false;
    bool reported1xx_[2] = {false, false};
    bool ended_ = false;
    bool connected_ = false;    // state 6 reported
    bool videoLine_ = false;    // a video line was in the session once: later offers keep it
    std::string sdpAddress_;
    int authAttempts_ = 0;
    uint64_t sdpVersion_ = 1;
    std::string remoteId_;
    std::map<std::string, std::string> headers_;
    int errorCode_ = 0;
    std::string errorReason_;
    std::string localSdp_, remoteSdp_;
    media::StreamPlan audioPlan_, videoPlan_;
    bool audioPlanPending_ = false, videoPlanPending_ = false;   // agreed, not yet handed to the media
    std::unique_ptr<media::CallMedia> media_;
    SofiaVideoStream videoStream_{*this};
    SofiaAudioStream audioStream_{*this};
};

class SofiaEngine final : public SipEngine,
                          SipProfileManager,
                          RegistrationManager,
                          CallManager,
                          MediaEngine,
                          RTCVoiceEngine,
                          RTCVideoEngine {
public:
    explicit SofiaEngine(Config& config);
    ~SofiaEngine() override;

    // SipEngine
    bool Initialize() override;
    void Terminate() override;
    void ProcessEvents() override;
    SipProfileManager* GetSipProfileManager() override { return this; }
    CallManager* GetCallManager() override { return this; }
    RegistrationManager* GetRegistrationManager() override { return this; }
    MediaEngine* GetMediaEngine() override { return this; }
    void ResetTransport() override;
    void AddDnsServer(const char* address) override;

    // SipProfileManager
    SipProfile* CreateProfile(const char* name) override;
    SipProfile* FindProfile(const char* name) override;

    // RegistrationManager
    void Register(SipProfile* profile) override;
    void Unregister(SipProfile* profile) override;
    void Refresh(SipProfile* profile) override;
    void AddObserver(RegistrationObserver* observer) override;
    void SetNetworkReachable(bool reachable) override;
    bool IsRegistered(SipProfile* profile) override;

    // CallManager
    Call* MakeCall(SipProfile* profile, const char* callee, const char* subject, bool webrtc, int, bool video, int,
                   const std::map<std::string, std::string>& headers) override;
    void AddObserver(CallStateObserver* observer) override;
    std::vector<Call*> GetCalls() override;
    void SetAutoRinging(int on) override { autoRinging_ = on != 0; }

    // MediaEngine
    RTCVoiceEngine* GetVoiceEngine() override { return this; }
    RTCVideoEngine* GetVideoEngine() override { return this; }
    // RTCVoiceEngine
    void SetEchoCancellation(bool on, int) override { mediaSettings_.echoCancellation = on; }
    void SetNoiseSuppression(bool on, int) override { mediaSettings_.noiseSuppression = on; }
    void SetLoudspeakerStatus(bool on) override { mediaSettings_.loudspeaker = on; }
    bool GetLoudspeakerStatus() const override { return mediaSettings_.loudspeaker; }
    // RTCVideoEngine
    int NumberOfCaptureDevices() override;
    int GetOrientation(int camera) override;

    // Interval of the registration keep-alive (30 s unless changed).
    void setKeepAliveInterval(unsigned ms) { keepAliveMs_ = ms; }
    // How long a request waits for its final answer before it fails with
    // 408 (SIP's 64 x T1, 32 s, unless changed); 0 restores that.
    void setTransactionTimeout(unsigned ms);
    // How long an incoming call may ring unanswered before it is refused
    // with 480 (kRingingTimeoutMs unless changed); 0 restores that.
    void setRingingTimeout(unsigned ms) { ringingTimeoutMs_ = ms ? ms : kRingingTimeoutMs; }

    // Calls alive at once; an INVITE over this is refused at once with 486,
    // before any media port is bound for it, and MakeCall gives null.
    static constexpr int kMaxLiveCalls = 4;
    static constexpr unsigned kRingingTimeoutMs = 60000;

    // For the calls.
    nua_s* nua() const { return nua_; }
    Config& config() { return config_; }
    void later(std::function<void()> work) {
        deferred_.push_back(std::move(work));
        soon();
    }
    // Another round as soon as the thread is free: sofia sends what the
    // API asked for (and the host hears of it) without waiting for the pump.
    void soon() {
        if (wake_) wake_->soon();
    }
    // Reports `state` for call `id` at the next ProcessEvents(), unless the
    // call has ended by then. By id: the call object itself may be gone.
    void reportLater(int id, Call::CallState state);
    SofiaCall* liveCall(int id) const;
    void reportState(SofiaCall& call, Call::CallState state);
    void reportMedia(SofiaCall& call, const media::MediaEvent& event);
    std::vector<sdp::CodecSpec> codecs(media::StreamKind kind) const;
    // The address our SDP names for a call whose peer is at `peerHost`.
    std::string mediaAddressFor(const std::string& peerHost) const;
    void applyUserAgent();
    void retire(SofiaCall& call);
    void onEvent(int event, int status, const char* phrase, nua_handle_s* nh, void* hmagic, sip_s const* sip,
                 const void* tags);

private:
    void onRegister(SofiaProfile& profile, bool unregister, int status, const char* phrase, sip_s const* sip);
    void onIncomingInvite(nua_handle_s* nh, sip_s const* sip);
    void onCallEvent(SofiaCall& call, int event, int status, const char* phrase, sip_s const* sip, const void* tags);
    void sendRegister(SofiaProfile& profile, bool unregister);
    // `realmOut`, when given, receives the realm answered; `onlyRealm`, when
    // not empty, is the one realm credentials may be given in.
    bool authenticate(nua_handle_s* nh, sip_s const* sip, const SipProfile& profile, int& attempts,
                      std::string* realmOut = nullptr, const std::string& onlyRealm = {});
    void registrationFailed(SofiaProfile& profile, int status, const char* phrase);
    std::unique_ptr<media::CallMedia> makeMedia();
    void destroyRetired();
    void destroyAbandoned();
    bool createNua();
    // Closes sofia's transports (with the stack that owns them), binds new
    // ones and registers again what was registered or being registered.
    void rebuildTransport();
    bool hasLiveCalls() const;
    void writeResolvConf(const std::string& text);
    int liveCallCount() const;
    // Ends unanswered incoming calls that rang too long and connected calls
    // whose far end has sent nothing for the media time-out.
    void checkCallTimeouts();
    bool registrationInFlight() const;
    // OPTIONS to the registrar of each registered profile that asks for it,
    // every keep-alive interval.
    void keepAlive();
    SofiaProfile* profileOf(SipProfile* p);

    Config& config_;
    su_root_s* root_ = nullptr;
    // Runs ProcessEvents() as soon as sofia has work, between the host's pumps.
    std::unique_ptr<SofiaWake> wake_;
    bool pumping_ = false;
    nua_s* nua_ = nullptr;
    bool suInitialized_ = false;
    bool quiet_ = false;          // shutting down: no observer calls
    bool shutdownDone_ = false;
    bool reachable_ = true;
    bool autoRinging_ = false;
    std::string localAddress_;
    std::string contactUrl_;      // where sofia binds
    std::string stunServer_;
    // Transport reset: asked for, done at the next ProcessEvents() outside
    // sofia's callbacks, once no call needs the dialogs of the old stack and
    // no REGISTER awaits its answer on it.
    bool resetPending_ = false;
    bool rebuilding_ = false;
    int resetStreak_ = 0;         // rebuilds since the last successful registration
    std::optional<std::chrono::steady_clock::time_point> reRegisterAt_;
    std::chrono::steady_clock::time_point rebindRetryAt_{};
    std::string userAgent_;
    std::string resolvConf_;
    int resolvFd_ = -1;           // the resolver's file, unlinked at once and reached through /proc
    std::vector<std::string> dnsServers_;
    media::MediaSettings mediaSettings_;
    std::map<std::string, std::unique_ptr<SofiaProfile>> profiles_;
    std::vector<std::unique_ptr<SofiaCall>> calls_;
    std::set<nua_handle_s*> zombies_;   // handles of ended calls, freed when sofia is done with them
    // Handles whose request was challenged with credentials we will not give
    // again: sofia would hold the request open for them (and its shutdown
    // would wait on it), so they are freed at the next ProcessEvents().
    std::vector<nua_handle_s*> abandoned_;
    std::vector<RegistrationObserver*> registrationObservers_;
    std::vector<CallStateObserver*> callObservers_;
    std::deque<std::function<void()>> deferred_;
    int nextCallId_ = 1;
    unsigned keepAliveMs_ = 30000;
    unsigned transactionTimeoutMs_ = 0;
    unsigned ringingTimeoutMs_ = kRingingTimeoutMs;
};

}  // namespace client
