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

namespace {
void addText(platform::Dictionary& query, const char* name, const HOSOptString& value) {
    if (value) query.set(name, *value);
}
void addCount(platform::Dictionary& query, const char* name, std::int32_t value) {
    if (value != 0) query.set(name, std::to_string(value));
}
}  // namespace

platform::Dictionary HOSGetServiceRequest::getQueryDict() const {
    platform::Dictionary query;
    addText(query, "prefix", prefix_);
    addText(query, "marker", marker_);
    addCount(query, "max-keys", maxKeys_);
    return query;
}

platform::Dictionary HOSGetBucketRequest::getQueryDict() const {
    platform::Dictionary query;
    addText(query, "delimiter", delimiter_);
    addText(query, "prefix", prefix_);
    addText(query, "marker", marker_);
    addCount(query, "max-keys", maxKeys_);
    return query;
}

platform::Dictionary HOSListMultipartUploadsRequest::getQueryDict() const {
    platform::Dictionary query;
    addText(query, "delimiter", delimiter_);
    addText(query, "prefix", prefix_);
    addText(query, "key-marker", keyMarker_);
    addCount(query, "max-uploads", maxUploads_);
    addText(query, "upload-id-marker", uploadIdMarker_);
    addText(query, "encoding-type", encodingType_);
    return query;
}

std::string HOSGetObjectACLResult::description() const {
    char head[96];
    std::snprintf(head, sizeof head, "<HOSGetObjectACLResult: %p>: {\n\tcode: %" PRId64 ";\n\tgrant:",
                  static_cast<const void*>(this), httpResponseCode());
    return head + (grant_ ? *grant_ : "(null)") + " \n}";
}

platform::Dictionary HOSPartInfo::entityToDictionary() const {
    platform::Dictionary dict;
    dict.set("partNum", static_cast<int>(partNum_));
    if (eTag_) dict.set("eTag", *eTag_);
    dict.set("size", static_cast<long long>(size_));
    dict.set("crc64", static_cast<unsigned long long>(crc64_));
    return dict;
}

std::string HOSPartInfo::description() const {
    char text[128];
    std::snprintf(text, sizeof text, "HOSPartInfo<%p>:{partNum: %d,eTag: ", static_cast<const void*>(this),
                  partNum_);
    char tail[96];
    std::snprintf(tail, sizeof tail, ",partSize: %" PRId64 ",crc64: %" PRIu64 "}", size_, crc64_);
    return text + (eTag_ ? *eTag_ : "(null)") + tail;
}

std::shared_ptr<HOSRequest> HOSResumableUploadRequest::runningChildrenRequest() const {
    std::lock_guard<std::mutex> guard(childLock_);
    return child_.lock();
}

void HOSResumableUploadRequest::setRunningChildrenRequest(const std::shared_ptr<HOSRequest>& child) {
    std::lock_guard<std::mutex> guard(childLock_);
    child_ = child;
}

void HOSResumableUploadRequest::cancel() {
    HOSRequest::cancel();
    if (auto child = runningChildrenRequest()) child->cancel();
}

}  // namespace pellix
