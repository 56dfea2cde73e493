#pragma once
// The seam between the engine's signalling and its RTP media.
//
// Signalling (SIP dialogs, SDP offer and answer) owns a call; one CallMedia
// owns that call's media: its UDP sockets, pipelines and streaming threads.
// The order is always:
//   1. createCallMedia() when a call is made or arrives: local RTP/RTCP ports
//      are bound at once, so the SDP can name them (localPort()).
//   2. apply() with each stream the SDP negotiated, once both sides are known,
//      and again after every re-INVITE (a stream that is gone is passed with
//      active = false and is stopped).
//   3. poll() from the engine's ProcessEvents(): the media reports what
//      happened (stream started, picture size changed, rates) as plain events;
//      only the pumping thread turns them into observer calls.
//   4. destruction stops every pipeline and frees every socket and thread
//      before it returns.
//
// Threads: every member is called from the engine's pumping thread only;
// implementations may use threads inside but never call out from them.
// Failures: a stream that cannot start (no decoder, port taken, bad peer)
// reports a StreamFailed event; nothing here throws.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace client::media {

enum class StreamKind { Audio = 1, Video = 2 };

// SDP direction of a stream as seen from this side.
enum class Direction { Inactive = 0, SendOnly = 1, ReceiveOnly = 2, SendReceive = 3 };

struct Codec {
    int payloadType = -1;
    std::string name;   // encoding name as in rtpmap: "PCMU", "PCMA", "opus", "VP8", "H264", ...
    int clockRate = 8000;
    std::string fmtp;   // negotiated format parameters, verbatim
    // RTCP feedback the far end accepts for this format (a=rtcp-fb).
    struct Feedback {
        bool nack = false;
        bool pli = false;   // picture loss indication
        bool fir = false;   // full intra request
        bool operator==(const Feedback&) const = default;
    } feedback;
};

// One negotiated m-line.
struct StreamPlan {
    StreamKind kind = StreamKind::Audio;
    bool active = false;          // false: stream absent or rejected (port 0)
    std::string remoteAddress;    // IP literal from the c= line
    uint16_t remoteRtpPort = 0;
    uint16_t remoteRtcpPort = 0;  // 0: remoteRtpPort + 1
    Codec codec;
    Direction direction = Direction::SendReceive;
    // Audio: the time each packet we send carries, as the peer asked for it
    // (ptime, capped by maxptime); 0 when it did not ask (we send 20 ms).
    int packetTimeMs = 0;
};

// One decoded or captured picture, tightly packed RGBA.
struct VideoFrame {
    int width = 0;
    int height = 0;
    int rotation = 0;   // degrees the picture must be turned to be upright
    std::vector<uint8_t> rgba;
};

// Where pictures go: the render views of the call video hold one of these.
class VideoRenderer {
public:
    virtual ~VideoRenderer() = default;
    virtual void renderFrame(const VideoFrame& frame) = 0;
};

struct VideoCapture {
    int camera = 0;                 // index into the host's capture devices
    int rotation = 0;
    uint16_t width = 320;
    uint16_t height = 240;
    int bitRateKbps = 256;
    int frameRate = 15;
    std::shared_ptr<VideoRenderer> localRenderer;
    std::shared_ptr<VideoRenderer> remoteRenderer;
};

// What the media reports, drained by poll().
struct MediaEvent {
    enum class Type {
        StreamStarted,        // kind: the first packet of the stream was sent or received
        StreamStopped,
        StreamFailed,         // kind, text
        IncomingFrameSize,    // width, height
        IncomingRate,         // frameRate, bitRate (about once a second)
        OutgoingRate,
    };
    Type type = Type::StreamStarted;
    StreamKind kind = StreamKind::Audio;
    int width = 0;
    int height = 0;
    unsigned frameRate = 0;
    unsigned bitRate = 0;
    std::string text;
};

// Host choices of where sound comes from and goes to (GStreamer launch
// descriptions; empty means the automatic source and sink).
struct AudioDevices {
    std::string sourceDescription;
    std::string sinkDescription;
};

class CallMedia {
public:
    virtual ~CallMedia() = default;
    CallMedia() = default;
    CallMedia(const CallMedia&) = delete;
    CallMedia& operator=(const CallMedia&) = delete;

    // The RTP port bound for this kind (RTCP on the next port); 0 when none could be bound.
    virtual uint16_t localPort(StreamKind kind) const = 0;
    // Starts, changes or stops one stream to match the plan.
    virtual void apply(const StreamPlan& plan) = 0;
    virtual void setAudioMute(bool mute) = 0;
    // Video capture and rendering for a call with video.
    virtual void startVideo(const VideoCapture& capture) = 0;
    virtual void changeCapture(int camera, int rotation, std::shared_ptr<VideoRenderer> localRenderer) = 0;
    virtual void setRotation(int rotation) = 0;
    virtual void poll(std::vector<MediaEvent>& out) = 0;
    // When the far end's last RTP or RTCP packet arrived (the start of the
    // streams when none has yet); none when no stream runs or this media
    // cannot tell. The engine ends a call that stays silent too long.
    virtual std::optional<std::chrono::steady_clock::time_point> lastReceived() const { return std::nullopt; }
};

struct MediaSettings {
    std::string localAddress = "127.0.0.1";  // address the sockets bind to and the SDP names
    AudioDevices audio;
    // Launch description of each camera by index; a camera without one is
    // the v4l2 device /dev/video<index>.
    std::vector<std::string> cameras;
    bool loudspeaker = false;
    bool echoCancellation = false;
    bool noiseSuppression = false;
    int jitterBufferMs = 60;
};

// Makes the media of one call. The default backend is GStreamer; tests may
// install another.
using CallMediaFactory = std::function<std::unique_ptr<CallMedia>(const MediaSettings&)>;

// The factory engines use for calls made or received from now on (process
// wide; set it on the engine's thread before calls start). An empty factory,
// the initial state, gives every call a null media: it binds the RTP/RTCP
// ports so the SDP can name them, reports each active stream as started as
// soon as it is applied, and moves no media.
void setCallMediaFactory(CallMediaFactory factory);
CallMediaFactory callMediaFactory();
// The null media itself (also what a factory's failure falls back to).
std::unique_ptr<CallMedia> makeNullCallMedia(const MediaSettings& settings);

}  // namespace client::media
