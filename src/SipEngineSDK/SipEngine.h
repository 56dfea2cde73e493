#pragma once
// The SIP and media engine: profiles, registration, calls and their media.
//
// Life cycle: SipEngineFactory::Create(config) makes an engine bound to the
// calling thread; Initialize() opens its SIP transport; ProcessEvents() runs
// it; Terminate() (or Delete) ends every call and registration and closes it.
// Delete frees the engine and nulls the caller's pointer; after Delete no
// observer is ever called again. Terminate ends calls and registrations and
// waits up to 2 s for the far ends to answer; sofia keeps (and never frees)
// its memory when they have not answered by then.
//
// Threads: every member of every object here is called on one thread, the
// one that created the engine and pumps ProcessEvents(). The engine starts no
// threads of its own for signalling; observers are called only from inside
// ProcessEvents() (never from inside another call of the API), so an observer
// may call back into the engine.
//
// Ownership: the engine owns every profile, call, media session and stream
// and hands out plain pointers. A Call stays valid until the ProcessEvents()
// that follows the one that reported it cancelled (1), failed (2), rejected
// (3) or ended (7). Observers are not owned; remove nothing, but keep them
// alive until the engine is deleted.
//
// Failures: nothing throws. A request the engine cannot honour (no profile, a
// bad callee, a call in the wrong state) is refused with a null or false
// result, or reported through the call's state 2 (failed) with an error code
// and text; registration problems reach OnRegistrationFailed with the SIP
// status (503 when the request could not be sent at all, 408 on time-out).
//
// Calls: an incoming call that rings unanswered for 60 s is refused with 480
// and reported failed (2) with that code; a connected call that receives no
// RTP or RTCP for the record's media time-out (rtpTimeoutMs) is ended with a
// BYE and reported failed with 408. While a call is up or being set up,
// another caller is answered 486 at once, and so is any caller beyond four
// live calls; such callers are never reported.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "SipEngineSDK/CallMedia.h"
#include "SipEngineSDK/SipEngineConfig.h"

namespace client {

class SipProfile;
class Call;

enum CallMediaStreamType { kAudioStream = 1, kVideoStream = 2, kDataStream = 3 };

// The engine's record of one account. Fill it through the text setters and
// the plain fields; a registration reads it when it is sent.
class SipProfile {
public:
    enum Transport { kUdp = 0, kTcp = 1, kTls = 2 };

    virtual ~SipProfile() = default;
    SipProfile(const SipProfile&) = delete;
    SipProfile& operator=(const SipProfile&) = delete;

    virtual void SetUserName(const char* value) { setText(userName, safe(value)); }
    virtual void SetDisplayName(const char* value) { setText(displayName, safe(value)); }
    virtual void SetAuthName(const char* value) { setText(authName, safe(value)); }
    virtual void SetPassword(const char* value) { setText(password, safe(value)); }
    virtual void SetDomain(const char* value) { setText(domain, safe(value)); }
    virtual void SetProxy(const char* value) { setText(proxy, safe(value)); }

    const std::string& Name() const { return name_; }

    char userName[80] = {};
    char displayName[80] = {};
    char authName[80] = {};
    char password[80] = {};
    char domain[80] = {};
    char proxy[80] = {};
    char reserved1[80] = {};
    char reserved2[80] = {};
    bool keepAlive = true;
    int32_t expires = 3600;
    int32_t transport = kUdp;
    bool supportWebrtc = false;
    bool supportRtcpFb = false;
    void* context = nullptr;
    // Set by hosts; this engine keeps it and does not use it.
    bool persistentContact = false;
    bool registered = false;
    char lastError[80] = {};

protected:
    explicit SipProfile(std::string name) : name_(std::move(name)) {}

private:
    static const char* safe(const char* v) { return v ? v : ""; }
    std::string name_;
};

class SipProfileManager {
public:
    virtual ~SipProfileManager() = default;
    // A new profile under `name`, or the existing one of that name.
    virtual SipProfile* CreateProfile(const char* name) = 0;
    virtual SipProfile* FindProfile(const char* name) = 0;
};

class RegistrationObserver {
public:
    virtual void OnRegistrationProgress(SipProfile* profile) = 0;
    virtual void OnRegistrationSuccess(SipProfile* profile) = 0;
    virtual void OnRegistrationCleared(SipProfile* profile) = 0;
    virtual void OnRegistrationFailed(SipProfile* profile, int code, char const* reason) = 0;

protected:
    ~RegistrationObserver() = default;
};

class RegistrationManager {
public:
    virtual ~RegistrationManager() = default;
    // Sends a REGISTER for the profile (challenges answered with its auth name
    // and password) and keeps it refreshed before it expires.
    virtual void Register(SipProfile* profile) = 0;
    // REGISTER with Expires 0; OnRegistrationCleared when the registrar agrees.
    virtual void Unregister(SipProfile* profile) = 0;
    virtual void Refresh(SipProfile* profile) = 0;
    virtual void AddObserver(RegistrationObserver* observer) = 0;
    // Unreachable stops refreshes; reachable again refreshes every registered
    // profile at once.
    virtual void SetNetworkReachable(bool reachable) = 0;
    virtual bool IsRegistered(SipProfile* profile) = 0;
};

class VideoStreamObserver {
public:
    virtual void IncomingFrameSizeChanged(int stream, unsigned short width, unsigned short height) = 0;
    virtual void IncomingRate(int stream, unsigned int frameRate, unsigned int bitRate) = 0;
    virtual void OutgoingRate(int stream, unsigned int frameRate, unsigned int bitRate) = 0;
    virtual ~VideoStreamObserver() = default;
};

class VideoStream {
public:
    // Direction numbers of the host: 0 inactive, 1 send and receive, 2 send
    // only, 3 receive only, 4 stopped until started again.
    enum Direction { kInactive = 0, kSendRecv = 1, kSendOnly = 2, kRecvOnly = 3, kStopped = 4 };

    virtual ~VideoStream() = default;
    virtual void Start(int camera, int reserved1, int reserved2,
                       std::shared_ptr<media::VideoRenderer> localRenderer,
                       std::shared_ptr<media::VideoRenderer> remoteRenderer, int rotation,
                       uint16_t width, uint16_t height, int bitRateKbps, int frameRate) = 0;
    virtual void SetDirection(int direction) = 0;
    virtual int GetDirection() const = 0;
    virtual void AddObserver(VideoStreamObserver* observer) = 0;
    virtual void ChangeCapture(int camera, int rotation, int reserved,
                               std::shared_ptr<media::VideoRenderer> localRenderer) = 0;
    virtual void SetRotation(int rotation) = 0;
};

class AudioStream {
public:
    virtual ~AudioStream() = default;
    virtual void Mute(bool mute) = 0;
    virtual bool IsMuted() const = 0;
};

class MediaSession {
public:
    virtual ~MediaSession() = default;
    virtual VideoStream* GetVideoStream() = 0;
    virtual AudioStream* GetAudioStream() = 0;
};

class Call {
public:
    enum CallState {
        kNewCall = 0, kCancel = 1, kFailed = 2, kRejected = 3, kProcessing = 4, kRinging = 5,
        kConnected = 6, kEnded = 7, kPausing = 8, kPaused = 9, kResuming = 10, kResumed = 11,
        kRemoteUpdating = 12, kRemoteUpdated = 13, kReferAccepted = 14, kReferRejected = 15,
    };
    enum Direction { kIncoming = 0, kOutgoing = 1 };
    enum MediaDirection { kInactive = 0, kSendOnly = 1, kRecvOnly = 2, kSendRecv = 3 };

    virtual ~Call() = default;
    // Incoming call in state 0: 200 with an answer offering audio and, when
    // `video` is set and the caller offered it, video.
    virtual bool Answer(bool audio, bool video) = 0;
    // Incoming call not yet answered: a final response with `status` (4xx-6xx).
    virtual bool Reject(int status, int reserved) = 0;
    // Sends each character of `tones` (0-9, *, #, A-D) as SIP INFO
    // application/dtmf-relay on a connected call.
    virtual bool SendDtmf(int reserved1, const char* tones, int reserved2) = 0;
    // CANCEL before the answer, BYE after it, 603 for an unanswered incoming call.
    virtual bool Hangup() = 0;
    // re-INVITE adding or removing video.
    virtual bool UpdateMedia(bool video) = 0;
    virtual const char* RemoteId() const = 0;
    virtual int GetDirection() const = 0;
    virtual CallState GetState() const = 0;
    virtual bool SupportVideo() const = 0;
    virtual bool SupportData() const = 0;
    virtual MediaSession* GetMediaSession() = 0;
    // Custom "X-" headers of the INVITE that started an incoming call (names as
    // sent; values that are not valid UTF-8 are left out).
    virtual const std::map<std::string, std::string>& GetCustomHeaders() const = 0;
    virtual int GetErrorCode() const = 0;
    virtual const char* GetErrorReason() const = 0;
};

class CallStateObserver {
public:
    virtual void OnCallStateChange(Call* call, Call::CallState state) = 0;
    virtual void OnDtmf(Call* call, char const* tone) = 0;
    virtual void OnMediaStreamUpdate(Call* call, CallMediaStreamType type, Call::MediaDirection direction) = 0;

protected:
    ~CallStateObserver() = default;
};

class CallManager {
public:
    virtual ~CallManager() = default;
    // An outgoing INVITE from `profile` to `callee` (a user part or a SIP URI)
    // with `headers` added (names must be tokens, values free of CR, LF and
    // NUL, or the header is left out). The new call is reported in state 0
    // (direction 1) on the next ProcessEvents(). Null when the profile or the
    // callee is unusable.
    virtual Call* MakeCall(SipProfile* profile, const char* callee, const char* subject, bool webrtc,
                           int reserved1, bool video, int reserved2,
                           const std::map<std::string, std::string>& headers) = 0;
    virtual void AddObserver(CallStateObserver* observer) = 0;
    virtual std::vector<Call*> GetCalls() = 0;
    // On (1): an incoming INVITE is answered with 180 Ringing at once.
    virtual void SetAutoRinging(int on) = 0;
};

class RTCVoiceEngine {
public:
    virtual ~RTCVoiceEngine() = default;
    virtual void SetEchoCancellation(bool on, int mode) = 0;
    virtual void SetNoiseSuppression(bool on, int mode) = 0;
    virtual void SetLoudspeakerStatus(bool on) = 0;
    virtual bool GetLoudspeakerStatus() const = 0;
};

class RTCVideoEngine {
public:
    virtual ~RTCVideoEngine() = default;
    virtual int NumberOfCaptureDevices() = 0;
    // Degrees the camera's picture is turned from upright; camera 0 counts
    // from the opposite side (180 when upright), as the call manager's
    // rotation rule expects of it.
    virtual int GetOrientation(int camera) = 0;
};

class MediaEngine {
public:
    virtual ~MediaEngine() = default;
    virtual RTCVoiceEngine* GetVoiceEngine() = 0;
    virtual RTCVideoEngine* GetVideoEngine() = 0;
};

class SipEngine {
public:
    virtual ~SipEngine() = default;
    // Binds the SIP transport; false when it cannot.
    virtual bool Initialize() = 0;
    virtual void Terminate() = 0;
    // Runs whatever is due without blocking.
    virtual void ProcessEvents() = 0;
    virtual SipProfileManager* GetSipProfileManager() = 0;
    virtual CallManager* GetCallManager() = 0;
    virtual RegistrationManager* GetRegistrationManager() = 0;
    virtual MediaEngine* GetMediaEngine() = 0;
    // Closes and reopens the SIP transport (after the network changed).
    virtual void ResetTransport() = 0;
    // Name servers for SIP host names; none added: the system's.
    virtual void AddDnsServer(const char* address) = 0;
};

class SipEngineFactory {
public:
    static SipEngine* Create(Config& config);
    static void Delete(SipEngine*& engine);
};

}  // namespace client
