#include "SipEngineSDK/media/GstMediaStream.h"

#include "SipEngineSDK/media/StreamThreads.h"

#include <gst/app/gstappsink.h>
#include <gst/net/gstnetaddressmeta.h>
#include <gst/rtp/gstrtcpbuffer.h>
#include <gst/rtp/gstrtpbuffer.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace client::media {

void MediaEventQueue::push(MediaEvent event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
}

void MediaEventQueue::drainInto(std::vector<MediaEvent>& out) {
    std::lock_guard lock(mutex_);
    for (auto& event : events_) out.push_back(std::move(event));
    events_.clear();
}

namespace {

constexpr int kMaxPictureSide = 4096;

uint64_t payloadBytes(GstPadProbeInfo* info) {
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        return gst_buffer_list_calculate_size(list);
    }
    return gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
}

GstElement* child(GstElement* pipeline, const char* name) {
    return gst_bin_get_by_name(GST_BIN(pipeline), name);
}

void addProbe(GstElement* pipeline, const char* element, const char* pad, GstPadProbeType type,
              GstPadProbeCallback callback, gpointer self) {
    GstElement* e = child(pipeline, element);
    if (!e) return;
    GstPad* p = gst_element_get_static_pad(e, pad);
    if (p) {
        gst_pad_add_probe(p, type, callback, self, nullptr);
        gst_object_unref(p);
    }
    gst_object_unref(e);
}

// The value of `key` in an fmtp text ("a=1;b=2"), empty when absent.
std::string fmtpValue(const std::string& fmtp, const std::string& key) {
    std::istringstream items(fmtp);
    std::string item;
    while (std::getline(items, item, ';')) {
        const auto eq = item.find('=');
        std::string k = item.substr(0, eq);
        k.erase(0, k.find_first_not_of(' '));
        k.erase(k.find_last_not_of(' ') + 1);
        if (eq != std::string::npos && g_ascii_strcasecmp(k.c_str(), key.c_str()) == 0) {
            std::string v = item.substr(eq + 1);
            v.erase(0, v.find_first_not_of(' '));
            v.erase(v.find_last_not_of(' ') + 1);
            return v;
        }
    }
    return {};
}

// Encoder settings and payloader of the negotiated codec, from raw media to
// RTP: video in real time with a keyframe every `keyInterval` frames; audio in
// packets of the time the peer asked for.
std::string encodeAndPay(const CodecElements& codec, const StreamPlan& plan, uint32_t ssrc, int kbps, int keyInterval) {
    const std::string name = codec.encodingName;
    const std::string pay = std::string(" ! ") + codec.payloader + " name=pay pt=" +
                            std::to_string(plan.codec.payloadType) + " ssrc=" + std::to_string(ssrc);
    std::ostringstream d;
    if (plan.kind == StreamKind::Audio) {
        const int ptime = plan.packetTimeMs > 0 ? std::clamp(plan.packetTimeMs, 10, 120) : 20;
        if (name == "OPUS") {
            // Opus frames are 10, 20, 40 or 60 ms: the longest that fits.
            const int frame = ptime >= 60 ? 60 : ptime >= 40 ? 40 : ptime >= 20 ? 20 : 10;
            d << codec.encoder << " frame-size=" << frame << pay;
        } else {
            // The payloader gathers whole packets of this time whatever
            // buffers the source gives.
            const long long ns = ptime * 1000000LL;
            d << codec.encoder << pay << " min-ptime=" << ns << " max-ptime=" << ns;
        }
        return d.str();
    }
    if (name == "VP8" || name == "VP9") {
        d << codec.encoder << " name=venc deadline=1 cpu-used=" << (name == "VP8" ? 16 : 8)
          << " end-usage=cbr lag-in-frames=0 target-bitrate=" << kbps * 1000 << " keyframe-max-dist=" << keyInterval
          << pay << " picture-id-mode=15-bit";
        return d.str();
    }
    // H.264. In single-NAL mode every slice must fit one packet on its own
    // and nothing is aggregated or fragmented.
    const bool singleNal = fmtpValue(plan.codec.fmtp, "packetization-mode").empty() ||
                           fmtpValue(plan.codec.fmtp, "packetization-mode") == "0";
    d << codec.encoder << " name=venc tune=zerolatency speed-preset=ultrafast bitrate=" << kbps << " key-int-max=" << keyInterval;
    if (singleNal) d << " option-string=slice-max-size=1100";
    d << " ! video/x-h264,profile=constrained-baseline" << pay << " config-interval=-1";
    if (singleNal) d << " aggregate-mode=none mtu=1400";
    return d.str();
}

}  // namespace

GstMediaStream::GstMediaStream(const StreamSetup& setup, const RtpSocketPair& sockets,
                               std::shared_ptr<MediaEventQueue> events)
    : setup_(setup), sockets_(sockets), events_(std::move(events)) {
    const Direction d = setup_.plan.direction;
    receives_ = d == Direction::ReceiveOnly || d == Direction::SendReceive;
    sends_ = d == Direction::SendOnly || d == Direction::SendReceive;
    if (!setup_.plan.remoteAddress.empty()) peer_ = g_inet_address_new_from_string(setup_.plan.remoteAddress.c_str());
    ssrc_ = g_random_int();
    rateSince_ = std::chrono::steady_clock::now();
}

GstMediaStream::~GstMediaStream() {
    stopPipeline();
    if (peer_) g_object_unref(peer_);
}

void GstMediaStream::stopPipeline() {
    if (!pipeline_) return;
    if (setup_.inlet) setup_.inlet->detach();
    // Synchronous: every streaming thread has left our probes and callbacks
    // once this returns.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
}

std::string GstMediaStream::describe() const {
    const bool video = setup_.plan.kind == StreamKind::Video;
    const CodecElements& codec = *setup_.codec;
    const MediaSettings& settings = *setup_.settings;
    const int pt = setup_.plan.codec.payloadType;
    // The peer's rtpmap rate is not trusted: an absurd one would size every buffer.
    const int clockRate = codec.clockRate;
    const std::string echoProbe = "echoprobe" + std::to_string(reinterpret_cast<uintptr_t>(this));
    const bool dsp = !video && sends_ && (settings.echoCancellation || settings.noiseSuppression) &&
                     gstElementAvailable("webrtcdsp");
    const bool cancelEcho = dsp && receives_ && settings.echoCancellation && gstElementAvailable("webrtcechoprobe");

    std::ostringstream d;
    d << "rtpbin name=rtpbin autoremove=true latency=" << std::max(0, settings.jitterBufferMs);
    // The feedback profile lets keyframe requests go out at once instead of
    // with the next regular report. Sound has no use for it, and its session
    // would only report more often.
    if (video) d << " rtp-profile=avpf";
    // A far end that takes generic NACKs is told of each lost packet, and
    // the jitter buffer waits for its resending within its latency.
    if (video && receives_ && setup_.plan.codec.feedback.nack) d << " do-retransmission=true";
    if (video && receives_) d << " do-lost=true";
    d << ' ';
    d << "udpsrc name=rtcpsrc close-socket=false caps=application/x-rtcp ! rtpbin.recv_rtcp_sink_0 ";
    d << "rtpbin.send_rtcp_src_0 ! udpsink name=rtcpsink sync=false async=false close-socket=false ";
    if (receives_) {
        d << "udpsrc name=rtpsrc close-socket=false caps=\"application/x-rtp,media=" << codec.media
          << ",clock-rate=" << clockRate << ",encoding-name=" << codec.encodingName << ",payload=" << pt;
        if (video) {
            // The session sends only the keyframe requests these allow. A far
            // end that named none still gets PLI, which it may ignore.
            const Codec::Feedback& fb = setup_.plan.codec.feedback;
            d << ",rtcp-fb-nack=(boolean)" << (fb.nack ? "true" : "false")
              << ",rtcp-fb-nack-pli=(boolean)" << (fb.pli || !fb.fir ? "true" : "false")
              << ",rtcp-fb-ccm-fir=(boolean)" << (fb.fir ? "true" : "false");
        }
        d << "\" ! rtpbin.recv_rtp_sink_0 ";
        // Every source the session demultiplexes (a peer that restarts comes
        // back with a new SSRC) feeds the one decoder.
        d << "funnel name=in ! " << codec.depayloader << " name=depay ! " << codec.decoder << " ! ";
        if (video) {
            // A picture larger than any door station sends is refused (the
            // stream fails) before frames of that size are converted and kept.
            d << "video/x-raw,width=[1," << kMaxPictureSide << "],height=[1," << kMaxPictureSide
              << "] ! videoconvert ! video/x-raw,format=RGBA ! appsink name=remote sync=false max-buffers=1 drop=true ";
        } else {
            d << "audioconvert ! audioresample ! ";
            if (cancelEcho) d << "webrtcechoprobe name=" << echoProbe << " ! ";
            d << (settings.audio.sinkDescription.empty() ? "autoaudiosink" : settings.audio.sinkDescription) << ' ';
        }
    }
    if (sends_) {
        if (video) {
            // Pictures come from the camera's own pipeline (GstCapture.h)
            // once the host starts it; until then nothing is sent.
            const int fps = std::max(1, setup_.encoding.frameRate);
            // The source's own thread feeds the encoder and drops the oldest
            // picture when it falls behind: a queue would only add a thread.
            d << "appsrc name=camsrc is-live=true format=time max-buffers=2 leaky-type=downstream ";
            d << "! videoconvert ! "
              << encodeAndPay(codec, setup_.plan, ssrc_, std::max(16, setup_.encoding.bitRateKbps), fps * 2)
              << " ! rtpbin.send_rtp_sink_0 ";
        } else {
            d << (settings.audio.sourceDescription.empty() ? "autoaudiosrc" : settings.audio.sourceDescription)
              << " ! audioconvert ! audioresample ! audio/x-raw,format=S16LE,channels=1,rate=" << clockRate << " ! ";
            if (dsp) {
                d << "webrtcdsp echo-cancel=" << (cancelEcho ? "true" : "false")
                  << " noise-suppression=" << (settings.noiseSuppression ? "true" : "false");
                if (cancelEcho) d << " probe=" << echoProbe;
                d << " ! audioconvert ! ";
            }
            d << "volume name=mute mute=" << (setup_.mute ? "true" : "false") << " ! "
              << encodeAndPay(codec, setup_.plan, ssrc_, 0, 0) << " ! rtpbin.send_rtp_sink_0 ";
        }
        d << "rtpbin.send_rtp_src_0 ! udpsink name=rtpsink sync=false async=false close-socket=false ";
    }
    return d.str();
}

bool GstMediaStream::start(std::string& error) {
    pipeline_ = launchPipeline(describe(), "cannot build the pipeline", error);
    if (!pipeline_) return false;
    if (!wire(error)) {
        stopPipeline();
        return false;
    }
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        error = "the pipeline does not start";
        GstBus* bus = gst_element_get_bus(pipeline_);
        if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            GError* e = nullptr;
            gst_message_parse_error(message, &e, nullptr);
            if (e) error = e->message, g_error_free(e);
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        stopPipeline();
        return false;
    }
    return true;
}

bool GstMediaStream::wire(std::string& error) {
    const StreamPlan& plan = setup_.plan;
    const int rtcpPort = plan.remoteRtcpPort ? plan.remoteRtcpPort : plan.remoteRtpPort + 1;
    struct Socket {
        const char* name;
        GSocket* socket;
        int port;  // 0: receiving end
    };
    for (const Socket& s : {Socket{"rtpsrc", sockets_.rtp(), 0}, Socket{"rtcpsrc", sockets_.rtcp(), 0},
                            Socket{"rtpsink", sockets_.rtp(), plan.remoteRtpPort},
                            Socket{"rtcpsink", sockets_.rtcp(), rtcpPort}}) {
        GstElement* e = child(pipeline_, s.name);
        if (!e) continue;
        g_object_set(e, "socket", s.socket, nullptr);
        if (s.port) g_object_set(e, "host", plan.remoteAddress.c_str(), "port", s.port, nullptr);
        gst_object_unref(e);
    }
    const auto data = GST_PAD_PROBE_TYPE_BUFFER;
    const auto dataOrList = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST);
    addProbe(pipeline_, "rtpsrc", "src", data, &GstMediaStream::onRtpIn, this);
    addProbe(pipeline_, "rtcpsrc", "src", data, &GstMediaStream::onRtcpIn, this);
    addProbe(pipeline_, "rtpsink", "sink", dataOrList, &GstMediaStream::onRtpOut, this);
    // Frames sent count only towards the video rates.
    if (setup_.plan.kind == StreamKind::Video)
        addProbe(pipeline_, "pay", "sink", dataOrList, &GstMediaStream::onFrameOut, this);

    GstElement* rtpbin = child(pipeline_, "rtpbin");
    if (!rtpbin) {
        error = "no RTP session";
        return false;
    }
    g_signal_connect(rtpbin, "pad-added", G_CALLBACK(&GstMediaStream::onPadAdded), this);
    gst_object_unref(rtpbin);

    if (GstElement* e = child(pipeline_, "remote")) {
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &GstMediaStream::onRemoteSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(e), &callbacks, this, nullptr);
        gst_object_unref(e);
    }
    if (GstElement* e = child(pipeline_, "camsrc")) {
        if (setup_.inlet) setup_.inlet->attach(pipeline_, e);
        gst_object_unref(e);
    }
    if (setup_.plan.kind == StreamKind::Video) {
        addProbe(pipeline_, "depay", "sink", data, &GstMediaStream::onDepayIn, this);
        addProbe(pipeline_, "depay", "sink", GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, &GstMediaStream::onKeyframeRequest, this);
        // A packet the jitter buffer gives up on leaves the decoder with a
        // broken picture until the next keyframe: the depayloader asks for
        // one at once (where it can) and drops what cannot be decoded.
        if (GstElement* depay = child(pipeline_, "depay")) {
            for (const char* property : {"request-keyframe", "wait-for-keyframe"})
                if (g_object_class_find_property(G_OBJECT_GET_CLASS(depay), property))
                    g_object_set(depay, property, TRUE, nullptr);
            gst_object_unref(depay);
        }
    }
    return true;
}

bool GstMediaStream::fromPeer(GstBuffer* buffer) const {
    if (!peer_) return true;
    GstNetAddressMeta* meta = gst_buffer_get_net_address_meta(buffer);
    if (!meta || !G_IS_INET_SOCKET_ADDRESS(meta->addr)) return false;
    return g_inet_address_equal(g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(meta->addr)), peer_);
}

void GstMediaStream::markStarted() {
    // Runs for every packet: a plain read keeps the flag's cache line shared
    // between the sending and receiving threads once it is set.
    if (started_.load(std::memory_order_relaxed)) return;
    if (!started_.exchange(true)) {
        MediaEvent event;
        event.type = MediaEvent::Type::StreamStarted;
        event.kind = setup_.plan.kind;
        events_->push(std::move(event));
    }
}

GstPadProbeReturn GstMediaStream::onRtpIn(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<GstMediaStream*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!self->fromPeer(buffer)) return GST_PAD_PROBE_DROP;
    GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
    if (!gst_rtp_buffer_map(buffer, GST_MAP_READ, &rtp)) return GST_PAD_PROBE_DROP;
    const int pt = gst_rtp_buffer_get_payload_type(&rtp);
    const uint32_t ssrc = gst_rtp_buffer_get_ssrc(&rtp);
    gst_rtp_buffer_unmap(&rtp);
    if (pt != self->setup_.plan.codec.payloadType) return GST_PAD_PROBE_DROP;
    if (self->sends_ && ssrc == self->ssrc_) {
        // A peer that echoes our own stream back (a loop-back test, a door
        // unit in echo mode) would be taken for an SSRC collision and dropped,
        // and our SSRC changed; it is a distinct stream for us to play.
        buffer = gst_buffer_make_writable(buffer);
        if (gst_rtp_buffer_map(buffer, GST_MAP_READWRITE, &rtp)) {
            gst_rtp_buffer_set_ssrc(&rtp, ~ssrc);
            gst_rtp_buffer_unmap(&rtp);
        }
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    self->bytesIn_ += gst_buffer_get_size(buffer);
    self->lastIn_ = std::chrono::steady_clock::now().time_since_epoch().count();
    self->markStarted();
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn GstMediaStream::onRtcpIn(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<GstMediaStream*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!self->fromPeer(buffer) || !gst_rtcp_buffer_validate_reduced(buffer)) return GST_PAD_PROBE_DROP;
    uint8_t head[8];
    if (gst_buffer_extract(buffer, 0, head, sizeof head) != sizeof head) return GST_PAD_PROBE_DROP;
    const uint32_t sender = (uint32_t(head[4]) << 24) | (uint32_t(head[5]) << 16) | (uint32_t(head[6]) << 8) | head[7];
    // Our own reports coming back through an echoing peer say nothing about it.
    if (self->sends_ && sender == self->ssrc_) return GST_PAD_PROBE_DROP;
    self->lastIn_ = std::chrono::steady_clock::now().time_since_epoch().count();
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn GstMediaStream::onRtpOut(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<GstMediaStream*>(data);
    self->bytesOut_ += payloadBytes(info);
    self->markStarted();
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn GstMediaStream::onFrameOut(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<GstMediaStream*>(data);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST)
        self->framesOut_ += gst_buffer_list_length(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
    else
        ++self->framesOut_;
    return GST_PAD_PROBE_OK;
}

int64_t GstMediaStream::monotonicNs() { return static_cast<int64_t>(g_get_monotonic_time()) * 1000; }

// Every keyframe request on its way to the session (ours, the depayloader's
// after a loss, the decoder's) asks in the one way the far end accepts: the
// session sends FIR for a request with all-headers set, PLI otherwise.
GstPadProbeReturn GstMediaStream::onKeyframeRequest(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* self = static_cast<GstMediaStream*>(data);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || !gst_video_event_is_force_key_unit(event)) return GST_PAD_PROBE_OK;
    gboolean allHeaders = FALSE;
    guint count = 0;
    if (!gst_video_event_parse_upstream_force_key_unit(event, nullptr, &allHeaders, &count)) return GST_PAD_PROBE_OK;
    const bool fir = self->useFir();
    if (static_cast<bool>(allHeaders) == fir) return GST_PAD_PROBE_OK;
    GST_PAD_PROBE_INFO_DATA(info) = gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, fir, count);
    gst_event_unref(event);
    return GST_PAD_PROBE_OK;
}

// Runs on the thread that feeds the depayloader, for every packet the
// jitter buffer lets through: while no picture has been decoded (the decoder
// has just started, or was rebuilt and missed the stream's keyframe) or none
// for a while (the picture was lost), ask the sender for a keyframe, again
// every kKeyframeRetry until one comes.
GstPadProbeReturn GstMediaStream::onDepayIn(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    auto* self = static_cast<GstMediaStream*>(data);
    const int64_t now = monotonicNs();
    const int64_t picture = self->lastPictureNs_.load();
    const bool noPicture = picture == 0 || now - picture > kPictureLost;
    const int64_t asked = self->lastKeyframeRequestNs_.load();
    if (!noPicture || (asked != 0 && now - asked < kKeyframeRetry)) return GST_PAD_PROBE_OK;
    self->lastKeyframeRequestNs_ = now;
    ++self->keyframeRequests_;
    // Goes upstream through the session's demultiplexer, which names the
    // sender's SSRC; the session turns it into an RTCP FIR when all-headers
    // is set and a PLI otherwise.
    gst_pad_push_event(pad, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, self->useFir(),
                                                                         static_cast<guint>(self->keyframeRequests_)));
    return GST_PAD_PROBE_OK;
}

void GstMediaStream::onPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* self = static_cast<GstMediaStream*>(data);
    gchar* name = gst_pad_get_name(pad);
    const bool received = g_str_has_prefix(name, "recv_rtp_src_");
    g_free(name);
    if (!received) return;
    GstElement* funnel = child(self->pipeline_, "in");
    if (!funnel) return;
    if (GstPad* sink = gst_element_request_pad_simple(funnel, "sink_%u")) {
        gst_pad_link(pad, sink);
        gst_object_unref(sink);
    }
    gst_object_unref(funnel);
}

GstFlowReturn GstMediaStream::onRemoteSample(GstAppSink* sink, gpointer data) {
    auto* self = static_cast<GstMediaStream*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_OK;
    ++self->framesIn_;
    GstVideoInfo info;
    if (GstCaps* caps = gst_sample_get_caps(sample); caps && gst_video_info_from_caps(&info, caps)) {
        const int width = GST_VIDEO_INFO_WIDTH(&info), height = GST_VIDEO_INFO_HEIGHT(&info);
        const int oldWidth = self->lastWidth_.exchange(width), oldHeight = self->lastHeight_.exchange(height);
        if (oldWidth != width || oldHeight != height) {
            MediaEvent event;
            event.type = MediaEvent::Type::IncomingFrameSize;
            event.kind = StreamKind::Video;
            event.width = width;
            event.height = height;
            self->events_->push(std::move(event));
        }
    }
    self->lastPictureNs_ = monotonicNs();
    if (self->setup_.remote) self->setup_.remote->put(sample);
    else gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void GstMediaStream::setMute(bool mute) {
    setup_.mute = mute;
    if (!pipeline_) return;
    if (GstElement* volume = child(pipeline_, "mute")) {
        g_object_set(volume, "mute", mute, nullptr);
        gst_object_unref(volume);
    }
}

void GstMediaStream::setBitrate(int kbps) {
    if (!pipeline_) return;
    GstElement* encoder = child(pipeline_, "venc");
    if (!encoder) return;
    GObjectClass* klass = G_OBJECT_GET_CLASS(encoder);
    // x264enc counts kbit/s; the VPx encoders count bit/s.
    if (g_object_class_find_property(klass, "bitrate"))
        g_object_set(encoder, "bitrate", static_cast<guint>(std::max(16, kbps)), nullptr);
    else if (g_object_class_find_property(klass, "target-bitrate"))
        g_object_set(encoder, "target-bitrate", std::max(16, kbps) * 1000, nullptr);
    gst_object_unref(encoder);
}

void GstMediaStream::collect(std::vector<MediaEvent>& out) {
    if (!pipeline_) return;
    GstBus* bus = gst_element_get_bus(pipeline_);
    while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        GError* e = nullptr;
        gst_message_parse_error(message, &e, nullptr);
        MediaEvent event;
        event.type = MediaEvent::Type::StreamFailed;
        event.kind = setup_.plan.kind;
        event.text = e ? e->message : "media error";
        if (e) g_error_free(e);
        gst_message_unref(message);
        if (!failed_) out.push_back(std::move(event));
        failed_ = true;
    }
    gst_object_unref(bus);
    if (failed_) {
        stopPipeline();
        return;
    }
    if (setup_.plan.kind != StreamKind::Video) return;
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - rateSince_).count();
    if (seconds < 1.0) return;
    auto rate = [&](MediaEvent::Type type, std::atomic<uint64_t>& frames, uint64_t& framesSeen,
                    std::atomic<uint64_t>& bytes, uint64_t& bytesSeen) {
        const uint64_t f = frames.load(), b = bytes.load();
        MediaEvent event;
        event.type = type;
        event.kind = StreamKind::Video;
        event.frameRate = static_cast<unsigned>((f - framesSeen) / seconds + 0.5);
        event.bitRate = static_cast<unsigned>((b - bytesSeen) * 8 / 1000.0 / seconds + 0.5);  // kbit/s
        framesSeen = f;
        bytesSeen = b;
        out.push_back(std::move(event));
    };
    if (receives_) rate(MediaEvent::Type::IncomingRate, framesIn_, rateFramesIn_, bytesIn_, rateBytesIn_);
    if (sends_ && setup_.inlet && setup_.inlet->cameraRunning()) rate(MediaEvent::Type::OutgoingRate, framesOut_, rateFramesOut_, bytesOut_, rateBytesOut_);
    rateSince_ = now;
}

}  // namespace client::media
