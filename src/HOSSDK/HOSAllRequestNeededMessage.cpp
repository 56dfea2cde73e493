#include "HOSSDK/HOSAllRequestNeededMessage.h"

#include <cstdio>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSUtil.h"

namespace pellix {

HOSAllRequestNeededMessage::HOSAllRequestNeededMessage(HOSOptString endpoint, HOSOptString httpMethod,
                                                       HOSOptString bucketName, HOSOptString objectKey,
                                                       HOSOptString contentType, HOSOptString contentMd5,
                                                       HOSOptString range, HOSOptString date,
                                                       platform::Dictionary headerParams, platform::Dictionary querys,
                                                       HOSOptString contentSHA1)
    : endpoint_(std::move(endpoint)),
      httpMethod_(std::move(httpMethod)),
      bucketName_(std::move(bucketName)),
      objectKey_(std::move(objectKey)),
      contentType_(std::move(contentType)),
      contentMd5_(std::move(contentMd5)),
      range_(std::move(range)),
      date_(std::move(date)),
      headerParams_(std::move(headerParams)),
      querys_(std::move(querys)),
      contentSHA1_(std::move(contentSHA1)) {}

HOSTaskPtr HOSAllRequestNeededMessage::validateRequestParamsInOperationType(std::int64_t operType) const {
    const char* message = nullptr;
    if (!endpoint_) message = HOSErrorMessage::kEndpointNil;
    if (!bucketName_ && operType != 0) message = HOSErrorMessage::kBucketNameNil;
    if (bucketName_ && !HOSUtil::validateBucketName(bucketName_)) message = HOSErrorMessage::kBucketNameInvalid;
    const bool keyless = operType == 0 || operType == 1 || operType == 2 || operType == 3 || operType == 4 ||
                         operType == 12 || operType == 19;
    if (!objectKey_ && !keyless) message = HOSErrorMessage::kObjectKeyNil;
    if (objectKey_ && !HOSUtil::validateObjectKey(objectKey_)) message = HOSErrorMessage::kObjectKeyInvalid;
    if (message) return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeInvalidArgument, message));
    return HOSTask::taskWithResult(std::any());
}

namespace {
std::string text(const HOSOptString& s) { return s ? *s : "(null)"; }

bool isSecretHeader(const std::string& name) {
    auto lower = name;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "authorization" || lower == "x-hos-security-token";
}
}  // namespace

std::string hosDescribeHeadersMasked(const platform::Dictionary& headers) {
    std::string out = "{";
    bool first = true;
    for (const auto& [name, value] : headers) {
        out += first ? "" : ", ";
        first = false;
        out += name + ": " + (isSecretHeader(name) ? std::string("<hidden>") : value.description());
    }
    return out + "}";
}

std::string HOSAllRequestNeededMessage::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("<HOSAllRequestNeededMessage: ") + address + ">{endpoint: " + text(endpoint_) +
           "\nhttpMethod: " + text(httpMethod_) + "\nbucketName: " + text(bucketName_) +
           "\nobjectKey: " + text(objectKey_) + "\ncontentType: " + text(contentType_) +
           "\ncontentMd5: " + text(contentMd5_) + "\nrange: " + text(range_) + "\ndate: " + text(date_) +
           "\nheaderParams: " + hosDescribeHeadersMasked(headerParams_) +
           "\nquerys: " + platform::Value(querys_).description() + "\ncontentSHA1: " + text(contentSHA1_) +
           "\nisHostInCnameExcludeList: " + (isHostInCnameExcludeList_ ? "1" : "0") + "\n}";
}

}  // namespace pellix
