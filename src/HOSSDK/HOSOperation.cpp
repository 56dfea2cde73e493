#include "HOSSDK/HOSOperation.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <strings.h>

#include "HOSSDK/HOSNetworkingRequestDelegate.h"
#include "HOSSDK/NSDictionary+HOS.h"
#include "HOSSDK/NSMutableData+HOS_CRC.h"

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

// The body and the headers put and append share.
void collectUpload(HOSUploadObjectFields& record, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    parts.bucketName = record.bucketName();
    parts.objectKey = record.objectKey();
    parts.contentType = record.contentType();
    parts.contentMd5 = record.contentMd5();
    parts.contentSHA1 = record.contentSHA1();
    parts.headers = record.objectMeta();
    if (record.uploadingData()) {
        state.setUploadingData(record.uploadingData());
        if (state.crc64Verifiable()) state.setContentCRC(crcText(hos_crc64(*record.uploadingData())));
    }
    if (record.uploadingFileURL()) state.setUploadingFileURL(record.uploadingFileURL());
    if (record.uploadProgress()) state.setUploadProgress(record.uploadProgress());
}

void collectStandardHeaders(HOSUploadObjectFields& record, platform::Dictionary& headers) {
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
    parts.downloadToFileURL = record.downloadToFileURL();
    if (record.range()) parts.range = record.range()->toHeaderString();
    if (record.downloadProgress()) state.setDownloadProgress(record.downloadProgress());
    if (record.onRecieveData()) state.setOnRecieveData(record.onRecieveData());
    if (record.xHosProcess()) parts.query.set("x-hos-process", *record.xHosProcess());
}

void collectPut(HOSRequest& base, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts) {
    auto& record = static_cast<HOSPutObjectRequest&>(base);
    collectUpload(record, state, parts);
    if (record.callbackParam()) parts.headers.set("x-hos-callback", base64JsonString(*record.callbackParam()));
    if (record.callbackVar()) parts.headers.set("x-hos-callback-var", base64JsonString(*record.callbackVar()));
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
        if (source.crc64 != 0) result->setLocalCRC64ecma(crcText(source.crc64));
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
    if (source.body && *source.body)
        result->setServerReturnJsonString(std::string((*source.body)->begin(), (*source.body)->end()));
    return result;
}

HOSResultPtr makeAppend(const HOSResultSource& source) {
    auto result = std::make_shared<HOSAppendObjectResult>();
    result->setETag(source.header("Etag"));
    if (auto next = source.header("x-hos-next-append-position"))
        result->setXHosNextAppendPosition(platform::Value(*next).intValue());
    return result;
}

HOSResultPtr makeDelete(const HOSResultSource&) { return std::make_shared<HOSDeleteObjectResult>(); }

constexpr std::array kOperations{
    HOSOperation{HOSOperationTypeHeadObject, "HeadObject", "HEAD", HOSTarget::Object, HOSCrcRule::None,
                 collectTarget<HOSHeadObjectRequest>, makeHead},
    HOSOperation{HOSOperationTypeGetObject, "GetObject", "GET", HOSTarget::Object, HOSCrcRule::Verify, collectGet,
                 makeGet},
    HOSOperation{HOSOperationTypePutObject, "PutObject", "PUT", HOSTarget::Object, HOSCrcRule::Verify, collectPut,
                 makePut},
    HOSOperation{HOSOperationTypeAppendObject, "AppendObject", "POST", HOSTarget::Object, HOSCrcRule::Verify,
                 collectAppend, makeAppend},
    HOSOperation{HOSOperationTypeDeleteObject, "DeleteObject", "DELETE", HOSTarget::Object, HOSCrcRule::None,
                 collectTarget<HOSDeleteObjectRequest>, makeDelete},
};

constexpr std::array<const char*, 10> kObjectMetaFieldNames{
    "Content-Type", "Content-Length", "Etag",     "Last-Modified", "x-hos-request-id",
    "x-hos-object-type", "If-Modified-Since", "If-Unmodified-Since", "If-Match", "If-None-Match"};

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
        const bool listed = std::any_of(kObjectMetaFieldNames.begin(), kObjectMetaFieldNames.end(),
                                        [&](const char* known) { return ::strcasecmp(known, name.c_str()) == 0; });
        if (listed || startsWithNoCase(name, "x-hos-meta")) meta.set(name, value);
    }
    return meta;
}

const HOSOperation* hosOperation(std::int64_t type) {
    for (const auto& operation : kOperations)
        if (operation.type == type) return &operation;
    return nullptr;
}

}  // namespace pellix
