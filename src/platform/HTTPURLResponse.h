// HTTPURLResponse: the head of an HTTP response: status, header fields and
// what follows from them (MIME type, text encoding, expected length).
//
// Header names are looked up without regard to case; a field sent more than
// once is kept as one value joined with ", ", as the platform presents it.
// Immutable once made; shared between threads as std::shared_ptr<const ...>.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/URL.h"

namespace pellix::platform {

class HTTPURLResponse {
public:
    using HeaderFields = std::vector<std::pair<std::string, std::string>>;

    // The platform's "unknown length" (NSURLResponseUnknownLength).
    static constexpr std::int64_t kUnknownLength = -1;

    HTTPURLResponse(URL url, int statusCode, std::string httpVersion, HeaderFields headerFields);

    const URL& url() const { return url_; }
    int statusCode() const { return statusCode_; }
    // "HTTP/1.1", "HTTP/2", ... as the status line gave it.
    const std::string& httpVersion() const { return httpVersion_; }
    const HeaderFields& allHeaderFields() const { return headers_; }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view name) const;

    // Content-Type's media type, lower-cased ("text/html"); nullopt without one.
    const std::optional<std::string>& mimeType() const { return mimeType_; }
    // Content-Type's charset parameter, lower-cased ("utf-8"); nullopt without one.
    const std::optional<std::string>& textEncodingName() const { return textEncoding_; }
    // Content-Length, or kUnknownLength when absent or unreadable.
    std::int64_t expectedContentLength() const { return expectedLength_; }

private:
    URL url_;
    int statusCode_;
    std::string httpVersion_;
    HeaderFields headers_;
    std::optional<std::string> mimeType_;
    std::optional<std::string> textEncoding_;
    std::int64_t expectedLength_ = kUnknownLength;
};

}  // namespace pellix::platform
