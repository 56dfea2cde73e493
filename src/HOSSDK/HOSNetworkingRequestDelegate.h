// HOSNetworkingRequestDelegate: the per-request state that travels from a
// request record through the client into the networking object. It carries
// what the request needs (message, interceptors, parser, body, callbacks,
// CRC settings), what the attempt in progress produced (session task, error,
// error body, counters), and it builds the concrete HTTP request: the
// virtual-host URL for the service's own domains, the HTTP-DNS address when
// allowed, the encoded key and query, and the headers.
//
// Threads: the client fills it on the caller's thread; building runs on the
// networking executor; session callbacks update the attempt fields on the
// delegate queue; cancel() may come from any thread at any time (the
// cancellation flag and the session task are the fields it shares, and both
// are guarded). A cancel is never lost: one that arrives while a retry waits
// stays in force through reset(), so the next attempt is not started.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "HOSSDK/HOSAllRequestNeededMessage.h"
#include "HOSSDK/HOSModel.h"
#include "HOSSDK/HOSTask/HOSTask.h"
#include "HOSSDK/HOSURLRequestRetryHandler.h"
#include "platform/URLRequest.h"
#include "platform/URLSessionTask.h"

namespace pellix {

class HOSRequestInterceptor;
class HOSHttpResponseParser;

using HOSCompletionHandler = std::function<void(HOSResultPtr result, platform::ErrorPtr error)>;

class HOSNetworkingRequestDelegate {
public:
    HOSNetworkingRequestDelegate();
    HOSNetworkingRequestDelegate(const HOSNetworkingRequestDelegate&) = delete;
    HOSNetworkingRequestDelegate& operator=(const HOSNetworkingRequestDelegate&) = delete;

    HOS_PROPERTY(std::vector<std::shared_ptr<HOSRequestInterceptor>>, interceptors, setInterceptors)
    HOS_PROPERTY(std::shared_ptr<platform::URLRequest>, internalRequest, setInternalRequest)
    HOS_PROPERTY(std::int64_t, operType, setOperType)
    HOS_PROPERTY(bool, isAccessViaProxy, setIsAccessViaProxy)
    HOS_PROPERTY(HOSAllRequestNeededMessagePtr, allNeededMessage, setAllNeededMessage)
    HOS_PROPERTY(HOSURLRequestRetryHandlerPtr, retryHandler, setRetryHandler)
    HOS_PROPERTY(std::shared_ptr<HOSHttpResponseParser>, responseParser, setResponseParser)
    HOS_PROPERTY(std::optional<platform::Bytes>, uploadingData, setUploadingData)
    HOS_PROPERTY(std::optional<platform::URL>, uploadingFileURL, setUploadingFileURL)
    HOS_PROPERTY(std::int64_t, payloadTotalBytesWritten, setPayloadTotalBytesWritten)
    HOS_PROPERTY(bool, isBackgroundUploadFileTask, setIsBackgroundUploadFileTask)
    HOS_PROPERTY(bool, isHttpdnsEnable, setIsHttpdnsEnable)
    HOS_PROPERTY(std::uint32_t, currentRetryCount, setCurrentRetryCount)
    HOS_PROPERTY(platform::ErrorPtr, error, setError)
    HOS_PROPERTY(bool, isHttpRequestNotSuccessResponse, setIsHttpRequestNotSuccessResponse)
    HOS_PROPERTY(platform::Bytes, httpRequestNotSuccessResponseBody, setHttpRequestNotSuccessResponseBody)
    HOS_PROPERTY(HOSProgressBlock, uploadProgress, setUploadProgress)
    HOS_PROPERTY(HOSProgressBlock, downloadProgress, setDownloadProgress)
    HOS_PROPERTY(HOSRetryCallback, retryCallback, setRetryCallback)
    HOS_PROPERTY(HOSCompletionHandler, completionHandler, setCompletionHandler)
    HOS_PROPERTY(HOSReceiveBlock, onRecieveData, setOnRecieveData)
    HOS_PROPERTY(HOSOptString, contentCRC, setContentCRC)
    HOS_PROPERTY(HOSOptString, lastCRC, setLastCRC)
    HOS_PROPERTY(bool, crc64Verifiable, setCrc64Verifiable)

public:
    platform::Bytes& mutableErrorBody() { return httpRequestNotSuccessResponseBody_; }
    std::vector<std::shared_ptr<HOSRequestInterceptor>>& mutableInterceptors() { return interceptors_; }

    // The session task of the current attempt.
    std::shared_ptr<platform::URLSessionTask> currentSessionTask() const;
    void setCurrentSessionTask(std::shared_ptr<platform::URLSessionTask> task);

    bool isRequestCancelled() const { return isRequestCancelled_.load(); }
    // Clears the attempt's results and resets the parser. The cancellation
    // flag survives when the caller asked to cancel.
    void reset();
    // Stops the request: no new session task is started, and the running one
    // is cancelled.
    void cancel();

    HOSTaskPtr validateRequestParams() const;
    // Validates and builds internalRequest; the task carries the error.
    HOSTaskPtr buildInternalHttpRequest();

    // The address HTTP-DNS gives for a service host; the host itself when
    // none is known. The request keeps the name in its URL and is only
    // connected to the address. Replaceable for the whole process (tests map
    // the test domain to loopback with it). The default is HTTP-DNS
    // (HOSUtil::getIpByHost) once a deployment configured its server
    // (HOSHttpdns::hasServer), and the host unchanged before.
    using HostResolver = std::function<std::string(const std::string& host)>;
    static void setHostResolver(HostResolver resolver);

private:
    mutable std::mutex taskLock_;
    std::shared_ptr<platform::URLSessionTask> currentSessionTask_;
    std::atomic<bool> isRequestCancelled_{false};
    std::atomic<bool> cancelRequested_{false};
};

using HOSNetworkingRequestDelegatePtr = std::shared_ptr<HOSNetworkingRequestDelegate>;

}  // namespace pellix
