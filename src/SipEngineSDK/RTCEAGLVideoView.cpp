#include "SipEngineSDK/RTCEAGLVideoView.h"

#include "platform/DispatchQueue.h"

namespace client {

class RTCEAGLVideoView::Renderer final : public media::VideoRenderer {
public:
    explicit Renderer(std::weak_ptr<pellix::platform::View> view) : view_(std::move(view)) {}
    void renderFrame(const media::VideoFrame& frame) override {
        if (auto v = view_.lock()) static_cast<RTCEAGLVideoView&>(*v).present(frame);
    }

private:
    std::weak_ptr<pellix::platform::View> view_;
};

std::shared_ptr<RTCEAGLVideoView> RTCEAGLVideoView::create() {
    return std::shared_ptr<RTCEAGLVideoView>(new RTCEAGLVideoView());
}

std::shared_ptr<media::VideoRenderer> RTCEAGLVideoView::externalRenderer() {
    std::lock_guard lock(mutex_);
    if (!renderer_) renderer_ = std::make_shared<Renderer>(weak_from_this());
    return renderer_;
}

void RTCEAGLVideoView::resetDisplay() {
    std::lock_guard lock(mutex_);
    frame_.reset();
    width_ = height_ = 0;
}

void RTCEAGLVideoView::setDelegate(std::weak_ptr<RTCEAGLVideoViewDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

void RTCEAGLVideoView::setDragEnable(bool enable) {
    std::lock_guard lock(mutex_);
    dragEnable_ = enable;
}

bool RTCEAGLVideoView::dragEnable() const {
    std::lock_guard lock(mutex_);
    return dragEnable_;
}

std::optional<media::VideoFrame> RTCEAGLVideoView::currentFrame() const {
    std::lock_guard lock(mutex_);
    return frame_;
}

RTCEAGLVideoView::Size RTCEAGLVideoView::videoSize() const {
    std::lock_guard lock(mutex_);
    return {width_, height_};
}

void RTCEAGLVideoView::setFrameCallback(FrameCallback callback) {
    std::lock_guard lock(mutex_);
    frameCallback_ = callback ? std::make_shared<const FrameCallback>(std::move(callback)) : nullptr;
}

void RTCEAGLVideoView::present(const media::VideoFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.rgba.size() != static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height) * 4)
        return;
    bool resized;
    std::shared_ptr<const FrameCallback> callback;
    {
        std::lock_guard lock(mutex_);
        resized = frame.width != width_ || frame.height != height_;
        width_ = frame.width;
        height_ = frame.height;
        frame_ = frame;
        callback = frameCallback_;
    }
    // Outside the lock, so the host may read the view from its callback.
    if (callback) (*callback)(frame);
    if (!resized) return;
    std::weak_ptr<pellix::platform::View> weak = weak_from_this();
    double w = frame.width, h = frame.height;
    pellix::platform::DispatchQueue::main()->async([weak, w, h] {
        auto locked = weak.lock();
        if (!locked) return;
        auto* view = static_cast<RTCEAGLVideoView*>(locked.get());
        std::shared_ptr<RTCEAGLVideoViewDelegate> d;
        {
            std::lock_guard lock(view->mutex_);
            d = view->delegate_.lock();
        }
        if (d) d->videoView(view, w, h);
    });
}

}  // namespace client
