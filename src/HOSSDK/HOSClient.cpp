#include "HOSSDK/HOSClient.h"

#include <mutex>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSHttpResponseParser.h"
#include "HOSSDK/HOSRequestInterceptor.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDate+HOS.h"
#include "HOSSDK/NSString+HOS.h"
#include "platform/OperationQueue.h"

namespace pellix {

HOSClient::HOSClient(const std::string& endpoint, HOSCredentialProviderPtr credentialProvider,
                     std::shared_ptr<HOSClientConfiguration> clientConfiguration)
    : credentialProvider_(std::move(credentialProvider)), clientConfiguration_(std::move(clientConfiguration)) {
    auto queue = platform::OperationQueue::create("com.halvane.hos.client.operations");
    queue->setMaxConcurrentOperationCount(3);
    hosOperationExecutor_ = HOSExecutor::executorWithOperationQueue(queue);
    // Trimmed before the scheme is added too: blanks in front would otherwise
    // end up between "https://" and the host.
    const std::string trimmed = hos_trim(endpoint);
    endpoint_ = hos_trim(trimmed.find("://") == std::string::npos ? "https://" + trimmed : trimmed);
    HOSNetworkingConfiguration networkingConfiguration;
    if (const auto& c = clientConfiguration_) {
        networkingConfiguration.maxRetryCount = c->maxRetryCount();
        networkingConfiguration.timeoutIntervalForRequest = c->timeoutIntervalForRequest();
        networkingConfiguration.timeoutIntervalForResource = c->timeoutIntervalForResource();
        networkingConfiguration.enableBackgroundTransmitService = c->enableBackgroundTransmitService();
        networkingConfiguration.backgroundSessionIdentifier = c->backgroundSesseionIdentifier();
        networkingConfiguration.proxyHost = c->proxyHost();
        networkingConfiguration.proxyPort = c->proxyPort();
        networkingConfiguration.maxConcurrentRequestCount = c->maxConcurrentRequestCount();
    }
    networking_ = HOSNetworking::create(std::move(networkingConfiguration));
}

HOSClient::HOSClient(const std::string& endpoint, HOSCredentialProviderPtr credentialProvider)
    : HOSClient(endpoint, std::move(credentialProvider), std::make_shared<HOSClientConfiguration>()) {}

HOSClient::~HOSClient() { networking_->invalidateAndCancel(); }

platform::ErrorPtr HOSClient::cancelError() {
    static const platform::ErrorPtr error =
        HOSClientError(HOSClientErrorCodeTaskCancelled, HOSErrorMessage::kTaskHasBeenCancelled);
    return error;
}

void HOSClient::enableCRC64WithFlag(std::uint64_t crcFlag, HOSNetworkingRequestDelegate& request) const {
    if (crcFlag == HOSCrcFlagOn)
        request.setCrc64Verifiable(true);
    else if (crcFlag == HOSCrcFlagOff)
        request.setCrc64Verifiable(false);
    else
        request.setCrc64Verifiable(clientConfiguration_ && clientConfiguration_->crc64Verifiable());
}

HOSTaskPtr HOSClient::invokeRequest(const HOSNetworkingRequestDelegatePtr& request, bool requireAuthentication) {
    auto& message = *request->allNeededMessage();
    const auto method = message.httpMethod().value_or("");
    if (!hos_isNotEmpty(message.contentType()) && (method == "POST" || method == "PUT")) {
        std::optional<std::string> path;
        if (request->uploadingFileURL()) path = request->uploadingFileURL()->path();
        message.setContentType(HOSUtil::detemineMimeTypeForFilePath(path, message.objectKey()));
    }
    if (clientConfiguration_) {
        for (const auto& entry : clientConfiguration_->cnameExcludeList()) {
            if (endpoint_.size() >= entry.size() &&
                endpoint_.compare(endpoint_.size() - entry.size(), entry.size(), entry) == 0) {
                message.setIsHostInCnameExcludeList(true);
                break;
            }
        }
    }
    request->mutableInterceptors().push_back(std::make_shared<HOSUASettingInterceptor>(clientConfiguration_));
    if (requireAuthentication)
        request->mutableInterceptors().push_back(std::make_shared<HOSSignerInterceptor>(credentialProvider_));
    request->setIsHttpdnsEnable(clientConfiguration_ && clientConfiguration_->isHttpdnsEnable());
    return networking_->sendRequest(request);
}

HOSTaskPtr HOSClient::perform(const HOSOperation& operation, HOSRequest& record) {
    const auto& state = record.requestDelegate();
    if (operation.crc == HOSCrcRule::Verify) enableCRC64WithFlag(record.crcFlag(), *state);
    HOSRequestParts parts;
    operation.collect(record, *state, parts);
    auto parser = std::make_shared<HOSHttpResponseParser>(operation.type);
    if (operation.crc != HOSCrcRule::None) parser->setCrc64Verifiable(state->crc64Verifiable());
    parser->setDownloadingFileURL(parts.downloadToFileURL);
    state->setResponseParser(parser);
    if (operation.target == HOSTarget::Service) parts.bucketName.reset();
    if (operation.target != HOSTarget::Object) parts.objectKey.reset();
    state->setAllNeededMessage(std::make_shared<HOSAllRequestNeededMessage>(
        endpoint_, operation.verb, parts.bucketName, parts.objectKey, parts.contentType, parts.contentMd5,
        parts.range, hos_asStringValue(hos_clockSkewFixedDate()), std::move(parts.headers), std::move(parts.query),
        parts.contentSHA1));
    state->setOperType(operation.type);
    return invokeRequest(state, record.isAuthenticationRequired());
}

HOSTaskPtr HOSClient::headObject(const std::shared_ptr<HOSHeadObjectRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeHeadObject), *request);
}

HOSTaskPtr HOSClient::getObject(const std::shared_ptr<HOSGetObjectRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeGetObject), *request);
}

HOSTaskPtr HOSClient::putObject(const std::shared_ptr<HOSPutObjectRequest>& request) {
    return perform(*hosOperation(HOSOperationTypePutObject), *request);
}

HOSTaskPtr HOSClient::appendObject(const std::shared_ptr<HOSAppendObjectRequest>& request) {
    return appendObject(request, std::nullopt);
}

HOSTaskPtr HOSClient::appendObject(const std::shared_ptr<HOSAppendObjectRequest>& request, HOSOptString crc64ecma) {
    request->requestDelegate()->setLastCRC(std::move(crc64ecma));
    return perform(*hosOperation(HOSOperationTypeAppendObject), *request);
}

HOSTaskPtr HOSClient::deleteObject(const std::shared_ptr<HOSDeleteObjectRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeDeleteObject), *request);
}

}  // namespace pellix
