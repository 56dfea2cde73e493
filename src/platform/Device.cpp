#include "platform/Device.h"

#include <sys/utsname.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>

namespace pellix::platform {

namespace {

std::string osReleaseVersion() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("VERSION_ID=", 0) != 0) continue;
            std::string v = line.substr(11);
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            if (!v.empty()) return v;
        }
    }
    return {};
}

}  // namespace

Device& Device::currentDevice() {
    static auto* device = new Device();
    return *device;
}

Device::Device() : systemName_("Linux") {
    utsname u{};
    if (::uname(&u) == 0) {
        model_ = u.machine;
        systemVersion_ = u.release;
    }
    if (auto v = osReleaseVersion(); !v.empty()) systemVersion_ = v;
    identifierForVendor_ = makeUUID();
}

std::string Device::makeUUID() {
    std::random_device rd;
    std::array<std::uint8_t, 16> b{};
    for (std::size_t i = 0; i < b.size(); i += 4) {
        const std::uint32_t r = rd();
        for (std::size_t k = 0; k < 4; ++k) b[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0f) | 0x40);  // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3f) | 0x80);  // RFC 4122 variant
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

#define PELLIX_DEVICE_FACT(type, getter, setter, field) \
    type Device::getter() const {                       \
        std::lock_guard lock(mutex_);                   \
        return field;                                   \
    }                                                   \
    void Device::setter(type v) {                       \
        std::lock_guard lock(mutex_);                   \
        field = std::move(v);                           \
    }

PELLIX_DEVICE_FACT(std::string, model, setModel, model_)
PELLIX_DEVICE_FACT(std::string, systemName, setSystemName, systemName_)
PELLIX_DEVICE_FACT(std::string, systemVersion, setSystemVersion, systemVersion_)
PELLIX_DEVICE_FACT(std::string, identifierForVendor, setIdentifierForVendor, identifierForVendor_)
PELLIX_DEVICE_FACT(double, screenScale, setScreenScale, screenScale_)
PELLIX_DEVICE_FACT(Device::InterfaceOrientation, interfaceOrientation, setInterfaceOrientation, interfaceOrientation_)
PELLIX_DEVICE_FACT(int, videoCaptureDeviceCount, setVideoCaptureDeviceCount, videoCaptureDeviceCount_)

#undef PELLIX_DEVICE_FACT

}  // namespace pellix::platform
