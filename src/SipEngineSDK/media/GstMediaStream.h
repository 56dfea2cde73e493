#pragma once
// One negotiated stream (audio or video) of a call as one GStreamer pipeline
// around an rtpbin session: capture (audio) or take the camera's pictures
// (video, see GstCapture.h), encode and send when the direction sends;
// receive, check, jitter-buffer, decode and play or render when it receives.
// RTCP runs both ways whatever the direction, with keyframe requests (PLI,
// FIR) and loss reports (NACK) as the far end accepts them, and a far end's
// keyframe request makes the encoder send one.
//
// Life cycle: built and started by GstCallMedia on the media's thread; the
// destructor stops the pipeline and returns only when none of its streaming
// threads is left. The sockets are borrowed and must outlive the stream.
//
// Threads: GStreamer's streaming threads only touch atomics, the shared event
// queue, the camera inlet and the latest-picture slots (all locked), and send
// keyframe requests upstream; every member function is for the media's thread.
//
// Bad input: packets from any address but the negotiated one, packets that
// are not RTP or RTCP, and payload types that were not negotiated are dropped
// before the session sees them.
#include "SipEngineSDK/CallMedia.h"
#include "SipEngineSDK/media/GstCapture.h"
#include "SipEngineSDK/media/GstSupport.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace client::media {

// Events raised on streaming threads, handed out by poll().
class MediaEventQueue {
public:
    void push(MediaEvent event);
    void drainInto(std::vector<MediaEvent>& out);

private:
    std::mutex mutex_;
    std::vector<MediaEvent> events_;
};

struct StreamSetup {
    StreamPlan plan;
    const CodecElements* codec = nullptr;
    const MediaSettings* settings = nullptr;
    bool mute = false;
    // Video only: the encoder's rate settings (the picture size is the
    // camera's), where the camera's pictures come in, and where decoded
    // pictures go.
    VideoCapture encoding;
    std::shared_ptr<CameraInlet> inlet;
    std::shared_ptr<PictureSlot> remote;
};

class GstMediaStream {
public:
    GstMediaStream(const StreamSetup& setup, const RtpSocketPair& sockets, std::shared_ptr<MediaEventQueue> events);
    ~GstMediaStream();
    GstMediaStream(const GstMediaStream&) = delete;
    GstMediaStream& operator=(const GstMediaStream&) = delete;

    // Builds and starts the pipeline; on failure the reason is in `error`.
    bool start(std::string& error);

    void setMute(bool mute);
    void setBitrate(int kbps);

    // Pipeline errors (as StreamFailed, after which the stream is stopped)
    // and, about once a second, the video rates.
    void collect(std::vector<MediaEvent>& out);

    // Keyframes asked of the sender so far (PLI or FIR).
    unsigned keyframeRequests() const { return keyframeRequests_; }

    // When the far end's last packet (RTP or RTCP) arrived; the start of the stream before any did.
    std::chrono::steady_clock::time_point lastReceived() const {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastIn_.load()));
    }
    bool sending() const { return sends_; }
    bool failed() const { return failed_; }

private:
    std::string describe() const;
    bool wire(std::string& error);
    void stopPipeline();

    static GstPadProbeReturn onRtpIn(GstPad*, GstPadProbeInfo*, gpointer);
    static GstPadProbeReturn onRtcpIn(GstPad*, GstPadProbeInfo*, gpointer);
    static GstPadProbeReturn onRtpOut(GstPad*, GstPadProbeInfo*, gpointer);
    static GstPadProbeReturn onFrameOut(GstPad*, GstPadProbeInfo*, gpointer);
    static void onPadAdded(GstElement*, GstPad*, gpointer);
    static GstPadProbeReturn onDepayIn(GstPad*, GstPadProbeInfo*, gpointer);
    static GstPadProbeReturn onKeyframeRequest(GstPad*, GstPadProbeInfo*, gpointer);
    // FIR only for a far end that takes FIR and not PLI.
    bool useFir() const { return setup_.plan.codec.feedback.fir && !setup_.plan.codec.feedback.pli; }
    static GstFlowReturn onRemoteSample(GstAppSink*, gpointer);
    static int64_t monotonicNs();

    bool fromPeer(GstBuffer* buffer) const;
    void markStarted();

    // No picture decoded for this long while packets arrive: the picture is lost.
    static constexpr int64_t kPictureLost = 1'000'000'000;
    // A keyframe request not answered within this long is sent again.
    static constexpr int64_t kKeyframeRetry = 500'000'000;

    StreamSetup setup_;
    const RtpSocketPair& sockets_;
    std::shared_ptr<MediaEventQueue> events_;
    GInetAddress* peer_ = nullptr;
    GstElement* pipeline_ = nullptr;
    bool sends_ = false;
    bool receives_ = false;
    bool failed_ = false;
    uint32_t ssrc_ = 0;

    std::atomic<bool> started_{false};
    std::atomic<std::chrono::steady_clock::rep> lastIn_{std::chrono::steady_clock::now().time_since_epoch().count()};
    std::atomic<uint64_t> bytesIn_{0}, bytesOut_{0}, framesIn_{0}, framesOut_{0};
    std::atomic<int> lastWidth_{0}, lastHeight_{0};
    std::atomic<int64_t> lastPictureNs_{0}, lastKeyframeRequestNs_{0};
    std::atomic<unsigned> keyframeRequests_{0};
    std::chrono::steady_clock::time_point rateSince_;
    uint64_t rateBytesIn_ = 0, rateBytesOut_ = 0, rateFramesIn_ = 0, rateFramesOut_ = 0;
};

}  // namespace client::media
