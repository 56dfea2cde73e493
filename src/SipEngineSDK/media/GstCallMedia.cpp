#include "SipEngineSDK/media/GstCallMedia.h"

#include "platform/Log.h"

namespace client::media {

namespace {

bool samePlan(const StreamPlan& a, const StreamPlan& b) {
    return a.kind == b.kind && a.active == b.active && a.remoteAddress == b.remoteAddress &&
           a.remoteRtpPort == b.remoteRtpPort && a.remoteRtcpPort == b.remoteRtcpPort &&
           a.codec.payloadType == b.codec.payloadType && a.codec.name == b.codec.name &&
           a.codec.clockRate == b.codec.clockRate && a.codec.fmtp == b.codec.fmtp && a.direction == b.direction &&
           a.packetTimeMs == b.packetTimeMs;
}

}  // namespace

GstCallMedia::GstCallMedia(const MediaSettings& settings) : settings_(settings) {
    if (!ensureGstreamer()) return;
    for (Slot* s : {&audio_, &video_}) {
        auto sockets = std::make_unique<RtpSocketPair>(settings_.localAddress);
        if (sockets->valid()) s->sockets = std::move(sockets);
    }
}

// Streams go first: they borrow the sockets.
GstCallMedia::~GstCallMedia() {
    audio_.stream.reset();
    video_.stream.reset();
}

uint16_t GstCallMedia::localPort(StreamKind kind) const {
    const Slot& s = kind == StreamKind::Video ? video_ : audio_;
    return s.sockets ? s.sockets->rtpPort() : 0;
}

void GstCallMedia::fail(StreamKind kind, std::string text) {
    MediaEvent event;
    event.type = MediaEvent::Type::StreamFailed;
    event.kind = kind;
    event.text = std::move(text);
    events_->push(std::move(event));
}

void GstCallMedia::apply(const StreamPlan& plan) {
    if (plan.kind != StreamKind::Audio && plan.kind != StreamKind::Video) return;
    Slot& s = slot(plan.kind);
    if (!plan.active) {
        const bool wasRunning = s.stream != nullptr;
        s.stream.reset();
        s.plan.reset();
        if (wasRunning) {
            MediaEvent event;
            event.type = MediaEvent::Type::StreamStopped;
            event.kind = plan.kind;
            events_->push(std::move(event));
        }
        return;
    }
    if (s.plan && samePlan(*s.plan, plan) && s.stream && !s.stream->failed()) return;
    s.plan = plan;
    rebuild(plan.kind);
}

void GstCallMedia::rebuild(StreamKind kind) {
    Slot& s = slot(kind);
    s.stream.reset();
    if (!s.plan) return;
    const StreamPlan& plan = *s.plan;
    if (!s.sockets) return fail(kind, "no local port");
    const CodecElements* codec = codecElements(plan.codec.name);
    const char* media = kind == StreamKind::Video ? "video" : "audio";
    if (!codec || std::string(codec->media) != media) return fail(kind, "unsupported codec " + plan.codec.name);
    const bool sends = plan.direction == Direction::SendOnly || plan.direction == Direction::SendReceive;
    const bool receives = plan.direction == Direction::ReceiveOnly || plan.direction == Direction::SendReceive;
    if ((sends && !gstElementAvailable(codec->encoderFactory)) || (receives && !gstElementAvailable(codec->decoderFactory)))
        return fail(kind, "no GStreamer element for " + plan.codec.name + " on this host");
    if (plan.codec.payloadType < 0 || plan.codec.payloadType > 127) return fail(kind, "bad payload type");
    GInetAddress* remote = g_inet_address_new_from_string(plan.remoteAddress.c_str());
    if (!remote || plan.remoteRtpPort == 0) {
        if (remote) g_object_unref(remote);
        return fail(kind, "bad remote address " + plan.remoteAddress);
    }
    g_object_unref(remote);

    StreamSetup setup;
    setup.plan = plan;
    setup.codec = codec;
    setup.settings = &settings_;
    setup.mute = mute_;
    if (kind == StreamKind::Video && capture_) {
        setup.capture = &*capture_;
        setup.renderLocal = capture_->localRenderer != nullptr;
    }
    auto stream = std::make_unique<GstMediaStream>(setup, *s.sockets, events_);
    std::string error;
    bool started = stream->start(error);
    if (!started && setup.capture && stream->sending()) {
        // A host without a usable camera still sees the door station.
        pellix::platform::Log::writef("call media: camera %d cannot capture (%s); video is received only",
                                      setup.capture->camera, error.c_str());
        setup.capture = nullptr;
        setup.renderLocal = false;
        stream = std::make_unique<GstMediaStream>(setup, *s.sockets, events_);
        error.clear();
        started = stream->start(error);
    }
    if (!started) return fail(kind, error);
    s.stream = std::move(stream);
}

void GstCallMedia::setAudioMute(bool mute) {
    mute_ = mute;
    if (audio_.stream) audio_.stream->setMute(mute);
}

void GstCallMedia::startVideo(const VideoCapture& capture) {
    capture_ = capture;
    rebuild(StreamKind::Video);
}

void GstCallMedia::changeCapture(int camera, int rotation, std::shared_ptr<VideoRenderer> localRenderer) {
    if (!capture_) return;
    capture_->camera = camera;
    capture_->rotation = rotation;
    capture_->localRenderer = std::move(localRenderer);
    rebuild(StreamKind::Video);
}

void GstCallMedia::setRotation(int rotation) {
    if (!capture_) return;
    capture_->rotation = rotation;
    if (video_.stream) video_.stream->setRotation(rotation);
}

void GstCallMedia::poll(std::vector<MediaEvent>& out) {
    std::vector<MediaEvent> failures;
    for (Slot* s : {&audio_, &video_}) {
        if (s->stream) s->stream->collect(failures);
    }
    events_->drainInto(out);
    out.insert(out.end(), failures.begin(), failures.end());
    if (!video_.stream || !capture_) return;
    if (capture_->remoteRenderer && video_.stream->takeRemoteFrame(remoteFrame_))
        capture_->remoteRenderer->renderFrame(remoteFrame_);
    if (capture_->localRenderer && video_.stream->takeLocalFrame(localFrame_))
        capture_->localRenderer->renderFrame(localFrame_);
}

CallMediaFactory gstreamerCallMediaFactory() {
    return [](const MediaSettings& settings) -> std::unique_ptr<CallMedia> {
        return std::make_unique<GstCallMedia>(settings);
    };
}

}  // namespace client::media
