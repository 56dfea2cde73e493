#include "HOSSDK/HOSClientConfiguration.h"

#include <algorithm>
#include <cctype>

namespace pellix {

void HOSClientConfiguration::init() {
    maxRetryCount_ = 3;
    maxConcurrentRequestCount_ = 5;
    enableBackgroundTransmitService_ = false;
    isHttpdnsEnable_ = true;
    backgroundSesseionIdentifier_ = BACKGROUND_SESSION_IDENTIFIER;
    timeoutIntervalForRequest_ = 15.0;
    timeoutIntervalForResource_ = 604800.0;
}

void HOSClientConfiguration::setCnameExcludeList(const std::vector<std::string>& list) {
    std::vector<std::string> normalised;
    normalised.reserve(list.size());
    for (const auto& entry : list) {
        std::string lower = entry;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        auto scheme = lower.find("://");
        normalised.push_back(scheme == std::string::npos ? lower : lower.substr(scheme + 3));
    }
    cnameExcludeList_ = std::move(normalised);
}

}  // namespace pellix
