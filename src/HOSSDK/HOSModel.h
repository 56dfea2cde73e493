// The storage client's request and result records of the object operations
// that carry data (head, get, put, append, delete), the byte range and the
// result base. Plain data holders: the operation descriptors (HOSOperation.h)
// say how each field is sent and how each result field is read.
//
// A record is filled on one thread before it is handed to an operation;
// afterwards only cancellation (HOSRequest) may touch it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HOSSDK/HOSProperty.h"
#include "HOSSDK/HOSRequest.h"
#include "platform/URL.h"
#include "platform/Value.h"

namespace pellix {

using HOSOptString = std::optional<std::string>;
using HOSProgressBlock = std::function<void(std::int64_t now, std::int64_t total, std::int64_t expected)>;
using HOSReceiveBlock = std::function<void(const platform::Bytes& chunk)>;
using HOSRetryCallback = std::function<void()>;

// A byte range; a negative position is absent.
class HOSRange {
public:
    HOSRange(std::int64_t start, std::int64_t end) : startPosition_(start), endPosition_(end) {}
    HOS_PROPERTY(std::int64_t, startPosition, setStartPosition)
    HOS_PROPERTY(std::int64_t, endPosition, setEndPosition)
public:
    // The value of the "Range" header.
    std::string toHeaderString() const;
    std::string description() const { return "Range: " + toHeaderString(); }
};

// Base of every result: what the reply's status and headers say.
class HOSResult {
public:
    virtual ~HOSResult() = default;
    HOS_PROPERTY(std::int64_t, httpResponseCode, setHttpResponseCode)
    HOS_PROPERTY(platform::Dictionary, httpResponseHeaderFields, setHttpResponseHeaderFields)
    HOS_PROPERTY(HOSOptString, requestId, setRequestId)
    HOS_PROPERTY(HOSOptString, remoteCRC64ecma, setRemoteCRC64ecma)
    HOS_PROPERTY(HOSOptString, localCRC64ecma, setLocalCRC64ecma)
public:
    virtual std::string description() const;
};

using HOSResultPtr = std::shared_ptr<HOSResult>;

class HOSHeadObjectRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
};

class HOSGetObjectRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
    HOS_PROPERTY(std::shared_ptr<HOSRange>, range, setRange)
    HOS_PROPERTY(std::optional<platform::URL>, downloadToFileURL, setDownloadToFileURL)
    HOS_PROPERTY(HOSOptString, xHosProcess, setXHosProcess)
    HOS_PROPERTY(HOSProgressBlock, downloadProgress, setDownloadProgress)
    // Spelled so: the name callers know.
    HOS_PROPERTY(HOSReceiveBlock, onRecieveData, setOnRecieveData)
};

// The fields put and append share.
class HOSUploadObjectFields : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
    HOS_PROPERTY(std::optional<platform::Bytes>, uploadingData, setUploadingData)
    HOS_PROPERTY(std::optional<platform::URL>, uploadingFileURL, setUploadingFileURL)
    HOS_PROPERTY(HOSOptString, contentType, setContentType)
    HOS_PROPERTY(HOSOptString, contentMd5, setContentMd5)
    HOS_PROPERTY(HOSOptString, contentDisposition, setContentDisposition)
    HOS_PROPERTY(HOSOptString, contentEncoding, setContentEncoding)
    HOS_PROPERTY(HOSOptString, cacheControl, setCacheControl)
    HOS_PROPERTY(HOSOptString, expires, setExpires)
    HOS_PROPERTY(platform::Dictionary, objectMeta, setObjectMeta)
    HOS_PROPERTY(HOSProgressBlock, uploadProgress, setUploadProgress)
    HOS_PROPERTY(HOSOptString, contentSHA1, setContentSHA1)
};

class HOSPutObjectRequest : public HOSUploadObjectFields {
    HOS_PROPERTY(std::optional<platform::Dictionary>, callbackParam, setCallbackParam)
    HOS_PROPERTY(std::optional<platform::Dictionary>, callbackVar, setCallbackVar)
    HOS_PROPERTY(HOSRetryCallback, uploadRetryCallback, setUploadRetryCallback)
};

class HOSAppendObjectRequest : public HOSUploadObjectFields {
    HOS_PROPERTY(std::int64_t, appendPosition, setAppendPosition)
};

class HOSDeleteObjectRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
};

class HOSHeadObjectResult : public HOSResult {
    HOS_PROPERTY(platform::Dictionary, objectMeta, setObjectMeta)
};

class HOSGetObjectResult : public HOSResult {
    HOS_PROPERTY(std::optional<platform::Bytes>, downloadedData, setDownloadedData)
    HOS_PROPERTY(platform::Dictionary, objectMeta, setObjectMeta)
};

class HOSPutObjectResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, eTag, setETag)
    HOS_PROPERTY(HOSOptString, serverReturnJsonString, setServerReturnJsonString)
};

class HOSAppendObjectResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, eTag, setETag)
    HOS_PROPERTY(std::int64_t, xHosNextAppendPosition, setXHosNextAppendPosition)
};

class HOSDeleteObjectResult : public HOSResult {};

}  // namespace pellix
