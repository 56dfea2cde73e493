// TVURLSessionManagerTaskDelegate: the per-task companion of a session
// manager. It collects the task's body bytes, keeps its upload and download
// progress, and at the end runs the response serializer off the delegate
// queue and calls the completion handler on the completion queue.
//
// The response serializer is the one the manager had when the task was
// created, so an answer that completes after a later request replaced the
// manager's serializer is still parsed by its own.
//
// Threads: the callbacks come on the manager's delegate queue, one at a time;
// the setters are used while the task is being created.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "TVNetworking/TVHTTPResponseSerializer.h"
#include "TVNetworking/TVProgress.h"
#include "TVNetworking/TVURLSessionTask.h"
#include "platform/Error.h"
#include "platform/URL.h"
#include "platform/URLSession.h"

namespace pellix {

class TVURLSessionManager;

using TVURLSessionCompletionHandler =
    std::function<void(const TVResponse& response, const TVResponseObject& responseObject, platform::ErrorPtr error)>;
using TVProgressBlock = std::function<void(TVProgress& progress)>;
// Where to move a finished download (nullopt: do not move it).
using TVDownloadTaskDidFinishDownloadingBlock = std::function<std::optional<platform::URL>(
    const std::shared_ptr<platform::URLSession>& session, const TVURLSessionTaskPtr& task,
    const platform::URL& location)>;

inline constexpr const char* TVNetworkingTaskDidCompleteNotification = "com.tessvale.networking.task.complete";
inline constexpr const char* TVURLSessionDownloadTaskDidFailToMoveFileNotification =
    "com.tessvale.networking.session.download.file-manager-error";
// User-info keys of the completion notification. The notification carries
// what a Value can hold: the serializer's address ("%p"), the body bytes,
// the download's file URL (text), the serialized response when it is a Value
// and the error as {"domain", "code", "description"}. The objects themselves
// are on the task: TVURLSessionTask::completionUserInfo().
inline constexpr const char* TVNetworkingTaskDidCompleteResponseSerializerKey =
    "com.tessvale.networking.task.complete.responseserializer";
inline constexpr const char* TVNetworkingTaskDidCompleteResponseDataKey =
    "com.tessvale.networking.complete.finish.responsedata";
inline constexpr const char* TVNetworkingTaskDidCompleteAssetPathKey = "com.tessvale.networking.task.complete.assetpath";
inline constexpr const char* TVNetworkingTaskDidCompleteSerializedResponseKey =
    "com.tessvale.networking.task.complete.serializedresponse";
inline constexpr const char* TVNetworkingTaskDidCompleteErrorKey = "com.tessvale.networking.task.complete.error";

// Errors of moving a finished download: POSIX errno codes.
inline constexpr const char* TVNetworkingFileErrorDomain = "NSPOSIXErrorDomain";

class TVURLSessionManagerTaskDelegate {
public:
    static std::shared_ptr<TVURLSessionManagerTaskDelegate> create(const TVURLSessionTaskPtr& task);

    TVURLSessionManagerTaskDelegate(const TVURLSessionManagerTaskDelegate&) = delete;
    TVURLSessionManagerTaskDelegate& operator=(const TVURLSessionManagerTaskDelegate&) = delete;

    const TVURLSessionTaskPtr& task() const { return task_; }
    void setManager(std::weak_ptr<TVURLSessionManager> manager) { manager_ = std::move(manager); }
    void setResponseSerializer(std::shared_ptr<const TVURLResponseSerialization> s) { responseSerializer_ = std::move(s); }
    const std::shared_ptr<const TVURLResponseSerialization>& responseSerializer() const { return responseSerializer_; }
    void setCompletionHandler(TVURLSessionCompletionHandler h) { completionHandler_ = std::move(h); }
    void setDownloadTaskDidFinishDownloading(TVDownloadTaskDidFinishDownloadingBlock b) {
        downloadTaskDidFinishDownloading_ = std::move(b);
    }
    void setUploadProgressBlock(TVProgressBlock b);
    void setDownloadProgressBlock(TVProgressBlock b);
    const std::shared_ptr<TVProgress>& uploadProgress() const { return uploadProgress_; }
    const std::shared_ptr<TVProgress>& downloadProgress() const { return downloadProgress_; }
    const std::optional<platform::URL>& downloadFileURL() const { return downloadFileURL_; }
    // Set by the manager when its own destination block moved the file.
    void setDownloadFileURL(std::optional<platform::URL> url, platform::ErrorPtr moveError);

    // Session callbacks for this task.
    void didCompleteWithError(const std::shared_ptr<platform::URLSession>& session, platform::ErrorPtr error);
    void didReceiveData(const platform::Bytes& data);
    void didSendBodyData();
    void didWriteData(std::int64_t totalBytesWritten, std::int64_t totalBytesExpectedToWrite);
    void didFinishDownloadingToURL(const std::shared_ptr<platform::URLSession>& session, const platform::URL& location);

private:
    explicit TVURLSessionManagerTaskDelegate(const TVURLSessionTaskPtr& task);
    void progressChanged(TVProgress& progress);

    std::weak_ptr<TVURLSessionManager> manager_;
    TVURLSessionTaskPtr task_;
    std::shared_ptr<const TVURLResponseSerialization> responseSerializer_;
    std::optional<platform::Bytes> mutableData_{platform::Bytes{}};
    std::shared_ptr<TVProgress> uploadProgress_ = std::make_shared<TVProgress>();
    std::shared_ptr<TVProgress> downloadProgress_ = std::make_shared<TVProgress>();
    std::optional<platform::URL> downloadFileURL_;
    platform::ErrorPtr moveError_;
    TVDownloadTaskDidFinishDownloadingBlock downloadTaskDidFinishDownloading_;
    std::mutex blockMutex_;
    TVProgressBlock uploadProgressBlock_, downloadProgressBlock_;
    TVURLSessionCompletionHandler completionHandler_;
};

// Moves the file at `from` to `to` (across file systems by copying);
// the error (POSIX domain, with the paths) or null. Posts
// TVURLSessionDownloadTaskDidFailToMoveFileNotification on failure.
platform::ErrorPtr TVMoveDownloadedFile(const TVURLSessionTaskPtr& task, const platform::URL& from,
                                        const platform::URL& to);

}  // namespace pellix
