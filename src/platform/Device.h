// Device: facts about the machine, as the host wants them reported.
//
// Defaults: model from `uname -m` (e.g. "x86_64"), system name "Linux",
// system version from /etc/os-release (VERSION_ID) or else the kernel release,
// identifier for vendor a random UUID made once per process (upper-case, the
// platform's form), screen scale 1, interface orientation unknown, no video
// capture devices (a host with cameras says how many). Every fact may be set by the host (and by
// tests); setting a fact replaces the default for the rest of the process.
//
// Thread-safety: all members from any thread.
#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace pellix::platform {

class Device {
public:
    // The screen's orientation as the running interface shows it, numbered as
    // the phone platform numbers it.
    enum class InterfaceOrientation {
        Unknown = 0,
        Portrait = 1,
        PortraitUpsideDown = 2,
        LandscapeRight = 3,
        LandscapeLeft = 4,
    };

    static Device& currentDevice();

    std::string model() const;
    std::string systemName() const;
    std::string systemVersion() const;
    std::string identifierForVendor() const;
    double screenScale() const;
    InterfaceOrientation interfaceOrientation() const;
    int videoCaptureDeviceCount() const;

    void setModel(std::string v);
    void setSystemName(std::string v);
    void setSystemVersion(std::string v);
    void setIdentifierForVendor(std::string v);
    void setScreenScale(double v);
    void setInterfaceOrientation(InterfaceOrientation v);
    void setVideoCaptureDeviceCount(int v);

    // A fresh random (version 4) UUID in upper-case text form.
    static std::string makeUUID();

private:
    Device();
    mutable std::mutex mutex_;
    std::string model_, systemName_, systemVersion_, identifierForVendor_;
    double screenScale_ = 1.0;
    InterfaceOrientation interfaceOrientation_ = InterfaceOrientation::Unknown;
    int videoCaptureDeviceCount_ = 0;
};

}  // namespace pellix::platform
