// RTCEAGLVideoView: the engine's render view, a node of the host's view tree
// (a call's PellixVideoView holds it). The media draws decoded or captured
// pictures into its externalRenderer(); the view keeps the latest picture
// and its size for the host to draw, hands every picture to the host's frame
// callback, and tells its delegate, on the main queue, when the picture's
// size changes.
//
// Threads: renderFrame() and the frame callback run on a media thread;
// currentFrame(), videoSize() and setFrameCallback() may be used from any
// thread; the view-tree members and the delegate call belong to the main
// thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "SipEngineSDK/CallMedia.h"
#include "platform/View.h"

namespace client {

class RTCEAGLVideoView;

class RTCEAGLVideoViewDelegate {
public:
    virtual ~RTCEAGLVideoViewDelegate() = default;
    virtual void videoView(RTCEAGLVideoView* view, double width, double height) = 0;
};

class RTCEAGLVideoView : public pellix::platform::View {
public:
    using FrameCallback = std::function<void(const media::VideoFrame&)>;

    static std::shared_ptr<RTCEAGLVideoView> create();

    // What the media draws into; holds the view weakly.
    std::shared_ptr<media::VideoRenderer> externalRenderer();
    // Forgets the picture shown (and its size), as before the first frame.
    void resetDisplay();
    void setDelegate(std::weak_ptr<RTCEAGLVideoViewDelegate> delegate);
    void setDragEnable(bool enable);
    bool dragEnable() const;

    std::optional<media::VideoFrame> currentFrame() const;
    struct Size {
        int width = 0, height = 0;
    };
    // The size of the current picture; zero before the first one.
    Size videoSize() const;
    // Called with every picture the view accepts, after it is stored; an
    // empty function stops the calls.
    void setFrameCallback(FrameCallback callback);

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
    std::shared_ptr<const FrameCallback> frameCallback_;
};

}  // namespace client
