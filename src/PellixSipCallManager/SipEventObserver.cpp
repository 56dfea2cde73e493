#include "PellixSipCallManager/SipEventObserver.h"

#include "PellixSipCallManager/SipEngineManager.h"
#include "PellixSipCallManager/SipEngineUIDelegates.h"
#include "platform/Application.h"

namespace pellix {
namespace {

std::optional<std::string> text(char const* s) {
    if (!s) return std::nullopt;
    return std::string(s);
}

// After a call was cancelled, failed or rejected while the application is
// not in front, its pending local notifications (the ring banner) go.
void cancelLocalNotificationsWhenInactive() {
    auto& app = platform::Application::sharedApplication();
    if (app.applicationState() != platform::Application::State::Active) SipEngineManager::cancelAllLocalNotifications();
}

}  // namespace

SipEventObserver::SipEventObserver(void* manager, client::SipEngine* engine) : manager_(manager), engine_(engine) {
    (void)engine_;
}

SipEventObserver::~SipEventObserver() = default;

SipEngineManager* SipEventObserver::manager() const { return static_cast<SipEngineManager*>(manager_); }

void SipEventObserver::OnRegistrationProgress(client::SipProfile* profile) {
    if (auto* d = manager()->registrationDelegate()) d->OnRegistrationProgress(profile);
}

void SipEventObserver::OnRegistrationSuccess(client::SipProfile* profile) {
    if (auto* d = manager()->registrationDelegate()) d->OnRegistrationSucess(profile);
}

void SipEventObserver::OnRegistrationCleared(client::SipProfile* profile) {
    if (auto* d = manager()->registrationDelegate()) d->OnRegistrationCleared(profile);
}

void SipEventObserver::OnRegistrationFailed(client::SipProfile* profile, int code, char const* reason) {
    if (auto* d = manager()->registrationDelegate()) d->OnRegisterationFailed(profile, code, text(reason));
}

void SipEventObserver::OnCallStateChange(client::Call* call, client::Call::CallState state) {
    SipEngineManager* m = manager();
    using S = client::Call;
    switch (state) {
    case S::kNewCall: {
        auto callerId = text(call->RemoteId());
        if (call->SupportVideo())
            if (auto* session = call->GetMediaSession())
                if (auto* video = session->GetVideoStream()) video->AddObserver(this);
        m->adoptNewCall(call);
        if (auto* d = m->callDelegate()) d->OnNewCall(call, call->GetDirection(), callerId, call->SupportVideo());
        return;
    }
    case S::kCancel:
        m->releaseCall(call);
        if (auto* d = m->callDelegate()) d->OnCallCancel(call);
        cancelLocalNotificationsWhenInactive();
        return;
    case S::kFailed:
        m->releaseCall(call);
        if (auto* d = m->callDelegate()) d->OnCallFailed(call, call->GetErrorCode(), text(call->GetErrorReason()));
        cancelLocalNotificationsWhenInactive();
        return;
    case S::kRejected:
        m->releaseCall(call);
        if (auto* d = m->callDelegate()) d->OnCallRejected(call, call->GetErrorCode(), text(call->GetErrorReason()));
        cancelLocalNotificationsWhenInactive();
        return;
    case S::kEnded:
        m->releaseCall(call);
        if (auto* d = m->callDelegate()) d->OnCallEnded(call);
        return;
    default:
        break;
    }
    auto* d = m->callDelegate();
    if (!d) return;
    switch (state) {
    case S::kProcessing: d->OnCallProcessing(call); break;
    case S::kRinging: d->OnCallRinging(call); break;
    case S::kConnected: d->OnCallConnected(call, call->SupportVideo(), call->SupportData()); break;
    case S::kPausing: d->OnCallPausing(call); break;
    case S::kPaused: d->OnCallPaused(call); break;
    case S::kResuming: d->OnCallResuming(call); break;
    case S::kResumed: d->OnCallResumed(call); break;
    case S::kRemoteUpdating: d->OnCallRemoteUpdating(call); break;
    case S::kRemoteUpdated: d->OnCallRemoteUpdated(call); break;
    case S::kReferAccepted: d->OnCallReferAccepted(call); break;
    case S::kReferRejected: d->OnCallReferRejected(call); break;
    default: break;   // a state outside 0-15 changes nothing
    }
}

void SipEventObserver::OnDtmf(client::Call* call, char const* tone) {
    if (auto* d = manager()->callDelegate()) d->OnReceiveDtmf(call, text(tone));
}

void SipEventObserver::OnMediaStreamUpdate(client::Call* call, client::CallMediaStreamType type,
                                           client::Call::MediaDirection) {
    if (auto* d = manager()->callDelegate()) d->OnMediaStreamReady(call, static_cast<std::int32_t>(type));
}

void SipEventObserver::IncomingFrameSizeChanged(int, unsigned short width, unsigned short height) {
    if (auto* d = manager()->videoFrameInfoDelegate()) d->IncomingFrameWidth(width, height);
}

void SipEventObserver::IncomingRate(int, unsigned int frameRate, unsigned int bitRate) {
    if (auto* d = manager()->videoFrameInfoDelegate()) d->IncomingFps(frameRate, bitRate);
}

void SipEventObserver::OutgoingRate(int, unsigned int frameRate, unsigned int bitRate) {
    if (auto* d = manager()->videoFrameInfoDelegate()) d->OutgoingFps(frameRate, bitRate);
}

}  // namespace pellix
