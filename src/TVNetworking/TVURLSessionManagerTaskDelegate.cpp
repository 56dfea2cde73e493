#include "TVNetworking/TVURLSessionManagerTaskDelegate.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "TVNetworking/TVURLSessionManager.h"
#include "platform/NotificationCenter.h"

namespace pellix {

namespace {

platform::Dictionary errorAsDictionary(const platform::ErrorPtr& error) {
    platform::Dictionary d;
    d.set("domain", error->domain());
    d.set("code", error->code());
    d.set("description", error->localizedDescription());
    return d;
}

std::string addressText(const void* p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

}  // namespace

platform::ErrorPtr TVMoveDownloadedFile(const TVURLSessionTaskPtr& task, const platform::URL& from,
                                        const platform::URL& to) {
    namespace fs = std::filesystem;
    const std::string src = from.path(), dst = to.path();
    std::error_code ec;
    if (!to.isFileURL()) {
        ec = std::make_error_code(std::errc::invalid_argument);
    } else if (fs::exists(dst, ec)) {
        // The platform's file manager never replaces an existing file.
        ec = std::make_error_code(std::errc::file_exists);
    } else {
        ec.clear();
        fs::rename(src, dst, ec);
        if (ec == std::errc::cross_device_link) {
            ec.clear();
            fs::copy_file(src, dst, ec);
            if (!ec) fs::remove(src, ec);
        }
    }
    if (!ec) return nullptr;
    platform::Dictionary userInfo;
    userInfo.set("NSSourceFilePathErrorKey", src);
    userInfo.set("NSDestinationFilePath", dst);
    userInfo.set(platform::Error::kLocalizedDescriptionKey, "The downloaded file could not be moved to " + dst + ": " +
                                                                ec.message());
    auto error = platform::Error::make(TVNetworkingFileErrorDomain, ec.value(), userInfo);
    platform::NotificationCenter::defaultCenter().post(TVURLSessionDownloadTaskDidFailToMoveFileNotification, task,
                                                       userInfo);
    return error;
}

std::shared_ptr<TVURLSessionManagerTaskDelegate> TVURLSessionManagerTaskDelegate::create(
    const TVURLSessionTaskPtr& task) {
    auto delegate = std::shared_ptr<TVURLSessionManagerTaskDelegate>(new TVURLSessionManagerTaskDelegate(task));
    std::weak_ptr<TVURLSessionManagerTaskDelegate> weakDelegate = delegate;
    std::weak_ptr<TVURLSessionTask> weakTask = task;
    for (const auto& progress : {delegate->uploadProgress_, delegate->downloadProgress_}) {
        progress->update(platform::URLSessionTask::kTransferSizeUnknown, 0);
        progress->setCancellable(true);
        progress->setCancellationHandler([weakTask] {
            if (auto t = weakTask.lock()) t->cancel();
        });
        progress->setPausable(true);
        progress->setPausingHandler([weakTask] {
            if (auto t = weakTask.lock()) t->suspend();
        });
        progress->setResumingHandler([weakTask] {
            if (auto t = weakTask.lock()) t->resume();
        });
        progress->setFractionCompletedObserver([weakDelegate](TVProgress& p) {
            if (auto d = weakDelegate.lock()) d->progressChanged(p);
        });
    }
    return delegate;
}

TVURLSessionManagerTaskDelegate::TVURLSessionManagerTaskDelegate(const TVURLSessionTaskPtr& task) : task_(task) {}

void TVURLSessionManagerTaskDelegate::setUploadProgressBlock(TVProgressBlock b) {
    std::lock_guard lock(blockMutex_);
    uploadProgressBlock_ = std::move(b);
}

void TVURLSessionManagerTaskDelegate::setDownloadProgressBlock(TVProgressBlock b) {
    std::lock_guard lock(blockMutex_);
    downloadProgressBlock_ = std::move(b);
}

void TVURLSessionManagerTaskDelegate::progressChanged(TVProgress& progress) {
    TVProgressBlock block;
    {
        std::lock_guard lock(blockMutex_);
        if (&progress == downloadProgress_.get())
            block = downloadProgressBlock_;
        else if (&progress == uploadProgress_.get())
            block = uploadProgressBlock_;
    }
    if (block) block(progress);
}

void TVURLSessionManagerTaskDelegate::setDownloadFileURL(std::optional<platform::URL> url,
                                                         platform::ErrorPtr moveError) {
    downloadFileURL_ = std::move(url);
    moveError_ = std::move(moveError);
}

void TVURLSessionManagerTaskDelegate::didReceiveData(const platform::Bytes& data) {
    downloadProgress_->update(task_->countOfBytesExpectedToReceive(), task_->countOfBytesReceived());
    if (mutableData_) mutableData_->insert(mutableData_->end(), data.begin(), data.end());
}

void TVURLSessionManagerTaskDelegate::didSendBodyData() {
    uploadProgress_->update(task_->countOfBytesExpectedToSend(), task_->countOfBytesSent());
}

void TVURLSessionManagerTaskDelegate::didWriteData(std::int64_t totalBytesWritten,
                                                   std::int64_t totalBytesExpectedToWrite) {
    downloadProgress_->update(totalBytesExpectedToWrite, totalBytesWritten);
}

void TVURLSessionManagerTaskDelegate::didFinishDownloadingToURL(const std::shared_ptr<platform::URLSession>& session,
                                                                const platform::URL& location) {
    downloadFileURL_.reset();
    moveError_ = nullptr;
    if (!downloadTaskDidFinishDownloading_) return;
    downloadFileURL_ = downloadTaskDidFinishDownloading_(session, task_, location);
    if (downloadFileURL_) moveError_ = TVMoveDownloadedFile(task_, location, *downloadFileURL_);
}

void TVURLSessionManagerTaskDelegate::didCompleteWithError(const std::shared_ptr<platform::URLSession>&,
                                                           platform::ErrorPtr error) {
    auto manager = manager_.lock();
    auto info = std::make_shared<TVTaskCompletionUserInfo>();
    platform::Dictionary userInfo;
    info->responseSerializer = responseSerializer_;
    userInfo.set(TVNetworkingTaskDidCompleteResponseSerializerKey, addressText(responseSerializer_.get()));

    // The body is copied once and the growing buffer let go before parsing.
    std::optional<platform::Bytes> data;
    if (mutableData_) {
        data = std::move(*mutableData_);
        mutableData_.reset();
    }
    if (downloadFileURL_) {
        info->assetPath = downloadFileURL_;
        userInfo.set(TVNetworkingTaskDidCompleteAssetPathKey, downloadFileURL_->absoluteString());
    } else if (data) {
        info->responseData = data;
        userInfo.set(TVNetworkingTaskDidCompleteResponseDataKey, *data);
    }

    auto queue = manager ? manager->completionQueue() : nullptr;
    if (!queue) queue = platform::DispatchQueue::main();
    auto group = manager ? manager->completionGroup() : nullptr;
    if (!group) group = url_session_manager_completion_group();

    auto task = task_;
    auto handler = completionHandler_;
    auto finish = [task, handler, queue, group](std::shared_ptr<TVTaskCompletionUserInfo> info,
                                                platform::Dictionary userInfo) {
        group->async(queue, [task, handler, info, userInfo = std::move(userInfo)] {
            task->setCompletionUserInfo(info);
            if (handler) handler(task->response(), info->serializedResponse, info->error);
            platform::DispatchQueue::main()->async([task, userInfo] {
                platform::NotificationCenter::defaultCenter().post(TVNetworkingTaskDidCompleteNotification, task,
                                                                   userInfo);
            });
        });
    };

    // A download that could not be put where it was asked to go has failed:
    // its caller must not read a file that is not there.
    if (!error && moveError_) error = moveError_;
    if (error) {
        info->error = error;
        userInfo.set(TVNetworkingTaskDidCompleteErrorKey, errorAsDictionary(error));
        finish(std::move(info), std::move(userInfo));
        return;
    }

    auto serializer = responseSerializer_;
    auto fileURL = downloadFileURL_;
    url_session_manager_processing_queue()->async(
        [task, serializer, fileURL, data = std::move(data), info, userInfo = std::move(userInfo), finish]() mutable {
            platform::ErrorPtr serializationError;
            TVResponseObject object;
            if (serializer) object = serializer->responseObject(task->response(), data, &serializationError);
            if (fileURL) object = TVResponseObject(platform::Value(fileURL->absoluteString()));
            info->serializedResponse = object;
            if (const platform::Value* v = object.value())
                userInfo.set(TVNetworkingTaskDidCompleteSerializedResponseKey, *v);
            if (serializationError) {
                info->error = serializationError;
                userInfo.set(TVNetworkingTaskDidCompleteErrorKey, errorAsDictionary(serializationError));
            }
            finish(std::move(info), std::move(userInfo));
        });
}

}  // namespace pellix
