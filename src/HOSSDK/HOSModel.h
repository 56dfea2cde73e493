// The storage client's request and result records, one pair per operation
// (service, buckets, objects, multipart, callback), the byte range, the part
// descriptor and the result base. Plain data holders: the operation
// descriptors (HOSOperation.h) say how each field is sent and how each result
// field is read. A result field the reply did not hold stays unset (nullopt,
// 0 or false); a list field is a list even when the reply held one entry.
//
// A record is filled on one thread before it is handed to an operation;
// afterwards only cancellation (HOSRequest) may touch it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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

// --- Service and buckets ------------------------------------------------

class HOSGetServiceRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, prefix, setPrefix)
    HOS_PROPERTY(HOSOptString, marker, setMarker)
    HOS_PROPERTY(std::int32_t, maxKeys, setMaxKeys)
public:
    // "prefix", "marker", "max-keys", each when set (a count when not 0).
    platform::Dictionary getQueryDict() const;
};

class HOSCreateBucketRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, location, setLocation)
    HOS_PROPERTY(HOSOptString, xHosACL, setXHosACL)
};

class HOSDeleteBucketRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
};

class HOSGetBucketRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, delimiter, setDelimiter)
    HOS_PROPERTY(HOSOptString, marker, setMarker)
    HOS_PROPERTY(std::int32_t, maxKeys, setMaxKeys)
    HOS_PROPERTY(HOSOptString, prefix, setPrefix)
public:
    // "delimiter", "prefix", "marker", "max-keys", each when set.
    platform::Dictionary getQueryDict() const;
};

class HOSGetBucketACLRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
};

class HOSListMultipartUploadsRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, delimiter, setDelimiter)
    HOS_PROPERTY(HOSOptString, prefix, setPrefix)
    HOS_PROPERTY(std::int32_t, maxUploads, setMaxUploads)
    HOS_PROPERTY(HOSOptString, keyMarker, setKeyMarker)
    HOS_PROPERTY(HOSOptString, uploadIdMarker, setUploadIdMarker)
    HOS_PROPERTY(HOSOptString, encodingType, setEncodingType)
public:
    // "delimiter", "prefix", "key-marker", "max-uploads", "upload-id-marker",
    // "encoding-type", each when set.
    platform::Dictionary getQueryDict() const;
};

class HOSGetServiceResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, ownerId, setOwnerId)
    HOS_PROPERTY(HOSOptString, ownerDispName, setOwnerDispName)
    HOS_PROPERTY(HOSOptString, prefix, setPrefix)
    HOS_PROPERTY(HOSOptString, marker, setMarker)
    HOS_PROPERTY(HOSOptString, nextMarker, setNextMarker)
    HOS_PROPERTY(std::int32_t, maxKeys, setMaxKeys)
    HOS_PROPERTY(bool, isTruncated, setIsTruncated)
    HOS_PROPERTY(std::optional<platform::Array>, buckets, setBuckets)
};

class HOSCreateBucketResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, location, setLocation)
};

class HOSDeleteBucketResult : public HOSResult {};

class HOSGetBucketResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, prefix, setPrefix)
    HOS_PROPERTY(HOSOptString, marker, setMarker)
    HOS_PROPERTY(HOSOptString, delimiter, setDelimiter)
    HOS_PROPERTY(HOSOptString, nextMarker, setNextMarker)
    HOS_PROPERTY(std::int32_t, maxKeys, setMaxKeys)
    HOS_PROPERTY(bool, isTruncated, setIsTruncated)
    HOS_PROPERTY(std::optional<platform::Array>, contents, setContents)
    // Spelled so: the name callers know.
    HOS_PROPERTY(std::optional<platform::Array>, commentPrefixes, setCommentPrefixes)
};

class HOSGetBucketACLResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, aclGranted, setAclGranted)
};

class HOSListMultipartUploadsResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, keyMarker, setKeyMarker)
    HOS_PROPERTY(HOSOptString, delimiter, setDelimiter)
    HOS_PROPERTY(HOSOptString, prefix, setPrefix)
    HOS_PROPERTY(HOSOptString, uploadIdMarker, setUploadIdMarker)
    HOS_PROPERTY(HOSOptString, nextKeyMarker, setNextKeyMarker)
    HOS_PROPERTY(HOSOptString, nextUploadIdMarker, setNextUploadIdMarker)
    HOS_PROPERTY(std::int32_t, maxUploads, setMaxUploads)
    HOS_PROPERTY(bool, isTruncated, setIsTruncated)
    HOS_PROPERTY(std::optional<platform::Array>, uploads, setUploads)
    HOS_PROPERTY(std::optional<platform::Array>, commonPrefixes, setCommonPrefixes)
};

// --- Objects: ACLs, batch delete, copy, callback ---------------------------

class HOSPutObjectACLRequest : public HOSPutObjectRequest {
    HOS_PROPERTY(HOSOptString, acl, setAcl)
};

class HOSDeleteMultipleObjectsRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(std::vector<std::string>, keys, setKeys)
    HOS_PROPERTY(HOSOptString, encodingType, setEncodingType)
    HOS_PROPERTY(bool, quiet, setQuiet)
public:
    HOSDeleteMultipleObjectsRequest() { quiet_ = true; }
};

class HOSCopyObjectRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
    HOS_PROPERTY(HOSOptString, sourceCopyFrom, setSourceCopyFrom)
    HOS_PROPERTY(HOSOptString, contentType, setContentType)
    HOS_PROPERTY(HOSOptString, contentMd5, setContentMd5)
    HOS_PROPERTY(HOSOptString, contentSHA1, setContentSHA1)
    HOS_PROPERTY(platform::Dictionary, objectMeta, setObjectMeta)
};

class HOSGetObjectACLRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectName, setObjectName)
};

class HOSCallBackRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectName, setObjectName)
    HOS_PROPERTY(std::optional<platform::Dictionary>, callbackParam, setCallbackParam)
    HOS_PROPERTY(std::optional<platform::Dictionary>, callbackVar, setCallbackVar)
};

class HOSPutObjectACLResult : public HOSResult {};

class HOSDeleteMultipleObjectsResult : public HOSResult {
    HOS_PROPERTY(std::optional<platform::Array>, deletedObjects, setDeletedObjects)
    HOS_PROPERTY(HOSOptString, encodingType, setEncodingType)
};

class HOSCopyObjectResult : public HOSResult {
    // Spelled so: the name callers know.
    HOS_PROPERTY(HOSOptString, lastModifed, setLastModifed)
    HOS_PROPERTY(HOSOptString, eTag, setETag)
};

class HOSGetObjectACLResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, grant, setGrant)
public:
    std::string description() const override;
};

class HOSCallBackResult : public HOSResult {
    HOS_PROPERTY(std::optional<platform::Dictionary>, serverReturnXML, setServerReturnXML)
    HOS_PROPERTY(HOSOptString, serverReturnJsonString, setServerReturnJsonString)
};

// --- Multipart ------------------------------------------------------------

// One uploaded part of a multipart upload.
class HOSPartInfo {
public:
    HOSPartInfo() = default;
    HOSPartInfo(std::int32_t partNum, HOSOptString eTag, std::int64_t size, std::uint64_t crc64 = 0)
        : partNum_(partNum), eTag_(std::move(eTag)), size_(size), crc64_(crc64) {}
    static std::shared_ptr<HOSPartInfo> partInfoWithPartNum(std::int32_t partNum, HOSOptString eTag,
                                                            std::int64_t size, std::uint64_t crc64 = 0) {
        return std::make_shared<HOSPartInfo>(partNum, std::move(eTag), size, crc64);
    }
    HOS_PROPERTY(std::int32_t, partNum, setPartNum)
    HOS_PROPERTY(HOSOptString, eTag, setETag)
    HOS_PROPERTY(std::int64_t, size, setSize)
    HOS_PROPERTY(std::uint64_t, crc64, setCrc64)
public:
    // "partNum", "eTag" (only when set), "size", "crc64" (unsigned).
    platform::Dictionary entityToDictionary() const;
    std::string description() const;
    std::shared_ptr<HOSPartInfo> copy() const { return std::make_shared<HOSPartInfo>(*this); }
};

using HOSPartInfoPtr = std::shared_ptr<HOSPartInfo>;

class HOSInitMultipartUploadRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
    HOS_PROPERTY(HOSOptString, contentType, setContentType)
    HOS_PROPERTY(HOSOptString, contentDisposition, setContentDisposition)
    HOS_PROPERTY(HOSOptString, contentEncoding, setContentEncoding)
    HOS_PROPERTY(HOSOptString, cacheControl, setCacheControl)
    HOS_PROPERTY(HOSOptString, expires, setExpires)
    HOS_PROPERTY(platform::Dictionary, objectMeta, setObjectMeta)
    HOS_PROPERTY(bool, sequential, setSequential)
};

class HOSUploadPartRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    // Spelled so: the name callers know.
    HOS_PROPERTY(HOSOptString, objectkey, setObjectkey)
    HOS_PROPERTY(HOSOptString, uploadId, setUploadId)
    HOS_PROPERTY(std::int32_t, partNumber, setPartNumber)
    HOS_PROPERTY(HOSOptString, contentMd5, setContentMd5)
    HOS_PROPERTY(std::optional<platform::Bytes>, uploadPartData, setUploadPartData)
    HOS_PROPERTY(std::optional<platform::URL>, uploadPartFileURL, setUploadPartFileURL)
    HOS_PROPERTY(HOSProgressBlock, uploadPartProgress, setUploadPartProgress)
    HOS_PROPERTY(HOSOptString, contentSHA1, setContentSHA1)
};

class HOSCompleteMultipartUploadRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
    HOS_PROPERTY(HOSOptString, uploadId, setUploadId)
    HOS_PROPERTY(HOSOptString, contentMd5, setContentMd5)
    HOS_PROPERTY(std::optional<std::vector<HOSPartInfoPtr>>, partInfos, setPartInfos)
    HOS_PROPERTY(std::optional<platform::Dictionary>, callbackParam, setCallbackParam)
    HOS_PROPERTY(std::optional<platform::Dictionary>, callbackVar, setCallbackVar)
    HOS_PROPERTY(platform::Dictionary, completeMetaHeader, setCompleteMetaHeader)
    HOS_PROPERTY(HOSOptString, contentSHA1, setContentSHA1)
};

// The three records that name one open upload.
class HOSUploadIdFields : public HOSRequest {
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
    HOS_PROPERTY(HOSOptString, uploadId, setUploadId)
};

class HOSAbortMultipartUploadRequest : public HOSUploadIdFields {};

class HOSListPartsRequest : public HOSUploadIdFields {
    // Sent when above 0 ("max-parts", "part-number-marker"): the page size
    // and the part number after which the page starts.
    HOS_PROPERTY(std::int32_t, maxParts, setMaxParts)
    HOS_PROPERTY(std::int32_t, partNumberMarker, setPartNumberMarker)
};

class HOSMultipartUploadRequest : public HOSRequest {
    HOS_PROPERTY(HOSOptString, uploadId, setUploadId)
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
    HOS_PROPERTY(std::optional<platform::URL>, uploadingFileURL, setUploadingFileURL)
    HOS_PROPERTY(std::uint64_t, partSize, setPartSize)
    HOS_PROPERTY(HOSProgressBlock, uploadProgress, setUploadProgress)
    HOS_PROPERTY(std::optional<platform::Dictionary>, callbackParam, setCallbackParam)
    HOS_PROPERTY(std::optional<platform::Dictionary>, callbackVar, setCallbackVar)
    HOS_PROPERTY(HOSOptString, contentType, setContentType)
    HOS_PROPERTY(platform::Dictionary, completeMetaHeader, setCompleteMetaHeader)
    HOS_PROPERTY(HOSOptString, contentSHA1, setContentSHA1)
    HOS_PROPERTY(HOSOptString, md5String, setMd5String)
public:
    static constexpr std::uint64_t kDefaultPartSize = 262144;
    HOSMultipartUploadRequest() { partSize_ = kDefaultPartSize; }
};

class HOSResumableUploadRequest : public HOSMultipartUploadRequest {
    HOS_PROPERTY(HOSOptString, recordDirectoryPath, setRecordDirectoryPath)
    HOS_PROPERTY(bool, deleteUploadIdOnCancelling, setDeleteUploadIdOnCancelling)
public:
    HOSResumableUploadRequest() { deleteUploadIdOnCancelling_ = true; }
    // Weak: a child that went away is not kept alive, nor cancelled.
    std::shared_ptr<HOSRequest> runningChildrenRequest() const;
    void setRunningChildrenRequest(const std::shared_ptr<HOSRequest>& child);
    // Cancels this record, then the child request still running.
    void cancel() override;

private:
    // Guarded by its own lock: cancel() may read it from any thread while the
    // engine swaps children.
    mutable std::mutex childLock_;
    std::weak_ptr<HOSRequest> child_;
};

class HOSInitMultipartUploadResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, uploadId, setUploadId)
};

class HOSUploadPartResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, eTag, setETag)
};

class HOSCompleteMultipartUploadResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, location, setLocation)
    HOS_PROPERTY(HOSOptString, eTag, setETag)
    HOS_PROPERTY(HOSOptString, serverReturnJsonString, setServerReturnJsonString)
};

class HOSAbortMultipartUploadResult : public HOSResult {};

class HOSListPartsResult : public HOSResult {
    HOS_PROPERTY(std::int32_t, nextPartNumberMarker, setNextPartNumberMarker)
    HOS_PROPERTY(std::int32_t, maxParts, setMaxParts)
    HOS_PROPERTY(bool, isTruncated, setIsTruncated)
    HOS_PROPERTY(std::optional<platform::Array>, parts, setParts)
};

class HOSResumableUploadResult : public HOSResult {
    HOS_PROPERTY(HOSOptString, serverReturnJsonString, setServerReturnJsonString)
};

}  // namespace pellix
