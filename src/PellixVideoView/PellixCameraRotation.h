// The capture rotation of a call's camera and the camera selector in use.
//
// Cameras are numbered as the media engine numbers them (0 or 1); camera 0's
// picture has its upright and upside-down rotations swapped.
#pragma once

#include "platform/Device.h"

namespace pellix {

// The screen's offset in degrees for an interface orientation.
int screenOffsetDegrees(platform::Device::InterfaceOrientation orientation);

// The rotation in degrees (0..359) for a camera's sensor angle in degrees,
// the current interface orientation (platform::Device) and the selector.
int cameraRotation(int sensorAngle, int cameraSelector);

// Selector 1 names a second camera: with fewer than two capture devices
// (platform::Device) or fewer than two engine cameras it falls back to 0.
int usableCameraSelector(int cameraSelector, int engineCameraCount);

}  // namespace pellix
