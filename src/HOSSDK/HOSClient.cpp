#include "HOSSDK/HOSClient.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSHttpResponseParser.h"
#include "HOSSDK/HOSPartInfoStore.h"
#include "HOSSDK/HOSRequestInterceptor.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSDate+HOS.h"
#include "HOSSDK/NSString+HOS.h"
#include "platform/OperationQueue.h"

namespace pellix {

HOSClient::HOSClient(const std::string& endpoint, HOSCredentialProviderPtr credentialProvider,
                     std::shared_ptr<HOSClientConfiguration> clientConfiguration)
    : state_(std::make_shared<State>()) {
    state_->credentialProvider = std::move(credentialProvider);
    state_->clientConfiguration = std::move(clientConfiguration);
    auto queue = platform::OperationQueue::create("com.halvane.hos.client.operations");
    queue->setMaxConcurrentOperationCount(3);
    state_->hosOperationExecutor = HOSExecutor::executorWithOperationQueue(queue);
    // Trimmed before the scheme is added too: blanks in front would otherwise
    // end up between "https://" and the host.
    const std::string trimmed = hos_trim(endpoint);
    state_->endpoint = hos_trim(trimmed.find("://") == std::string::npos ? "https://" + trimmed : trimmed);
    HOSNetworkingConfiguration networkingConfiguration;
    if (const auto& c = state_->clientConfiguration) {
        networkingConfiguration.maxRetryCount = c->maxRetryCount();
        networkingConfiguration.timeoutIntervalForRequest = c->timeoutIntervalForRequest();
        networkingConfiguration.timeoutIntervalForResource = c->timeoutIntervalForResource();
        networkingConfiguration.enableBackgroundTransmitService = c->enableBackgroundTransmitService();
        networkingConfiguration.backgroundSessionIdentifier = c->backgroundSesseionIdentifier();
        networkingConfiguration.proxyHost = c->proxyHost();
        networkingConfiguration.proxyPort = c->proxyPort();
        networkingConfiguration.maxConcurrentRequestCount = c->maxConcurrentRequestCount();
    }
    state_->networking = HOSNetworking::create(std::move(networkingConfiguration));
}

HOSClient::HOSClient(const std::string& endpoint, HOSCredentialProviderPtr credentialProvider)
    : HOSClient(endpoint, std::move(credentialProvider), std::make_shared<HOSClientConfiguration>()) {}

HOSClient::~HOSClient() {
    if (owner_) state_->networking->invalidateAndCancel();
}

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
        request.setCrc64Verifiable(state_->clientConfiguration && state_->clientConfiguration->crc64Verifiable());
}

HOSTaskPtr HOSClient::invokeRequest(const HOSNetworkingRequestDelegatePtr& request, bool requireAuthentication) {
    auto& message = *request->allNeededMessage();
    const auto method = message.httpMethod().value_or("");
    if (!hos_isNotEmpty(message.contentType()) && (method == "POST" || method == "PUT")) {
        std::optional<std::string> path;
        if (request->uploadingFileURL()) path = request->uploadingFileURL()->path();
        message.setContentType(HOSUtil::detemineMimeTypeForFilePath(path, message.objectKey()));
    }
    if (state_->clientConfiguration) {
        for (const auto& entry : state_->clientConfiguration->cnameExcludeList()) {
            if (state_->endpoint.size() >= entry.size() &&
                state_->endpoint.compare(state_->endpoint.size() - entry.size(), entry.size(), entry) == 0) {
                message.setIsHostInCnameExcludeList(true);
                break;
            }
        }
    }
    request->mutableInterceptors().push_back(std::make_shared<HOSUASettingInterceptor>(state_->clientConfiguration));
    if (requireAuthentication)
        request->mutableInterceptors().push_back(std::make_shared<HOSSignerInterceptor>(state_->credentialProvider));
    request->setIsHttpdnsEnable(state_->clientConfiguration && state_->clientConfiguration->isHttpdnsEnable());
    return state_->networking->sendRequest(request);
}

HOSTaskPtr HOSClient::perform(const HOSOperation& operation, HOSRequest& record) {
    const auto& state = record.requestDelegate();
    if (operation.crc == HOSCrcRule::Verify) enableCRC64WithFlag(record.crcFlag(), *state);
    HOSRequestParts parts;
    if (operation.subresource) parts.query.set(operation.subresource, "");
    operation.collect(record, *state, parts);
    if (parts.invalid) return HOSTask::taskWithError(parts.invalid);
    auto parser = std::make_shared<HOSHttpResponseParser>(operation.type);
    // A receive block takes the body past the parser, which then has no
    // CRC of its own to offer for the check.
    if (operation.crc != HOSCrcRule::None)
        parser->setCrc64Verifiable(state->crc64Verifiable() && !state->onRecieveData());
    parser->setDownloadingFileURL(parts.downloadToFileURL);
    state->setResponseParser(parser);
    if (operation.target == HOSTarget::Service) parts.bucketName.reset();
    if (operation.target != HOSTarget::Object) parts.objectKey.reset();
    state->setAllNeededMessage(std::make_shared<HOSAllRequestNeededMessage>(
        state_->endpoint, operation.verb, parts.bucketName, parts.objectKey, parts.contentType, parts.contentMd5,
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

HOSTaskPtr HOSClient::getService(const std::shared_ptr<HOSGetServiceRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeGetService), *request);
}

HOSTaskPtr HOSClient::createBucket(const std::shared_ptr<HOSCreateBucketRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeCreateBucket), *request);
}

HOSTaskPtr HOSClient::deleteBucket(const std::shared_ptr<HOSDeleteBucketRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeDeleteBucket), *request);
}

HOSTaskPtr HOSClient::getBucket(const std::shared_ptr<HOSGetBucketRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeGetBucket), *request);
}

HOSTaskPtr HOSClient::getBucketACL(const std::shared_ptr<HOSGetBucketACLRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeGetBucketACL), *request);
}

HOSTaskPtr HOSClient::getObjectACL(const std::shared_ptr<HOSGetObjectACLRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeGetObjectACL), *request);
}

HOSTaskPtr HOSClient::putObjectACL(const std::shared_ptr<HOSPutObjectACLRequest>& request) {
    return perform(*hosOperation(HOSOperationTypePutObjectACL), *request);
}

HOSTaskPtr HOSClient::deleteMultipleObjects(const std::shared_ptr<HOSDeleteMultipleObjectsRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeDeleteMultipleObjects), *request);
}

HOSTaskPtr HOSClient::copyObject(const std::shared_ptr<HOSCopyObjectRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeCopyObject), *request);
}

HOSTaskPtr HOSClient::triggerCallBack(const std::shared_ptr<HOSCallBackRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeTriggerCallBack), *request);
}

bool HOSClient::doesObjectExistInBucket(const std::string& bucketName, const std::string& objectKey,
                                        platform::ErrorPtr* error) {
    auto request = std::make_shared<HOSHeadObjectRequest>();
    request->setBucketName(bucketName);
    request->setObjectKey(objectKey);
    auto task = headObject(request);
    task->waitUntilFinished();
    const auto& failure = task->error();
    if (!failure) return true;
    const bool absent = failure->domain() == HOSServerErrorDomain && failure->code() == -404;
    if (!absent && error) *error = failure;
    return false;
}

HOSTaskPtr HOSClient::multipartUploadInit(const std::shared_ptr<HOSInitMultipartUploadRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeInitMultipartUpload), *request);
}

HOSTaskPtr HOSClient::uploadPart(const std::shared_ptr<HOSUploadPartRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeUploadPart), *request);
}

HOSTaskPtr HOSClient::completeMultipartUpload(const std::shared_ptr<HOSCompleteMultipartUploadRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeCompleteMultipartUpload), *request);
}

HOSTaskPtr HOSClient::abortMultipartUpload(const std::shared_ptr<HOSAbortMultipartUploadRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeAbortMultipartUpload), *request);
}

HOSTaskPtr HOSClient::listParts(const std::shared_ptr<HOSListPartsRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeListParts), *request);
}

HOSTaskPtr HOSClient::listMultipartUploads(const std::shared_ptr<HOSListMultipartUploadsRequest>& request) {
    return perform(*hosOperation(HOSOperationTypeListMultipartUploads), *request);
}

HOSTaskPtr HOSClient::abortResumableMultipartUpload(const std::shared_ptr<HOSResumableUploadRequest>& request) {
    return abortMultipartUpload(request, false, true);
}

std::string hosResumableRecordFilePath(const HOSMultipartUploadRequest& record, const std::string& directory,
                                       bool sequential) {
    std::string name = record.md5String().value_or("") + record.bucketName().value_or("") +
                       record.objectKey().value_or("") + std::to_string(record.partSize());
    if (sequential) name += "-sequential";
    if (record.crcFlag() == HOSCrcFlagOn) name += "-crc64";
    return directory + "/" + HOSUtil::dataMD5String(platform::Bytes(name.begin(), name.end()));
}

std::optional<std::string> hosPartInfoFilePath(const std::string& uploadId) {
    // The id comes from the service or from a record file: as a file name it
    // must not leave the folder ("..", a slash) nor be cut short (NUL).
    if (uploadId.empty() || uploadId == "." || uploadId == ".." ||
        uploadId.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
        return std::nullopt;
    return hos_documentDirectory() + "/" + kHOSPartInfosDirectoryName + "/" + uploadId;
}

namespace {
void removeIfPresent(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !std::filesystem::remove(path, ec) && ec)
        HOS_LOG_DEBUG("[HOSSDKError]: %s", ec.message().c_str());
}
}  // namespace

HOSTaskPtr HOSClient::abortMultipartUpload(const std::shared_ptr<HOSMultipartUploadRequest>& request, bool sequential,
                                           bool resumable) {
    auto abort = std::make_shared<HOSAbortMultipartUploadRequest>();
    abort->setBucketName(request->bucketName());
    abort->setObjectKey(request->objectKey());
    abort->setUploadId(request->uploadId());
    const auto* resumableRecord = dynamic_cast<const HOSResumableUploadRequest*>(request.get());
    if (resumable && resumableRecord) {
        const auto recordPath =
            hosResumableRecordFilePath(*request, resumableRecord->recordDirectoryPath().value_or(""), sequential);
        if (!request->uploadId()) {
            std::ifstream in(recordPath, std::ios::binary);
            if (in) abort->setUploadId(std::string(std::istreambuf_iterator<char>(in), {}));
        }
        removeIfPresent(recordPath);
        if (request->uploadId()) {
            if (auto partInfoPath = hosPartInfoFilePath(*request->uploadId()))
                HOSPartInfoStore::remove(*partInfoPath);
            else
                HOS_LOG_DEBUG("[HOSSDKError]: %s", "the upload id is not a file name; no part information removed");
        }
    }
    return abortMultipartUpload(abort);
}

}  // namespace pellix
