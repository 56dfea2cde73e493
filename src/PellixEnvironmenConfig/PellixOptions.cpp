#include "PellixEnvironmenConfig/PellixOptions.h"

#include "PellixEnvironmenConfig/PellixGlobleConfig.h"
#include "PellixLog/PellixLog.h"

namespace pellix {

namespace {
constexpr float kTimeoutFloor = 1e-7f;
}

void PellixOptions::setIsShowLog(bool show) {
    isShowLog_ = show;
    enableLog(show);
}

void PellixOptions::enableLog(bool show) {
    if (show) {
        PellixLog::enableLog();
    } else {
        PellixLog::disableLog();
    }
}

void PellixOptions::setMode(std::uint64_t mode) {
    mode_ = mode;
    setDevelopmentEnvironment(mode);
}

void PellixOptions::setDevelopmentEnvironment(std::uint64_t mode) {
    PellixGlobleConfig::sharedInstance()->setPellixSDKMode(mode);
}

float PellixOptions::requestTimeout() {
    if (!(requestTimeout_ > kTimeoutFloor)) requestTimeout_ = kDefaultRequestTimeout;
    return requestTimeout_;
}

void PellixOptions::setRequestTimeout(float seconds) {
    requestTimeout_ = seconds > kTimeoutFloor ? seconds : kDefaultRequestTimeout;
}

}  // namespace pellix
