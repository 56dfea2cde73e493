// TVMultipartFormData: what a multipart request's construction block gets to
// append parts with. Parts go into the body in the order they are appended.
// A part whose header would not be one safe line (a header name that is not
// an HTTP token; CR, LF or NUL in a value, MIME type, name or file name) is
// refused whole: see TVStreamingMultipartFormData.h for how that is reported.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/InputStream.h"
#include "platform/URL.h"
#include "platform/Value.h"

namespace pellix {

// A part's header lines, written in this order.
using TVHTTPBodyPartHeaders = std::vector<std::pair<std::string, std::string>>;

// Suggested throttling for slow links (nothing in the library throttles).
inline constexpr std::uint64_t kAFUploadStream3GSuggestedPacketSize = 16384;
inline constexpr double kAFUploadStream3GSuggestedDelay = 0.2;

class TVMultipartFormData {
public:
    virtual ~TVMultipartFormData() = default;

    // A file part named after the URL's last path component, typed by its
    // extension.
    virtual bool appendPartWithFileURL(const platform::URL& fileURL, const std::string& name,
                                       platform::ErrorPtr* error) = 0;
    // A file part read from disk while the body streams. False (and nothing
    // appended) when the URL is not a file URL or the file cannot be reached
    // (code -1000 in TVURLRequestSerializationErrorDomain) or its size cannot
    // be read (the system's error).
    virtual bool appendPartWithFileURL(const platform::URL& fileURL, const std::string& name,
                                       const std::string& fileName, const std::string& mimeType,
                                       platform::ErrorPtr* error) = 0;
    // A part read from the caller's stream, which must deliver exactly
    // `length` bytes (the body stream fails otherwise).
    virtual void appendPartWithInputStream(std::shared_ptr<platform::InputStream> inputStream, const std::string& name,
                                           const std::string& fileName, std::int64_t length,
                                           const std::string& mimeType) = 0;
    virtual void appendPartWithFileData(const platform::Bytes& data, const std::string& name,
                                        const std::string& fileName, const std::string& mimeType) = 0;
    virtual void appendPartWithFormData(const platform::Bytes& data, const std::string& name) = 0;
    virtual void appendPartWithHeaders(TVHTTPBodyPartHeaders headers, const platform::Bytes& body) = 0;
    // At most `numberOfBytes` per read of the body stream, and a pause of
    // `delay` seconds after each part read (on the reading thread).
    virtual void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) = 0;
};

}  // namespace pellix
