// PellixSipCallManager: the one object between the client facade and the SIP
// engine manager. It registers the user's SIP account, places, answers,
// rejects and hangs up calls, and turns the engine's events into
// PellixSipCallDelegate reports.
//
// Threads: every entry point and every engine event runs on the main thread;
// placing and answering queue their work on the main queue, so it runs after
// the caller's current turn. Ownership: the delegate is held weakly; the
// engine owns its call objects, the manager only points at the current one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "PellixSipCallManager/PellixSipCallDelegate.h"
#include "PellixSipCallManager/SipEngineUIDelegates.h"
#include "PellixVideoView/PellixVideoView.h"
#include "SipEngineSDK/RTCEAGLVideoView.h"
#include "platform/CallCenter.h"

namespace pellix {

class PellixSipCallManager final : public SipEngineUIRegistrationDelegate,
                                   public SipEngineUICallDelegate,
                                   public VideoFrameInfoDelegate,
                                   public client::RTCEAGLVideoViewDelegate {
public:
    static const std::shared_ptr<PellixSipCallManager>& sharedInstance();

    void setupSipCallManagerData();
    void receiveSipEngineNotification(const std::string& name);

    static void registrationDelegate(const std::shared_ptr<PellixSipCallDelegate>& delegate);
    static void removeDelegate();

    // ---- account
    static void registerSipAccount(const std::string& sipAccount, const std::string& sipAuthName,
                                   const std::optional<std::string>& sipPassword, const std::string& sipDomain,
                                   bool supportSipProxy, const std::string& sipProxy, std::int64_t sipTransportType,
                                   bool supportWebrtc, bool supportRtcpFb, std::int64_t sipExpire,
                                   const std::string& sipDisplayName, bool keepAlive, std::int64_t videoType,
                                   const std::string& stunServer, const std::string& stunServerPort,
                                   const std::string& turnServer, const std::string& turnServerPort,
                                   const std::string& turnUserName, const std::string& turnPassword);
    static void logoutSipAccount();
    static void refreshSipRegister();
    static bool checkSipRegisteredSussess();  // (sic) the API's own spelling
    static std::optional<std::string> getUserSipAccount();
    static std::optional<std::string> getCurrentSipAccount();

    // ---- calls
    static void makeCallWithCallType(std::int64_t callType, std::int64_t mediaCallType, bool localMicrophoneEnable,
                                     bool localSpeakerEnable, std::shared_ptr<PellixVideoView> localVideoView,
                                     std::int64_t localCameraOrientation, const std::string& remoteCallerID,
                                     std::shared_ptr<PellixVideoView> remoteVideoView);
    static void answerSipCallWithMediaCallType(std::int64_t mediaCallType, bool localMicrophoneEnable,
                                               bool localSpeakerEnable, std::int64_t localCameraOrientation,
                                               std::shared_ptr<PellixVideoView> localVideoView,
                                               std::shared_ptr<PellixVideoView> remoteVideoView);
    static void rejectCurrentCall();
    static void hangupCurrentCall();

    // ---- status
    static std::int64_t currentCallStatus();
    static bool isCalling();
    static bool isExistCall();
    // A call that is connected or being set up (placed here, or answered
    // here): not a caller that only rings, which the host may never hear of.
    static bool hasLiveCall();

    // ---- media switches
    static bool switchMicrophone(bool on);
    static bool switchSpeaker(bool on);
    static bool enableVideo(bool on);
    static bool enableCamera(bool on);
    static bool switchVideoStreamDirection(std::int64_t direction);
    static bool switchVideoModeToAudioMode();
    static bool sendDTMFWithCode(const std::string& code);

    // ---- call video: render views inside the host's containers
    // Builds the render views inside the containers stored for the call.
    static void configVideoUI();
    // Empties the containers, takes them out of their superviews and lets
    // them and the render views go.
    static void clearVideoUI();
    // Starts the current call's video stream drawing into both render views.
    static void drawVideoStream();
    // Stop and restart the video while the application is in the background.
    static void pauseCurrentCall();
    static void resumeCurrentCall();
    static bool switchCameraDirection();
    static int gainCameraOrientation(int angle);
    // Reapplies the capture rotation to the running video stream.
    static void changeLocalRemoteVideoSize();
    // The camera selector in use, after the camera-count check.
    std::int64_t localCameraOrientation() const;
    const std::shared_ptr<client::RTCEAGLVideoView>& localRTCEAGLVideoView() const { return localRTCEAGLVideoView_; }
    const std::shared_ptr<client::RTCEAGLVideoView>& remoteRTCEAGLVideoView() const { return remoteRTCEAGLVideoView_; }

    // ---- RTCEAGLVideoViewDelegate
    void videoView(client::RTCEAGLVideoView* view, double width, double height) override;

    // ---- cellular-call guard
    void startCTCallCenterMonitoring();
    void removeCTCallCenterMonitoring();

    // ---- read-only state, for the facade and tests
    std::int64_t callDirection() const { return callDirection_; }
    std::int64_t localMediaCallType() const { return localMediaCallType_; }
    std::int64_t currentIncomingCallType() const { return currentIncomingCallType_; }
    bool isCallConnected() const { return isCallConnected_; }
    bool microphoneEnable() const { return microphoneEnable_; }
    bool speakerEnable() const { return speakerEnable_; }
    client::Call* currentCall() const { return currentCall_; }

    // ---- SipEngineUIRegistrationDelegate
    void OnRegistrationProgress(client::SipProfile* profile) override;
    void OnRegistrationSucess(client::SipProfile* profile) override;
    void OnRegistrationCleared(client::SipProfile* profile) override;
    void OnRegisterationFailed(client::SipProfile* profile, std::int64_t errorCode,
                               const std::optional<std::string>& errorReason) override;

    // ---- SipEngineUICallDelegate
    void OnNewCall(client::Call* call, std::int32_t direction, const std::optional<std::string>& callerID,
                   bool supportVideo) override;
    void OnCallCancel(client::Call* call) override;
    void OnCallFailed(client::Call* call, std::int64_t errorCode, const std::optional<std::string>& errorReason) override;
    void OnCallRejected(client::Call* call, std::int64_t errorCode,
                        const std::optional<std::string>& errorReason) override;
    void OnCallProcessing(client::Call* call) override;
    void OnCallRinging(client::Call* call) override;
    void OnCallConnected(client::Call* call, bool supportVideo, bool supportData) override;
    void OnCallEnded(client::Call* call) override;
    void OnCallPausing(client::Call* call) override;
    void OnCallPaused(client::Call* call) override;
    void OnCallResuming(client::Call* call) override;
    void OnCallResumed(client::Call* call) override;
    void OnCallRemoteUpdating(client::Call* call) override;
    void OnCallRemoteUpdated(client::Call* call) override;
    void OnCallReferAccepted(client::Call* call) override;
    void OnCallReferRejected(client::Call* call) override;
    void OnMediaStreamReady(client::Call* call, std::int32_t mediaType) override;
    void OnReceiveDtmf(client::Call* call, const std::optional<std::string>& tone) override;

    // ---- VideoFrameInfoDelegate
    void IncomingFrameWidth(std::int64_t width, std::int64_t height) override;
    void IncomingFps(std::int64_t fps, std::int64_t bitrate) override;
    void OutgoingFps(std::int64_t fps, std::int64_t bitrate) override;

    PellixSipCallManager(const PellixSipCallManager&) = delete;
    PellixSipCallManager& operator=(const PellixSipCallManager&) = delete;
    ~PellixSipCallManager() override;

private:
    PellixSipCallManager() = default;

    std::shared_ptr<PellixSipCallDelegate> delegate() const { return deleagte_.lock(); }
    // Returns the direction of the call that ended.
    std::int64_t endOfCallReset(client::Call* call);
    // What placing and answering both store before the call's views are built.
    void takeCallSettings(std::int64_t mediaCallType, bool microphone, bool speaker, std::int64_t cameraOrientation,
                          std::shared_ptr<PellixVideoView> local, std::shared_ptr<PellixVideoView> remote);
    // Resume's part of starting the video: everything but stopping it first.
    void startVideo(client::VideoStream* video);
    bool currentCallIsLive() const;
    // Whether an engine event is about the current call: events of any
    // other call (a caller refused or still ringing elsewhere) change and
    // report nothing.
    bool concerns(client::Call* call) const { return call && call == currentCall_; }

    client::Call* currentCall_ = nullptr;
    bool microphoneEnable_ = false;
    bool speakerEnable_ = false;
    bool isCallConnected_ = false;
    bool answering_ = false;   // the current incoming call is being answered here
    std::shared_ptr<platform::CallCenter> callCenter_;
    std::weak_ptr<PellixSipCallDelegate> deleagte_;
    std::int64_t callDirection_ = 0;
    std::int64_t localCameraOrientation_ = 0;
    std::shared_ptr<PellixVideoView> localVideoBgView_;
    std::shared_ptr<PellixVideoView> remoteVideoBgView_;
    std::shared_ptr<client::RTCEAGLVideoView> localRTCEAGLVideoView_;
    std::shared_ptr<client::RTCEAGLVideoView> remoteRTCEAGLVideoView_;
    // Starting the stream rebuilds it, and a rebuilt stream reports ready
    // again: the ready report draws only once per call.
    bool videoDrawn_ = false;
    std::int64_t localMediaCallType_ = 0;
    std::int64_t currentIncomingCallType_ = 0;
    std::optional<std::string> currentSipAccount_;
    std::optional<std::string> userSipAccount_;
};

}  // namespace pellix
