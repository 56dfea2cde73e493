// The facade's two host protocols.
//
// Every method is optional: the bodies do nothing. A host says which ones it
// implements through implements(Method), because what the facade does can
// depend on it (a door call starts the call time-out only when the host takes
// callDidReceiveDoor). A method the host overrides but does not declare in
// implements() is never called. Calls arrive on the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pellix {

class PellixDoorCallModel;
class PellixPropertyNotice;
class PellixAuthorizationChange;

// Door calls, remote hang-ups, property notices and authorisation changes.
class PellixClientDelegate {
public:
    enum class Method {
        CallDidReceiveDoor,
        CallDidHangupMessage,
        ReceivePropertyNoticeMessage,
        ReceiveAuthorizationChangeMessage,
    };

    virtual ~PellixClientDelegate() = default;
    virtual bool implements(Method) const { return false; }

    virtual void callDidReceiveDoor(std::shared_ptr<PellixDoorCallModel> call) { (void)call; }
    virtual void callDidHangupMessage() {}
    virtual void receivePropertyNoticeMessage(std::shared_ptr<PellixPropertyNotice> notice) { (void)notice; }
    virtual void receiveAuthorizationChangeMessage(std::shared_ptr<PellixAuthorizationChange> change) {
        (void)change;
    }
};

// SIP registration, call progress and media, in the order the engine reports
// them.
class PellixCallManagerDelegate {
public:
    enum class Method {
        CallDidRegistrationSuccess,
        CallDidRegistrationFailed,
        CallDidTheCallIsCanceled,
        CallDidCallFailedOrWrong,
        CallDidTheCallWasRejected,
        CallDidCallConnectionIsBeingEstablished,
        CallDidTheCalledPartyRings,
        CallDidTheCallIsConnected,
        CallDidTheCallEnds,
        CallDidACallPauseIsBeingSet,
        CallDidTheCallIsPaused,
        CallDidSettingUpTerminationCallPause,
        CallDidTerminatedCallPauseResume,
        CallDidCallRemoteSettingsAreBeingUpdated,
        CallDidCallRemoteSettingsHaveBeenUpdated,
        CallDidCallTransferIsAccepted,
        CallDidCallForwardingIsRejected,
        CallDidVoiceMediaStreamReady,
        CallDidVideoMediaStreamReady,
        CallDidDataMediaStreamReady,
        CallDidRemoteVideoScreenSizeChange,
        CallDidRemoteVideoFps,
        CallDidLocalVideoFps,
        CallDidReceiveRemoteSwitchVideoModeToAudioMode,
    };

    virtual ~PellixCallManagerDelegate() = default;
    virtual bool implements(Method) const { return false; }

    virtual void callDidRegistrationSuccess() {}
    virtual void callDidRegistrationFailed(std::int64_t code, const std::optional<std::string>& message) {
        (void)code, (void)message;
    }
    virtual void callDidTheCallIsCanceled() {}
    virtual void callDidCallFailedOrWrong(std::int64_t code, const std::optional<std::string>& message) {
        (void)code, (void)message;
    }
    virtual void callDidTheCallWasRejected(std::int64_t code, const std::optional<std::string>& message) {
        (void)code, (void)message;
    }
    virtual void callDidCallConnectionIsBeingEstablished() {}
    virtual void callDidTheCalledPartyRings() {}
    virtual void callDidTheCallIsConnectedSupportVideo(bool supportVideo, bool supportData) {
        (void)supportVideo, (void)supportData;
    }
    virtual void callDidTheCallEnds() {}
    virtual void callDidACallPauseIsBeingSet() {}
    virtual void callDidTheCallIsPaused() {}
    virtual void callDidSettingUpTerminationCallPause() {}
    virtual void callDidTerminatedCallPauseResume() {}
    virtual void callDidCallRemoteSettingsAreBeingUpdated() {}
    virtual void callDidCallRemoteSettingsHaveBeenUpdated() {}
    virtual void callDidCallTransferIsAccepted() {}
    virtual void callDidCallForwardingIsRejected() {}
    virtual void callDidVoiceMediaStreamReady() {}
    virtual void callDidVideoMediaStreamReady() {}
    virtual void callDidDataMediaStreamReady() {}
    virtual void callDidRemoteVideoScreenSizeChangeWidth(std::int64_t width, std::int64_t height) {
        (void)width, (void)height;
    }
    virtual void callDidRemoteVideoFps(std::int64_t fps, std::int64_t bitrate) { (void)fps, (void)bitrate; }
    virtual void callDidLocalVideoFps(std::int64_t fps, std::int64_t bitrate) { (void)fps, (void)bitrate; }
    virtual void callDidReceiveRemoteSwitchVideoModeToAudioMode() {}
};

}  // namespace pellix
