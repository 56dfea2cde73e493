// HOSObjectMetaFieldNames: the response header fields an object's meta
// dictionary keeps (HOSHttpResponseParser::parseResponseHeaderToGetMeta),
// besides every field whose name begins with "x-hos-meta". Names match
// without regard to case.
#pragma once

#include <array>

namespace pellix {

inline constexpr std::array<const char*, 10> HOSObjectMetaFieldNames{
    "Content-Type",      "Content-Length",    "Etag",                "Last-Modified", "x-hos-request-id",
    "x-hos-object-type", "If-Modified-Since", "If-Unmodified-Since", "If-Match",      "If-None-Match"};

}  // namespace pellix
