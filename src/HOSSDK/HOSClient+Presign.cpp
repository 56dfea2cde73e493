#include <charconv>
#include <cmath>

#include "HOSSDK/HOSClient.h"
#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDate+HOS.h"

namespace pellix {

namespace {

// "scheme://host[:port]" of the endpoint, the bucket in front of a service
// origin host. The port is kept: an endpoint on a non-default port would
// otherwise hand out URLs that reach nothing.
std::string objectOrigin(const std::string& endpoint, const std::string& bucketName) {
    const auto url = platform::URL::parse(endpoint);
    if (!url) return "://";
    std::string host = url->hostForURL();
    if (HOSUtil::isHosOriginBucketHost(url->host())) host = bucketName + "." + host;
    std::string text = url->scheme() + "://" + host;
    if (url->port()) text += ":" + std::to_string(*url->port());
    return text;
}

// The shortest decimal text that reads back as the same number, never in
// exponent form (the service compares it with its clock as a number).
std::string expiresText(double expires) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, expires, std::chars_format::fixed);
    return std::string(buffer, r.ptr);
}

// A URL holding "." or ".." segments is resolved by whatever client opens
// it, and would then name another object.
HOSTaskPtr invalidKey() {
    return HOSTask::taskWithError(
        HOSClientError(HOSClientErrorCodeInvalidArgument, HOSErrorMessage::kObjectKeyInvalid));
}

}  // namespace

HOSTaskPtr HOSClient::presignConstrainURLWithBucketName(const std::string& bucketName, const std::string& objectKey,
                                                        double expirationInterval,
                                                        const platform::Dictionary& parameters) {
    if (HOSUtil::hasDotSegment(objectKey)) return invalidKey();
    return HOSTask::taskWithResult(std::any())->continueWithBlock([=, state = state_](const HOSTaskPtr&) -> std::any {
        std::string resource = "/" + bucketName + "/" + objectKey;
        const std::string expires = expiresText(std::trunc(hos_clockSkewFixedDate()) + expirationInterval);
        platform::Dictionary params = parameters;

        HOSFederationTokenPtr token;
        if (auto federation = std::dynamic_pointer_cast<HOSFederationCredentialProvider>(state->credentialProvider)) {
            platform::ErrorPtr error;
            token = federation->getToken(&error);
            if (!token) return HOSTask::taskWithError(error ? error : HOSClientError(HOSClientErrorCodeSignFailed));
        } else if (auto sts = std::dynamic_pointer_cast<HOSStsTokenCredentialProvider>(state->credentialProvider)) {
            token = sts->getToken();
        }

        std::string authorization;
        if (token) {
            if (token->tToken()) {
                HOSLog::rememberSecret(*token->tToken());
                params.set("security-token", *token->tToken());
            }
            resource += "?" + HOSUtil::populateSubresourceStringFromParameter(params);
            authorization = HOSUtil::sign("GET\n\n\n" + expires + "\n" + resource, *token);
        } else {
            const std::string subresource = HOSUtil::populateSubresourceStringFromParameter(params);
            if (!subresource.empty()) resource += "?" + subresource;
            if (!state->credentialProvider)
                return HOSTask::taskWithError(
                    HOSClientError(HOSClientErrorCodeSignFailed, HOSErrorMessage::kNullKeyPair));
            platform::ErrorPtr error;
            auto signature = state->credentialProvider->sign("GET\n\n\n" + expires + "\n" + resource, &error);
            if (!signature)
                return HOSTask::taskWithError(error ? error : HOSClientError(HOSClientErrorCodeSignFailed));
            authorization = *signature;
        }

        const auto colon = authorization.find(':');
        if (colon == std::string::npos || authorization.find(':', colon + 1) != std::string::npos ||
            authorization.compare(0, 4, "HOS ") != 0)
            return HOSTask::taskWithError(
                HOSClientError(HOSClientErrorCodeSignFailed, HOSErrorMessage::kInvalidSignature));
        params.set("Signature", authorization.substr(colon + 1));
        params.set("HOSAccessKeyId", authorization.substr(4, colon - 4));
        params.set("Expires", expires);
        return objectOrigin(state->endpoint, bucketName) + "/" + HOSUtil::encodeURL(objectKey) + "?" +
               HOSUtil::populateQueryStringFromParameter(params);
    });
}

HOSTaskPtr HOSClient::presignPublicURLWithBucketName(const std::string& bucketName, const std::string& objectKey,
                                                     const platform::Dictionary& parameters) {
    if (HOSUtil::hasDotSegment(objectKey)) return invalidKey();
    return HOSTask::taskWithResult(std::any())->continueWithBlock([=, state = state_](const HOSTaskPtr&) -> std::any {
        std::string url = objectOrigin(state->endpoint, bucketName) + "/" + HOSUtil::encodeURL(objectKey);
        if (!parameters.empty()) url += "?" + HOSUtil::populateQueryStringFromParameter(parameters);
        return url;
    });
}

}  // namespace pellix
