#include "PellixSipCallManager/PellixSipCallManager.h"

#include <cctype>
#include <cstdio>
#include <map>

#include "PellixLog/PellixLog.h"
#include "PellixSipCallManager/PellixIncomingCallClass.h"
#include "PellixSipCallManager/SipEngineManager.h"
#include "PellixVideoView/PellixCameraRotation.h"
#include "platform/Application.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"

namespace pellix {

namespace {

SipEngineManager& engine() { return *SipEngineManager::sharedInstance(); }

void logDebug(std::string_view text) {
    if (PellixLog::isLogEnable()) PellixLog::debug(text);
}

void logNumbers(const char* format, std::int64_t a, std::int64_t b) {
    if (!PellixLog::isLogEnable()) return;
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, static_cast<long>(a), static_cast<long>(b));
    PellixLog::debug(buffer);
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A plain number is called at the account's domain; a SIP URI only when it
// names that same host and port (or the account's proxy).
bool calleeAtOwnServer(const std::string& callee, const client::SipProfile& profile) {
    std::string target = callee;
    while (!target.empty() && target.front() == ' ') target.erase(target.begin());
    if (lowered(target.substr(0, 4)) != "sip:") return true;
    const auto at = target.find('@');
    if (at == std::string::npos) return false;
    std::string host = target.substr(at + 1);
    if (const auto end = host.find_first_of(";?> "); end != std::string::npos) host.resize(end);
    host = lowered(host);
    const std::string domain = lowered(client::textOf(profile.domain));
    const std::string proxy = lowered(client::textOf(profile.proxy));
    return !host.empty() && (host == domain || (!proxy.empty() && host == proxy));
}

client::MediaSession* sessionOf(client::Call* call) { return call ? call->GetMediaSession() : nullptr; }

client::VideoStream* videoStreamOf(client::Call* call) {
    auto* session = sessionOf(call);
    return session ? session->GetVideoStream() : nullptr;
}

}  // namespace

const std::shared_ptr<PellixSipCallManager>& PellixSipCallManager::sharedInstance() {
    static const std::shared_ptr<PellixSipCallManager> instance = [] {
        std::shared_ptr<PellixSipCallManager> created(new PellixSipCallManager());
        created->setupSipCallManagerData();
        return created;
    }();
    return instance;
}

PellixSipCallManager::~PellixSipCallManager() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    removeCTCallCenterMonitoring();
}

void PellixSipCallManager::setupSipCallManagerData() {
    auto& center = platform::NotificationCenter::defaultCenter();
    center.addObserverWithOwner(this, kSipEngineManager_InitializeSuccess_Notification, nullptr,
                                [this](const platform::Notification& n) { receiveSipEngineNotification(n.name()); });
    center.addObserverWithOwner(this, platform::Application::DidEnterBackgroundNotification, nullptr,
                                [](const platform::Notification&) { engine().applicationDidEnterBackground(); });
    center.addObserverWithOwner(this, platform::Application::WillResignActiveNotification, nullptr,
                                [](const platform::Notification&) {
                                    if (engine().inCalling()) pauseCurrentCall();
                                });
    center.addObserverWithOwner(this, platform::Application::DidBecomeActiveNotification, nullptr,
                                [](const platform::Notification&) {
                                    engine().applicationDidBecomeActive();
                                    if (engine().inCalling()) resumeCurrentCall();
                                });
    center.addObserverWithOwner(this, platform::Application::WillTerminateNotification, nullptr,
                                [this](const platform::Notification&) {
                                    if (callDirection_ == PellixSipCallDirectionIncoming) {
                                        if (engine().inCalling())
                                            hangupCurrentCall();
                                        else
                                            rejectCurrentCall();
                                    } else if (callDirection_ == PellixSipCallDirectionOutgoing) {
                                        hangupCurrentCall();
                                    }
                                });
    engine().initializeSipEngineManager();
}

void PellixSipCallManager::receiveSipEngineNotification(const std::string& name) {
    logDebug("音视频-初始化完毕");
    if (name != kSipEngineManager_InitializeSuccess_Notification) return;
    engine().configureDNS();
    engine().setRegistrationDelegate(this);
    engine().setCallDelegate(this);
}

void PellixSipCallManager::registrationDelegate(const std::shared_ptr<PellixSipCallDelegate>& delegate) {
    sharedInstance()->deleagte_ = delegate;
}

void PellixSipCallManager::removeDelegate() { sharedInstance()->deleagte_.reset(); }

// ---------------------------------------------------------------- account

void PellixSipCallManager::registerSipAccount(
    const std::string& sipAccount, const std::string& sipAuthName, const std::optional<std::string>& sipPassword,
    const std::string& sipDomain, bool supportSipProxy, const std::string& sipProxy, std::int64_t sipTransportType,
    bool supportWebrtc, bool supportRtcpFb, std::int64_t sipExpire, const std::string& sipDisplayName,
    bool keepAlive, std::int64_t videoType, const std::string& stunServer, const std::string& stunServerPort,
    const std::string& turnServer, const std::string& turnServerPort, const std::string& turnUserName,
    const std::string& turnPassword) {
    sharedInstance()->userSipAccount_ = sipAccount;
    engine().loadConfigureWithSipAccount(sipAccount, sipAuthName, sipPassword, sipDomain, supportSipProxy, sipProxy,
                                         sipTransportType, supportWebrtc, supportRtcpFb, sipExpire, sipDisplayName,
                                         keepAlive, videoType, stunServer, stunServerPort, turnServer,
                                         turnServerPort, turnUserName, turnPassword);
}

void PellixSipCallManager::logoutSipAccount() { engine().deRegisterSipAccount(); }
void PellixSipCallManager::refreshSipRegister() { engine().refreshSipRegister(); }
bool PellixSipCallManager::checkSipRegisteredSussess() { return engine().isSipRegistered(); }
std::optional<std::string> PellixSipCallManager::getUserSipAccount() { return sharedInstance()->userSipAccount_; }

std::optional<std::string> PellixSipCallManager::getCurrentSipAccount() {
    const auto& self = sharedInstance();
    return self->currentCall_ ? self->currentSipAccount_ : std::nullopt;
}

// ---------------------------------------------------------------- calls

void PellixSipCallManager::makeCallWithCallType(std::int64_t callType, std::int64_t mediaCallType,
                                                bool localMicrophoneEnable, bool localSpeakerEnable,
                                                std::shared_ptr<PellixVideoView> localVideoView,
                                                std::int64_t localCameraOrientation,
                                                const std::string& remoteCallerID,
                                                std::shared_ptr<PellixVideoView> remoteVideoView) {
    if (engine().inCalling()) return;
    platform::DispatchQueue::main()->async([=] {
        const auto& self = sharedInstance();
        self->takeCallSettings(mediaCallType, localMicrophoneEnable, localSpeakerEnable, localCameraOrientation,
                               localVideoView, remoteVideoView);

        client::SipProfile* profile = engine().gainCurrentSipProfile();
        auto* calls = engine().gainCallManager();
        if (!profile || !calls) return;
        // Only call types 0 and 1 name a callee. For any other type the
        // callee would be a lone space, which no SIP URI can carry: the call
        // is failed at once through the delegate instead of being sent.
        if (callType != 0 && callType != 1) {
            if (auto d = self->delegate()) d->sipCallFailedOrWrong(400, std::string("Bad callee for call type"));
            return;
        }
        // A callee given as a SIP URI is called only at the account's own
        // server: elsewhere the engine would hand the resident's sound,
        // picture and (when challenged) digest to whoever runs that host.
        if (!calleeAtOwnServer(remoteCallerID, *profile)) {
            if (auto d = self->delegate())
                d->sipCallFailedOrWrong(403, std::string("Callee is not at the account's server"));
            return;
        }
        const bool video = mediaCallType != PellixMediaCallTypeAudio;
        if (!calls->MakeCall(profile, remoteCallerID.c_str(), "ios-app", profile->supportWebrtc, 1, video, 0,
                             std::map<std::string, std::string>{})) {
            // Refused by the engine (an unusable callee, too many calls): the
            // host hears of it instead of waiting for a call that never comes.
            if (auto d = self->delegate()) d->sipCallFailedOrWrong(500, std::string("The call could not be placed"));
        }
    });
}

void PellixSipCallManager::answerSipCallWithMediaCallType(std::int64_t mediaCallType, bool localMicrophoneEnable,
                                                          bool localSpeakerEnable,
                                                          std::int64_t localCameraOrientation,
                                                          std::shared_ptr<PellixVideoView> localVideoView,
                                                          std::shared_ptr<PellixVideoView> remoteVideoView) {
    const auto& self = sharedInstance();
    if (!self->currentCall_ || self->callDirection_ != PellixSipCallDirectionIncoming || engine().inCalling())
        return;
    self->answering_ = true;
    platform::DispatchQueue::main()->async([=] {
        sharedInstance()->takeCallSettings(mediaCallType, localMicrophoneEnable, localSpeakerEnable,
                                           localCameraOrientation, localVideoView, remoteVideoView);
        engine().answerIncomingCall(true, mediaCallType == PellixMediaCallTypeVideo);
    });
}

void PellixSipCallManager::takeCallSettings(std::int64_t mediaCallType, bool microphone, bool speaker,
                                            std::int64_t cameraOrientation, std::shared_ptr<PellixVideoView> local,
                                            std::shared_ptr<PellixVideoView> remote) {
    clearVideoUI();
    localCameraOrientation_ = cameraOrientation;
    microphoneEnable_ = microphone;
    speakerEnable_ = speaker;
    localVideoBgView_ = std::move(local);
    remoteVideoBgView_ = std::move(remote);
    localMediaCallType_ = mediaCallType;
    configVideoUI();
}

// Both act on the call this manager reports to its delegate, which is the
// engine manager's current call too unless that one was let go already.
void PellixSipCallManager::rejectCurrentCall() {
    if (auto* call = sharedInstance()->currentCall_) {
        engine().configureCurrentCall(call);
        engine().rejectCurrentCall();
    }
}

void PellixSipCallManager::hangupCurrentCall() {
    if (auto* call = sharedInstance()->currentCall_) {
        engine().configureCurrentCall(call);
        engine().hangUpCurrentCall();
    }
}

// ---------------------------------------------------------------- status

std::int64_t PellixSipCallManager::currentCallStatus() {
    auto* call = sharedInstance()->currentCall_;
    return call ? static_cast<std::int64_t>(call->GetState()) : -1;
}

bool PellixSipCallManager::isCalling() { return sharedInstance()->currentCall_ && engine().inCalling(); }
bool PellixSipCallManager::isExistCall() { return sharedInstance()->currentCall_ != nullptr; }
bool PellixSipCallManager::hasLiveCall() { return sharedInstance()->currentCallIsLive(); }

bool PellixSipCallManager::currentCallIsLive() const {
    if (!currentCall_) return false;
    if (callDirection_ != PellixSipCallDirectionIncoming || isCallConnected_ || answering_) return true;
    const auto state = currentCall_->GetState();
    return state != client::Call::kNewCall && state != client::Call::kRinging;
}

// ---------------------------------------------------------------- media switches

bool PellixSipCallManager::switchMicrophone(bool on) {
    const auto& self = sharedInstance();
    auto* session = sessionOf(self->currentCall_);
    auto* audio = session ? session->GetAudioStream() : nullptr;
    if (!audio) return false;
    audio->Mute(!on);
    self->microphoneEnable_ = on;
    return true;
}

bool PellixSipCallManager::switchSpeaker(bool on) {
    const auto& self = sharedInstance();
    if (!self->currentCall_) return false;
    if (auto* voice = engine().gainRTCVoiceEngine()) voice->SetLoudspeakerStatus(on);
    self->speakerEnable_ = on;
    return true;
}

bool PellixSipCallManager::enableVideo(bool on) {
    const auto& self = sharedInstance();
    if (!self->currentCall_) {
        self->localMediaCallType_ = PellixMediaCallTypeNone;
        return false;
    }
    if (on) {
        if (auto* video = videoStreamOf(self->currentCall_)) video->SetDirection(client::VideoStream::kSendRecv);
        self->localMediaCallType_ = PellixMediaCallTypeVideo;
    } else {
        self->localMediaCallType_ = PellixMediaCallTypeAudio;
    }
    self->currentCall_->UpdateMedia(on);
    return true;
}

bool PellixSipCallManager::enableCamera(bool on) {
    const auto& self = sharedInstance();
    if (!self->currentCall_) {
        self->localMediaCallType_ = PellixMediaCallTypeNone;
        return false;
    }
    auto* video = videoStreamOf(self->currentCall_);
    if (!video) {
        self->localMediaCallType_ = PellixMediaCallTypeAudio;
        return false;
    }
    video->SetDirection(on ? client::VideoStream::kSendRecv : client::VideoStream::kRecvOnly);
    self->localMediaCallType_ = on ? PellixMediaCallTypeVideo : PellixMediaCallTypeAudio;
    return true;
}

bool PellixSipCallManager::switchVideoStreamDirection(std::int64_t direction) {
    const auto& self = sharedInstance();
    auto* video = videoStreamOf(self->currentCall_);
    if (!video || direction < 1 || direction > 3) return false;
    video->SetDirection(static_cast<int>(direction));
    self->localMediaCallType_ = direction == 2 ? PellixMediaCallTypeAudio : PellixMediaCallTypeVideo;
    return true;
}

bool PellixSipCallManager::switchVideoModeToAudioMode() {
    const auto& self = sharedInstance();
    if (!self->currentCall_ || self->localMediaCallType_ == PellixMediaCallTypeAudio) return false;
    // The far end's manager reads the digit "7" as "the call is audio now".
    sendDTMFWithCode("7");
    if (auto* video = videoStreamOf(self->currentCall_)) video->SetDirection(client::VideoStream::kRecvOnly);
    self->currentCall_->UpdateMedia(false);
    self->localMediaCallType_ = PellixMediaCallTypeAudio;
    return true;
}

bool PellixSipCallManager::sendDTMFWithCode(const std::string& code) {
    auto* call = sharedInstance()->currentCall_;
    if (!call) return false;
    call->SendDtmf(0, code.c_str(), 0);
    return true;
}

// ---------------------------------------------------------------- cellular-call guard

void PellixSipCallManager::startCTCallCenterMonitoring() {
    removeCTCallCenterMonitoring();
    logDebug("音视频-开启外部电话监听");
    if (!callCenter_) callCenter_ = platform::CallCenter::create();
    std::weak_ptr<platform::CallCenter> weakCenter = callCenter_;
    callCenter_->setCallEventHandler([weakCenter](const platform::CellularCall&) {
        platform::DispatchQueue::main()->async([weakCenter] {
            auto center = weakCenter.lock();
            if (!center || !center->currentCalls()) return;
            logDebug("音视频-来电话了，挂断当前通话");
            hangupCurrentCall();
        });
    });
}

void PellixSipCallManager::removeCTCallCenterMonitoring() {
    if (!callCenter_) return;
    callCenter_->setCallEventHandler({});
    callCenter_.reset();
}

// ---------------------------------------------------------------- call video

namespace {

std::shared_ptr<client::RTCEAGLVideoView> pinRenderView(PellixVideoView& container,
                                                        const std::shared_ptr<PellixSipCallManager>& delegate) {
    auto view = client::RTCEAGLVideoView::create();
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    container.addSubview(view);
    view->setDragEnable(false);
    view->setDelegate(delegate);
    const auto self = container.shared_from_this();
    using A = platform::LayoutConstraint::Attribute;
    for (auto a : {A::Leading, A::Trailing, A::Top, A::Bottom})
        container.addConstraint({self, a, platform::LayoutConstraint::Relation::Equal, view, a, 1.0, 0.0});
    return view;
}

void takeDown(std::shared_ptr<PellixVideoView>& container, std::shared_ptr<client::RTCEAGLVideoView>& view) {
    if (container) {
        for (auto sub : std::vector<std::shared_ptr<platform::View>>(container->subviews())) sub->removeFromSuperview();
        container->removeFromSuperview();
    }
    container.reset();
    view.reset();
}

int cameraAngle(client::RTCVideoEngine* video, std::int64_t selector) {
    return video ? video->GetOrientation(selector == 1 ? 1 : 0) : 0;
}

std::shared_ptr<client::media::VideoRenderer> rendererOf(const std::shared_ptr<client::RTCEAGLVideoView>& view) {
    return view ? view->externalRenderer() : nullptr;
}

}  // namespace

void PellixSipCallManager::configVideoUI() {
    const auto& self = sharedInstance();
    if (self->localVideoBgView_) self->localRTCEAGLVideoView_ = pinRenderView(*self->localVideoBgView_, self);
    if (self->remoteVideoBgView_) self->remoteRTCEAGLVideoView_ = pinRenderView(*self->remoteVideoBgView_, self);
    for (auto* container : {self->localVideoBgView_.get(), self->remoteVideoBgView_.get()}) {
        if (!container) continue;
        container->layoutIfNeeded();
        container->setNeedsLayout();
    }
}

void PellixSipCallManager::clearVideoUI() {
    const auto& self = sharedInstance();
    takeDown(self->localVideoBgView_, self->localRTCEAGLVideoView_);
    takeDown(self->remoteVideoBgView_, self->remoteRTCEAGLVideoView_);
}

void PellixSipCallManager::videoView(client::RTCEAGLVideoView* view, double width, double height) {
    if (PellixLog::isLogEnable()) {
        char buffer[256];
        std::snprintf(buffer, sizeof buffer, "音视频--视频界面尺寸变化：宽度：%lf、高度：%lf", width, height);
        PellixLog::debug(buffer);
    }
    if (view && view == localRTCEAGLVideoView_.get()) {
        if (localVideoBgView_) localVideoBgView_->setNeedsLayout();
    } else if (view && view == remoteRTCEAGLVideoView_.get()) {
        if (remoteVideoBgView_) remoteVideoBgView_->setNeedsLayout();
    }
}

std::int64_t PellixSipCallManager::localCameraOrientation() const {
    auto* video = engine().gainRTCVideoEngine();
    const int engineCameras = video ? video->NumberOfCaptureDevices() : 0;
    return usableCameraSelector(static_cast<int>(localCameraOrientation_), engineCameras);
}

int PellixSipCallManager::gainCameraOrientation(int angle) {
    return cameraRotation(angle, static_cast<int>(sharedInstance()->localCameraOrientation()));
}

void PellixSipCallManager::startVideo(client::VideoStream* video) {
    const auto size = SipEngineManager::gainVideoSize();
    const auto frameRate = SipEngineManager::gainFrameRate();
    const auto bitrate = SipEngineManager::gainBitrate();
    if (localRTCEAGLVideoView_) localRTCEAGLVideoView_->resetDisplay();
    if (remoteRTCEAGLVideoView_) remoteRTCEAGLVideoView_->resetDisplay();
    const auto camera = localCameraOrientation();
    const int rotation = gainCameraOrientation(cameraAngle(engine().gainRTCVideoEngine(), camera));
    video->Start(static_cast<int>(camera), 0, 0, rendererOf(localRTCEAGLVideoView_), rendererOf(remoteRTCEAGLVideoView_),
                 rotation, static_cast<std::uint16_t>(size.width), static_cast<std::uint16_t>(size.height),
                 static_cast<int>(bitrate), static_cast<int>(frameRate));
    video->SetDirection(client::VideoStream::kSendRecv);
    changeLocalRemoteVideoSize();
}

void PellixSipCallManager::drawVideoStream() {
    const auto& self = sharedInstance();
    auto* call = self->currentCall_;
    if (!call || !call->SupportVideo()) return;
    auto* video = videoStreamOf(call);
    if (!video) return;
    self->videoDrawn_ = true;
    video->SetDirection(client::VideoStream::kStopped);
    self->startVideo(video);
}

void PellixSipCallManager::pauseCurrentCall() {
    auto* call = sharedInstance()->currentCall_;
    if (!call || !call->SupportVideo()) return;
    if (auto* video = videoStreamOf(call)) video->SetDirection(client::VideoStream::kInactive);
}

void PellixSipCallManager::resumeCurrentCall() {
    const auto& self = sharedInstance();
    auto* call = self->currentCall_;
    if (!call || !call->SupportVideo()) return;
    if (auto* video = videoStreamOf(call)) self->startVideo(video);
}

bool PellixSipCallManager::switchCameraDirection() {
    const auto& self = sharedInstance();
    auto* video = videoStreamOf(self->currentCall_);
    if (!video) return false;
    const auto selector = self->localCameraOrientation();
    auto* engineVideo = engine().gainRTCVideoEngine();
    const int angle = cameraAngle(engineVideo, selector);
    // With one camera there is nothing to switch to: the selector stays 0 and
    // the capture stays where it is rather than moving to a missing camera.
    const int next = usableCameraSelector(selector == 1 ? 0 : 1, engineVideo ? engineVideo->NumberOfCaptureDevices() : 0);
    if (next != selector)
        video->ChangeCapture(next, gainCameraOrientation(angle), 0, rendererOf(self->localRTCEAGLVideoView_));
    self->localCameraOrientation_ = next;
    changeLocalRemoteVideoSize();
    return true;
}

void PellixSipCallManager::changeLocalRemoteVideoSize() {
    const auto& self = sharedInstance();
    auto* video = videoStreamOf(self->currentCall_);
    if (!video) return;
    video->SetRotation(gainCameraOrientation(cameraAngle(engine().gainRTCVideoEngine(), self->localCameraOrientation())));
}

// ---------------------------------------------------------------- registration events

void PellixSipCallManager::OnRegistrationProgress(client::SipProfile*) {
    if (auto d = delegate()) d->sipIsRegistering();
}

void PellixSipCallManager::OnRegistrationSucess(client::SipProfile*) {
    logDebug("音视频--注册成功");
    if (auto d = delegate()) d->sipRegistrationSuccess();
}

void PellixSipCallManager::OnRegistrationCleared(client::SipProfile*) {
    logDebug("音视频--注销成功");
    if (auto d = delegate()) d->sipCanceledSuccessfully();
}

void PellixSipCallManager::OnRegisterationFailed(client::SipProfile*, std::int64_t errorCode,
                                                 const std::optional<std::string>& errorReason) {
    logDebug("音视频--注册失败");
    // A 503 usually means the transport to the proxy is dead: rebuild it so
    // the next registration attempt has a chance.
    if (errorCode == 503) engine().resetTransport();
    if (auto d = delegate()) d->sipRegistrationFailed(errorCode, errorReason);
}

// ---------------------------------------------------------------- call events

std::int64_t PellixSipCallManager::endOfCallReset(client::Call* call) {
    const std::int64_t ended = callDirection_;
    currentCall_ = nullptr;
    currentSipAccount_.reset();
    callDirection_ = PellixSipCallDirectionEnded;
    removeCTCallCenterMonitoring();
    clearVideoUI();
    if (call && call->SupportVideo()) engine().setVideoFrameInfoDelegate(nullptr);
    return ended;
}

void PellixSipCallManager::OnNewCall(client::Call* call, std::int32_t direction,
                                     const std::optional<std::string>& callerID, bool supportVideo) {
    if (currentCall_ && call != currentCall_ && currentCallIsLive()) {
        // The engine turns such callers away as busy; one that gets through
        // still does not take the call in progress from the host.
        logDebug("音视频--通话中，忽略新呼叫");
        return;
    }
    answering_ = false;
    localMediaCallType_ = supportVideo ? PellixMediaCallTypeVideo : PellixMediaCallTypeAudio;
    isCallConnected_ = false;
    videoDrawn_ = false;
    currentCall_ = call;
    currentSipAccount_ = callerID;
    std::optional<std::string> roomName;
    if (direction == client::Call::kIncoming) {
        callDirection_ = PellixSipCallDirectionIncoming;
        static const std::map<std::string, std::string> kNoHeaders;
        const auto& headers = call ? call->GetCustomHeaders() : kNoHeaders;
        const auto cls = classifyIncomingCall(callerID.value_or(""), headers, supportVideo);
        currentIncomingCallType_ = cls.incomingCallType;
        localMediaCallType_ = cls.mediaCallType;
        roomName = cls.roomName;
    } else if (direction == client::Call::kOutgoing) {
        callDirection_ = PellixSipCallDirectionOutgoing;
    } else {
        callDirection_ = PellixSipCallDirectionUnknown;
    }
    if (auto d = delegate()) d->sipNewCallDirection(callDirection_, currentIncomingCallType_, currentSipAccount_, roomName);
}

void PellixSipCallManager::OnCallCancel(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫被取消");
    const auto ended = endOfCallReset(call);
    if (auto d = delegate()) d->sipTheCallIsCanceledDirection(ended);
}

void PellixSipCallManager::OnCallFailed(client::Call* call, std::int64_t errorCode,
                                        const std::optional<std::string>& errorReason) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫失败或错误");
    endOfCallReset(call);
    if (auto d = delegate()) d->sipCallFailedOrWrong(errorCode, errorReason);
}

void PellixSipCallManager::OnCallRejected(client::Call* call, std::int64_t errorCode,
                                          const std::optional<std::string>& errorReason) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫被拒绝");
    endOfCallReset(call);
    if (auto d = delegate()) d->sipTheCallWasRejected(errorCode, errorReason);
}

void PellixSipCallManager::OnCallProcessing(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--正在建立连接(呼出)");
    if (auto d = delegate()) d->sipCallConnectionIsBeingEstablished();
}

void PellixSipCallManager::OnCallRinging(client::Call* call) {
    if (!concerns(call)) return;
    if (auto d = delegate()) d->sipTheCalledPartyRings();
}

void PellixSipCallManager::OnCallConnected(client::Call* call, bool supportVideo, bool supportData) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫接通");
    isCallConnected_ = true;
    startCTCallCenterMonitoring();
    if (auto d = delegate()) d->sipTheCallIsConnectedDirection(callDirection_, supportVideo, supportData);
}

void PellixSipCallManager::OnCallEnded(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫结束");
    const auto ended = endOfCallReset(call);
    if (auto d = delegate()) d->sipTheCallEndsDirection(ended);
}

void PellixSipCallManager::OnCallPausing(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--正在设置呼叫暂停");
    if (auto d = delegate()) d->sipACallPauseIsBeingSetDirection(callDirection_);
}

void PellixSipCallManager::OnCallPaused(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫已暂停");
    if (auto d = delegate()) d->sipTheCallIsPausedDirection(callDirection_);
}

void PellixSipCallManager::OnCallResuming(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--正在设置终止呼叫暂停");
    if (auto d = delegate()) d->sipSettingUpTerminationCallPauseDirection(callDirection_);
}

void PellixSipCallManager::OnCallResumed(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--已终止呼叫暂停，恢复通话(");
    if (auto d = delegate()) d->sipTerminatedCallPauseResumeCallDirection(callDirection_);
}

void PellixSipCallManager::OnCallRemoteUpdating(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫远程设置正在更新(远程)");
    if (auto d = delegate()) d->sipCallRemoteSettingsAreBeingUpdated();
}

void PellixSipCallManager::OnCallRemoteUpdated(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫远程设置已更新(远程)");
    if (auto d = delegate()) d->sipCallRemoteSettingsHaveBeenUpdated();
}

void PellixSipCallManager::OnCallReferAccepted(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫转移被接受");
    if (auto d = delegate()) d->sipCallTransferIsAcceptedDirection(callDirection_);
}

void PellixSipCallManager::OnCallReferRejected(client::Call* call) {
    if (!concerns(call)) return;
    logDebug("音视频--呼叫转移被拒绝");
    clearVideoUI();
    if (auto d = delegate()) d->sipCallForwardingIsRejectedDirection(callDirection_);
}

void PellixSipCallManager::OnMediaStreamReady(client::Call* call, std::int32_t mediaType) {
    if (!concerns(call)) return;
    engine().setVideoFrameInfoDelegate(this);
    if (mediaType == client::kAudioStream) {
        if (isCallConnected_) {
            switchMicrophone(microphoneEnable_);
            switchSpeaker(speakerEnable_);
        }
        if (auto d = delegate()) d->sipVoiceMediaStreamReady();
    } else if (mediaType == client::kVideoStream) {
        if (!videoDrawn_) drawVideoStream();
        if (auto d = delegate()) d->sipVideoMediaStreamReady();
    } else if (mediaType == client::kDataStream) {
        if (auto d = delegate()) d->sipDataMediaStreamReady();
    }
}

void PellixSipCallManager::OnReceiveDtmf(client::Call* call, const std::optional<std::string>& tone) {
    if (!concerns(call)) return;
    if (tone != "7") return;
    currentCall_->UpdateMedia(false);
    if (auto d = delegate()) d->sipReceiveRemoteSwitchVideoModeToAudioMode();
}

// ---------------------------------------------------------------- video statistics

void PellixSipCallManager::IncomingFrameWidth(std::int64_t width, std::int64_t height) {
    logNumbers("音视频--远程视频画面尺寸改变：宽度：%ld、高度：%ld", width, height);
    if (auto d = delegate()) d->sipRemoteVideoScreenSizeChangeWidth(width, height);
}

void PellixSipCallManager::IncomingFps(std::int64_t fps, std::int64_t bitrate) {
    logNumbers("音视频--远程视频帧率和码率：帧率：%ld、码率：%ld", fps, bitrate);
    if (auto d = delegate()) d->sipRemoteVideoFps(fps, bitrate);
}

void PellixSipCallManager::OutgoingFps(std::int64_t fps, std::int64_t bitrate) {
    logNumbers("音视频--本地视频帧率和码率：帧率：%ld、码率：%ld", fps, bitrate);
    if (auto d = delegate()) d->sipLocalVideoFps(fps, bitrate);
}

}  // namespace pellix
