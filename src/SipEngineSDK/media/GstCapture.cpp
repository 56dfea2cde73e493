#include "SipEngineSDK/media/GstCapture.h"

#include "SipEngineSDK/media/StreamThreads.h"

#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace client::media {

const char* flipDirection(int rotation) {
    switch (((rotation % 360) + 360) % 360) {
        case 90: return "90r";
        case 180: return "180";
        case 270: return "90l";
        default: return "identity";
    }
}

PictureSlot::~PictureSlot() { clear(); }

void PictureSlot::put(GstSample* sample) {
    std::lock_guard lock(mutex_);
    if (sample_) gst_sample_unref(sample_);
    sample_ = sample;
}

void PictureSlot::clear() { put(nullptr); }

bool PictureSlot::take(VideoFrame& frame) {
    GstSample* sample = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::swap(sample, sample_);
    }
    if (!sample) return false;
    bool ok = false;
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoFrame mapped;
    if (caps && buffer && gst_video_info_from_caps(&info, caps) &&
        GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_RGBA &&
        gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) {
        frame.width = GST_VIDEO_FRAME_WIDTH(&mapped);
        frame.height = GST_VIDEO_FRAME_HEIGHT(&mapped);
        // Pictures are turned upright before they get here.
        frame.rotation = 0;
        const size_t row = static_cast<size_t>(frame.width) * 4;
        frame.rgba.resize(row * static_cast<size_t>(frame.height));
        const auto* pixels = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
        for (int y = 0; y < frame.height; ++y)
            std::memcpy(frame.rgba.data() + row * static_cast<size_t>(y), pixels + static_cast<ptrdiff_t>(stride) * y, row);
        gst_video_frame_unmap(&mapped);
        ok = true;
    }
    gst_sample_unref(sample);
    return ok;
}

CameraInlet::~CameraInlet() { detach(); }

void CameraInlet::attach(GstElement* pipeline, GstElement* appsrc) {
    std::lock_guard lock(mutex_);
    if (pipeline_) gst_object_unref(pipeline_);
    if (appsrc_) gst_object_unref(appsrc_);
    if (caps_) gst_caps_unref(caps_);
    pipeline_ = GST_ELEMENT(gst_object_ref(pipeline));
    appsrc_ = GST_ELEMENT(gst_object_ref(appsrc));
    caps_ = nullptr;
}

void CameraInlet::detach() {
    GstElement *pipeline = nullptr, *appsrc = nullptr;
    GstCaps* caps = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::swap(pipeline, pipeline_);
        std::swap(appsrc, appsrc_);
        std::swap(caps, caps_);
    }
    if (pipeline) gst_object_unref(pipeline);
    if (appsrc) gst_object_unref(appsrc);
    if (caps) gst_caps_unref(caps);
}

bool CameraInlet::attached() {
    std::lock_guard lock(mutex_);
    return appsrc_ != nullptr;
}

void CameraInlet::push(GstSample* sample) {
    GstBuffer* in = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!in || !caps) return;
    std::lock_guard lock(mutex_);
    if (!appsrc_) return;
    // The two pipelines run on different clocks and base times: the picture
    // is stamped with the moment it enters the stream's pipeline.
    GstClockTime now = GST_CLOCK_TIME_NONE;
    if (GstClock* clock = gst_element_get_clock(pipeline_)) {
        now = gst_clock_get_time(clock) - gst_element_get_base_time(pipeline_);
        gst_object_unref(clock);
    }
    if (!GST_CLOCK_TIME_IS_VALID(now)) return;  // not playing yet
    if (!caps_ || !gst_caps_is_equal(caps_, caps)) {
        // A turn by a quarter swaps width and height mid-call.
        gst_caps_replace(&caps_, caps);
        gst_app_src_set_caps(GST_APP_SRC(appsrc_), caps);
    }
    GstBuffer* out = gst_buffer_copy(in);  // shares the pixels
    GST_BUFFER_PTS(out) = now;
    GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(GST_APP_SRC(appsrc_), out);
}

CameraCapture::CameraCapture(const VideoCapture& capture, const MediaSettings& settings,
                             std::shared_ptr<PictureSlot> preview, std::shared_ptr<CameraInlet> inlet)
    : capture_(capture), settings_(settings), preview_(std::move(preview)), inlet_(std::move(inlet)) {}

CameraCapture::~CameraCapture() {
    if (!pipeline_) return;
    inlet_->setCameraRunning(false);
    // Synchronous: no streaming thread is in our callbacks once this returns.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
}

std::string CameraCapture::describe() const {
    const int fps = std::max(1, capture_.frameRate);
    const size_t camera = static_cast<size_t>(std::max(0, capture_.camera));
    std::ostringstream d;
    d << (camera < settings_.cameras.size() ? settings_.cameras[camera] : "v4l2src device=/dev/video" + std::to_string(camera))
      << " ! videoconvert ! videoscale ! videorate ! video/x-raw,format=I420,width=" << capture_.width
      << ",height=" << capture_.height << ",framerate=" << fps << "/1,pixel-aspect-ratio=1/1"
      << " ! videoflip name=flip video-direction=" << flipDirection(capture_.rotation) << " ! tee name=t ";
    // Neither sink waits for a first picture before the camera plays
    // (async=false): a sink that does holds the whole capture in PAUSED.
    d << "t. ! queue max-size-buffers=2 leaky=downstream ! appsink name=encoder sync=false async=false "
         "max-buffers=1 drop=true ";
    if (capture_.localRenderer) {
        d << "t. ! queue max-size-buffers=1 leaky=downstream ! videoconvert ! video/x-raw,format=RGBA ! "
             "appsink name=local sync=false async=false max-buffers=1 drop=true ";
    }
    return d.str();
}

bool CameraCapture::start(std::string& error) {
    pipeline_ = launchPipeline(describe(), "cannot build the capture", error);
    if (!pipeline_) return false;
    struct Sink {
        const char* name;
        GstFlowReturn (*callback)(GstAppSink*, gpointer);
    };
    for (const Sink& s : {Sink{"encoder", &CameraCapture::onEncoderSample}, Sink{"local", &CameraCapture::onPreviewSample}}) {
        GstElement* e = gst_bin_get_by_name(GST_BIN(pipeline_), s.name);
        if (!e) continue;
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = s.callback;
        gst_app_sink_set_callbacks(GST_APP_SINK(e), &callbacks, this, nullptr);
        gst_object_unref(e);
    }
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        failed(error);
        if (error.empty()) error = "the camera does not start";
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
        pipeline_ = nullptr;
        return false;
    }
    inlet_->setCameraRunning(true);
    return true;
}

bool CameraCapture::failed(std::string& error) {
    if (!pipeline_) return false;
    GstBus* bus = gst_element_get_bus(pipeline_);
    GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (!message) return false;
    GError* e = nullptr;
    gst_message_parse_error(message, &e, nullptr);
    error = e ? e->message : "camera error";
    if (e) g_error_free(e);
    gst_message_unref(message);
    return true;
}

void CameraCapture::setRotation(int rotation) {
    capture_.rotation = rotation;
    if (!pipeline_) return;
    if (GstElement* flip = gst_bin_get_by_name(GST_BIN(pipeline_), "flip")) {
        gst_util_set_object_arg(G_OBJECT(flip), "video-direction", flipDirection(rotation));
        gst_object_unref(flip);
    }
}

GstFlowReturn CameraCapture::onEncoderSample(GstAppSink* sink, gpointer data) {
    auto* self = static_cast<CameraCapture*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_OK;
    self->inlet_->push(sample);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

GstFlowReturn CameraCapture::onPreviewSample(GstAppSink* sink, gpointer data) {
    auto* self = static_cast<CameraCapture*>(data);
    if (GstSample* sample = gst_app_sink_pull_sample(sink)) self->preview_->put(sample);
    return GST_FLOW_OK;
}

}  // namespace client::media
