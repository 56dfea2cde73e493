// The three protocols through which SipEventObserver hands the engine's
// events to whoever the SipEngineManager names as delegate (the SIP call
// manager). Every method is required.
//
// Threads: called on the thread that pumps the engine (the main thread),
// from inside the engine's event processing; a method may call back into the
// engine manager. Ownership: the manager holds its delegates as plain
// pointers; whoever installs one clears it before the object goes away.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "SipEngineSDK/SipEngine.h"

namespace pellix {

class SipEngineUIRegistrationDelegate {
public:
    virtual ~SipEngineUIRegistrationDelegate() = default;
    virtual void OnRegistrationProgress(client::SipProfile* profile) = 0;
    // (sic) the protocol's own spelling
    virtual void OnRegistrationSucess(client::SipProfile* profile) = 0;
    virtual void OnRegistrationCleared(client::SipProfile* profile) = 0;
    virtual void OnRegisterationFailed(client::SipProfile* profile, std::int64_t errorCode,
                                       const std::optional<std::string>& errorReason) = 0;
};

class SipEngineUICallDelegate {
public:
    virtual ~SipEngineUICallDelegate() = default;
    virtual void OnNewCall(client::Call* call, std::int32_t direction, const std::optional<std::string>& callerID,
                           bool supportVideo) = 0;
    virtual void OnCallCancel(client::Call* call) = 0;
    virtual void OnCallFailed(client::Call* call, std::int64_t errorCode, const std::optional<std::string>& errorReason) = 0;
    virtual void OnCallRejected(client::Call* call, std::int64_t errorCode,
                                const std::optional<std::string>& errorReason) = 0;
    virtual void OnCallProcessing(client::Call* call) = 0;
    virtual void OnCallRinging(client::Call* call) = 0;
    virtual void OnCallConnected(client::Call* call, bool supportVideo, bool supportData) = 0;
    virtual void OnCallEnded(client::Call* call) = 0;
    virtual void OnCallPausing(client::Call* call) = 0;
    virtual void OnCallPaused(client::Call* call) = 0;
    virtual void OnCallResuming(client::Call* call) = 0;
    virtual void OnCallResumed(client::Call* call) = 0;
    virtual void OnCallRemoteUpdating(client::Call* call) = 0;
    virtual void OnCallRemoteUpdated(client::Call* call) = 0;
    virtual void OnCallReferAccepted(client::Call* call) = 0;
    virtual void OnCallReferRejected(client::Call* call) = 0;
    // 1 audio, 2 video, 3 data
    virtual void OnMediaStreamReady(client::Call* call, std::int32_t mediaType) = 0;
    virtual void OnReceiveDtmf(client::Call* call, const std::optional<std::string>& tone) = 0;
};

class VideoFrameInfoDelegate {
public:
    virtual ~VideoFrameInfoDelegate() = default;
    virtual void IncomingFrameWidth(std::int64_t width, std::int64_t height) = 0;
    virtual void IncomingFps(std::int64_t fps, std::int64_t bitrate) = 0;
    virtual void OutgoingFps(std::int64_t fps, std::int64_t bitrate) = 0;
};

}  // namespace pellix
