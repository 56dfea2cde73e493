// URLSessionConfiguration: the settings a URL session is created with; the
// session takes a copy, so later changes to this object do not affect it.
#pragma once

#include <optional>
#include <string>

#include "platform/URLRequest.h"
#include "platform/Value.h"

namespace pellix::platform {

class URLSessionConfiguration {
public:
    // Keys of connectionProxyDictionary, the platform's names.
    static constexpr const char* kHTTPEnable = "HTTPEnable";
    static constexpr const char* kHTTPProxyHost = "HTTPProxy";
    static constexpr const char* kHTTPProxyPort = "HTTPPort";
    static constexpr const char* kHTTPSEnable = "HTTPSEnable";
    static constexpr const char* kHTTPSProxyHost = "HTTPSProxy";
    static constexpr const char* kHTTPSProxyPort = "HTTPSPort";

    static URLSessionConfiguration defaultSessionConfiguration() { return {}; }
    static URLSessionConfiguration ephemeralSessionConfiguration() { return {}; }
    // Transfers do not outlive the process here, so a background session
    // behaves as a default one that carries the identifier.
    static URLSessionConfiguration backgroundSessionConfiguration(std::string identifier) {
        URLSessionConfiguration c;
        c.identifier_ = std::move(identifier);
        return c;
    }

    const std::optional<std::string>& identifier() const { return identifier_; }

    // Seconds a task may wait for more data; a request's own shorter
    // time-out wins. Non-positive means no limit.
    double timeoutIntervalForRequest() const { return timeoutForRequest_; }
    void setTimeoutIntervalForRequest(double s) { timeoutForRequest_ = s; }
    // Seconds a whole task may run (suspended time not counted).
    double timeoutIntervalForResource() const { return timeoutForResource_; }
    void setTimeoutIntervalForResource(double s) { timeoutForResource_ = s; }

    // Header fields added to every request that does not set them itself.
    const URLRequest::HeaderFields& httpAdditionalHeaders() const { return additionalHeaders_; }
    void setHTTPAdditionalHeaders(URLRequest::HeaderFields h) { additionalHeaders_ = std::move(h); }

    // The proxy dictionary (keys above); a scheme's proxy is used when its
    // enable flag is true and both host and port are set. Empty: no proxy
    // (the environment's proxy variables are not read).
    const Dictionary& connectionProxyDictionary() const { return proxy_; }
    void setConnectionProxyDictionary(Dictionary d) { proxy_ = std::move(d); }

    // Connections kept open to one host at a time; further requests wait.
    int httpMaximumConnectionsPerHost() const { return maxPerHost_; }
    void setHTTPMaximumConnectionsPerHost(int n) { maxPerHost_ = n; }

    // Kept for callers that set it; the session has no URL cache.
    bool hasURLCache() const { return hasURLCache_; }
    void setURLCache(bool enabled) { hasURLCache_ = enabled; }

private:
    std::optional<std::string> identifier_;
    double timeoutForRequest_ = 60.0;
    double timeoutForResource_ = 7 * 24 * 3600.0;
    URLRequest::HeaderFields additionalHeaders_;
    Dictionary proxy_;
    int maxPerHost_ = 6;
    bool hasURLCache_ = false;
};

}  // namespace pellix::platform
