#include <gtest/gtest.h>

#include <thread>

#include "SipEngineSDK/RTCEAGLVideoView.h"
#include "platform/RunLoop.h"

namespace pellix::test {
namespace {

using client::RTCEAGLVideoView;

struct SizeWatcher : client::RTCEAGLVideoViewDelegate {
    std::vector<std::pair<double, double>> sizes;
    void videoView(RTCEAGLVideoView*, double w, double h) override { sizes.emplace_back(w, h); }
};

client::media::VideoFrame frame(int w, int h, std::size_t bytes) {
    client::media::VideoFrame f;
    f.width = w;
    f.height = h;
    f.rgba.assign(bytes, 0x7f);
    return f;
}

TEST(RenderView, KeepsTheLatestPictureAndReportsSizeChangesOnTheMainQueue) {
    auto view = RTCEAGLVideoView::create();
    auto watcher = std::make_shared<SizeWatcher>();
    view->setDelegate(watcher);
    auto renderer = view->externalRenderer();
    EXPECT_EQ(renderer, view->externalRenderer());

    // Frames from a media thread; the bad ones (size and bytes disagree) are dropped.
    std::thread media([&] {
        renderer->renderFrame(frame(320, 240, 320 * 240 * 4));
        renderer->renderFrame(frame(320, 240, 320 * 240 * 4));
        renderer->renderFrame(frame(640, 480, 10));
        renderer->renderFrame(frame(-1, 4, 0));
        renderer->renderFrame(frame(640, 480, 640 * 480 * 4));
    });
    media.join();
    EXPECT_TRUE(watcher->sizes.empty()) << "reported off the main queue";
    platform::RunLoop::main()->runUntil([&] { return watcher->sizes.size() == 2; }, 5);
    EXPECT_EQ(watcher->sizes, (std::vector<std::pair<double, double>>{{320, 240}, {640, 480}}));
    ASSERT_TRUE(view->currentFrame());
    EXPECT_EQ(view->currentFrame()->width, 640);

    view->resetDisplay();
    EXPECT_FALSE(view->currentFrame());
    renderer->renderFrame(frame(640, 480, 640 * 480 * 4));
    platform::RunLoop::main()->runUntil([&] { return watcher->sizes.size() == 3; }, 5);
    EXPECT_EQ(watcher->sizes.size(), 3u) << "after a reset the first picture counts as a new size";

    // A renderer outliving its view draws nowhere.
    view.reset();
    renderer->renderFrame(frame(2, 2, 16));
}

}  // namespace
}  // namespace pellix::test
