#include "PellixVideoView/PellixCameraRotation.h"

namespace pellix {

int screenOffsetDegrees(platform::Device::InterfaceOrientation orientation) {
    using O = platform::Device::InterfaceOrientation;
    switch (orientation) {
    case O::PortraitUpsideDown: return 180;
    case O::LandscapeLeft: return 270;
    case O::LandscapeRight: return 90;
    case O::Portrait:
    case O::Unknown: break;
    }
    return 0;
}

int cameraRotation(int sensorAngle, int cameraSelector) {
    const int offset = screenOffsetDegrees(platform::Device::currentDevice().interfaceOrientation());
    const int angle = sensorAngle;
    int rotation = angle <= 180 ? (angle - offset + 360) % 360 : (angle + offset) % 360;
    // A negative angle from the engine would leave a negative remainder; the
    // stream takes only 0..359.
    if (rotation < 0) rotation += 360;
    if (cameraSelector == 0) {
        if (rotation == 0) {
            rotation = 180;
        } else if (rotation == 180) {
            rotation = 0;
        }
    }
    return rotation;
}

int usableCameraSelector(int cameraSelector, int engineCameraCount) {
    if (cameraSelector == 1 &&
        (platform::Device::currentDevice().videoCaptureDeviceCount() < 2 || engineCameraCount < 2)) {
        return 0;
    }
    return cameraSelector;
}

}  // namespace pellix
