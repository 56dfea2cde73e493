#include "SipEngineSDK/SofiaEngine.h"

#include <arpa/inet.h>
#include <glob.h>
#include <gst/gst.h>
#include <netdb.h>
#include <sofia-sip/msg_header.h>
#include <sofia-sip/nta_tag.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip_header.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/soa_tag.h>
#include <sofia-sip/sresolv.h>
#include <sofia-sip/stun_tag.h>
#include <sofia-sip/su.h>
#include <sofia-sip/su_log.h>
#include <sofia-sip/su_wait.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>

#include "SipEngineSDK/SipHeaders.h"
#include "SipEngineSDK/media/GstSupport.h"
#include "platform/Log.h"

extern "C" {
extern su_log_t nta_log[], tport_log[], nua_log[], soa_log[], sresolv_log[], stun_log[];
}

namespace client {
namespace {

// At exit, sofia's library destructor deletes the thread key of its random
// state whether or not it ever made one; never made, the key it deletes is
// key 0, which belongs to whoever took it first (GLib's slice allocator, when
// GStreamer is linked), and every GLib thread still running or exiting then
// aborts. Making sofia take its key while the library loads means the key it
// deletes at exit is its own.
[[maybe_unused]] const bool g_sofiaOwnsItsKey = [] {
    su_random();
    return true;
}();

// Sofia writes its own diagnostics to stderr unless told otherwise; they go
// to the system log, and only when the host's record asks for a trace.
std::atomic<int> g_sofiaLogLevel{-1};

void sofiaLogger(void*, char const* fmt, va_list ap) {
    if (g_sofiaLogLevel.load() < 0) return;
    char line[1024];
    vsnprintf(line, sizeof(line), fmt, ap);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    pellix::platform::Log::write("[sofia] " + text);
}

void routeSofiaLogs(const Config& config) {
    int level = config.log.enabled ? config.log.level : -1;
    if (level > 9) level = 9;
    g_sofiaLogLevel = level;
    su_log_redirect(nullptr, sofiaLogger, nullptr);
    for (su_log_t* l : {nta_log, tport_log, nua_log, soa_log, sresolv_log, stun_log}) {
        su_log_redirect(l, sofiaLogger, nullptr);
        su_log_set_level(l, level < 0 ? 0 : static_cast<unsigned>(level));
    }
    su_log_set_level(nullptr, level < 0 ? 0 : static_cast<unsigned>(level));
}

void nuaCallback(nua_event_t event, int status, char const* phrase, nua_t*, nua_magic_t* magic, nua_handle_t* nh,
                 nua_hmagic_t* hmagic, sip_t const* sip, tagi_t tags[]) {
    static_cast<SofiaEngine*>(magic)->onEvent(event, status, phrase, nh, hmagic, sip, tags);
}

void log(const std::string& text) { pellix::platform::Log::write("[SipEngine] " + text); }

std::string aorOf(const SipProfile& p) {
    return "sip:" + textOf(p.userName) + "@" + textOf(p.domain);
}

std::string identityOf(const SipProfile& p) {
    std::string display = textOf(p.displayName);
    std::string out;
    if (!display.empty()) {
        std::string quoted;
        for (char c : display)
            if (c != '"' && c != '\\' && c != '\r' && c != '\n') quoted += c;
        out = "\"" + quoted + "\" ";
    }
    return out + "<" + aorOf(p) + ">";
}

const char* transportParam(int transport) {
    switch (transport) {
    case SipProfile::kTcp: return ";transport=tcp";
    case SipProfile::kTls: return ";transport=tls";
    default: return ";transport=udp";
    }
}

// Profile texts end up inside SIP URIs; characters that would change the
// URI's meaning make the profile unusable instead.
bool uriSafe(const std::string& s, bool allowColon) {
    if (s.empty()) return false;
    for (unsigned char c : s) {
        if (c <= 0x20 || c >= 0x7f) return false;
        if (std::string_view("<>\"@;?#\\,").find(static_cast<char>(c)) != std::string_view::npos) return false;
        if (c == ':' && !allowColon) return false;
    }
    return true;
}

bool usable(const SipProfile& p) {
    return uriSafe(textOf(p.userName), false) && uriSafe(textOf(p.domain), true);
}

}  // namespace

// ---------------------------------------------------------------- engine

SofiaEngine::SofiaEngine(Config& config) : config_(config) {}

SofiaEngine::~SofiaEngine() { Terminate(); }

bool SofiaEngine::Initialize() {
    if (nua_) return true;
    if (su_init() != 0) return false;
    suInitialized_ = true;
    routeSofiaLogs(config_);
    const auto beforeSofia = SofiaWake::snapshot();
    root_ = su_root_create(nullptr);
    if (!root_) return false;
    // Sofia's stack on our thread: its callbacks then run only inside
    // ProcessEvents(), never on a thread of sofia's.
    su_root_threading(root_, 0);

    std::string bind = textOf(config_.transport.ipv4BindAddress);
    if (bind.empty() || bind == "0.0.0.0") bind = "*";
    int port = config_.transport.udpPort;
    std::string url = "sip:" + bind + ":" + (port > 0 && port < 65536 ? std::to_string(port) : std::string("*"));
    localAddress_ = bind == "*" ? std::string() : bind;
    // Media sockets listen where signalling does; on every address when
    // signalling does (the SDP then names the address toward each peer).
    mediaSettings_.localAddress = localAddress_.empty() ? "0.0.0.0" : localAddress_;

    // The resolver's own copy of the name servers, which AddDnsServer
    // replaces. Its name goes as soon as it is made: the resolver reads it
    // through this process's descriptor of it, so nothing is left in /tmp
    // however the process ends (hosts never reach Terminate()).
    char tmpl[] = "/tmp/pellix-sip-resolv-XXXXXX";
    int fd = mkostemp(tmpl, O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(tmpl);
        std::string viaProc = "/proc/self/fd/" + std::to_string(fd);
        if (::access(viaProc.c_str(), R_OK) == 0) {
            resolvFd_ = fd;
            resolvConf_ = viaProc;
            std::ifstream in("/etc/resolv.conf");
            std::ostringstream text;
            text << in.rdbuf();
            writeResolvConf(text.str());
        } else {
            ::close(fd);
        }
    }

    if (config_.media.enableStun && config_.media.stunServer[0])
        stunServer_ = textOf(config_.media.stunServer) + ":" + std::to_string(config_.media.stunPort);
    userAgent_ = textOf(config_.userAgent);
    contactUrl_ = url + ";transport=udp";
    if (!createNua()) {
        log("cannot bind " + url);
        return false;
    }
    wake_ = std::make_unique<SofiaWake>([this] {
        if (!pumping_) ProcessEvents();
    });
    wake_->watchOpenedSince(beforeSofia);
    return true;
}

bool SofiaEngine::createNua() {
    nua_ = nua_create(root_, nuaCallback, this, NUTAG_URL(contactUrl_.c_str()),
                      NUTAG_USER_AGENT(userAgent_.c_str()), NUTAG_AUTOALERT(0), NUTAG_AUTOANSWER(0),
                      NUTAG_ENABLEINVITE(1), NUTAG_ALLOW("INFO"),
                      // No OPTIONS to ourselves through the registrar, no
                      // re-registering on NAT guesses: only what we ask goes out.
                      NUTAG_OUTBOUND("no-validate no-natify no-options-keepalive"),
                      // Where signalling is bound to one address, so are the
                      // media: the offer-answer engine need not look for one.
                      TAG_IF(!localAddress_.empty(), SOATAG_ADDRESS(localAddress_.c_str())),
                      TAG_IF(!resolvConf_.empty(), SRESTAG_RESOLV_CONF(resolvConf_.c_str())),
                      TAG_IF(!stunServer_.empty(), STUNTAG_SERVER(stunServer_.c_str())),
                      TAG_IF(transactionTimeoutMs_ != 0, NTATAG_SIP_T1X64(transactionTimeoutMs_)), TAG_END());
    return nua_ != nullptr;
}

void SofiaEngine::setTransactionTimeout(unsigned ms) {
    transactionTimeoutMs_ = ms;
    if (nua_) nua_set_params(nua_, NTATAG_SIP_T1X64(ms ? ms : 64 * 500), TAG_END());
}

void SofiaEngine::Terminate() {
    quiet_ = true;
    wake_.reset();
    deferred_.clear();
    if (nua_) {
        destroyAbandoned();
        shutdownDone_ = false;
        nua_shutdown(nua_);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!shutdownDone_ && std::chrono::steady_clock::now() < deadline) su_root_step(root_, 20);
        for (auto* nh : zombies_) nua_handle_destroy(nh);
        zombies_.clear();
        for (auto& c : calls_)
            if (c->handle_) {
                nua_handle_destroy(c->handle_);
                c->handle_ = nullptr;
            }
        for (auto& [name, p] : profiles_) {
            for (auto** h : {&p->handle, &p->keepAliveHandle})
                if (*h) {
                    nua_handle_destroy(*h);
                    *h = nullptr;
                }
        }
        nua_destroy(nua_);
        nua_ = nullptr;
    }
    calls_.clear();
    if (root_) {
        su_root_destroy(root_);
        root_ = nullptr;
    }
    if (suInitialized_) {
        su_deinit();
        suInitialized_ = false;
    }
    if (resolvFd_ >= 0) {
        ::close(resolvFd_);
        resolvFd_ = -1;
    }
    resolvConf_.clear();
}

void SofiaEngine::writeResolvConf(const std::string& text) {
    if (resolvFd_ < 0) return;
    if (::ftruncate(resolvFd_, 0) != 0) return;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(resolvFd_, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void SofiaEngine::ProcessEvents() {
    if (!root_ || quiet_) return;
    pumping_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{pumping_};
    destroyRetired();
    destroyAbandoned();
    if (resetPending_ && !hasLiveCalls() && !registrationInFlight() && std::chrono::steady_clock::now() >= rebindRetryAt_)
        rebuildTransport();
    if (reRegisterAt_ && std::chrono::steady_clock::now() >= *reRegisterAt_) {
        reRegisterAt_.reset();
        for (auto& [name, p] : profiles_)
            if (p->wanted && !p->inFlight && nua_ && reachable_) sendRegister(*p, false);
    }
    while (!deferred_.empty() && !quiet_) {
        auto work = std::move(deferred_.front());
        deferred_.pop_front();
        work();
    }
    const auto now = std::chrono::steady_clock::now();
    for (auto& c : calls_)
        if (c->retryUpdateAt_ && now >= *c->retryUpdateAt_) {
            c->retryUpdateAt_.reset();
            if (!c->ended_ && !c->hangingUp_ && c->handle_) c->sendUpdate(c->wantVideo_);
            else c->updating_ = false;
        }
    for (int i = 0; i < 8 && !quiet_; ++i) su_root_step(root_, 0);
    keepAlive();
    checkCallTimeouts();
    std::vector<media::MediaEvent> events;
    for (std::size_t i = 0; i < calls_.size() && !quiet_; ++i) {
        SofiaCall& call = *calls_[i];
        if (!call.media_ || call.ended_) continue;
        events.clear();
        call.media_->poll(events);
        for (const auto& e : events) reportMedia(call, e);
    }
}

void SofiaEngine::destroyRetired() {
    // A call that ended in the previous round stayed readable through that
    // round's callbacks and until now.
    std::erase_if(calls_, [](const std::unique_ptr<SofiaCall>& c) { return c->ended_; });
}

void SofiaEngine::destroyAbandoned() {
    for (auto* nh : abandoned_) nua_handle_destroy(nh);
    abandoned_.clear();
}

void SofiaEngine::ResetTransport() {
    // Asked from inside a registration failure, that is from inside sofia's
    // own callback: the stack cannot be taken down there.
    if (!root_ || quiet_) return;
    resetPending_ = true;
}

bool SofiaEngine::hasLiveCalls() const {
    return std::any_of(calls_.begin(), calls_.end(), [](const auto& c) { return !c->ended_; });
}

int SofiaEngine::liveCallCount() const {
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [](const auto& c) { return !c->ended_; }));
}

SofiaCall* SofiaEngine::liveCall(int id) const {
    for (const auto& c : calls_)
        if (c->id_ == id && !c->ended_) return c.get();
    return nullptr;
}

void SofiaEngine::reportLater(int id, Call::CallState state) {
    later([this, id, state] {
        if (SofiaCall* c = liveCall(id)) reportState(*c, state);
    });
}

void SofiaEngine::checkCallTimeouts() {
    const auto now = std::chrono::steady_clock::now();
    const auto ringing = std::chrono::milliseconds(ringingTimeoutMs_);
    const int mediaMs = config_.media.rtpTimeoutMs;
    // Observers may make or end calls: the list is walked by id.
    std::vector<int> ids;
    for (const auto& c : calls_) ids.push_back(c->id_);
    for (int id : ids) {
        if (quiet_) return;
        SofiaCall* c = liveCall(id);
        if (!c || !c->handle_ || c->hangingUp_) continue;
        if (c->direction_ == Call::kIncoming && !c->answered_ && now - c->since_ >= ringing) {
            // Nobody answered: the caller hears so, and the call's media
            // sockets close as it retires.
            c->answered_ = true;
            nua_respond(c->handle_, SIP_480_TEMPORARILY_UNAVAILABLE, TAG_END());
            c->errorCode_ = 480;
            c->errorReason_ = "Temporarily Unavailable";
            reportState(*c, Call::kFailed);
            continue;
        }
        if (!c->connected_ || mediaMs <= 0 || !c->media_) continue;
        const auto last = c->media_->lastReceived();
        if (!last || now - std::max(*last, c->since_) < std::chrono::milliseconds(mediaMs)) continue;
        // The far end has gone silent (its BYE lost, its network gone): the
        // call is ended here rather than left sending into the void.
        log("call " + std::to_string(id) + ": nothing received for " + std::to_string(mediaMs) + " ms, ending it");
        c->hangingUp_ = true;
        nua_bye(c->handle_, TAG_END());
        c->errorCode_ = 408;
        c->errorReason_ = "Media Timeout";
        reportState(*c, Call::kFailed);
    }
}

bool SofiaEngine::registrationInFlight() const {
    return std::any_of(profiles_.begin(), profiles_.end(), [](const auto& p) { return p.second->inFlight; });
}

void SofiaEngine::rebuildTransport() {
    resetPending_ = false;
    // Re-applying the same contact URL leaves sofia's sockets as they are;
    // only a new stack binds new ones. The old one goes with everything made
    // on it: registration handles (their Call-ID and CSeq stay on the
    // profile; a live registration is withdrawn by the old stack as its
    // handle goes) and the handles of calls that have ended. Nothing is in
    // flight: the rebuild waits for calls and registration answers.
    for (auto& [name, p] : profiles_) {
        for (auto** h : {&p->handle, &p->keepAliveHandle})
            if (*h) {
                nua_handle_destroy(*h);
                *h = nullptr;
            }
        p->handleIdentity.clear();
        p->registered = false;
        p->nextKeepAlive = {};
    }
    if (nua_) {
        rebuilding_ = true;
        destroyAbandoned();
        for (auto* nh : zombies_) nua_handle_destroy(nh);
        zombies_.clear();
        shutdownDone_ = false;
        nua_shutdown(nua_);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!shutdownDone_ && std::chrono::steady_clock::now() < deadline) su_root_step(root_, 20);
        nua_destroy(nua_);
        nua_ = nullptr;
        userAgent_ = textOf(config_.userAgent);
        rebuilding_ = false;
    }
    if (!createNua()) {
        log("cannot bind " + contactUrl_ + " again; retrying");
        resetPending_ = true;
        rebindRetryAt_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        return;
    }
    // A registrar that keeps answering 503 would otherwise be asked again
    // at once after every rebuild: the wait doubles from the second rebuild
    // in a row, up to a minute.
    ++resetStreak_;
    auto wait = std::chrono::seconds(resetStreak_ <= 1 ? 0 : 1 << std::min(resetStreak_ - 1, 6));
    reRegisterAt_ = std::chrono::steady_clock::now() + wait;
}

void SofiaEngine::AddDnsServer(const char* address) {
    if (!address || !*address || resolvConf_.empty()) return;
    in6_addr a6;
    in_addr a4;
    if (inet_pton(AF_INET, address, &a4) != 1 && inet_pton(AF_INET6, address, &a6) != 1) {
        log(std::string("DNS server is not an address literal: ") + address);
        return;
    }
    dnsServers_.emplace_back(address);
    // The resolver re-reads its file when it changes.
    std::string text;
    for (const auto& s : dnsServers_) text += "nameserver " + s + "\n";
    writeResolvConf(text);
}

void SofiaEngine::applyUserAgent() {
    std::string ua = textOf(config_.userAgent);
    if (nua_ && ua != userAgent_) {
        userAgent_ = ua;
        nua_set_params(nua_, NUTAG_USER_AGENT(userAgent_.c_str()), TAG_END());
    }
}

std::vector<sdp::CodecSpec> SofiaEngine::codecs(media::StreamKind kind) const {
    return sdp::codecsCarried(kind == media::StreamKind::Audio ? textOf(config_.media.audioCodecs)
                                                               : textOf(config_.media.videoCodecs),
                              kind, &media::gstreamerCodecAvailable);
}

std::unique_ptr<media::CallMedia> SofiaEngine::makeMedia() {
    std::unique_ptr<media::CallMedia> m;
    if (auto factory = media::callMediaFactory()) m = factory(mediaSettings_);
    if (!m) m = media::makeNullCallMedia(mediaSettings_);
    return m;
}

int SofiaEngine::NumberOfCaptureDevices() {
    glob_t g{};
    int n = 0;
    if (glob("/dev/video[0-9]*", 0, nullptr, &g) == 0) n = static_cast<int>(g.gl_pathc);
    globfree(&g);
    return n;
}

// Camera 0 (the one door calls use) is reported at 180: the call manager's
// rotation rule swaps 0 and 180 for that camera, so the two together leave
// its picture as the camera gives it, upright. Other cameras are reported
// as they are mounted, upright.
int SofiaEngine::GetOrientation(int camera) { return camera == 0 ? 180 : 0; }

// ---------------------------------------------------------------- profiles and registration

SipProfile* SofiaEngine::CreateProfile(const char* name) {
    if (!name) return nullptr;
    auto& slot = profiles_[name];
    if (!slot) slot = std::make_unique<SofiaProfile>(name);
    return slot.get();
}

SipProfile* SofiaEngine::FindProfile(const char* name) {
    if (!name) return nullptr;
    auto it = profiles_.find(name);
    return it == profiles_.end() ? nullptr : it->second.get();
}

SofiaProfile* SofiaEngine::profileOf(SipProfile* p) {
    for (auto& [name, prof] : profiles_)
        if (prof.get() == p) return prof.get();
    return nullptr;
}

void SofiaEngine::AddObserver(RegistrationObserver* observer) {
    if (observer) registrationObservers_.push_back(observer);
}

void SofiaEngine::AddObserver(CallStateObserver* observer) {
    if (observer) callObservers_.push_back(observer);
}

void SofiaEngine::Register(SipProfile* p) {
    SofiaProfile* profile = profileOf(p);
    if (!profile || !nua_) return;
    profile->wanted = true;
    if (!usable(*profile)) {
        later([this, profile] { registrationFailed(*profile, 400, "Bad account or domain"); });
        return;
    }
    // The same account keeps its handle while registered (and its Call-ID
    // throughout, as registrars expect of one client); a new account or
    // domain needs a new one.
    std::string identity = identityOf(*profile) + transportParam(profile->transport) + textOf(profile->proxy) +
                           (profile->keepAlive ? " keep-alive " : " ") + std::to_string(profile->expires);
    if (profile->handle && profile->handleIdentity != identity) {
        nua_handle_destroy(profile->handle);
        profile->handle = nullptr;
        if (profile->keepAliveHandle) nua_handle_destroy(profile->keepAliveHandle);
        profile->keepAliveHandle = nullptr;
        profile->registered = false;
    }
    profile->handleIdentity = identity;
    later([this, profile] {
        for (auto* o : registrationObservers_) o->OnRegistrationProgress(profile);
    });
    sendRegister(*profile, false);
}

void SofiaEngine::sendRegister(SofiaProfile& profile, bool unregister) {
    applyUserAgent();
    std::string expires = std::to_string(profile.expires > 0 ? profile.expires : 3600);
    const bool fresh = !profile.handle;
    if (!profile.handle) {
        // Everything that stays the same for the account is set once on its
        // handle: sofia copies the strings of each request's tags into the
        // handle and keeps them, so repeating them on every REGISTER would
        // grow the handle for as long as the account lives.
        std::string id = identityOf(profile);
        std::string registrar = "sip:" + textOf(profile.domain) + transportParam(profile.transport);
        std::string proxy = textOf(profile.proxy);
        std::string proxyUrl;
        if (!proxy.empty() && uriSafe(proxy, true))
            proxyUrl = (proxy.rfind("sip:", 0) == 0 ? proxy : "sip:" + proxy) + transportParam(profile.transport);
        profile.handle = nua_handle(
            nua_, &profile.owner, SIPTAG_TO_STR(id.c_str()), SIPTAG_FROM_STR(id.c_str()),
            TAG_IF(!profile.callId.empty(), SIPTAG_CALL_ID_STR(profile.callId.c_str())),
            NUTAG_REGISTRAR(registrar.c_str()), TAG_IF(!proxyUrl.empty(), NUTAG_PROXY(proxyUrl.c_str())),
            NUTAG_M_USERNAME(textOf(profile.userName).c_str()), SIPTAG_EXPIRES_STR(expires.c_str()),
            // sofia's own keep-alive holds memory for every REGISTER until
            // shutdown; ours is an OPTIONS on a handle of its own (below).
            NUTAG_OUTBOUND("no-options-keepalive no-validate no-natify"), NUTAG_KEEPALIVE(0), TAG_END());
        if (!profile.handle) return;
        if (profile.keepAlive)
            profile.keepAliveHandle =
                nua_handle(nua_, &profile.owner, SIPTAG_TO_STR(("<" + registrar + ">").c_str()),
                           SIPTAG_FROM_STR(id.c_str()), TAG_IF(!proxyUrl.empty(), NUTAG_PROXY(proxyUrl.c_str())),
                           TAG_END());
    }
    profile.authAttempts = 0;
    profile.unregistering = unregister;
    profile.inFlight = true;
    // A handle made for a registration that already has a Call-ID goes on
    // counting from its last CSeq, as registrars expect of one registration.
    // sofia sends the number after the one given; one more leaves room for
    // the withdrawal the old stack sent as the old handle went.
    std::string cseq;
    if (fresh && profile.lastCSeq) cseq = std::to_string(profile.lastCSeq + 1) + " REGISTER";
    if (unregister) {
        nua_unregister(profile.handle, TAG_IF(!cseq.empty(), SIPTAG_CSEQ_STR(cseq.c_str())), TAG_END());
        return;
    }
    nua_register(profile.handle, TAG_IF(!cseq.empty(), SIPTAG_CSEQ_STR(cseq.c_str())), TAG_END());
}

void SofiaEngine::keepAlive() {
    auto now = std::chrono::steady_clock::now();
    for (auto& [name, p] : profiles_) {
        if (!p->keepAliveHandle || !p->registered || !reachable_) continue;
        if (p->nextKeepAlive.time_since_epoch().count() == 0) p->nextKeepAlive = now + std::chrono::milliseconds(keepAliveMs_);
        if (now < p->nextKeepAlive) continue;
        p->nextKeepAlive = now + std::chrono::milliseconds(keepAliveMs_);
        nua_options(p->keepAliveHandle, TAG_END());
    }
}

void SofiaEngine::Unregister(SipProfile* p) {
    SofiaProfile* profile = profileOf(p);
    if (!profile || !nua_ || !profile->handle) return;
    profile->wanted = false;
    sendRegister(*profile, true);
}

void SofiaEngine::Refresh(SipProfile* p) {
    SofiaProfile* profile = profileOf(p);
    // A rebuilt transport leaves the account without a handle until it
    // registers again; that is made here if need be.
    if (!profile || !nua_ || !profile->wanted || !reachable_ || (!profile->handle && !usable(*profile))) return;
    sendRegister(*profile, false);
}

void SofiaEngine::SetNetworkReachable(bool reachable) {
    bool wasDown = !reachable_;
    reachable_ = reachable;
    if (reachable && wasDown)
        for (auto& [name, p] : profiles_)
            if (p->wanted && nua_ && (p->handle || usable(*p))) sendRegister(*p, false);
}

bool SofiaEngine::IsRegistered(SipProfile* p) {
    SofiaProfile* profile = profileOf(p);
    return profile && profile->registered;
}

bool SofiaEngine::authenticate(nua_handle_t* nh, sip_t const* sip, const SipProfile& profile, int& attempts,
                               std::string* realmOut, const std::string& onlyRealm) {
    if (!sip || attempts >= 2) return false;
    msg_auth_t const* au = sip->sip_www_authenticate ? sip->sip_www_authenticate : sip->sip_proxy_authenticate;
    if (!au || !au->au_scheme) return false;
    char const* realm = msg_params_find(au->au_params, "realm=");
    if (!realm) return false;
    // A challenge to the request that carried our answer refuses the
    // credentials, unless it only says our nonce went stale. Answering it
    // again would only earn sofia's own "no matching challenge" (904) in
    // place of the server's answer, so the server's answer is what the
    // host hears.
    char const* stale = msg_params_find(au->au_params, "stale=");
    const bool onlyStale = stale && (strcasecmp(stale, "true") == 0 || strcasecmp(stale, "\"true\"") == 0);
    if (attempts > 0 && !onlyStale) return false;
    std::string user = textOf(profile.authName);
    if (user.empty()) user = textOf(profile.userName);
    std::string realmText = realm;
    if (realmText.empty() || realmText.front() != '"') realmText = "\"" + realmText + "\"";
    if (!onlyRealm.empty() && realmText != onlyRealm) {
        log("challenge in realm " + realmText + " not answered: the account's realm is " + onlyRealm);
        return false;
    }
    if (realmOut) *realmOut = realmText;
    std::string cred = std::string(au->au_scheme) + ":" + realmText + ":" + user + ":" + textOf(profile.password);
    ++attempts;
    nua_authenticate(nh, NUTAG_AUTH(cred.c_str()), TAG_END());
    return true;
}

void SofiaEngine::registrationFailed(SofiaProfile& profile, int status, const char* phrase) {
    profile.registered = false;
    setText(profile.lastError, phrase ? phrase : "");
    for (auto* o : registrationObservers_) {
        if (quiet_) return;
        o->OnRegistrationFailed(&profile, status, phrase);
    }
}

void SofiaEngine::onRegister(SofiaProfile& profile, bool unregister, int status, const char* phrase,
                             sip_t const* sip) {
    if (sip && sip->sip_call_id && sip->sip_call_id->i_id) profile.callId = sip->sip_call_id->i_id;
    if (sip && sip->sip_cseq) profile.lastCSeq = sip->sip_cseq->cs_seq;
    if (status < 200) return;
    if ((status == 401 || status == 407) &&
        authenticate(profile.handle, sip, profile, profile.authAttempts, &profile.realm))
        return;
    profile.inFlight = false;
    if ((status == 401 || status == 407) && profile.handle) {
        // The next registration makes a new handle that goes on with the
        // same Call-ID and CSeq.
        for (auto** h : {&profile.handle, &profile.keepAliveHandle})
            if (*h) {
                abandoned_.push_back(*h);
                *h = nullptr;
            }
        profile.handleIdentity.clear();
        profile.nextKeepAlive = {};
    }
    if (status >= 300) {
        registrationFailed(profile, status, phrase);
        return;
    }
    profile.authAttempts = 0;
    if (unregister) {
        profile.registered = false;
        // Every REGISTER a handle sends leaves sofia's copy of its contact
        // and address-of-record in the handle until the handle goes, so a
        // withdrawn registration gives its handle up: the next one makes a
        // fresh handle that goes on with the same Call-ID and CSeq. Not
        // while the host has asked to register again, whose REGISTER is
        // already on this handle.
        if (!profile.wanted) {
            for (auto** h : {&profile.handle, &profile.keepAliveHandle})
                if (*h) {
                    abandoned_.push_back(*h);
                    *h = nullptr;
                }
            profile.handleIdentity.clear();
            profile.nextKeepAlive = {};
        }
        for (auto* o : registrationObservers_)
            if (!quiet_) o->OnRegistrationCleared(&profile);
        return;
    }
    profile.registered = true;
    resetStreak_ = 0;
    for (auto* o : registrationObservers_)
        if (!quiet_) o->OnRegistrationSuccess(&profile);
}

// ---------------------------------------------------------------- events

void SofiaEngine::onEvent(int event, int status, const char* phrase, nua_handle_t* nh, void* hmagic,
                          sip_t const* sip, const void* tagList) {
    auto* tags = static_cast<tagi_t const*>(tagList);
    if (event == nua_r_shutdown) {
        if (status >= 200) shutdownDone_ = true;
        return;
    }
    if (quiet_ || rebuilding_) return;
    auto* owner = static_cast<HandleOwner*>(hmagic);
    if (zombies_.count(nh)) {
        if (event == nua_i_state) {
            int cs = -1;
            tl_gets(tags, NUTAG_CALLSTATE_REF(cs), TAG_END());
            if (cs == nua_callstate_terminated) {
                zombies_.erase(nh);
                nua_handle_destroy(nh);
            }
        }
        return;
    }
    if (!owner) {
        if (event == nua_i_invite) {
            onIncomingInvite(nh, sip);
        } else if (nh && event != nua_i_state && event != nua_i_terminated && event != nua_i_error) {
            // Requests outside any call or registration we know: nua has
            // answered them; the handle is of no use to us.
            nua_handle_destroy(nh);
        }
        return;
    }
    if (owner->kind == HandleOwner::Profile) {
        SofiaProfile* profile = nullptr;
        for (auto& [name, p] : profiles_)
            if (&p->owner == owner) profile = p.get();
        if (!profile) return;
        if (event == nua_r_register) onRegister(*profile, false, status, phrase, sip);
        else if (event == nua_r_unregister) onRegister(*profile, true, status, phrase, sip);
        return;
    }
    for (auto& c : calls_)
        if (&c->owner_ == owner) {
            onCallEvent(*c, event, status, phrase, sip, tags);
            return;
        }
}

void SofiaEngine::reportState(SofiaCall& call, Call::CallState state) {
    call.state_ = state;
    bool terminal = state == Call::kCancel || state == Call::kFailed || state == Call::kRejected ||
                    state == Call::kEnded;
    if (terminal) retire(call);
    for (std::size_t i = 0; i < callObservers_.size() && !quiet_; ++i) callObservers_[i]->OnCallStateChange(&call, state);
}

void SofiaEngine::retire(SofiaCall& call) {
    if (call.ended_) return;
    call.ended_ = true;
    call.media_.reset();
    if (call.handle_) {
        // Sofia may still need the handle (a BYE or CANCEL in flight, a final
        // response to absorb); it is freed once its dialog has terminated.
        nua_handle_bind(call.handle_, nullptr);
        zombies_.insert(call.handle_);
        call.handle_ = nullptr;
    }
}

void SofiaEngine::reportMedia(SofiaCall& call, const media::MediaEvent& e) {
    switch (e.type) {
    case media::MediaEvent::Type::StreamStarted: {
        const auto& plan = e.kind == media::StreamKind::Audio ? call.audioPlan_ : call.videoPlan_;
        auto type = e.kind == media::StreamKind::Audio ? kAudioStream : kVideoStream;
        auto dir = static_cast<Call::MediaDirection>(static_cast<int>(plan.direction));
        for (std::size_t i = 0; i < callObservers_.size() && !quiet_; ++i)
            callObservers_[i]->OnMediaStreamUpdate(&call, type, dir);
        break;
    }
    case media::MediaEvent::Type::IncomingFrameSize:
        for (auto* o : call.videoStream_.observers())
            if (!quiet_)
                o->IncomingFrameSizeChanged(call.id_, static_cast<unsigned short>(e.width),
                                            static_cast<unsigned short>(e.height));
        break;
    case media::MediaEvent::Type::IncomingRate:
        for (auto* o : call.videoStream_.observers())
            if (!quiet_) o->IncomingRate(call.id_, e.frameRate, e.bitRate);
        break;
    case media::MediaEvent::Type::OutgoingRate:
        for (auto* o : call.videoStream_.observers())
            if (!quiet_) o->OutgoingRate(call.id_, e.frameRate, e.bitRate);
        break;
    case media::MediaEvent::Type::StreamFailed:
        log("call " + std::to_string(call.id_) + ": " + (e.kind == media::StreamKind::Audio ? "audio" : "video") +
            " stream failed: " + e.text);
        break;
    case media::MediaEvent::Type::StreamStopped:
        break;
    }
}

std::vector<Call*> SofiaEngine::GetCalls() {
    std::vector<Call*> out;
    for (auto& c : calls_)
        if (!c->ended_) out.push_back(c.get());
    return out;
}

}  // namespace client
