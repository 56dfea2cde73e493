#include "HOSSDK/HOSOperation.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <strings.h>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSNetworkingRequestDelegate.h"
#include "HOSSDK/HOSObjectMetaFieldNames.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/HOSXMLDictionary.h"
#include "HOSSDK/HOSXMLDictionaryParser.h"
#include "HOSSDK/NSDictionary+HOS.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"
#include "HOSSDK/NSString+HOS.h"

namespace pellix {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

std::string crcText(std::uint64_t crc) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64, crc);
    return text;
}

void setIf(platform::Dictionary& headers, const char* name, const HOSOptString& value) {
    if (value) headers.set(name, *value);
}

// An upload body (data or file) and its progress; data gets its CRC-64 up
// front when the request verifies it.
void collectBody(HOSNetworkingRequestDelegate& state, const std::optional<platform::Bytes>& data,
                 const std::optional<platform::URL>& file, const HOSProgressBlock& progress) {
    if (data) {
        state.setUploadingData(data);
        if (state.crc64Verifiable()) state.setContentCRC(crcText(hos_crc64(*data)));
    }
    if (file) state.setUploadingFileURL(file);
    if (progress) state.setUploadProgress(progress);
}

// A body built here (XML, callback text): sent from memory with its MD5.
void collectBuiltBody(HOSNetworkingRequestDelegate& state, HOSRequestParts& parts, platform::Bytes body) {
    parts.contentMd5 = HOSUtil::base64Md5ForData(body);
    state.setUploadingData(std::move(body));
}

void collectCallbackHeaders(const std::optional<platform::Dictionary>& param,
                            const std::optional<platform::Dictionary>& var, platform::Dictionary& headers) {
    if (param) headers.set("x-hos-callback", base64JsonString(*param));
    if (var) headers.set("x-hos-callback-var", base64JsonString(*var));
}

// The body and the headers put and append share.
void collectUpload(HOSUploadObjectFields& record, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectKey();
    parts.contentType = record.contentType();
    parts.contentMd5 = record.contentMd5();
    parts.contentSHA1 = record.contentSHA1();
    parts.headers = record.objectMeta();
    collectBody(state, record.uploadingData(), record.uploadingFileURL(), record.uploadProgress());
}

// After the metadata, so they replace a same-named metadata entry.
template <class Record>
void collectStandardHeaders(Record& record, platform::Dictionary& headers) {
    setIf(headers, "Content-Disposition", record.contentDisposition());
    setIf(headers, "Content-Encoding", record.contentEncoding());
    setIf(headers, "Expires", record.expires());
    setIf(headers, "Cache-Control", record.cacheControl());
}

template <class Record>
void collectTarget(HOSRequest& record, HOSNetworkingRequestDelegate&, HOSRequestParts& parts) {
    auto& r = static_cast<Record&>(record);
    parts.bucketName = r.bucketName();
    parts.objectKey = r.objectKey();
}

void collectGet(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSGetObjectRequest&>(base);
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectKey();
    // A receive block takes the body: no file is made (nor emptied) then.
    if (!record.onRecieveData()) parts.downloadToFileURL = record.downloadToFileURL();
    if (record.range()) parts.range = record.range()->toHeaderString();
    if (record.downloadProgress()) state.setDownloadProgress(record.downloadProgress());
    if (record.onRecieveData()) state.setOnRecieveData(record.onRecieveData());
    if (record.xHosProcess()) parts.query.set("x-hos-process", *record.xHosProcess());
}

void collectPut(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSPutObjectRequest&>(base);
    collectUpload(record, state, parts);
    collectCallbackHeaders(record.callbackParam(), record.callbackVar(), parts.headers);
    if (record.uploadRetryCallback()) state.setRetryCallback(record.uploadRetryCallback());
    collectStandardHeaders(record, parts.headers);
}

void collectAppend(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSAppendObjectRequest&>(base);
    collectUpload(record, state, parts);
    collectStandardHeaders(record, parts.headers);
    parts.query.set("append", "");
    parts.query.set("position", std::to_string(record.appendPosition()));
}

HOSResultPtr makeHead(const HOSResultSource& source) {
    auto result = std::make_shared<HOSHeadObjectResult>();
    if (source.response) result->setObjectMeta(source.objectMeta());
    return result;
}

HOSResultPtr makeGet(const HOSResultSource& source) {
    auto result = std::make_shared<HOSGetObjectResult>();
    if (source.response) {
        result->setObjectMeta(source.objectMeta());
        if (source.crc64Computed) result->setLocalCRC64ecma(crcText(source.crc64));
    }
    // Moved, not copied: a download to memory may be as large as the object.
    if (source.body && *source.body) {
        result->setDownloadedData(std::move(*source.body));
        source.body->reset();
    }
    return result;
}

HOSResultPtr makePut(const HOSResultSource& source) {
    auto result = std::make_shared<HOSPutObjectResult>();
    result->setETag(source.header("Etag"));
    result->setServerReturnJsonString(source.bodyText());
    return result;
}

HOSResultPtr makeAppend(const HOSResultSource& source) {
    auto result = std::make_shared<HOSAppendObjectResult>();
    result->setETag(source.header("Etag"));
    if (auto next = source.header("x-hos-next-append-position"))
        result->setXHosNextAppendPosition(platform::Value(*next).intValue());
    return result;
}


// --- Multipart ----------------------------------------------------------

// An operation on an open upload cannot go without its id: the same verb on
// the bare object is another operation (a DELETE would remove the object, a
// PUT replace it).
void collectUploadId(const HOSOptString& uploadId, HOSRequestParts& parts) {
    if (uploadId)
        parts.query.set("uploadId", *uploadId);
    else
        parts.invalid = HOSClientError(HOSClientErrorCodeInvalidArgument, HOSErrorMessage::kUploadIdNil);
}

void collectInitMultipart(HOSRequest& base, HOSNetworkingRequestDelegate&, HOSRequestParts& parts) {
    auto& record = static_cast<HOSInitMultipartUploadRequest&>(base);
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectKey();
    parts.contentType = record.contentType();
    parts.headers = record.objectMeta();
    collectStandardHeaders(record, parts.headers);
    if (record.sequential()) parts.query.set("sequential", "");
}

void collectUploadPart(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSUploadPartRequest&>(base);
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectkey();
    parts.contentMd5 = record.contentMd5();
    parts.contentSHA1 = record.contentSHA1();
    parts.query.set("partNumber", std::to_string(record.partNumber()));
    collectUploadId(record.uploadId(), parts);
    collectBody(state, record.uploadPartData(), record.uploadPartFileURL(), record.uploadPartProgress());
}

void collectCompleteMultipart(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSCompleteMultipartUploadRequest&>(base);
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectKey();
    parts.contentMd5 = record.contentMd5();
    parts.contentSHA1 = record.contentSHA1();
    collectUploadId(record.uploadId(), parts);
    collectCallbackHeaders(record.callbackParam(), record.callbackVar(), parts.headers);
    // Last, so the caller's entries replace callback headers of the same name.
    for (const auto& [name, value] : record.completeMetaHeader()) parts.headers.set(name, value);
    if (record.partInfos()) {
        std::vector<std::pair<std::int32_t, std::string>> list;
        for (const auto& info : *record.partInfos())
            if (info) list.emplace_back(info->partNum(), info->eTag().value_or(""));
        state.setUploadingData(HOSUtil::constructHttpBodyFromPartInfos(
            std::span<const std::pair<std::int32_t, std::string>>(list)));
    }
}

template <class Record>
void collectOpenUpload(HOSRequest& base, HOSNetworkingRequestDelegate&, HOSRequestParts& parts) {
    auto& record = static_cast<Record&>(base);
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectKey();
    collectUploadId(record.uploadId(), parts);
}

// The paging fields go out only when set: a listing longer than a page is
// read by following its markers.
void collectListParts(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    collectOpenUpload<HOSListPartsRequest>(base, state, parts);
    auto& record = static_cast<HOSListPartsRequest&>(base);
    if (record.maxParts() > 0) parts.query.set("max-parts", std::to_string(record.maxParts()));
    if (record.partNumberMarker() > 0) parts.query.set("part-number-marker", std::to_string(record.partNumberMarker()));
}

// --- Reading XML replies ------------------------------------------------

// The reply's XML, read by element: "A" is a child of the root element,
// "A/B" the child B inside A. Only what the reply holds is read; an element
// of the wrong kind is recorded on the source as the reply's fault.
class XmlReply {
public:
    explicit XmlReply(const HOSResultSource& source) : source_(source) {
        if (source.body && *source.body) root_ = HOSXMLDictionary::hos_dictionaryWithXMLData(**source.body);
    }
    const std::optional<platform::Dictionary>& root() const { return root_; }

    HOSOptString text(std::string_view path) const {
        const platform::Value* value = find(path);
        return value ? textOf(*value, path) : std::nullopt;
    }
    std::int32_t int32(std::string_view path) const {
        auto t = text(path);
        return t ? static_cast<std::int32_t>(platform::Value(*t).intValue()) : 0;
    }
    bool boolean(std::string_view path) const {
        auto t = text(path);
        return t && platform::Value(*t).boolValue();
    }
    // Repeated entries: a list even when the reply held one.
    std::optional<platform::Array> list(std::string_view path) const {
        const platform::Value* value = find(path);
        if (!value) return std::nullopt;
        if (value->isDictionary()) return platform::Array{*value};
        const auto* items = value->arrayIf();
        if (!items) return wrong(path, "is not an element with children");
        for (const auto& item : *items)
            if (!item.isDictionary()) return wrong(path, "holds an entry that is not an element with children");
        return *items;
    }
    // The "Prefix" text of each entry at the path.
    std::optional<platform::Array> prefixes(std::string_view path) const {
        auto entries = list(path);
        if (!entries) return std::nullopt;
        platform::Array out;
        const std::string prefixPath = std::string(path) + "/Prefix";
        for (const auto& entry : *entries)
            if (const auto* p = entry.get("Prefix"))
                if (auto t = textOf(*p, prefixPath)) out.push_back(*t);
        return out;
    }

private:
    std::nullopt_t wrong(std::string_view path, const char* what) const {
        if (!source_.wrongShape) source_.wrongShape = "element \"" + std::string(path) + "\" " + what;
        return std::nullopt;
    }
    const platform::Value* find(std::string_view path) const {
        if (!root_) return nullptr;
        const platform::Dictionary* node = &*root_;
        const platform::Value* value = nullptr;
        std::size_t from = 0;
        while (true) {
            const auto slash = path.find('/', from);
            value = node->find(path.substr(from, slash == std::string_view::npos ? slash : slash - from));
            if (!value || slash == std::string_view::npos) return value;
            node = value->dictionaryIf();
            if (!node) {
                wrong(path.substr(0, slash), "is not an element with children");
                return nullptr;
            }
            from = slash + 1;
        }
    }
    // Text, or an element that holds only text (and attributes).
    HOSOptString textOf(const platform::Value& value, std::string_view path) const {
        if (const auto* t = value.stringIf()) return *t;
        if (const auto* node = value.dictionaryIf(); node && !HOSXMLDictionary::hos_childNodes(*node)) {
            const auto* t = node->find(HOSXMLDictionaryTextKey);
            return t && t->isString() ? HOSOptString(t->asString()) : std::nullopt;
        }
        return wrong(path, "does not hold text");
    }

    const HOSResultSource& source_;
    std::optional<platform::Dictionary> root_;
};

void logXml(const char* format, const XmlReply& xml) {
    if (xml.root()) HOS_LOG_VERBOSE(format, platform::Value(*xml.root()).description().c_str());
}

HOSResultPtr makeInitMultipart(const HOSResultSource& source) {
    auto result = std::make_shared<HOSInitMultipartUploadResult>();
    XmlReply xml(source);
    result->setUploadId(xml.text("UploadId"));
    logXml("init multipart upload result: %s", xml);
    return result;
}

HOSResultPtr makeUploadPart(const HOSResultSource& source) {
    auto result = std::make_shared<HOSUploadPartResult>();
    result->setETag(source.header("Etag"));
    return result;
}

HOSResultPtr makeCompleteMultipart(const HOSResultSource& source) {
    auto result = std::make_shared<HOSCompleteMultipartUploadResult>();
    if (!source.body || !*source.body) return result;
    // Exactly: a reply with parameters is a callback's answer, not ours.
    if (source.header("Content-Type") == "application/xml") {
        XmlReply xml(source);
        result->setLocation(xml.text("Location"));
        result->setETag(xml.text("ETag"));
        logXml("complete multipart upload result: %s", xml);
    } else {
        result->setServerReturnJsonString(source.bodyText());
    }
    return result;
}

HOSResultPtr makeListParts(const HOSResultSource& source) {
    auto result = std::make_shared<HOSListPartsResult>();
    XmlReply xml(source);
    result->setNextPartNumberMarker(xml.int32("NextPartNumberMarker"));
    result->setMaxParts(xml.int32("MaxParts"));
    result->setIsTruncated(xml.boolean("IsTruncated"));
    result->setParts(xml.list("Part"));
    logXml("list multipart upload result: %s", xml);
    return result;
}

HOSResultPtr makeListUploads(const HOSResultSource& source) {
    auto result = std::make_shared<HOSListMultipartUploadsResult>();
    XmlReply xml(source);
    result->setBucketName(xml.text("Bucket"));
    result->setPrefix(xml.text("Prefix"));
    result->setUploadIdMarker(xml.text("UploadIdMarker"));
    result->setKeyMarker(xml.text("KeyMarker"));
    result->setNextKeyMarker(xml.text("NextKeyMarker"));
    result->setNextUploadIdMarker(xml.text("NextUploadIdMarker"));
    result->setMaxUploads(xml.int32("MaxUploads"));
    result->setDelimiter(xml.text("Delimiter"));
    result->setIsTruncated(xml.boolean("IsTruncated"));
    result->setUploads(xml.list("Upload"));
    result->setCommonPrefixes(xml.prefixes("CommonPrefixes"));
    logXml("List multipart uploads dict: %s", xml);
    return result;
}

// --- Service, buckets, ACLs, batch delete, copy, callback --------------------

template <class Record>
void collectBucket(HOSRequest& record, HOSNetworkingRequestDelegate&, HOSRequestParts& parts) {
    parts.bucketName = static_cast<Record&>(record).bucketName();
}

template <class Record>
void collectListing(HOSRequest& base, HOSNetworkingRequestDelegate&, HOSRequestParts& parts) {
    auto& record = static_cast<Record&>(base);
    if constexpr (requires { record.bucketName(); }) parts.bucketName = record.bucketName();
    for (const auto& [name, value] : record.getQueryDict()) parts.query.set(name, value);
}

template <class Record>
void collectNamedObject(HOSRequest& base, HOSNetworkingRequestDelegate&, HOSRequestParts& parts) {
    auto& record = static_cast<Record&>(base);
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectName();
}

void collectCreateBucket(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSCreateBucketRequest&>(base);
    parts.bucketName = record.bucketName();
    setIf(parts.headers, "x-hos-acl", record.xHosACL());
    if (record.location()) state.setUploadingData(HOSUtil::constructHttpBodyForCreateBucketWithLocation(*record.location()));
}

void collectPutObjectACL(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSPutObjectACLRequest&>(base);
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectKey();
    parts.headers.set("x-hos-object-acl", record.acl().value_or("default"));
    if (record.uploadRetryCallback()) state.setRetryCallback(record.uploadRetryCallback());
}

void collectDeleteMultiple(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSDeleteMultipleObjectsRequest&>(base);
    if (!hos_isNotEmpty(record.bucketName())) {
        parts.invalid = HOSClientError(HOSClientErrorCodeInvalidArgument, HOSErrorMessage::kBucketNameEmpty);
        return;
    }
    if (record.keys().empty()) {
        parts.invalid = HOSClientError(HOSClientErrorCodeInvalidArgument, HOSErrorMessage::kKeysEmpty);
        return;
    }
    parts.bucketName = record.bucketName();
    if (record.encodingType() == "url") parts.query.set("encoding-type", "url");
    collectBuiltBody(state, parts, HOSUtil::constructHttpBodyForDeleteMultipleObjects(record.keys(), record.quiet()));
}

void collectCopy(HOSRequest& base, HOSNetworkingRequestDelegate&, HOSRequestParts& parts) {
    auto& record = static_cast<HOSCopyObjectRequest&>(base);
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectKey();
    parts.contentType = record.contentType();
    parts.contentMd5 = record.contentMd5();
    parts.contentSHA1 = record.contentSHA1();
    parts.headers = record.objectMeta();
    // The source names an object as a path too: dot segments there would
    // copy another object than the one named.
    if (record.sourceCopyFrom() && HOSUtil::hasDotSegment(*record.sourceCopyFrom())) {
        parts.invalid = HOSClientError(HOSClientErrorCodeInvalidArgument, HOSErrorMessage::kObjectKeyInvalid);
        return;
    }
    setIf(parts.headers, "x-hos-copy-source", record.sourceCopyFrom());
}

void collectTriggerCallback(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSCallBackRequest&>(base);
    const char* missing = !hos_isNotEmpty(record.bucketName())   ? HOSErrorMessage::kTriggerBucketNameEmpty
                          : !hos_isNotEmpty(record.objectName()) ? HOSErrorMessage::kTriggerObjectNameEmpty
                                                                 : nullptr;
    if (missing) {
        parts.invalid = platform::Error::make(HOSTaskErrorDomain, HOSClientErrorCodeInvalidArgument,
                                              platform::Dictionary{{HOSErrorMessageKey, missing}});
        return;
    }
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectName();
    auto json = [](const std::optional<platform::Dictionary>& d) {
        return d ? HOSOptString(base64JsonString(*d)) : std::nullopt;
    };
    collectBuiltBody(state, parts,
                     HOSUtil::constructHttpBodyForTriggerCallback(json(record.callbackParam()), json(record.callbackVar())));
}

// The paging fields the service and bucket listings share. NextMarker is
// read for the service listing too: without it a truncated listing could
// not be continued.
template <class Result>
void readPaging(const XmlReply& xml, Result& result) {
    result.setPrefix(xml.text("Prefix"));
    result.setMarker(xml.text("Marker"));
    result.setNextMarker(xml.text("NextMarker"));
    result.setMaxKeys(xml.int32("MaxKeys"));
    result.setIsTruncated(xml.boolean("IsTruncated"));
}

HOSResultPtr makeGetService(const HOSResultSource& source) {
    auto result = std::make_shared<HOSGetServiceResult>();
    XmlReply xml(source);
    result->setOwnerId(xml.text("Owner/ID"));
    result->setOwnerDispName(xml.text("Owner/DisplayName"));
    readPaging(xml, *result);
    result->setBuckets(xml.list("Buckets/Bucket"));
    logXml("Get service dict: %s", xml);
    return result;
}

HOSResultPtr makeCreateBucket(const HOSResultSource& source) {
    auto result = std::make_shared<HOSCreateBucketResult>();
    result->setLocation(source.header("Location"));
    return result;
}

HOSResultPtr makeGetBucket(const HOSResultSource& source) {
    auto result = std::make_shared<HOSGetBucketResult>();
    XmlReply xml(source);
    result->setBucketName(xml.text("Name"));
    readPaging(xml, *result);
    result->setDelimiter(xml.text("Delimiter"));
    result->setContents(xml.list("Contents"));
    result->setCommentPrefixes(xml.prefixes("CommonPrefixes"));
    logXml("Get bucket dict: %s", xml);
    return result;
}

// Bucket and object ACL replies share their shape; only the field differs.
template <class Result, void (Result::*setGrant)(HOSOptString)>
HOSResultPtr makeACL(const HOSResultSource& source) {
    auto result = std::make_shared<Result>();
    XmlReply xml(source);
    ((*result).*setGrant)(xml.text("AccessControlList/Grant"));
    logXml("acl dict: %s", xml);
    return result;
}

HOSResultPtr makeDeleteMultiple(const HOSResultSource& source) {
    auto result = std::make_shared<HOSDeleteMultipleObjectsResult>();
    XmlReply xml(source);
    result->setEncodingType(xml.text("EncodingType"));
    result->setDeletedObjects(xml.list("Deleted"));
    return result;
}

HOSResultPtr makeCopy(const HOSResultSource& source) {
    auto result = std::make_shared<HOSCopyObjectResult>();
    XmlReply xml(source);
    result->setLastModifed(xml.text("LastModified"));
    result->setETag(xml.text("ETag"));
    logXml("copy object dict: %s", xml);
    return result;
}

HOSResultPtr makeTriggerCallback(const HOSResultSource& source) {
    auto result = std::make_shared<HOSCallBackResult>();
    if (!source.body || !*source.body) return result;
    // Exactly these types: anything else is a reply this client cannot read.
    const auto type = source.header("Content-Type");
    if (type == "application/xml") {
        XmlReply xml(source);
        result->setServerReturnXML(xml.root());
        logXml("callback trigger result<xml>: %s", xml);
    } else if (type == "application/json") {
        result->setServerReturnJsonString(source.bodyText());
        HOS_LOG_VERBOSE("callback trigger result<json>: %s", result->serverReturnJsonString()->c_str());
    }
    return result;
}

template <class Result>
HOSResultPtr makeBare(const HOSResultSource&) {
    return std::make_shared<Result>();
}

constexpr std::array kOperations{
    // type, name, verb, target, CRC rule, bare sub-resource, request, result
    HOSOperation{HOSOperationTypeGetService, "GetService", "GET", HOSTarget::Service, HOSCrcRule::None, nullptr,
                 collectListing<HOSGetServiceRequest>, makeGetService},
    HOSOperation{HOSOperationTypeCreateBucket, "CreateBucket", "PUT", HOSTarget::Bucket, HOSCrcRule::None, nullptr,
                 collectCreateBucket, makeCreateBucket},
    HOSOperation{HOSOperationTypeDeleteBucket, "DeleteBucket", "DELETE", HOSTarget::Bucket, HOSCrcRule::None, nullptr,
                 collectBucket<HOSDeleteBucketRequest>, makeBare<HOSDeleteBucketResult>},
    HOSOperation{HOSOperationTypeGetBucket, "GetBucket", "GET", HOSTarget::Bucket, HOSCrcRule::None, nullptr,
                 collectListing<HOSGetBucketRequest>, makeGetBucket},
    HOSOperation{HOSOperationTypeGetBucketACL, "GetBucketACL", "GET", HOSTarget::Bucket, HOSCrcRule::None, "acl",
                 collectBucket<HOSGetBucketACLRequest>, makeACL<HOSGetBucketACLResult, &HOSGetBucketACLResult::setAclGranted>},
    HOSOperation{HOSOperationTypeHeadObject, "HeadObject", "HEAD", HOSTarget::Object, HOSCrcRule::None, nullptr,
                 collectTarget<HOSHeadObjectRequest>, makeHead},
    HOSOperation{HOSOperationTypeGetObject, "GetObject", "GET", HOSTarget::Object, HOSCrcRule::Verify, nullptr,
                 collectGet, makeGet},
    HOSOperation{HOSOperationTypeGetObjectACL, "GetObjectACL", "GET", HOSTarget::Object, HOSCrcRule::None, "acl",
                 collectNamedObject<HOSGetObjectACLRequest>,
                 makeACL<HOSGetObjectACLResult, &HOSGetObjectACLResult::setGrant>},
    HOSOperation{HOSOperationTypePutObject, "PutObject", "PUT", HOSTarget::Object, HOSCrcRule::Verify, nullptr,
                 collectPut, makePut},
    HOSOperation{HOSOperationTypePutObjectACL, "PutObjectACL", "PUT", HOSTarget::Object, HOSCrcRule::None, "acl",
                 collectPutObjectACL, makeBare<HOSPutObjectACLResult>},
    HOSOperation{HOSOperationTypeAppendObject, "AppendObject", "POST", HOSTarget::Object, HOSCrcRule::Verify, nullptr,
                 collectAppend, makeAppend},
    HOSOperation{HOSOperationTypeDeleteObject, "DeleteObject", "DELETE", HOSTarget::Object, HOSCrcRule::None, nullptr,
                 collectTarget<HOSDeleteObjectRequest>, makeBare<HOSDeleteObjectResult>},
    HOSOperation{HOSOperationTypeDeleteMultipleObjects, "DeleteMultipleObjects", "POST", HOSTarget::Bucket,
                 HOSCrcRule::None, "delete", collectDeleteMultiple, makeDeleteMultiple},
    HOSOperation{HOSOperationTypeCopyObject, "CopyObject", "PUT", HOSTarget::Object, HOSCrcRule::None, nullptr,
                 collectCopy, makeCopy},
    HOSOperation{HOSOperationTypeInitMultipartUpload, "InitMultipartUpload", "POST", HOSTarget::Object,
                 HOSCrcRule::None, "uploads", collectInitMultipart, makeInitMultipart},
    HOSOperation{HOSOperationTypeUploadPart, "UploadPart", "PUT", HOSTarget::Object, HOSCrcRule::Verify, nullptr,
                 collectUploadPart, makeUploadPart},
    HOSOperation{HOSOperationTypeCompleteMultipartUpload, "CompleteMultipartUpload", "POST", HOSTarget::Object,
                 HOSCrcRule::ParserOnly, nullptr, collectCompleteMultipart, makeCompleteMultipart},
    HOSOperation{HOSOperationTypeAbortMultipartUpload, "AbortMultipartUpload", "DELETE", HOSTarget::Object,
                 HOSCrcRule::None, nullptr, collectOpenUpload<HOSAbortMultipartUploadRequest>,
                 makeBare<HOSAbortMultipartUploadResult>},
    HOSOperation{HOSOperationTypeListParts, "ListParts", "GET", HOSTarget::Object, HOSCrcRule::None, nullptr,
                 collectListParts, makeListParts},
    HOSOperation{HOSOperationTypeListMultipartUploads, "ListMultipartUploads", "GET", HOSTarget::Bucket,
                 HOSCrcRule::None, "uploads", collectListing<HOSListMultipartUploadsRequest>, makeListUploads},
    HOSOperation{HOSOperationTypeTriggerCallBack, "TriggerCallBack", "POST", HOSTarget::Object, HOSCrcRule::None,
                 "x-hos-process", collectTriggerCallback, makeTriggerCallback},
};

}  // namespace

HOSOptString HOSResultSource::header(std::string_view name) const {
    if (!response) return std::nullopt;
    return response->valueForHTTPHeaderField(name);
}

platform::Dictionary HOSResultSource::objectMeta() const {
    platform::Dictionary meta;
    if (!response) return meta;
    for (const auto& field : response->allHeaderFields()) {
        const auto& name = field.first;
        const auto& value = field.second;
        const bool listed = std::any_of(HOSObjectMetaFieldNames.begin(), HOSObjectMetaFieldNames.end(),
                                        [&](const char* known) { return ::strcasecmp(known, name.c_str()) == 0; });
        if (listed || startsWithNoCase(name, "x-hos-meta")) meta.set(name, value);
    }
    return meta;
}

HOSOptString HOSResultSource::bodyText() const {
    if (!body || !*body) return std::nullopt;
    return std::string((*body)->begin(), (*body)->end());
}

const HOSOperation* hosOperation(std::int64_t type) {
    for (const auto& operation : kOperations)
        if (operation.type == type) return &operation;
    return nullptr;
}

}  // namespace pellix
