#include <arpa/inet.h>
#include <netdb.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/su_tag_io.h>
#include <sofia-sip/su_uniqueid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "SipEngineSDK/SipHeaders.h"
#include "SipEngineSDK/SofiaEngine.h"
#include "platform/Log.h"

namespace client {
namespace {

bool samePlan(const media::StreamPlan& a, const media::StreamPlan& b) {
    return a.kind == b.kind && a.active == b.active && a.remoteAddress == b.remoteAddress &&
           a.remoteRtpPort == b.remoteRtpPort && a.remoteRtcpPort == b.remoteRtcpPort &&
           a.codec.payloadType == b.codec.payloadType && a.codec.name == b.codec.name &&
           a.codec.clockRate == b.codec.clockRate && a.codec.fmtp == b.codec.fmtp && a.direction == b.direction &&
           a.packetTimeMs == b.packetTimeMs;
}

media::Direction hostVideoDirection(int d) {
    switch (d) {
    case VideoStream::kSendRecv: return media::Direction::SendReceive;
    case VideoStream::kSendOnly: return media::Direction::SendOnly;
    case VideoStream::kRecvOnly: return media::Direction::ReceiveOnly;
    default: return media::Direction::Inactive;
    }
}

bool userSafe(const std::string& s) {
    if (s.empty() || s.size() > 128) return false;
    for (unsigned char c : s)
        if (!(std::isalnum(c) || std::string_view("-_.!~*'()&=+$%").find(static_cast<char>(c)) != std::string_view::npos))
            return false;
    return true;
}

bool hostSafe(const std::string& s) {
    if (s.empty() || s.size() > 255) return false;
    for (unsigned char c : s)
        if (!(std::isalnum(c) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']')) return false;
    return true;
}

std::string hostOfDomain(const std::string& domain) {
    if (!domain.empty() && domain.front() == '[') {
        auto close = domain.find(']');
        return close == std::string::npos ? domain : domain.substr(1, close - 1);
    }
    auto colon = domain.find(':');
    return colon == std::string::npos ? domain : domain.substr(0, colon);
}

}  // namespace

// ---------------------------------------------------------------- engine side

std::string SofiaEngine::mediaAddressFor(const std::string& peerHost) const {
    if (!localAddress_.empty()) return localAddress_;
    addrinfo hints{}, *res = nullptr;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    std::string out;
    if (getaddrinfo(peerHost.c_str(), "9", &hints, &res) == 0 && res) {
        int fd = ::socket(res->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        // Connecting a UDP socket only picks the route; nothing is sent.
        if (fd >= 0 && ::connect(fd, res->ai_addr, res->ai_addrlen) == 0) {
            sockaddr_storage ss{};
            socklen_t len = sizeof(ss);
            char buf[INET6_ADDRSTRLEN] = {};
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0) {
                if (ss.ss_family == AF_INET)
                    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&ss)->sin_addr, buf, sizeof(buf));
                else
                    inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr, buf, sizeof(buf));
                out = buf;
            }
        }
        if (fd >= 0) ::close(fd);
        freeaddrinfo(res);
    }
    return out.empty() ? "127.0.0.1" : out;
}

Call* SofiaEngine::MakeCall(SipProfile* p, const char* callee, const char* subject, bool, int, bool video, int,
                            const std::map<std::string, std::string>& headers) {
    SofiaProfile* profile = nullptr;
    for (auto& [name, prof] : profiles_)
        if (prof.get() == p) profile = prof.get();
    if (!nua_ || quiet_ || !profile || !callee || liveCallCount() >= kMaxLiveCalls) return nullptr;
    std::string target = callee;
    while (!target.empty() && target.front() == ' ') target.erase(target.begin());
    while (!target.empty() && target.back() == ' ') target.pop_back();
    std::string user, host;
    if (target.rfind("sip:", 0) == 0) {
        auto at = target.find('@');
        if (at == std::string::npos) return nullptr;
        user = target.substr(4, at - 4);
        host = target.substr(at + 1);
    } else {
        user = target;
        host = textOf(profile->domain);
    }
    std::string account = textOf(profile->userName);
    if (!userSafe(user) || !hostSafe(host) || !userSafe(account)) return nullptr;

    auto call = std::make_unique<SofiaCall>(*this, nextCallId_++, Call::kOutgoing);
    SofiaCall* c = call.get();
    c->profile_ = profile;
    {
        auto lower = [](std::string t) {
            for (char& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            return t;
        };
        const std::string proxyHost = lower(textOf(profile->proxy));
        c->toOwnServer_ = lower(host) == lower(textOf(profile->domain)) || (!proxyHost.empty() && hostSafe(proxyHost));
    }
    c->remoteId_ = user;
    c->wantVideo_ = video && !codecs(media::StreamKind::Video).empty();
    c->video_ = c->wantVideo_;
    c->sdpAddress_ = mediaAddressFor(hostOfDomain(host));
    c->media_ = makeMedia();
    std::string offer = c->offer(c->wantVideo_);
    applyUserAgent();
    std::string to = "<sip:" + user + "@" + host + ">";
    std::string from = "<sip:" + account + "@" + textOf(profile->domain) + ">";
    if (profile->displayName[0]) {
        std::string name;
        for (char ch : textOf(profile->displayName))
            if (ch != '"' && ch != '\\') name += ch;
        from = "\"" + name + "\" " + from;
    }
    // Given the address our SDP names, sofia's offer-answer engine does not
    // list the host's interfaces (twice) to find one for every call.
    c->handle_ = nua_handle(nua_, &c->owner_, SIPTAG_TO_STR(to.c_str()), SIPTAG_FROM_STR(from.c_str()),
                            SOATAG_ADDRESS(c->sdpAddress_.c_str()), TAG_END());
    if (!c->handle_) return nullptr;
    std::string block = headers::writeBlock(headers);
    std::string subj = subject ? subject : "";
    if (!headers::isValidUtf8(subj) || subj.find_first_of("\r\n") != std::string::npos) subj.clear();
    std::string proxy = textOf(profile->proxy);
    std::string proxyUrl;
    if (!proxy.empty() && hostSafe(proxy)) proxyUrl = "sip:" + proxy;
    nua_invite(c->handle_, SOATAG_USER_SDP_STR(offer.c_str()),
               TAG_IF(!block.empty(), SIPTAG_HEADER_STR(block.c_str())),
               TAG_IF(!subj.empty(), SIPTAG_SUBJECT_STR(subj.c_str())),
               TAG_IF(!proxyUrl.empty(), NUTAG_PROXY(proxyUrl.c_str())), TAG_END());
    calls_.push_back(std::move(call));
    reportLater(c->id_, Call::kNewCall);
    return c;
}

void SofiaEngine::onIncomingInvite(nua_handle_t* nh, sip_t const* sip) {
    auto refuse = [&](int status, const char* phrase) {
        nua_respond(nh, status, phrase, TAG_END());
        zombies_.insert(nh);
    };
    // One call at a time: while a call is up or being set up (placed here,
    // or answered here and not yet confirmed) another caller hears busy. A
    // call that only rings here does not count: the leg a host waits for
    // may arrive while a stray call rings. Beyond that the number of calls
    // is bounded, and what is over it costs no media ports.
    const bool busy = std::any_of(calls_.begin(), calls_.end(), [](const auto& c) {
        return !c->ended_ && !c->hangingUp_ && !c->rejected_ &&
               (c->connected_ || c->accepted_ || c->direction_ == Call::kOutgoing);
    });
    if (busy || liveCallCount() >= kMaxLiveCalls) {
        pellix::platform::Log::write(std::string("[SipEngine] incoming INVITE refused: ") +
                                     (busy ? "a call is in progress" : "too many calls"));
        refuse(SIP_486_BUSY_HERE);
        return;
    }
    std::string body;
    if (sip && sip->sip_payload && sip->sip_payload->pl_data)
        body.assign(sip->sip_payload->pl_data, sip->sip_payload->pl_len);
    auto audio = codecs(media::StreamKind::Audio);
    std::string why;
    auto offer = body.empty() ? std::nullopt : sdp::parse(body, &why);
    if (!sip || !offer || !sdp::hasUsable(*offer, media::StreamKind::Audio, audio)) {
        pellix::platform::Log::write("[SipEngine] incoming INVITE refused: " +
                                     (offer ? std::string("no usable audio codec") : "no usable SDP " + why));
        refuse(SIP_488_NOT_ACCEPTABLE);
        return;
    }
    auto call = std::make_unique<SofiaCall>(*this, nextCallId_++, Call::kIncoming);
    SofiaCall* c = call.get();
    c->handle_ = nh;
    nua_handle_bind(nh, &c->owner_);
    if (sip->sip_from && sip->sip_from->a_url->url_user) c->remoteId_ = sip->sip_from->a_url->url_user;
    else if (sip->sip_from && sip->sip_from->a_url->url_host) c->remoteId_ = sip->sip_from->a_url->url_host;
    if (!headers::isValidUtf8(c->remoteId_)) c->remoteId_.clear();
    std::vector<std::pair<std::string, std::string>> raw;
    for (sip_unknown_t const* u = sip->sip_unknown; u && raw.size() < 64; u = u->un_next)
        if (u->un_name && u->un_value) raw.emplace_back(u->un_name, u->un_value);
    c->headers_ = headers::readCustom(raw);
    c->video_ = sdp::hasUsable(*offer, media::StreamKind::Video, codecs(media::StreamKind::Video));
    c->videoLine_ = c->video_;
    c->remoteSdp_ = body;
    std::string peer;
    for (const auto& m : offer->media)
        if (m.type == "audio") peer = m.address;
    c->sdpAddress_ = mediaAddressFor(peer.empty() ? "127.0.0.1" : peer);
    c->media_ = makeMedia();
    calls_.push_back(std::move(call));
    if (autoRinging_) nua_respond(nh, SIP_180_RINGING, TAG_END());
    reportState(*c, Call::kNewCall);
}

void SofiaEngine::onCallEvent(SofiaCall& call, int event, int status, const char* phrase, sip_t const* sip,
                              const void* tagList) {
    auto* tags = static_cast<tagi_t const*>(tagList);
    switch (event) {
    case nua_r_invite: {
        // The account's credentials go only to the account's own server and,
        // once its registrar has named it, only in its realm: any other host
        // would get a digest it could crack offline.
        if ((status == 401 || status == 407) && call.profile_ && call.toOwnServer_ &&
            authenticate(call.handle_, sip, *call.profile_, call.authAttempts_, nullptr, call.profile_->realm))
            return;
        if (call.updating_ || call.connected_) {
            if (status == 491 && call.updating_ && call.connected_) {
                // Both ends offered at once (a far end of ours answers the
                // digit 7 with its own re-INVITE): try again after a random
                // wait, longer for the end that made the call, so one wins.
                const int ms = static_cast<int>(call.direction_ == Call::kOutgoing ? 2100 + su_random() % 1900 : su_random() % 2000);
                call.retryUpdateAt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
                return;
            }
            if (status >= 200) call.updating_ = false;
            return;
        }
        if (status < 180) {
            if (!call.reported1xx_[0] && !call.hangingUp_) {
                call.reported1xx_[0] = true;
                reportState(call, Call::kProcessing);
            }
            return;
        }
        if (status < 200) {
            if (!call.reported1xx_[1] && !call.hangingUp_) {
                call.reported1xx_[1] = true;
                reportState(call, Call::kRinging);
            }
            return;
        }
        if (status < 300) {
            call.answered_ = true;
            if (call.hangingUp_) {
                // Our CANCEL crossed the answer: end the call we no longer want.
                nua_bye(call.handle_, TAG_END());
                call.errorCode_ = 487;
                call.errorReason_ = "Request Terminated";
                reportState(call, Call::kCancel);
            }
            return;
        }
        call.errorCode_ = status;
        call.errorReason_ = phrase ? phrase : "";
        nua_handle_t* const nh = call.handle_;
        if (call.hangingUp_ || status == 487) reportState(call, Call::kCancel);
        else if (status == 486 || status == 600 || status == 603 || status == 480) reportState(call, Call::kRejected);
        else reportState(call, Call::kFailed);
        // A challenge left unanswered keeps the call's handle waiting for
        // credentials instead of ending its dialog.
        if ((status == 401 || status == 407) && zombies_.erase(nh)) abandoned_.push_back(nh);
        return;
    }
    case nua_i_invite: {
        // A re-INVITE on an established call.
        if (!call.connected_) return;
        std::string body;
        if (sip && sip->sip_payload && sip->sip_payload->pl_data)
            body.assign(sip->sip_payload->pl_data, sip->sip_payload->pl_len);
        auto offer = body.empty() ? std::nullopt : sdp::parse(body);
        if (!offer || !sdp::hasUsable(*offer, media::StreamKind::Audio, codecs(media::StreamKind::Audio))) {
            nua_respond(call.handle_, SIP_488_NOT_ACCEPTABLE, TAG_END());
            return;
        }
        call.remoteUpdating_ = true;
        reportState(call, Call::kRemoteUpdating);
        if (call.ended_ || quiet_) return;
        call.wantVideo_ = sdp::hasUsable(*offer, media::StreamKind::Video, codecs(media::StreamKind::Video));
        if (call.wantVideo_) call.videoLine_ = true;
        ++call.sdpVersion_;
        std::string answer = call.offer(call.wantVideo_, body);
        nua_respond(call.handle_, SIP_200_OK, SOATAG_USER_SDP_STR(answer.c_str()), TAG_END());
        return;
    }
    case nua_i_state: {
        int cs = -1;
        char const* l = nullptr;
        char const* r = nullptr;
        int answerReceived = 0, answerSent = 0;
        tl_gets(tags, NUTAG_CALLSTATE_REF(cs), SOATAG_LOCAL_SDP_STR_REF(l), SOATAG_REMOTE_SDP_STR_REF(r),
                NUTAG_ANSWER_RECV_REF(answerReceived), NUTAG_ANSWER_SENT_REF(answerSent), TAG_END());
        if (l) call.localSdp_ = l;
        if (r) call.remoteSdp_ = r;
        // During the call, only a finished offer and answer changes the
        // media: an offer of ours that is still out, or was refused (a 491
        // when both ends offered at once), changes nothing.
        if (call.connected_ && (answerReceived || answerSent) && cs != nua_callstate_terminated) call.applyMedia();
        if ((cs == nua_callstate_calling || cs == nua_callstate_proceeding) && call.direction_ == Call::kOutgoing &&
            !call.reported1xx_[0] && !call.hangingUp_) {
            // nua keeps 100 Trying to itself; the INVITE on its way is what
            // "processing" means here.
            call.reported1xx_[0] = true;
            reportState(call, Call::kProcessing);
        } else if (cs == nua_callstate_ready) {
            if (!call.connected_) {
                if (call.hangingUp_) return;
                // The host hears of the connected call (with the streams
                // the two ends agreed) before the media start: starting
                // them takes tens of milliseconds, which the call's set-up
                // would otherwise wait for.
                call.planMedia();
                call.connected_ = true;
                call.since_ = std::chrono::steady_clock::now();
                call.answered_ = true;
                reportState(call, Call::kConnected);
                if (!call.ended_ && !call.hangingUp_ && !quiet_) call.startMedia();
            } else if (call.remoteUpdating_) {
                call.remoteUpdating_ = false;
                reportState(call, Call::kRemoteUpdated);
            }
        } else if (cs == nua_callstate_terminated && !call.ended_) {
            if (call.connected_) {
                reportState(call, Call::kEnded);
            } else {
                if (call.errorCode_ == 0) {
                    call.errorCode_ = status >= 300 ? status : 500;
                    call.errorReason_ = status >= 300 && phrase ? phrase : "Call terminated";
                }
                // A refusal of ours is what the host asked for: it reads as
                // rejected, not as a failure.
                // An incoming call the host hung up before answering ends
                // (7) whether this or the queued report comes first.
                Call::CallState end = call.rejected_ ? Call::kRejected : Call::kFailed;
                if (call.hangingUp_) end = call.direction_ == Call::kIncoming ? Call::kEnded : Call::kCancel;
                reportState(call, end);
            }
        }
        return;
    }
    case nua_i_cancel:
        call.errorCode_ = 487;
        call.errorReason_ = "Request Terminated";
        reportState(call, Call::kCancel);
        return;
    case nua_i_bye:
        reportState(call, Call::kEnded);
        return;
    case nua_i_info: {
        if (!sip || !sip->sip_content_type || !sip->sip_content_type->c_type || !sip->sip_payload) return;
        if (strcasecmp(sip->sip_content_type->c_type, "application/dtmf-relay") != 0) return;
        auto tone = headers::readDtmfRelay(std::string_view(sip->sip_payload->pl_data, sip->sip_payload->pl_len));
        if (!tone) return;
        char text[2] = {*tone, 0};
        for (std::size_t i = 0; i < callObservers_.size() && !quiet_ && !call.ended_; ++i)
            callObservers_[i]->OnDtmf(&call, text);
        return;
    }
    case nua_r_info:
        if (status < 200) return;
        if (status >= 300)
            pellix::platform::Log::write("[SipEngine] DTMF INFO refused: " + std::to_string(status));
        if (call.infosInFlight_ > 0 && --call.infosInFlight_ == 0 && call.queuedUpdate_) {
            bool video = *call.queuedUpdate_;
            call.queuedUpdate_.reset();
            if (!call.ended_ && !call.hangingUp_ && call.handle_) call.sendUpdate(video);
            else call.updating_ = false;
        }
        return;
    default:
        return;
    }
}

// ---------------------------------------------------------------- call side

SofiaCall::SofiaCall(SofiaEngine& engine, int id, int direction) : engine_(engine), id_(id), direction_(direction) {
    sdpVersion_ = 1;
}

SofiaCall::~SofiaCall() = default;

std::string SofiaCall::offer(bool video, const std::string& answering) {
    sdp::Offer o;
    const auto offered = answering.empty() ? std::nullopt : sdp::parse(answering);
    if (offered) o.answerTo = &*offered;
    o.sessionId = static_cast<uint64_t>(std::time(nullptr)) * 1000 + static_cast<uint64_t>(id_);
    o.version = sdpVersion_;
    o.address = sdpAddress_;
    o.audioPort = media_ ? media_->localPort(media::StreamKind::Audio) : 0;
    o.audioCodecs = engine_.codecs(media::StreamKind::Audio);
    auto videoCodecs = engine_.codecs(media::StreamKind::Video);
    if (video && !videoCodecs.empty()) videoLine_ = true;
    o.video = videoLine_ && !videoCodecs.empty();
    o.videoPort = video && media_ ? media_->localPort(media::StreamKind::Video) : 0;
    o.videoCodecs = videoCodecs;
    return sdp::write(o);
}

void SofiaCall::applyMedia() {
    planMedia();
    startMedia();
}

void SofiaCall::planMedia() {
    if (!media_ || localSdp_.empty() || remoteSdp_.empty()) return;
    auto l = sdp::parse(localSdp_);
    auto r = sdp::parse(remoteSdp_);
    if (!l || !r) return;
    auto audio = sdp::plan(*l, *r, media::StreamKind::Audio, engine_.codecs(media::StreamKind::Audio));
    auto video = sdp::plan(*l, *r, media::StreamKind::Video, engine_.codecs(media::StreamKind::Video));
    if (!samePlan(audio, audioPlan_)) {
        audioPlan_ = audio;
        audioPlanPending_ = true;
    }
    if (!samePlan(video, videoPlan_)) {
        videoPlan_ = video;
        videoPlanPending_ = true;
    }
    video_ = videoPlan_.active;
}

void SofiaCall::startMedia() {
    if (!media_) return;
    if (audioPlanPending_) {
        audioPlanPending_ = false;
        media_->apply(audioPlan_);
    }
    if (videoPlanPending_) applyVideoPlan();
}

void SofiaCall::applyVideoPlan() {
    videoPlanPending_ = false;
    if (!media_) return;
    media::StreamPlan p = videoPlan_;
    p.direction = static_cast<media::Direction>(static_cast<int>(p.direction) &
                                                static_cast<int>(hostVideoDirection(videoStream_.GetDirection())));
    media_->apply(p);
}

bool SofiaCall::Answer(bool, bool video) {
    if (ended_ || direction_ != kIncoming || answered_ || !handle_) return false;
    answered_ = true;
    accepted_ = true;
    wantVideo_ = video && video_;
    std::string answer = offer(wantVideo_, remoteSdp_);
    nua_respond(handle_, SIP_200_OK, SOATAG_USER_SDP_STR(answer.c_str()), TAG_END());
    engine_.soon();
    return true;
}

bool SofiaCall::Reject(int status, int) {
    if (ended_ || !handle_) return false;
    if (direction_ == kOutgoing) return Hangup();
    if (answered_) return false;
    if (status < 400 || status > 699) status = 603;
    const char* phrase = sip_status_phrase(status);
    if (!phrase) phrase = "Decline";
    answered_ = true;
    rejected_ = true;
    nua_respond(handle_, status, phrase, TAG_END());
    errorCode_ = status;
    errorReason_ = phrase;
    // Asked from inside an observer, the same round may end and free this
    // call before the report is due.
    engine_.reportLater(id_, kRejected);
    return true;
}

bool SofiaCall::Hangup() {
    if (ended_ || !handle_ || hangingUp_) return false;
    hangingUp_ = true;
    if (direction_ == kOutgoing && !answered_) {
        nua_cancel(handle_, TAG_END());
        return true;   // state 1 when the far end confirms
    }
    if (direction_ == kIncoming && !answered_) {
        answered_ = true;
        nua_respond(handle_, SIP_603_DECLINE, TAG_END());
    } else {
        nua_bye(handle_, TAG_END());
    }
    engine_.reportLater(id_, kEnded);
    return true;
}

bool SofiaCall::UpdateMedia(bool video) {
    if (ended_ || !handle_ || !connected_ || updating_ || hangingUp_) return false;
    if (video && engine_.codecs(media::StreamKind::Video).empty()) return false;
    updating_ = true;
    if (infosInFlight_ > 0) {
        // sofia holds an INVITE asked for while an INFO is unanswered and
        // never sends it: it goes out once the INFOs are answered.
        queuedUpdate_ = video;
        return true;
    }
    sendUpdate(video);
    return true;
}

void SofiaCall::sendUpdate(bool video) {
    wantVideo_ = video;
    ++sdpVersion_;
    updating_ = true;
    std::string o = offer(video);
    nua_invite(handle_, SOATAG_USER_SDP_STR(o.c_str()), TAG_END());
    engine_.soon();
}

bool SofiaCall::SendDtmf(int, const char* tones, int) {
    if (ended_ || !handle_ || !connected_ || hangingUp_ || !tones) return false;
    bool sent = false;
    for (const char* t = tones; *t; ++t) {
        char tone = static_cast<char>(std::toupper(static_cast<unsigned char>(*t)));
        if (!headers::isDtmfTone(tone)) continue;
        std::string body = headers::writeDtmfRelay(tone);
        nua_info(handle_, SIPTAG_CONTENT_TYPE_STR("application/dtmf-relay"), SIPTAG_PAYLOAD_STR(body.c_str()),
                 TAG_END());
        ++infosInFlight_;
        sent = true;
        engine_.soon();
    }
    return sent;
}

// ---------------------------------------------------------------- streams

void SofiaVideoStream::Start(int camera, int, int, std::shared_ptr<media::VideoRenderer> localRenderer,
                             std::shared_ptr<media::VideoRenderer> remoteRenderer, int rotation, uint16_t width,
                             uint16_t height, int bitRateKbps, int frameRate) {
    if (call_.ended_ || !call_.media_) return;
    media::VideoCapture capture;
    capture.camera = camera;
    capture.rotation = rotation;
    capture.width = width;
    capture.height = height;
    capture.bitRateKbps = bitRateKbps;
    capture.frameRate = frameRate;
    capture.localRenderer = std::move(localRenderer);
    capture.remoteRenderer = std::move(remoteRenderer);
    call_.media_->startVideo(capture);
}

void SofiaVideoStream::SetDirection(int direction) {
    if (direction < kInactive || direction > kStopped || direction == direction_) return;
    direction_ = direction;
    if (!call_.ended_ && call_.videoPlan_.active) call_.applyVideoPlan();
}

void SofiaVideoStream::AddObserver(VideoStreamObserver* observer) {
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void SofiaVideoStream::ChangeCapture(int camera, int rotation, int, std::shared_ptr<media::VideoRenderer> localRenderer) {
    if (!call_.ended_ && call_.media_) call_.media_->changeCapture(camera, rotation, std::move(localRenderer));
}

void SofiaVideoStream::SetRotation(int rotation) {
    if (!call_.ended_ && call_.media_) call_.media_->setRotation(rotation);
}

void SofiaAudioStream::Mute(bool mute) {
    muted_ = mute;
    if (!call_.ended_ && call_.media_) call_.media_->setAudioMute(mute);
}

}  // namespace client
