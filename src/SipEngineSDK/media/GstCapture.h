#pragma once
// The camera of a video call as a pipeline of its own, apart from the RTP
// pipeline of the stream: the self-view shows the camera from the moment it
// starts, whatever the far end sends, and starting, changing or losing the
// camera never rebuilds the pipeline that receives the far end's picture.
//
// The capture turns its pictures upright and hands each one to the preview
// slot and to a CameraInlet, through which the stream's encoder (when one is
// running) takes them.
//
// Threads: PictureSlot and CameraInlet are locked and used from streaming
// threads and the media's own thread alike; CameraCapture's members are for
// one thread (the media's), its streaming threads touch only the slot and
// the inlet.
#include "SipEngineSDK/CallMedia.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace client::media {

// The newest picture of one kind (decoded or captured), kept until it is taken.
class PictureSlot {
public:
    ~PictureSlot();
    void put(GstSample* sample);  // takes the reference
    // The newest RGBA picture since the last take, if any.
    bool take(VideoFrame& frame);
    void clear();

private:
    std::mutex mutex_;
    GstSample* sample_ = nullptr;
};

// Where captured pictures enter the encoder of the running stream. The
// stream attaches its source element while it runs; with none attached the
// pictures go to the preview only.
class CameraInlet {
public:
    ~CameraInlet();
    void attach(GstElement* pipeline, GstElement* appsrc);
    void detach();
    // Stamped with the running time of the stream's pipeline.
    void push(GstSample* sample);
    bool attached();
    // Set by the capture while its camera plays.
    void setCameraRunning(bool running) { cameraRunning_ = running; }
    bool cameraRunning() const { return cameraRunning_; }

private:
    std::atomic<bool> cameraRunning_{false};
    std::mutex mutex_;
    GstElement* pipeline_ = nullptr;
    GstElement* appsrc_ = nullptr;
    GstCaps* caps_ = nullptr;
};

class CameraCapture {
public:
    CameraCapture(const VideoCapture& capture, const MediaSettings& settings, std::shared_ptr<PictureSlot> preview,
                  std::shared_ptr<CameraInlet> inlet);
    ~CameraCapture();
    CameraCapture(const CameraCapture&) = delete;
    CameraCapture& operator=(const CameraCapture&) = delete;

    bool start(std::string& error);
    void setRotation(int rotation);
    // The first error the camera reported since it started, if any.
    bool failed(std::string& error);

private:
    static GstFlowReturn onEncoderSample(GstAppSink*, gpointer);
    static GstFlowReturn onPreviewSample(GstAppSink*, gpointer);
    std::string describe() const;

    VideoCapture capture_;
    const MediaSettings& settings_;
    std::shared_ptr<PictureSlot> preview_;
    std::shared_ptr<CameraInlet> inlet_;
    GstElement* pipeline_ = nullptr;
};

// Launch text of the videoflip direction that turns a picture by `rotation` degrees.
const char* flipDirection(int rotation);

}  // namespace client::media
