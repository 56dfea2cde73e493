// RTCEAGLVideoView: the engine's render view. The media draws decoded or
// captured pictures into its externalRenderer(); the view keeps the latest
// picture for the host to show and tells its delegate, on the main queue,
// when the picture's size changes.
//
// Threads: renderFrame() may come from any media thread; every other member
// and the delegate call belong to the main thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "SipEngineSDK/CallMedia.h"

namespace client {

class RTCEAGLVideoView;

class RTCEAGLVideoViewDelegate {
public:
    virtual ~RTCEAGLVideoViewDelegate() = default;
    virtual void videoView(RTCEAGLVideoView* view, double width, double height) = 0;
};

class RTCEAGLVideoView : public std::enable_shared_from_this<RTCEAGLVideoView> {
public:
    static std::shared_ptr<RTCEAGLVideoView> create();
    RTCEAGLVideoView(const RTCEAGLVideoView&) = delete;
    RTCEAGLVideoView& operator=(const RTCEAGLVideoView&) = delete;

    // What the media draws into; holds the view weakly.
    std::shared_ptr<media::VideoRenderer> externalRenderer();
    // Forgets the picture shown (and its size), as before the first frame.
    void resetDisplay();
    void setDelegate(std::weak_ptr<RTCEAGLVideoViewDelegate> delegate);
    void setDragEnable(bool enable);
    bool dragEnable() const;

    std::optional<media::VideoFrame> currentFrame() const;

private:
    RTCEAGLVideoView() = default;
    class Renderer;
    void present(const media::VideoFrame& frame);

    mutable std::mutex mutex_;
    std::optional<media::VideoFrame> frame_;
    int width_ = 0, height_ = 0;
    bool dragEnable_ = false;
    std::weak_ptr<RTCEAGLVideoViewDelegate> delegate_;
    std::shared_ptr<media::VideoRenderer> renderer_;
};

}  // namespace client
