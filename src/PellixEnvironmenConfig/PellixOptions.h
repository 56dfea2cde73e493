// PellixOptions: the start options the host hands to registration.
//
// Setting `mode` or `isShowLog` takes effect at once (the environment is
// applied to PellixGlobleConfig, the log switched), before registration. A
// new object reads mode 0 (test), logging off and a 15 s timeout.
// Not synchronised: one owner at a time.
#pragma once

#include <cstdint>

namespace pellix {

class PellixOptions {
public:
    static constexpr float kDefaultRequestTimeout = 15;

    bool isShowLog() const { return isShowLog_; }
    // Stores the flag and switches PellixLog on or off.
    void setIsShowLog(bool show);

    std::uint64_t mode() const { return mode_; }
    // Stores the mode and applies it to PellixGlobleConfig.
    void setMode(std::uint64_t mode);

    // 15 whenever the stored value is not above 1e-7 (never given, zero,
    // negative or tiny); the value is then stored as 15 too.
    float requestTimeout();
    void setRequestTimeout(float seconds);

private:
    void setDevelopmentEnvironment(std::uint64_t mode);
    void enableLog(bool show);

    bool isShowLog_ = false;
    std::uint64_t mode_ = 0;
    float requestTimeout_ = 0;
};

}  // namespace pellix
