#include "HOSSDK/HOSModel.h"

#include <cinttypes>
#include <cstdio>

namespace pellix {

std::string HOSRange::toHeaderString() const {
    char text[64];
    const auto s = startPosition_, e = endPosition_;
    if (s >= 0 && e < 0)
        std::snprintf(text, sizeof text, "bytes=%" PRId64 "-", s);
    else if (s < 0 && e >= 0)
        std::snprintf(text, sizeof text, "bytes=-%" PRId64, e);
    else
        std::snprintf(text, sizeof text, "bytes=%" PRId64 "-%" PRId64, s, e);
    return text;
}

std::string HOSResult::description() const {
    char head[96];
    std::snprintf(head, sizeof head, "HOSResult<%p> : {httpResponseCode: %" PRId64 ", requestId: ",
                  static_cast<const void*>(this), httpResponseCode_);
    return head + (requestId_ ? *requestId_ : "(null)") +
           ", httpResponseHeaderFields: " + platform::Value(httpResponseHeaderFields_).description() +
           ", local_crc64ecma: " + (localCRC64ecma_ ? *localCRC64ecma_ : "(null)") + "}";
}

}  // namespace pellix
