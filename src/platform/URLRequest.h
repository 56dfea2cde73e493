// URLRequest: what one HTTP request is to send: URL, method, header fields,
// body, time-out and the network settings below, as the platform's mutable
// URL request holds them.
//
// Header names are matched without regard to case and keep the spelling and
// order they were first set in. Values containing CR, LF or NUL are refused
// (the setters return false and change nothing), so a value taken from
// outside cannot smuggle extra header lines into the request; the method must
// be an HTTP token for the same reason. A request is a plain value type.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/InputStream.h"
#include "platform/URL.h"
#include "platform/Value.h"

namespace pellix::platform {

class URLRequest {
public:
    // Cache policies are kept for the callers that set them; the session has
    // no cache, so every request goes to the network.
    enum class CachePolicy { UseProtocolCachePolicy, ReloadIgnoringLocalCacheData, ReturnCacheDataElseLoad,
                             ReturnCacheDataDontLoad };
    using HeaderFields = std::vector<std::pair<std::string, std::string>>;

    static constexpr double kDefaultTimeoutInterval = 60.0;

    URLRequest() = default;
    explicit URLRequest(URL url, double timeoutInterval = kDefaultTimeoutInterval)
        : url_(std::move(url)), timeoutInterval_(timeoutInterval) {}

    const URL& url() const { return url_; }
    void setURL(URL url) { url_ = std::move(url); }

    // "GET" unless set.
    const std::string& httpMethod() const { return method_; }
    // Refused (false) unless the method is a non-empty HTTP token.
    bool setHTTPMethod(std::string method);

    const HeaderFields& allHTTPHeaderFields() const { return headers_; }
    // Replaces all fields; false (and nothing changed) when any name or
    // value is unacceptable.
    bool setAllHTTPHeaderFields(const HeaderFields& fields);
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;
    // Sets or (nullopt) removes a field. False when the name is not a token or
    // the value holds CR, LF or NUL.
    bool setValue(std::optional<std::string> value, std::string_view name);
    // Appends to an existing field with ", " or sets it.
    bool addValue(const std::string& value, std::string_view name);

    // Body bytes; setting them drops a body stream and vice versa.
    const std::optional<Bytes>& httpBody() const { return body_; }
    void setHTTPBody(std::optional<Bytes> body);
    const std::shared_ptr<InputStream>& httpBodyStream() const { return bodyStream_; }
    void setHTTPBodyStream(std::shared_ptr<InputStream> stream);

    // Seconds without progress after which the request fails with -1001.
    double timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }

    CachePolicy cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(CachePolicy policy) { cachePolicy_ = policy; }

    // An address to connect to instead of resolving the URL's host (an
    // address taken from HTTP-DNS, say). The URL, the "Host" field, SNI and
    // the TLS name check keep the host name; only the connection goes to the
    // address, and only for the URL's own host and port (not for a redirect
    // elsewhere). Accepts an IPv4 or IPv6 literal, the latter with or without
    // brackets, and keeps it in URL-host form ("[::1]"); anything else is
    // refused (false, nothing changed). nullopt resolves the host as usual.
    const std::optional<std::string>& connectToAddress() const { return connectTo_; }
    bool setConnectToAddress(std::optional<std::string> address);
    // Whether the request may leave through a mobile-broadband (cellular)
    // interface. When false, the session refuses to connect wherever the
    // kernel's route to the server (or proxy) leaves through one, and the
    // task fails with -1009; it also opens a connection of its own rather
    // than reuse one that might.
    bool allowsCellularAccess() const { return allowsCellularAccess_; }
    void setAllowsCellularAccess(bool allowed) { allowsCellularAccess_ = allowed; }

    // Whether the session's cookie store takes part: its cookies for the URL
    // are sent and the answer's Set-Cookie fields stored. When false no
    // stored cookie is sent and none is kept (a "Cookie" field set on the
    // request still goes out).
    bool HTTPShouldHandleCookies() const { return HTTPShouldHandleCookies_; }
    void setHTTPShouldHandleCookies(bool handle) { HTTPShouldHandleCookies_ = handle; }

    // Kept for the callers that set them; they change nothing here. The
    // session never pipelines HTTP/1.1 requests (HTTP/2 streams are
    // multiplexed on one connection regardless), and Linux has no per-request
    // service class that the system would schedule by.
    bool HTTPShouldUsePipelining() const { return HTTPShouldUsePipelining_; }
    void setHTTPShouldUsePipelining(bool pipelining) { HTTPShouldUsePipelining_ = pipelining; }
    unsigned networkServiceType() const { return networkServiceType_; }
    void setNetworkServiceType(unsigned type) { networkServiceType_ = type; }

    // Values a protocol layer keeps on the request (by key), so that they
    // travel with every copy of it; the session itself ignores them.
    std::optional<Value> propertyForKey(std::string_view key) const;
    // Sets or (nullopt) removes the value for `key`.
    void setProperty(std::optional<Value> value, std::string key);

    // Checks used by the setters, public for the session's own checks.
    static bool isToken(std::string_view text);
    static bool isSafeHeaderValue(std::string_view value);

private:
    URL url_;
    std::string method_ = "GET";
    HeaderFields headers_;
    std::optional<Bytes> body_;
    std::shared_ptr<InputStream> bodyStream_;
    double timeoutInterval_ = kDefaultTimeoutInterval;
    CachePolicy cachePolicy_ = CachePolicy::UseProtocolCachePolicy;
    std::optional<std::string> connectTo_;
    bool allowsCellularAccess_ = true;
    bool HTTPShouldHandleCookies_ = true;
    bool HTTPShouldUsePipelining_ = false;
    unsigned networkServiceType_ = 0;
    Dictionary properties_;
};

}  // namespace pellix::platform
