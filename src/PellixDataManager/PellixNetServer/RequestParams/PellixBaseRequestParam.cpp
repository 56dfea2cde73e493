#include "PellixDataManager/PellixNetServer/RequestParams/PellixBaseRequestParam.h"

#include "PellixEnvironmenConfig/PellixGlobleConfig.h"

namespace pellix {

const PellixFieldTable<PellixBaseRequestParam>& PellixBaseRequestParam::fields() {
    static const PellixFieldTable<PellixBaseRequestParam> table(nullptr, {});
    return table;
}

PellixBaseRequestParam::PellixBaseRequestParam() : domain_(PellixGlobleConfig::sharedInstance()->httpUrlStr()) {
    captureCreationPath();
}

void PellixBaseRequestParam::initWithPath(std::string path) {
    domain_ = PellixGlobleConfig::sharedInstance()->httpUrlStr();
    path_ = std::move(path);
}

void PellixBaseRequestParam::initWithDomain(std::string domain, std::string path) {
    domain_ = std::move(domain);
    if (!path.empty()) {
        path_ = std::move(path);
    } else {
        path_ = buildRequestPath();
    }
}

float PellixBaseRequestParam::buildRequestTimeout() const {
    return PellixGlobleConfig::sharedInstance()->requestTimeout();
}

platform::Dictionary PellixBaseRequestParam::buildRequestParam() const {
    platform::Dictionary params;
    fieldTable().appendParams(*this, params);
    return params;
}

bool PellixBaseRequestParam::isParamsComplete() const { return fieldTable().requiredFilled(*this); }

}  // namespace pellix
