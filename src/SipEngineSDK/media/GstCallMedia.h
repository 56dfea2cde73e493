#pragma once
// The GStreamer media of one call: an RTP/RTCP port pair per stream kind,
// bound when the call is created, one pipeline per negotiated stream, and
// the camera's own pipeline once the host starts its video.
//
// Life cycle: ports are bound in the constructor (localPort() is 0 when no
// pair could be bound); apply() has a stream's pipeline built, rebuilt or
// stopped, startVideo() and changeCapture() the camera's; the destructor
// stops every pipeline (joining its threads) and closes every socket before
// it returns.
//
// Threads: all public members are for the pumping thread (see CallMedia).
// Building, changing and stopping pipelines (a camera or an encoder can take
// a second to open) run on the media's own thread, in the order they
// were asked for; the pumping thread only posts them and returns. That
// thread and the streaming threads only queue events and keep the newest
// pictures; poll() hands the events out and gives the renderers their
// pictures, so nothing here calls a host object from another thread. The
// destructor waits for the media's thread to stop every pipeline.
//
// Failures: a stream that cannot be built or that fails while running is
// reported once as StreamFailed and is stopped; the call goes on without it.
#include "SipEngineSDK/CallMedia.h"
#include "SipEngineSDK/media/GstCapture.h"
#include "SipEngineSDK/media/GstMediaStream.h"
#include "SipEngineSDK/media/GstSupport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace client::media {

class GstCallMedia final : public CallMedia {
public:
    explicit GstCallMedia(const MediaSettings& settings);
    ~GstCallMedia() override;

    uint16_t localPort(StreamKind kind) const override;
    void apply(const StreamPlan& plan) override;
    void setAudioMute(bool mute) override;
    void startVideo(const VideoCapture& capture) override;
    void changeCapture(int camera, int rotation, std::shared_ptr<VideoRenderer> localRenderer) override;
    void setRotation(int rotation) override;
    void poll(std::vector<MediaEvent>& out) override;
    std::optional<std::chrono::steady_clock::time_point> lastReceived() const override;

private:
    struct Slot {
        std::unique_ptr<RtpSocketPair> sockets;
        std::optional<StreamPlan> plan;
        std::unique_ptr<GstMediaStream> stream;
    };
    Slot& slot(StreamKind kind) { return kind == StreamKind::Video ? video_ : audio_; }
    void post(std::function<void()> job);
    void work();
    // On the media's thread from here on.
    void applyPlan(const StreamPlan& plan);
    void startCapture(const VideoCapture& capture);
    void rebuild(StreamKind kind);
    void fail(StreamKind kind, std::string text);
    // Starts the camera when a running video stream sends and the host has
    // started its video; stops it when either is gone.
    void syncCamera();
    void stopCamera();
    void collect();

    MediaSettings settings_;
    std::shared_ptr<MediaEventQueue> events_ = std::make_shared<MediaEventQueue>();
    Slot audio_, video_;
    std::optional<VideoCapture> capture_;
    std::unique_ptr<CameraCapture> camera_;
    std::shared_ptr<CameraInlet> inlet_ = std::make_shared<CameraInlet>();
    std::shared_ptr<PictureSlot> remotePictures_ = std::make_shared<PictureSlot>();
    std::shared_ptr<PictureSlot> localPictures_ = std::make_shared<PictureSlot>();
    bool mute_ = false;

    // A failed pipeline is rare and its report may wait this long; a shorter
    // period wakes the worker for nothing through every minute of a call.
    static constexpr std::chrono::milliseconds kCollectEvery{200};
    std::mutex jobsMutex_;
    std::condition_variable jobsReady_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread worker_;
    // The newest packet time of the running streams, published by the
    // media's thread at each collection so that the pumping thread's
    // media time-out never touches the streams the worker rebuilds.
    static constexpr std::chrono::steady_clock::rep kNothingRunning =
        std::numeric_limits<std::chrono::steady_clock::rep>::min();
    std::atomic<std::chrono::steady_clock::rep> lastIn_{kNothingRunning};

    // The pumping thread's own: whether the host started its video, and
    // where pictures go.
    bool videoStarted_ = false;
    std::shared_ptr<VideoRenderer> remoteRenderer_, localRenderer_;
    // Reused from picture to picture: a fresh megabyte for each would be
    // mapped and zeroed by the kernel every time.
    VideoFrame remoteFrame_, localFrame_;
};

// The default backend of the engine.
CallMediaFactory gstreamerCallMediaFactory();

}  // namespace client::media
