#include "HOSSDK/HOSClient.h"

#include <filesystem>

#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "platform/Paths.h"

namespace pellix {

namespace {

HOSProgressBlock fractionOf(HOSClient::HOSFractionBlock onProgress) {
    if (!onProgress) return nullptr;
    return [onProgress = std::move(onProgress)](std::int64_t, std::int64_t total, std::int64_t expected) {
        if (expected != 0) onProgress(static_cast<float>(total) / static_cast<float>(expected));
    };
}

// Runs `operation` for `request` on the operation queue and waits there for
// its outcome. The cancellation observer is registered before the work is
// queued and the record is checked before the operation starts, so a cancel
// that comes while the work waits for a queue thread is not lost.
HOSTaskPtr runWrapped(const HOSExecutorPtr& executor, const std::shared_ptr<HOSRequest>& request,
                      const HOSClient::HOSCancellationTokenSourcePtr& source, std::function<HOSTaskPtr()> operation,
                      HOSClient::HOSFractionBlock onProgress) {
    if (source)
        source->token()->registerCancellationObserverWithBlock([weak = std::weak_ptr<HOSRequest>(request)] {
            if (auto r = weak.lock()) r->cancel();
        });
    return HOSTask::taskWithResult(std::any())->continueWithExecutor(
        executor, [request, operation = std::move(operation), onProgress = std::move(onProgress)](
                      const HOSTaskPtr&) -> std::any {
            HOSTaskPtr task = request->isCancelled() ? HOSTask::taskWithError(HOSClient::cancelError()) : operation();
            task->waitUntilFinished();
            if (onProgress) onProgress(1.0f);
            return task;
        });
}

platform::ErrorPtr errorOf(const HOSTaskPtr& task) {
    if (auto error = task->error()) return error;
    if (task->isCancelled()) return HOSClient::cancelError();
    if (task->exception()) return HOSClientError(HOSClientErrorCodeExceptionCaught);
    return nullptr;
}

void complete(const HOSTaskPtr& task, HOSClient::HOSCompletedBlock onCompleted) {
    task->continueWithBlock([onCompleted = std::move(onCompleted)](const HOSTaskPtr& t) -> std::any {
        if (onCompleted) {
            auto error = errorOf(t);
            onCompleted(!error, error);
        }
        return std::any();
    });
}

std::shared_ptr<HOSPutObjectRequest> uploadRequest(const HOSOptString& contentType,
                                                  const platform::Dictionary& objectMeta,
                                                  const std::string& bucketName, const std::string& objectKey,
                                                  const HOSClient::HOSFractionBlock& onProgress) {
    auto request = std::make_shared<HOSPutObjectRequest>();
    request->setBucketName(bucketName);
    request->setObjectKey(objectKey);
    request->setObjectMeta(objectMeta);
    request->setContentType(contentType);
    request->setUploadProgress(fractionOf(onProgress));
    return request;
}

HOSClient::HOSCancellationTokenSourcePtr startUpload(const std::shared_ptr<HOSClient>& client,
                                                     const std::shared_ptr<HOSPutObjectRequest>& request,
                                                     HOSClient::HOSCompletedBlock onCompleted,
                                                     HOSClient::HOSFractionBlock onProgress) {
    auto source = HOSCancellationTokenSource::cancellationTokenSource();
    complete(runWrapped(client->hosOperationExecutor(), request, source,
                        [client, request] { return client->putObject(request); }, std::move(onProgress)),
             std::move(onCompleted));
    return source;
}

}  // namespace

HOSClient::HOSCancellationTokenSourcePtr HOSClient::uploadData(const platform::Bytes& data,
                                                               const HOSOptString& contentType,
                                                               const platform::Dictionary& objectMeta,
                                                               const std::string& bucketName,
                                                               const std::string& objectKey,
                                                               HOSCompletedBlock onCompleted,
                                                               HOSFractionBlock onProgress) {
    auto request = uploadRequest(contentType, objectMeta, bucketName, objectKey, onProgress);
    request->setUploadingData(data);
    return startUpload(worker(), request, std::move(onCompleted), std::move(onProgress));
}

HOSClient::HOSCancellationTokenSourcePtr HOSClient::uploadFile(const std::string& path,
                                                               const HOSOptString& contentType,
                                                               const platform::Dictionary& objectMeta,
                                                               const std::string& bucketName,
                                                               const std::string& objectKey,
                                                               HOSCompletedBlock onCompleted,
                                                               HOSFractionBlock onProgress) {
    auto request = uploadRequest(contentType, objectMeta, bucketName, objectKey, onProgress);
    request->setUploadingFileURL(platform::URL::fileURL(path));
    return startUpload(worker(), request, std::move(onCompleted), std::move(onProgress));
}

HOSClient::HOSCancellationTokenSourcePtr HOSClient::downloadToDataFromBucket(const std::string& bucketName,
                                                                             const std::string& objectKey,
                                                                             HOSDataCompletedBlock onCompleted,
                                                                             HOSFractionBlock onProgress) {
    auto request = std::make_shared<HOSGetObjectRequest>();
    request->setBucketName(bucketName);
    request->setObjectKey(objectKey);
    request->setDownloadProgress(fractionOf(onProgress));
    auto source = HOSCancellationTokenSource::cancellationTokenSource();
    runWrapped(state_->hosOperationExecutor, request, source, [client = worker(), request] { return client->getObject(request); },
               std::move(onProgress))
        ->continueWithBlock([onCompleted = std::move(onCompleted)](const HOSTaskPtr& t) -> std::any {
            if (!onCompleted) return std::any();
            if (auto error = errorOf(t)) {
                onCompleted(std::nullopt, error);
            } else {
                const auto* result = t->resultAs<HOSResultPtr>();
                auto get = result ? std::dynamic_pointer_cast<HOSGetObjectResult>(*result) : nullptr;
                onCompleted(get && get->downloadedData() ? get->downloadedData() : platform::Bytes(), nullptr);
            }
            return std::any();
        });
    return source;
}

HOSClient::HOSCancellationTokenSourcePtr HOSClient::downloadToFileFromBucket(const std::string& bucketName,
                                                                             const std::string& objectKey,
                                                                             const std::string& path,
                                                                             HOSCompletedBlock onCompleted,
                                                                             HOSFractionBlock onProgress) {
    auto request = std::make_shared<HOSGetObjectRequest>();
    request->setBucketName(bucketName);
    request->setObjectKey(objectKey);
    request->setDownloadToFileURL(platform::URL::fileURL(path));
    request->setDownloadProgress(fractionOf(onProgress));
    auto source = HOSCancellationTokenSource::cancellationTokenSource();
    complete(runWrapped(state_->hosOperationExecutor, request, source, [client = worker(), request] { return client->getObject(request); },
                        std::move(onProgress)),
             std::move(onCompleted));
    return source;
}

void HOSClient::deleteObjectInBucket(const std::string& bucketName, const std::string& objectKey,
                                     HOSCompletedBlock onCompleted) {
    auto request = std::make_shared<HOSDeleteObjectRequest>();
    request->setBucketName(bucketName);
    request->setObjectKey(objectKey);
    complete(runWrapped(state_->hosOperationExecutor, request, nullptr, [client = worker(), request] { return client->deleteObject(request); },
                        nullptr),
             std::move(onCompleted));
}

HOSClient::HOSCancellationTokenSourcePtr HOSClient::resumableUploadFile(const std::string& path,
                                                                        const HOSOptString& contentType,
                                                                        const platform::Dictionary& objectMeta,
                                                                        const std::string& bucketName,
                                                                        const std::string& objectKey,
                                                                        HOSCompletedBlock onCompleted,
                                                                        HOSFractionBlock onProgress) {
    auto source = HOSCancellationTokenSource::cancellationTokenSource();
    HOSTask::taskWithResult(std::any())
        ->continueWithBlock([client = worker(), source, path, contentType, objectMeta, bucketName, objectKey,
                             onProgress = std::move(onProgress)](const HOSTaskPtr&) -> std::any {
            std::error_code ec;
            // Read as the first step of the run: a file that cannot be read
            // stops it before anything is sent.
            (void)std::filesystem::last_write_time(path, ec);
            if (ec)
                return HOSTask::taskWithError(platform::Error::make(
                    "NSPOSIXErrorDomain", ec.value(),
                    platform::Dictionary{{HOSErrorMessageKey, ec.message()}, {"NSFilePath", path}}));
            auto request = std::make_shared<HOSResumableUploadRequest>();
            request->setBucketName(bucketName);
            request->setDeleteUploadIdOnCancelling(false);
            request->setContentType(contentType);
            request->setCompleteMetaHeader(objectMeta);
            request->setRecordDirectoryPath(platform::Paths::cachesDirectory());
            request->setUploadingFileURL(platform::URL::fileURL(path));
            request->setObjectKey(objectKey);
            std::weak_ptr<HOSResumableUploadRequest> weak = request;
            request->setUploadProgress([weak, source, onProgress](std::int64_t bytes, std::int64_t total,
                                                                  std::int64_t expected) {
                if (onProgress && expected != 0)
                    onProgress(static_cast<float>(total) / static_cast<float>(expected));
                if (source->isCancellationRequested() || source->token()->isCancellationRequested())
                    if (auto r = weak.lock()) r->cancel();
                HOS_LOG_DEBUG("%lld %lld %lld", static_cast<long long>(bytes), static_cast<long long>(total),
                              static_cast<long long>(expected));
            });
            // Also at once, not only at the next part: a cancel stops the
            // part on its way too.
            source->token()->registerCancellationObserverWithBlock([weak] {
                if (auto r = weak.lock()) r->cancel();
            });
            return client->resumableUpload(request);
        })
        ->continueWithBlock([onCompleted = std::move(onCompleted)](const HOSTaskPtr& task) -> std::any {
            if (!onCompleted) return std::any();
            if (task->isCancelled()) {
                onCompleted(false, HOSClientError(HOSClientErrorCodeTaskCancelled, HOSErrorMessage::kTaskIsCancelled));
            } else if (task->error()) {
                onCompleted(false, task->error());
            } else if (const auto exception = task->exception()) {
                std::string message = HOSErrorMessage::kCatchException;
                message.replace(message.find("%s"), 2, exception->reason());
                onCompleted(false, HOSClientError(HOSClientErrorCodeExceptionCaught, message));
            } else {
                onCompleted(true, nullptr);
            }
            return std::any();
        });
    return source;
}

}  // namespace pellix
