#include "HOSSDK/HOSRequestInterceptor.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDate+HOS.h"
#include "HOSSDK/NSString+HOS.h"
#include "platform/Device.h"

namespace pellix {

namespace {

constexpr std::array<std::string_view, 16> HOSSubResourceARRAY{
    "acl",      "uploadId", "partNumber", "uploads", "logging", "website",        "location",      "lifecycle",
    "referer",  "cors",     "delete",     "append",  "position", "security-token", "x-hos-process", "sequential"};

std::string valueText(const platform::Value& v) { return v.isString() ? v.asString() : v.description(); }

std::vector<std::string> sortedKeys(const platform::Dictionary& d) {
    auto keys = d.keys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::string localeIdentifier() {
    const char* lang = std::getenv("LC_ALL");
    if (!lang || !*lang) lang = std::getenv("LANG");
    std::string id = lang && *lang ? lang : "en_US";
    id = id.substr(0, id.find_first_of(".@"));
    return id == "C" || id == "POSIX" || id.empty() ? "en_US" : id;
}

}  // namespace

std::string HOSSignerInterceptor::stringToSign(const HOSAllRequestNeededMessage& message) {
    std::string headers;
    for (const auto& name : sortedKeys(message.headerParams()))
        if (name.rfind("x-hos-", 0) == 0) headers += name + ":" + valueText(*message.headerParams().find(name)) + "\n";
    std::string resource = "/";
    if (message.bucketName()) resource = "/" + *message.bucketName() + "/";
    if (message.objectKey()) resource = hos_stringByAppendingPathComponentForURL(resource, *message.objectKey());
    std::string sub;
    for (const auto& name : sortedKeys(message.querys())) {
        if (std::find(HOSSubResourceARRAY.begin(), HOSSubResourceARRAY.end(), name) == HOSSubResourceARRAY.end())
            continue;
        const std::string value = valueText(*message.querys().find(name));
        sub += sub.empty() ? "" : "&";
        sub += value.empty() ? name : name + "=" + value;
    }
    if (!sub.empty()) resource += "?" + sub;
    return message.httpMethod().value_or("") + "\n" + message.contentMd5().value_or("") + "\n" +
           message.contentType().value_or("") + "\n" + message.date().value_or("") + "\n" + headers + resource;
}

HOSTaskPtr HOSSignerInterceptor::interceptRequestMessage(HOSAllRequestNeededMessage& message) {
    HOS_LOG_VERBOSE("%s", "signing intercepting - ");
    HOSFederationTokenPtr token;
    if (auto federation = std::dynamic_pointer_cast<HOSFederationCredentialProvider>(credentialProvider_)) {
        platform::ErrorPtr error;
        token = federation->getToken(&error);
        if (!token) return HOSTask::taskWithError(error);
    } else if (auto sts = std::dynamic_pointer_cast<HOSStsTokenCredentialProvider>(credentialProvider_)) {
        token = sts->getToken();
    }
    if (token) {
        if (token->tToken()) HOSLog::rememberSecret(*token->tToken());
        message.mutableHeaderParams().set("x-hos-security-token", token->tToken().value_or(""));
    }
    if (message.contentSHA1()) message.mutableHeaderParams().set("x-hos-hash-sha1", *message.contentSHA1());

    const std::string content = stringToSign(message);
    HOS_LOG_DEBUG("string to sign: %s", content.c_str());
    if (token) {
        message.mutableHeaderParams().set("Authorization", HOSUtil::sign(content, *token));
        return HOSTask::taskWithResult(std::any());
    }
    if (!credentialProvider_)
        return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeSignFailed, HOSErrorMessage::kNullKeyPair));
    platform::ErrorPtr error;
    auto authorization = credentialProvider_->sign(content, &error);
    if (!authorization || error) {
        if (std::dynamic_pointer_cast<HOSCustomSignerCredentialProvider>(credentialProvider_) && error)
            HOS_LOG_ERROR("HOSCustomSignerError: %s", error->description().c_str());
        if (!error) error = HOSClientError(HOSClientErrorCodeSignFailed, HOSErrorMessage::kInvalidSignature);
        return HOSTask::taskWithError(error);
    }
    message.mutableHeaderParams().set("Authorization", *authorization);
    return HOSTask::taskWithResult(std::any());
}

std::string HOSUASettingInterceptor::getUserAgent(const std::optional<std::string>& mark) {
    static const std::string base = [] {
        std::string system = platform::Device::currentDevice().systemName();
        std::replace(system.begin(), system.end(), ' ', '-');
        return std::string("halvane-sdk-ios/2.9.2(/") + system + "/" +
               platform::Device::currentDevice().systemVersion() + "/" + localeIdentifier() + ")";
    }();
    if (!mark) return base;
    return base.empty() ? *mark : base + "/" + *mark;
}

HOSTaskPtr HOSUASettingInterceptor::interceptRequestMessage(HOSAllRequestNeededMessage& message) {
    auto configuration = clientConfiguration_.lock();
    message.mutableHeaderParams().set("User-Agent",
                                      getUserAgent(configuration ? configuration->userAgentMark() : std::nullopt));
    return HOSTask::taskWithResult(std::any());
}

HOSTaskPtr HOSTimeSkewedFixingInterceptor::interceptRequestMessage(HOSAllRequestNeededMessage& message) {
    message.setDate(hos_asStringValue(hos_clockSkewFixedDate()));
    return HOSTask::taskWithResult(std::any());
}

}  // namespace pellix
