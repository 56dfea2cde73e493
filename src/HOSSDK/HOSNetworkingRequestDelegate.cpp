#include "HOSSDK/HOSNetworkingRequestDelegate.h"

#include <sys/stat.h>

#include <cctype>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSHttpResponseParser.h"
#include "HOSSDK/HOSHttpdns.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSString+HOS.h"

namespace pellix {

namespace {
std::mutex& resolverLock() {
    static std::mutex lock;
    return lock;
}
HOSNetworkingRequestDelegate::HostResolver& resolverSlot() {
    static HOSNetworkingRequestDelegate::HostResolver resolver;
    return resolver;
}
std::string resolveHost(const std::string& host) {
    HOSNetworkingRequestDelegate::HostResolver resolver;
    {
        std::lock_guard<std::mutex> guard(resolverLock());
        resolver = resolverSlot();
    }
    if (resolver) return resolver(host);
    return HOSHttpdns::sharedInstance().hasServer() ? HOSUtil::getIpByHost(host) : host;
}

// "scheme://host[:port]": the endpoint's port is kept, so a service on a
// non-default port (and every loopback test) is still reached there.
std::string origin(const platform::URL& url, const std::string& host) {
    std::string text = url.scheme() + "://" + host;
    if (url.port()) text += ":" + std::to_string(*url.port());
    return text;
}
int defaultPort(const std::string& scheme) {
    std::string lower = scheme;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "https" ? 443 : lower == "http" ? 80 : -1;
}
}  // namespace

void HOSNetworkingRequestDelegate::setHostResolver(HostResolver resolver) {
    std::lock_guard<std::mutex> guard(resolverLock());
    resolverSlot() = std::move(resolver);
}

HOSNetworkingRequestDelegate::HOSNetworkingRequestDelegate() {
    retryHandler_ = HOSURLRequestRetryHandler::defaultRetryHandler();
    isHttpdnsEnable_ = true;
}

std::shared_ptr<platform::URLSessionTask> HOSNetworkingRequestDelegate::currentSessionTask() const {
    std::lock_guard<std::mutex> guard(taskLock_);
    return currentSessionTask_;
}

void HOSNetworkingRequestDelegate::setCurrentSessionTask(std::shared_ptr<platform::URLSessionTask> task) {
    std::lock_guard<std::mutex> guard(taskLock_);
    currentSessionTask_ = std::move(task);
}

void HOSNetworkingRequestDelegate::reset() {
    isHttpRequestNotSuccessResponse_ = false;
    error_ = nullptr;
    payloadTotalBytesWritten_ = 0;
    // A cancel the caller asked for must outlive the reset before a retry:
    // clearing it would start the next attempt anyway.
    isRequestCancelled_ = cancelRequested_.load();
    if (responseParser_) responseParser_->reset();
}

void HOSNetworkingRequestDelegate::cancel() {
    std::shared_ptr<platform::URLSessionTask> task;
    {
        std::lock_guard<std::mutex> guard(taskLock_);
        cancelRequested_ = true;
        isRequestCancelled_ = true;
        task = currentSessionTask_;
    }
    if (task) {
        HOS_LOG_DEBUG("%s", "this task is cancelled now!");
        task->cancel();
    }
}

HOSTaskPtr HOSNetworkingRequestDelegate::validateRequestParams() const {
    const char* message = nullptr;
    if ((operType_ == 10 || operType_ == 8 || operType_ == 15) && !uploadingData_ && !uploadingFileURL_)
        message = HOSErrorMessage::kNoBodyToUpload;
    struct stat st {};
    if (uploadingFileURL_ && ::stat(uploadingFileURL_->path().c_str(), &st) != 0)
        message = HOSErrorMessage::kFileDoesNotExist;
    if (message) return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeInvalidArgument, message));
    if (!allNeededMessage_)
        return HOSTask::taskWithError(
            HOSClientError(HOSClientErrorCodeInvalidArgument, HOSErrorMessage::kEndpointNil));
    return allNeededMessage_->validateRequestParamsInOperationType(operType_);
}

HOSTaskPtr HOSNetworkingRequestDelegate::buildInternalHttpRequest() {
    auto validation = validateRequestParams();
    if (validation->error()) return validation;
    HOS_LOG_DEBUG("%s", "start to build request");
    const auto& message = *allNeededMessage_;

    auto endpoint = platform::URL::parse(*message.endpoint());
    if (!endpoint || endpoint->host().empty())
        return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeInvalidArgument,
                                                     HOSErrorMessage::kEndpointNil));
    const bool originHost = HOSUtil::isHosOriginBucketHost(endpoint->host());
    std::string realHost = endpoint->host();
    std::string urlText;
    if (originHost && message.bucketName()) {
        realHost = *message.bucketName() + "." + endpoint->host();
        urlText = origin(*endpoint, realHost);
    } else {
        urlText = *message.endpoint();
    }
    // An HTTP-DNS address only says where to connect: the URL keeps the
    // name, so the Host field, SNI and the certificate check still see it.
    std::optional<std::string> connectTo;
    if (!isAccessViaProxy_ && originHost && isHttpdnsEnable_) {
        const std::string address = resolveHost(realHost);
        if (address != realHost) connectTo = address;
    }
    if (message.objectKey())
        urlText = hos_stringByAppendingPathComponentForURL(urlText, HOSUtil::encodeURL(*message.objectKey()));
    std::string query;
    for (const auto& [name, value] : message.querys()) {
        const std::string text = value.isString() ? value.asString() : value.description();
        query += query.empty() ? "" : "&";
        query += text.empty() ? HOSUtil::encodeURL(name) : HOSUtil::encodeURL(name) + "=" + HOSUtil::encodeURL(text);
    }
    if (!query.empty()) urlText += "?" + query;
    HOS_LOG_DEBUG("built full url: %s", urlText.c_str());

    std::string hostHeader = realHost.find(':') == std::string::npos ? realHost : "[" + realHost + "]";
    if (!HOSUtil::isHosOriginBucketHost(realHost) && message.isHostInCnameExcludeList() && message.bucketName())
        hostHeader = *message.bucketName() + "." + realHost;
    // HTTP wants the port in "Host" unless it is the scheme's own; the
    // service and any proxy on the way route by what is sent.
    if (const auto port = endpoint->port(); port && *port != defaultPort(endpoint->scheme()))
        hostHeader += ":" + std::to_string(*port);

    auto url = platform::URL::parse(urlText);
    if (!url)
        return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeInvalidArgument,
                                                     HOSErrorMessage::kEndpointNil));
    auto request = std::make_shared<platform::URLRequest>(*url);
    if (connectTo && !request->setConnectToAddress(*connectTo))
        HOS_LOG_DEBUG("HTTP-DNS answer %s is no address literal, connecting by name", connectTo->c_str());
    request->setValue(hostHeader, "Host");
    if (message.httpMethod()) request->setHTTPMethod(*message.httpMethod());
    if (message.contentType()) request->setValue(*message.contentType(), "Content-Type");
    if (message.contentMd5()) request->setValue(*message.contentMd5(), "Content-MD5");
    if (message.date()) request->setValue(*message.date(), "Date");
    if (message.range()) request->setValue(*message.range(), "Range");
    if (message.contentSHA1()) request->setValue(*message.contentSHA1(), "x-hos-hash-sha1");
    for (const auto& [name, value] : message.headerParams())
        request->setValue(value.isString() ? value.asString() : value.description(), name);
    if (HOSLog::isLogEnable()) {
        platform::Dictionary headers;
        for (const auto& [name, value] : request->allHTTPHeaderFields()) headers.set(name, value);
        HOS_LOG_VERBOSE("buidlInternalHttpRequest -\nmethod: %s\nurl: %s\nheader: %s",
                        request->httpMethod().c_str(), urlText.c_str(), hosDescribeHeadersMasked(headers).c_str());
    }
    internalRequest_ = std::move(request);
    return HOSTask::taskWithResult(std::any());
}

}  // namespace pellix
