// PellixSipCallDelegate: what the SIP call manager tells the client facade.
//
// Every method is optional: the default bodies do nothing, so an implementer
// overrides only what it wants. Calls arrive on the main thread, in the order
// the engine reports its events. Direction arguments are
// PellixSipCallDirection values; media call types PellixMediaCallType values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pellix {

// The direction of the current call as the manager reports it: -1 after a
// call has ended (cancelled, failed or rejected too), 0 before the first call
// and for a direction the engine does not name.
enum PellixSipCallDirection : std::int64_t {
    PellixSipCallDirectionEnded = -1,
    PellixSipCallDirectionUnknown = 0,
    PellixSipCallDirectionIncoming = 1,
    PellixSipCallDirectionOutgoing = 2,
};

// Media of a call, both ways across the API; None only for "no call".
enum PellixMediaCallType : std::int64_t {
    PellixMediaCallTypeNone = 0,
    PellixMediaCallTypeAudio = 1,
    PellixMediaCallTypeVideo = 2,
};

class PellixSipCallDelegate {
public:
    virtual ~PellixSipCallDelegate() = default;

    virtual void sipIsRegistering() {}
    virtual void sipRegistrationSuccess() {}
    virtual void sipCanceledSuccessfully() {}
    virtual void sipRegistrationFailed(std::int64_t errorCode, const std::optional<std::string>& errorMessage) {
        (void)errorCode, (void)errorMessage;
    }
    // Incoming type: the first digit (1-9) of an incoming caller id, else 0.
    // Room name: the "X-room-no" header of door-station callers, nullopt
    // when there is none.
    virtual void sipNewCallDirection(std::int64_t direction, std::int64_t incomingCallType,
                                     const std::optional<std::string>& callerSipID,
                                     const std::optional<std::string>& remoteCallName) {
        (void)direction, (void)incomingCallType, (void)callerSipID, (void)remoteCallName;
    }
    // The direction of the call that ended.
    virtual void sipTheCallIsCanceledDirection(std::int64_t direction) { (void)direction; }
    virtual void sipCallFailedOrWrong(std::int64_t errorCode, const std::optional<std::string>& errorMessage) {
        (void)errorCode, (void)errorMessage;
    }
    virtual void sipTheCallWasRejected(std::int64_t errorCode, const std::optional<std::string>& errorMessage) {
        (void)errorCode, (void)errorMessage;
    }
    virtual void sipCallConnectionIsBeingEstablished() {}
    virtual void sipTheCalledPartyRings() {}
    virtual void sipTheCallIsConnectedDirection(std::int64_t direction, bool supportVideo, bool supportData) {
        (void)direction, (void)supportVideo, (void)supportData;
    }
    // The direction of the call that ended.
    virtual void sipTheCallEndsDirection(std::int64_t direction) { (void)direction; }
    virtual void sipACallPauseIsBeingSetDirection(std::int64_t direction) { (void)direction; }
    virtual void sipTheCallIsPausedDirection(std::int64_t direction) { (void)direction; }
    // Resume under way.
    virtual void sipSettingUpTerminationCallPauseDirection(std::int64_t direction) { (void)direction; }
    // Call resumed.
    virtual void sipTerminatedCallPauseResumeCallDirection(std::int64_t direction) { (void)direction; }
    virtual void sipCallRemoteSettingsAreBeingUpdated() {}
    virtual void sipCallRemoteSettingsHaveBeenUpdated() {}
    virtual void sipCallTransferIsAcceptedDirection(std::int64_t direction) { (void)direction; }
    virtual void sipCallForwardingIsRejectedDirection(std::int64_t direction) { (void)direction; }
    virtual void sipVoiceMediaStreamReady() {}
    virtual void sipVideoMediaStreamReady() {}
    virtual void sipDataMediaStreamReady() {}
    virtual void sipRemoteVideoScreenSizeChangeWidth(std::int64_t width, std::int64_t height) {
        (void)width, (void)height;
    }
    virtual void sipRemoteVideoFps(std::int64_t fps, std::int64_t bitrate) { (void)fps, (void)bitrate; }
    virtual void sipLocalVideoFps(std::int64_t fps, std::int64_t bitrate) { (void)fps, (void)bitrate; }
    // The far end turned the call into an audio call.
    virtual void sipReceiveRemoteSwitchVideoModeToAudioMode() {}
};

}  // namespace pellix
