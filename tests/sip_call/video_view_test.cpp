// The call picture containers (a small view tree) and the camera rotation rule.
#include <gtest/gtest.h>

#include "PellixVideoView/PellixCameraRotation.h"
#include "PellixVideoView/PellixVideoView.h"
#include "SipEngineSDK/RTCEAGLVideoView.h"
#include "platform/Device.h"

#include <atomic>
#include <thread>

namespace pellix {
namespace {

using platform::Device;
using platform::LayoutConstraint;
using platform::View;

class CountingView : public View {
public:
    void layoutSubviews() override { ++layouts; }
    int layouts = 0;
};

TEST(VideoViewTest, ContentPinnedInsideAContainerLeavesNoTraceOnceTakenDown) {
    auto window = std::make_shared<CountingView>();
    auto container = PellixVideoView::create();
    window->addSubview(container);
    auto content = std::make_shared<CountingView>();
    content->setTranslatesAutoresizingMaskIntoConstraints(false);
    container->addSubview(content);
    for (auto a : {LayoutConstraint::Attribute::Leading, LayoutConstraint::Attribute::Trailing,
                   LayoutConstraint::Attribute::Top, LayoutConstraint::Attribute::Bottom}) {
        container->addConstraint({container, a, LayoutConstraint::Relation::Equal, content, a, 1.0, 0.0});
    }
    EXPECT_EQ(container->superview(), window);
    EXPECT_EQ(content->superview(), container);
    EXPECT_EQ(container->constraints().size(), 4u);

    window->layoutIfNeeded();
    EXPECT_EQ(window->layouts, 1);
    EXPECT_FALSE(container->needsLayout());
    content->setNeedsLayout();
    window->layoutIfNeeded();
    EXPECT_EQ(content->layouts, 1);
    EXPECT_EQ(window->layouts, 1) << "only marked views lay out again";

    // Taking the call's views down: empty the container, then drop it.
    for (auto sub : std::vector<std::shared_ptr<View>>(container->subviews())) sub->removeFromSuperview();
    container->removeFromSuperview();
    EXPECT_TRUE(container->subviews().empty());
    EXPECT_TRUE(container->constraints().empty()) << "constraints naming a removed view go with it";
    EXPECT_EQ(container->superview(), nullptr);
    EXPECT_EQ(content->superview(), nullptr);
    EXPECT_TRUE(window->subviews().empty());
}

TEST(VideoViewTest, MovingAViewKeepsOneParentAndRefusesCycles) {
    auto a = std::make_shared<View>(), b = std::make_shared<View>(), c = std::make_shared<View>();
    a->addSubview(c);
    b->addSubview(c);
    EXPECT_TRUE(a->subviews().empty());
    EXPECT_EQ(c->superview(), b);
    a->addSubview(b);
    b->addSubview(a);  // a is b's ancestor: refused
    c->addSubview(a);  // likewise two levels down
    a->addSubview(a);
    EXPECT_EQ(a->superview(), nullptr);
    EXPECT_EQ(b->superview(), a);
    EXPECT_EQ(a->subviews().size(), 1u);
    EXPECT_TRUE(c->subviews().empty());
}

client::media::VideoFrame picture(int w, int h, std::size_t bytes) {
    client::media::VideoFrame f;
    f.width = w;
    f.height = h;
    f.rgba.assign(bytes, 0x11);
    return f;
}

TEST(RenderViewDrawing, HostSeesEveryAcceptedPictureAndItsSizeUntilTheDisplayIsReset) {
    auto container = PellixVideoView::create();
    auto view = client::RTCEAGLVideoView::create();
    container->addSubview(view);
    EXPECT_EQ(view->superview(), container) << "the render view is a node of the same view tree";

    std::vector<std::pair<int, int>> drawn;  // written on the media thread, read after join
    std::atomic<int> sizeSeenInCallback{0};
    view->setFrameCallback([&](const client::media::VideoFrame& f) {
        drawn.emplace_back(f.width, f.height);
        // The host may read the view from inside its callback.
        sizeSeenInCallback = view->videoSize().width;
    });
    auto renderer = view->externalRenderer();
    std::thread media([&] {
        renderer->renderFrame(picture(4, 2, 4 * 2 * 4));
        renderer->renderFrame(picture(4, 2, 3));  // bytes and size disagree: dropped
        renderer->renderFrame(picture(6, 4, 6 * 4 * 4));
    });
    media.join();
    EXPECT_EQ(drawn, (std::vector<std::pair<int, int>>{{4, 2}, {6, 4}}));
    EXPECT_EQ(sizeSeenInCallback, 6);
    EXPECT_EQ(view->videoSize().width, 6);
    EXPECT_EQ(view->videoSize().height, 4);
    ASSERT_TRUE(view->currentFrame());
    EXPECT_EQ(view->currentFrame()->rgba.size(), 6u * 4 * 4);

    view->resetDisplay();
    EXPECT_FALSE(view->currentFrame());
    EXPECT_EQ(view->videoSize().width, 0);
    EXPECT_EQ(view->videoSize().height, 0);

    view->setFrameCallback({});
    renderer->renderFrame(picture(2, 2, 16));
    EXPECT_EQ(drawn.size(), 2u) << "an empty callback stops the calls";
    EXPECT_EQ(view->videoSize().width, 2);
}

class CameraRotationTest : public ::testing::Test {
protected:
    void TearDown() override {
        Device::currentDevice().setInterfaceOrientation(Device::InterfaceOrientation::Unknown);
        Device::currentDevice().setVideoCaptureDeviceCount(0);
    }
};

TEST_F(CameraRotationTest, RotationFollowsTheScreenAndMirrorsCameraZero) {
    using O = Device::InterfaceOrientation;
    struct Case {
        O orientation;
        int angle;
        int forCamera1;
        int forCamera0;
    };
    const Case cases[] = {
        {O::LandscapeLeft, 90, 180, 0},   // (90 - 270 + 360) mod 360
        {O::LandscapeRight, 270, 0, 180},  // (270 + 90) mod 360
        {O::Portrait, 90, 90, 90},
        {O::Unknown, 0, 0, 180},
        {O::PortraitUpsideDown, 180, 0, 180},  // at most 180: subtract the offset
        {O::PortraitUpsideDown, 270, 90, 90},  // above 180: add it
        {O::LandscapeRight, 180, 90, 90},
        {O::LandscapeLeft, 181, 91, 91},
        {O::LandscapeRight, -400, 230, 230},  // never a negative rotation
    };
    for (const auto& c : cases) {
        Device::currentDevice().setInterfaceOrientation(c.orientation);
        SCOPED_TRACE(::testing::Message() << "orientation " << static_cast<int>(c.orientation) << " angle " << c.angle);
        EXPECT_EQ(cameraRotation(c.angle, 1), c.forCamera1);
        EXPECT_EQ(cameraRotation(c.angle, 0), c.forCamera0);
    }
}

TEST_F(CameraRotationTest, SecondCameraNeedsTwoOnBothTheDeviceAndTheEngine) {
    struct Case {
        int deviceCameras, engineCameras, selector, expected;
    };
    const Case cases[] = {
        {2, 2, 1, 1}, {1, 2, 1, 0}, {2, 1, 1, 0}, {0, 0, 1, 0}, {0, 0, 0, 0}, {2, 2, 0, 0},
    };
    for (const auto& c : cases) {
        Device::currentDevice().setVideoCaptureDeviceCount(c.deviceCameras);
        EXPECT_EQ(usableCameraSelector(c.selector, c.engineCameras), c.expected)
            << c.deviceCameras << "/" << c.engineCameras << " selector " << c.selector;
    }
}

}  // namespace
}  // namespace pellix
