#include "SipEngineSDK/media/GstCallMedia.h"

#include "platform/Log.h"

#include <algorithm>
#include <chrono>

namespace client::media {

namespace {

bool samePlan(const StreamPlan& a, const StreamPlan& b) {
    return a.kind == b.kind && a.active == b.active && a.remoteAddress == b.remoteAddress &&
           a.remoteRtpPort == b.remoteRtpPort && a.remoteRtcpPort == b.remoteRtcpPort &&
           a.codec.payloadType == b.codec.payloadType && a.codec.name == b.codec.name &&
           a.codec.clockRate == b.codec.clockRate && a.codec.fmtp == b.codec.fmtp &&
           a.codec.feedback == b.codec.feedback && a.direction == b.direction &&
           a.packetTimeMs == b.packetTimeMs;
}

}  // namespace

GstCallMedia::GstCallMedia(const MediaSettings& settings) : settings_(settings) {
    if (!ensureGstreamer()) return;
    for (Slot* s : {&audio_, &video_}) {
        auto sockets = std::make_unique<RtpSocketPair>(settings_.localAddress);
        if (sockets->valid()) s->sockets = std::move(sockets);
    }
    worker_ = std::thread([this] { work(); });
}

GstCallMedia::~GstCallMedia() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard lock(jobsMutex_);
        stopping_ = true;
    }
    jobsReady_.notify_one();
    worker_.join();
}

void GstCallMedia::post(std::function<void()> job) {
    if (!worker_.joinable()) return;
    {
        std::lock_guard lock(jobsMutex_);
        jobs_.push_back(std::move(job));
    }
    jobsReady_.notify_one();
}

// Jobs run in the order they were posted; between them, and at least every
// kCollectEvery, the pipelines' errors and rates are gathered.
void GstCallMedia::work() {
    std::unique_lock lock(jobsMutex_);
    while (true) {
        jobsReady_.wait_for(lock, kCollectEvery, [&] { return stopping_ || !jobs_.empty(); });
        while (!jobs_.empty()) {
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
        if (stopping_) break;
        lock.unlock();
        collect();
        lock.lock();
    }
    lock.unlock();
    // The camera goes first: it feeds the video stream. Streams go before
    // the sockets they borrow.
    stopCamera();
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
    post([this, plan] { applyPlan(plan); });
}

void GstCallMedia::applyPlan(const StreamPlan& plan) {
    if (plan.kind != StreamKind::Audio && plan.kind != StreamKind::Video) return;
    Slot& s = slot(plan.kind);
    if (!plan.active) {
        const bool wasRunning = s.stream != nullptr;
        if (plan.kind == StreamKind::Video) {
            stopCamera();
            remotePictures_->clear();
        }
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
    if (plan.kind == StreamKind::Video) syncCamera();
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
    if (kind == StreamKind::Video) {
        if (capture_) setup.encoding = *capture_;
        setup.inlet = inlet_;
        setup.remote = remotePictures_;
    }
    auto stream = std::make_unique<GstMediaStream>(setup, *s.sockets, events_);
    std::string error;
    if (!stream->start(error)) return fail(kind, error);
    s.stream = std::move(stream);
}

void GstCallMedia::syncCamera() {
    const bool wanted = capture_ && video_.stream && video_.stream->sending() && !video_.stream->failed();
    if (!wanted) return stopCamera();
    if (camera_) return;
    auto camera = std::make_unique<CameraCapture>(*capture_, settings_, localPictures_, inlet_);
    std::string error;
    if (!camera->start(error)) {
        // A host without a usable camera still sees the door station.
        pellix::platform::Log::writef("call media: camera %d cannot capture (%s); video is received only",
                                      capture_->camera, error.c_str());
        return;
    }
    camera_ = std::move(camera);
}

void GstCallMedia::stopCamera() {
    camera_.reset();
    localPictures_->clear();
}

void GstCallMedia::setAudioMute(bool mute) {
    post([this, mute] {
        mute_ = mute;
        if (audio_.stream) audio_.stream->setMute(mute);
    });
}

void GstCallMedia::startVideo(const VideoCapture& capture) {
    videoStarted_ = true;
    remoteRenderer_ = capture.remoteRenderer;
    localRenderer_ = capture.localRenderer;
    VideoCapture c = capture;
    c.remoteRenderer.reset();
    post([this, c] { startCapture(c); });
}

void GstCallMedia::startCapture(const VideoCapture& capture) {
    capture_ = capture;
    // The stream keeps running: rebuilding it would throw away the picture
    // being received. Only the camera starts afresh.
    if (video_.plan && (!video_.stream || video_.stream->failed())) rebuild(StreamKind::Video);
    else if (video_.stream) video_.stream->setBitrate(capture.bitRateKbps);
    stopCamera();
    syncCamera();
}

void GstCallMedia::changeCapture(int camera, int rotation, std::shared_ptr<VideoRenderer> localRenderer) {
    if (!videoStarted_) return;
    localRenderer_ = localRenderer;
    post([this, camera, rotation, localRenderer] {
        if (!capture_) return;
        capture_->camera = camera;
        capture_->rotation = rotation;
        capture_->localRenderer = localRenderer;
        stopCamera();
        syncCamera();
    });
}

void GstCallMedia::setRotation(int rotation) {
    post([this, rotation] {
        if (!capture_) return;
        capture_->rotation = rotation;
        if (camera_) camera_->setRotation(rotation);
    });
}

void GstCallMedia::collect() {
    std::vector<MediaEvent> found;
    for (Slot* s : {&audio_, &video_}) {
        if (s->stream) s->stream->collect(found);
    }
    for (auto& event : found) {
        if (event.type == MediaEvent::Type::StreamFailed && event.kind == StreamKind::Video) stopCamera();
        events_->push(std::move(event));
    }
    std::string error;
    if (camera_ && camera_->failed(error)) {
        pellix::platform::Log::writef("call media: camera %d stopped (%s); video is received only",
                                      capture_ ? capture_->camera : -1, error.c_str());
        stopCamera();
    }
    auto last = kNothingRunning;
    for (const Slot* s : {&audio_, &video_})
        if (s->stream && !s->stream->failed())
            last = std::max(last, s->stream->lastReceived().time_since_epoch().count());
    lastIn_ = last;
}

void GstCallMedia::poll(std::vector<MediaEvent>& out) {
    events_->drainInto(out);
    if (remoteRenderer_ && remotePictures_->take(remoteFrame_)) remoteRenderer_->renderFrame(remoteFrame_);
    if (localRenderer_ && localPictures_->take(localFrame_)) localRenderer_->renderFrame(localFrame_);
}

std::optional<std::chrono::steady_clock::time_point> GstCallMedia::lastReceived() const {
    const auto last = lastIn_.load();
    if (last == kNothingRunning) return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(last));
}

CallMediaFactory gstreamerCallMediaFactory() {
    return [](const MediaSettings& settings) -> std::unique_ptr<CallMedia> {
        return std::make_unique<GstCallMedia>(settings);
    };
}

}  // namespace client::media
