#include "HOSSDK/HOSNetworking.h"

#include <cinttypes>
#include <cstdio>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSHttpResponseParser.h"
#include "HOSSDK/HOSInputStreamHelper.h"
#include "HOSSDK/HOSOperation.h"
#include "HOSSDK/HOSRequestInterceptor.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/HOSXMLDictionary.h"
#include "HOSSDK/NSDate+HOS.h"
#include "platform/DispatchQueue.h"
#include "platform/URLError.h"

namespace pellix {

namespace {

std::string u64Text(std::uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64, v);
    return text;
}

std::optional<std::uint64_t> parseU64(const std::string& text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return std::nullopt;
        v = v * 10 + digit;
    }
    return v;
}

bool notEmpty(const std::optional<std::string>& s) { return s && !s->empty(); }

std::string formatCRCError(const std::string& local, const std::string& remote) {
    std::string text = HOSErrorMessage::kCRCValidationFails;
    text.replace(text.find("%s"), 2, local);
    text.replace(text.find("%s"), 2, remote);
    return text;
}

}  // namespace

std::shared_ptr<HOSNetworking> HOSNetworking::create(HOSNetworkingConfiguration configuration) {
    std::shared_ptr<HOSNetworking> networking(new HOSNetworking(std::move(configuration)));
    const auto& c = networking->configuration_;
    auto uploadConfiguration = c.enableBackgroundTransmitService
                                   ? platform::URLSessionConfiguration::backgroundSessionConfiguration(
                                         c.backgroundSessionIdentifier.value_or(""))
                                   : platform::URLSessionConfiguration::defaultSessionConfiguration();
    auto dataConfiguration = platform::URLSessionConfiguration::defaultSessionConfiguration();
    for (auto* sc : {&uploadConfiguration, &dataConfiguration}) {
        if (c.timeoutIntervalForRequest > 0) sc->setTimeoutIntervalForRequest(c.timeoutIntervalForRequest);
        if (c.timeoutIntervalForResource > 0) sc->setTimeoutIntervalForResource(c.timeoutIntervalForResource);
        sc->setURLCache(false);
        if (c.proxyHost && c.proxyPort) {
            using SC = platform::URLSessionConfiguration;
            sc->setConnectionProxyDictionary(platform::Dictionary{{SC::kHTTPEnable, 1},
                                                                  {SC::kHTTPProxyHost, *c.proxyHost},
                                                                  {SC::kHTTPProxyPort, *c.proxyPort},
                                                                  {SC::kHTTPSEnable, 1},
                                                                  {SC::kHTTPSProxyHost, *c.proxyHost},
                                                                  {SC::kHTTPSProxyPort, *c.proxyPort}});
        }
    }
    networking->dataSession_ =
        platform::URLSession::sessionWithConfiguration(dataConfiguration, networking, networking->delegateQueue_);
    networking->uploadFileSession_ =
        platform::URLSession::sessionWithConfiguration(uploadConfiguration, networking, networking->delegateQueue_);
    return networking;
}

HOSNetworking::HOSNetworking(HOSNetworkingConfiguration configuration)
    : configuration_(std::move(configuration)),
      delegateQueue_(platform::OperationQueue::create("com.halvane.hos.networking.delegate")),
      isUsingBackgroundSession_(configuration_.enableBackgroundTransmitService) {
    auto queue = platform::OperationQueue::create("com.halvane.hos.networking.tasks");
    if (configuration_.maxConcurrentRequestCount != 0)
        queue->setMaxConcurrentOperationCount(static_cast<int>(configuration_.maxConcurrentRequestCount));
    taskExecutor_ = HOSExecutor::executorWithOperationQueue(queue);
}

HOSNetworking::~HOSNetworking() = default;

void HOSNetworking::invalidateAndCancel() {
    invalidated_ = true;
    if (dataSession_) dataSession_->invalidateAndCancel();
    if (uploadFileSession_) uploadFileSession_->invalidateAndCancel();
}

HOSTaskPtr HOSNetworking::sendRequest(const HOSNetworkingRequestDelegatePtr& request) {
    if (HOSLog::isLogEnable()) {
        platform::DispatchQueue::global(platform::QoS::Background)->async([] {
            HOS_LOG_VERBOSE("Operator : %s", HOSUtil::buildOperatorMsg().c_str());
        });
    }
    HOS_LOG_VERBOSE("%s", "send request --------");
    if (configuration_.proxyHost && configuration_.proxyPort) request->setIsAccessViaProxy(true);
    request->retryHandler()->setMaxRetryCount(configuration_.maxRetryCount);
    auto source = HOSTaskCompletionSource::taskCompletionSource();
    std::weak_ptr<HOSNetworkingRequestDelegate> weakRequest = request;
    request->setCompletionHandler([weakRequest, source](HOSResultPtr result, platform::ErrorPtr error) {
        auto strong = weakRequest.lock();
        if (strong) strong->reset();
        if (error)
            source->setError(error);
        else if (strong)
            checkForCrc64WithResult(result, *strong, *source);
        else
            source->setResult(result);
    });
    dataTaskWithDelegate(request);
    return source->task();
}

void HOSNetworking::dataTaskWithDelegate(const HOSNetworkingRequestDelegatePtr& request) {
    auto self = shared_from_this();
    HOSTask::taskWithResult(std::any())
        ->continueWithSuccessBlock(
            taskExecutor_,
            [request](const HOSTaskPtr&) -> std::any {
                HOS_LOG_VERBOSE("%s", "start to intercept request");
                for (const auto& interceptor : request->interceptors()) {
                    auto task = interceptor->interceptRequestMessage(*request->allNeededMessage());
                    if (task->error()) return task;
                }
                return std::any();
            })
        ->continueWithSuccessBlock([request](const HOSTaskPtr&) -> std::any {
            auto built = request->buildInternalHttpRequest();
            if (built->error()) return built;
            return std::any();
        })
        ->continueWithSuccessBlock([self, request](const HOSTaskPtr&) -> std::any {
            auto& http = *request->internalRequest();
            if (self->configuration_.timeoutIntervalForRequest > 0)
                http.setTimeoutInterval(self->configuration_.timeoutIntervalForRequest);
            std::shared_ptr<platform::URLSessionTask> task;
            try {
                if (self->invalidated_) throw platform::Exception(platform::Exception::kGenericException, "closed");
                if (request->uploadingData()) {
                    http.setHTTPBody(*request->uploadingData());
                    task = self->dataSession_->dataTaskWithRequest(http);
                } else if (request->uploadingFileURL()) {
                    task = self->uploadFileSession_->uploadTaskWithRequest(http, *request->uploadingFileURL());
                    if (self->isUsingBackgroundSession_) request->setIsBackgroundUploadFileTask(true);
                } else {
                    task = self->dataSession_->dataTaskWithRequest(http);
                }
            } catch (const platform::Exception&) {
                // The client went away: its sessions take no more tasks.
                return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeTaskCancelled));
            }
            request->setHttpRequestNotSuccessResponseBody({});
            self->sessionDelagateManager_.setObject(request, task->taskIdentifier());
            request->setCurrentSessionTask(task);
            // Checked after the task is published, so a cancel racing with
            // the start either sees the task or is seen here. The same for the
            // client going away: its sessions cancel the task, perhaps before
            // it was published, when that completion found no request. Whoever
            // takes the request out of the map reports it, once.
            if (request->isRequestCancelled() || self->invalidated_) {
                if (!self->sessionDelagateManager_.take(task->taskIdentifier())) return std::any();
                return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeTaskCancelled));
            }
            task->resume();
            return std::any();
        })
        ->continueWithBlock([request](const HOSTaskPtr& task) -> std::any {
            if (task->error()) {
                if (request->completionHandler()) request->completionHandler()(nullptr, task->error());
            } else if (task->exception()) {
                std::string message = HOSErrorMessage::kCatchException;
                message.replace(message.find("%s"), 2, task->exception()->reason());
                if (request->completionHandler())
                    request->completionHandler()(nullptr,
                                                 HOSClientError(HOSClientErrorCodeExceptionCaught, message));
            }
            return std::any();
        });
}

void HOSNetworking::didReceiveResponse(const SessionPtr&, const DataTaskPtr& task,
                                       std::shared_ptr<const platform::HTTPURLResponse> response,
                                       ResponseCompletion completion) {
    if (auto request = sessionDelagateManager_.objectForKey(task->taskIdentifier())) {
        HOS_LOG_VERBOSE("did receive response: %d", response ? response->statusCode() : 0);
        if (response && isSuccessfulStatus(response->statusCode()))
            request->responseParser()->consumeHttpResponse(response);
        else
            request->setIsHttpRequestNotSuccessResponse(true);
    }
    completion(ResponseDisposition::Allow);
}

void HOSNetworking::didReceiveData(const SessionPtr&, const DataTaskPtr& task, const platform::Bytes& data) {
    auto request = sessionDelagateManager_.objectForKey(task->taskIdentifier());
    if (!request) return;
    if (request->isBackgroundUploadFileTask()) {
        auto response = task->response();
        const bool ok = response && isSuccessfulStatus(response->statusCode());
        if (ok) request->responseParser()->consumeHttpResponse(response);
        request->setIsHttpRequestNotSuccessResponse(!ok);
    }
    if (request->isHttpRequestNotSuccessResponse()) {
        auto& body = request->mutableErrorBody();
        const std::size_t room = kMaxErrorBodyBytes - std::min(body.size(), kMaxErrorBodyBytes);
        body.insert(body.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(room, data.size())));
        if (body.size() >= kMaxErrorBodyBytes) task->cancel();
        return;
    }
    if (request->onRecieveData()) {
        request->onRecieveData()(data);
    } else {
        auto consumed = request->responseParser()->consumeHttpResponseBody(data);
        if (consumed->error()) {
            HOS_LOG_ERROR("consume data error: %s", consumed->error()->description().c_str());
            request->setError(consumed->error());
            task->cancel();
            return;
        }
    }
    if (request->downloadProgress()) {
        const auto length = static_cast<std::int64_t>(data.size());
        request->setPayloadTotalBytesWritten(request->payloadTotalBytesWritten() + length);
        auto response = task->response();
        request->downloadProgress()(length, request->payloadTotalBytesWritten(),
                                    response ? response->expectedContentLength() : -1);
    }
}

void HOSNetworking::didSendBodyData(const SessionPtr&, const TaskPtr& task, std::int64_t bytesSent,
                                    std::int64_t totalBytesSent, std::int64_t totalBytesExpectedToSend) {
    auto request = sessionDelagateManager_.objectForKey(task->taskIdentifier());
    if (request && request->uploadProgress())
        request->uploadProgress()(bytesSent, totalBytesSent, totalBytesExpectedToSend);
}

void HOSNetworking::didReceiveChallenge(const SessionPtr&, const TaskPtr& task,
                                        const platform::URLAuthenticationChallenge& challenge,
                                        ChallengeCompletion completion) {
    using Challenge = platform::URLAuthenticationChallenge;
    const auto request = task->currentRequest();
    std::optional<std::string> domain = request.valueForHTTPHeaderField("Host");
    if (!domain || domain->empty()) domain = request.url().host();
    if (challenge.authenticationMethod() == Challenge::kAuthenticationMethodServerTrust && challenge.serverTrust() &&
        evaluateServerTrust(*challenge.serverTrust(), domain)) {
        completion(Challenge::Disposition::UseCredential,
                   platform::URLCredential::credentialForTrust(challenge.serverTrust()));
        return;
    }
    completion(Challenge::Disposition::PerformDefaultHandling, nullptr);
}

bool HOSNetworking::evaluateServerTrust(const platform::ServerTrust& trust, const std::optional<std::string>& domain) {
    // A "Host" header may carry a port; the certificate names the host alone.
    std::optional<std::string> host = domain;
    if (host && !host->empty() && host->front() == '[')
        host = host->substr(1, host->find(']') == std::string::npos ? std::string::npos : host->find(']') - 1);
    else if (host && !host->empty())
        host = host->substr(0, host->find(':'));
    return trust.evaluate({host, std::nullopt}).trusted;
}

void HOSNetworking::didCompleteWithError(const SessionPtr&, const TaskPtr& task, platform::ErrorPtr error) {
    auto request = sessionDelagateManager_.take(task->taskIdentifier());
    if (!request) {
        HOS_LOG_VERBOSE("delegate: %" PRIu64, task->taskIdentifier());
        return;
    }
    auto response = task->response();
    const auto date = response ? response->valueForHTTPHeaderField("Date") : std::nullopt;
    if (notEmpty(date)) {
        if (!hos_setClockSkewFromServerDate(date)) HOS_LOG_ERROR("%s", "date header can not be parsed");
    } else {
        HOS_LOG_ERROR("%s", "date header does not exist, unable to adjust the time skew");
    }
    if (request->isBackgroundUploadFileTask()) {
        const bool ok = response && isSuccessfulStatus(response->statusCode());
        if (ok) request->responseParser()->consumeHttpResponse(response);
        request->setIsHttpRequestNotSuccessResponse(!ok);
    }
    completeAttempt(request, task, std::move(error));
}

void HOSNetworking::completeAttempt(const HOSNetworkingRequestDelegatePtr& request, const TaskPtr& task,
                                    platform::ErrorPtr sessionError) {
    auto response = task->response();
    platform::ErrorPtr failure;
    // A failed reply whose body was cut short here ends as that reply, not
    // as the cancelled transfer the cut leaves behind.
    const bool errorBodyCut = request->isHttpRequestNotSuccessResponse() &&
                              request->httpRequestNotSuccessResponseBody().size() >= kMaxErrorBodyBytes;
    if (!request->error() && sessionError && !errorBodyCut) request->setError(sessionError);
    if (const auto& error = request->error()) {
        HOS_LOG_DEBUG("networking request completed with error: %s", error->description().c_str());
        if (error->domain() == HOSClientErrorDomain || error->domain() == HOSServerErrorDomain)
            failure = error;  // a body-sink failure keeps its own message
        else if (error->domain() == platform::URLError::kDomain && error->code() == static_cast<std::int64_t>(platform::URLError::Cancelled))
            failure = HOSCancelledTransportError(*error);
        else
            failure = HOSNetworkError(*error);
    } else if (request->isHttpRequestNotSuccessResponse()) {
        failure = errorForFailedReply(response ? response->statusCode() : 0,
                                      request->httpRequestNotSuccessResponseBody());
    }
    if (!failure) {
        auto& parser = *request->responseParser();
        auto result = parser.constructResultObject();
        if (request->completionHandler()) request->completionHandler()(result, parser.resultError());
        return;
    }
    const auto type = request->retryHandler()->shouldRetry(request->currentRetryCount(), *request, response, failure);
    HOS_LOG_VERBOSE("current retry count: %u, retry type: %d", request->currentRetryCount(), static_cast<int>(type));
    if (type == HOSRetryTypeNoRetry || request->isRequestCancelled()) {
        if (request->completionHandler()) request->completionHandler()(nullptr, failure);
        return;
    }
    if (type == HOSRetryTypeFixClockSkew)
        request->mutableInterceptors().insert(request->mutableInterceptors().begin(),
                                              std::make_shared<HOSTimeSkewedFixingInterceptor>());
    const double delay = request->retryHandler()->timeIntervalForRetry(request->currentRetryCount(), type);
    request->setCurrentRetryCount(request->currentRetryCount() + 1);
    std::weak_ptr<HOSNetworking> weakSelf = shared_from_this();
    auto retry = [weakSelf, request, failure] {
        auto self = weakSelf.lock();
        if (request->retryCallback()) request->retryCallback()();
        request->reset();
        if (self)
            self->dataTaskWithDelegate(request);
        else if (request->completionHandler())
            request->completionHandler()(nullptr, failure);
    };
    // A timer rather than a sleep: the delegate queue's thread goes back to
    // the other transfers while this request waits.
    if (delay > 0)
        platform::DispatchQueue::global()->after(delay, std::move(retry));
    else
        retry();
}

platform::ErrorPtr HOSNetworking::errorForFailedReply(int statusCode, const platform::Bytes& body) {
    if (statusCode == 0)
        return HOSClientError(HOSClientErrorCodeResponseCodeZero, HOSErrorMessage::kResponseCodeZero);
    const std::string text(body.begin(), body.end());
    HOS_LOG_ERROR("http error response: %s", text.c_str());
    return HOSServerError(statusCode,
                          HOSXMLDictionary::hos_dictionaryWithXMLString(text).value_or(platform::Dictionary{}));
}

void HOSNetworking::checkForCrc64WithResult(const HOSResultPtr& result, const HOSNetworkingRequestDelegate& request,
                                            HOSTaskCompletionSource& source) {
    const auto& http = request.internalRequest();
    const bool ranged = http && http->valueForHTTPHeaderField("Range");
    const bool processed = http && http->url().query() && http->url().query()->find("x-hos-process") != std::string::npos;
    if (!result || !request.crc64Verifiable() || ranged || processed) {
        source.setResult(result);
        return;
    }
    HOS_LOG_VERBOSE("%s", "--- checkForCrc64WithResult --- ");
    if (!notEmpty(result->remoteCRC64ecma())) {
        source.setResult(result);
        return;
    }
    if (!notEmpty(result->localCRC64ecma())) {
        if (request.uploadingFileURL() && !request.uploadingData()) {
            HOSInputStreamHelper helper(*request.uploadingFileURL());
            helper.syncReadBuffers();
            if (helper.error()) {
                // The bytes on the service are fine as far as we know; what
                // failed is reading them back here, and the caller must hear
                // that the check did not happen rather than a silent pass.
                source.setError(platform::Error::make(
                    HOSClientErrorDomain, HOSClientErrorCodeInvalidCRC,
                    platform::Dictionary{{HOSErrorMessageKey, formatCRCError("unknown (the upload file could not be read)",
                                                                             *result->remoteCRC64ecma())}},
                    helper.error()));
                return;
            }
            result->setLocalCRC64ecma(u64Text(helper.crc64()));
        } else {
            result->setLocalCRC64ecma(request.contentCRC());
        }
    }
    if (request.operType() == HOSOperationTypeAppendObject && notEmpty(result->localCRC64ecma())) {
        std::int64_t position = 0;
        if (http && http->url().query()) {
            const auto& query = *http->url().query();
            std::size_t start = 0;
            while (start <= query.size()) {
                auto end = query.find('&', start);
                auto item = query.substr(start, end == std::string::npos ? std::string::npos : end - start);
                if (item.rfind("position=", 0) == 0) {
                    position = platform::Value(item.substr(9)).intValue();
                    break;
                }
                if (end == std::string::npos) break;
                start = end + 1;
            }
        }
        if (notEmpty(request.lastCRC())) {
            auto last = parseU64(*request.lastCRC());
            auto local = parseU64(*result->localCRC64ecma());
            const auto next = result->httpResponseHeaderFields().find("x-hos-next-append-position");
            auto* append = dynamic_cast<HOSAppendObjectResult*>(result.get());
            const std::int64_t nextPosition =
                append ? append->xHosNextAppendPosition() : (next ? next->intValue() : position);
            if (last && local) {
                const auto length = static_cast<std::uint64_t>(nextPosition - position);
                result->setLocalCRC64ecma(u64Text(HOSUtil::crc64ForCombineCRC1(*last, *local, length)));
            }
        } else if (position != 0) {
            // Without the object's earlier CRC this body's CRC cannot be
            // compared with the whole object's. The service accepted the
            // append; calling it a failure would make a retrying caller
            // append the same bytes twice.
            HOS_LOG_VERBOSE("%s", "append without the previous crc64: the check is skipped");
            source.setResult(result);
            return;
        }
    }
    if (notEmpty(result->localCRC64ecma()) && notEmpty(result->remoteCRC64ecma())) {
        if (*result->localCRC64ecma() == *result->remoteCRC64ecma()) {
            source.setResult(result);
        } else {
            source.setError(HOSClientError(HOSClientErrorCodeInvalidCRC,
                                           formatCRCError(*result->localCRC64ecma(), *result->remoteCRC64ecma())));
        }
        return;
    }
    source.setResult(result);
}

}  // namespace pellix
