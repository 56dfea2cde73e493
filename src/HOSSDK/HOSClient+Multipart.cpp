// The multipart upload engine of HOSClient: checks, part sizing, the record
// file of a resumable upload, reconciliation with the service's part list,
// initiation, the part phase (parallel or sequential), completion with the
// whole object's CRC-64 folded from the parts, and abort.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <semaphore>
#include <set>

#include "HOSSDK/HOSClient.h"
#include "HOSSDK/HOSErrors.h"
#include "HOSSDK/HOSFileLog/HOSLog.h"
#include "HOSSDK/HOSPartInfoStore.h"
#include "HOSSDK/HOSUtil.h"
#include "HOSSDK/NSString+HOS.h"
#include "platform/KeyedArchive.h"
#include "platform/OperationQueue.h"

namespace pellix {

namespace {

// Serialises the recording of finished parts across every run of every
// client (list, part-information file, byte counter, failure, progress).
std::mutex& partLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

platform::ErrorPtr invalid(const char* message) {
    return HOSClientError(HOSClientErrorCodeInvalidArgument, message);
}

platform::ErrorPtr fileError(int err, const std::string& path) {
    return platform::Error::make("NSPOSIXErrorDomain", err,
                                 platform::Dictionary{{HOSErrorMessageKey, platform::Value(std::strerror(err))},
                                                      {"NSFilePath", platform::Value(path)}});
}

std::optional<std::uint64_t> unsignedOf(const platform::Value* value) {
    if (!value) return std::nullopt;
    if (const auto* text = value->stringIf()) {
        std::uint64_t n = 0;
        auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), n);
        if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
        return n;
    }
    if (value->isInt() && value->asInt() >= 0) return static_cast<std::uint64_t>(value->asInt());
    if (value->isUInt()) return value->asUInt();
    return std::nullopt;
}

std::optional<std::uint64_t> unsignedOf(const HOSOptString& text) {
    if (!text) return std::nullopt;
    platform::Value v(*text);
    return unsignedOf(&v);
}

// Reads exactly `length` bytes at `offset`; false when the file is shorter
// or unreadable (errno tells which).
bool readPart(int fd, std::uint64_t offset, platform::Bytes& out, std::size_t length) {
    out.resize(length);
    std::size_t got = 0;
    while (got < length) {
        ssize_t n = ::pread(fd, out.data() + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::shared_ptr<HOSResult> resultOfTask(const HOSTaskPtr& task) {
    const auto* r = task->resultAs<HOSResultPtr>();
    return r ? *r : nullptr;
}

// A task that did not end with a result, as the run reports it: an error as
// is, a cancellation or an exception as a storage error.
HOSTaskPtr failureOf(const HOSTaskPtr& task) {
    if (task->error()) return task;
    if (task->isCancelled()) return HOSTask::taskWithError(HOSClient::cancelError());
    if (auto exception = task->exception())
        return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeExceptionCaught, exception->reason()));
    return nullptr;
}

class MultipartRun {
public:
    MultipartRun(std::shared_ptr<HOSClient> client, std::shared_ptr<HOSMultipartUploadRequest> request,
                 bool resumable, bool sequential)
        : client_(std::move(client)),
          request_(std::move(request)),
          resumableRecord_(dynamic_cast<HOSResumableUploadRequest*>(request_.get())),
          resumable_(resumable),
          sequential_(sequential),
          crcOn_(request_->crcFlag() == HOSCrcFlagOn),
          path_(request_->uploadingFileURL()->path()) {}

    std::any run();

private:
    HOSTaskPtr reconcile(std::string& uploadId);
    HOSTaskPtr takeListedParts(const platform::Array& listed);
    HOSTaskPtr initiate(std::string& uploadId);
    HOSTaskPtr partPhase();
    HOSTaskPtr parallelParts(int fd);
    HOSTaskPtr sequentialParts(int fd);
    HOSTaskPtr sendPart(std::int32_t number, platform::Bytes data);
    void recordPart(const HOSPartInfoPtr& part);
    std::any complete();
    void abort();
    void openStore(const std::string& uploadId);
    void closeStore();
    std::size_t partLength(std::uint64_t number) const {
        const std::uint64_t size = request_->partSize();
        return static_cast<std::size_t>(number == partCount_ ? fileSize_ - size * (number - 1) : size);
    }
    bool deleteOnCancel() const { return resumableRecord_ && resumableRecord_->deleteUploadIdOnCancelling(); }

    // A worker over the caller's client: the run may outlive that client.
    const std::shared_ptr<HOSClient> client_;
    std::shared_ptr<HOSMultipartUploadRequest> request_;
    HOSResumableUploadRequest* resumableRecord_;
    const bool resumable_;
    const bool sequential_;
    const bool crcOn_;
    const std::string path_;
    std::uint64_t fileSize_ = 0;
    std::uint64_t partCount_ = 0;
    std::optional<std::string> recordPath_;
    std::unique_ptr<HOSPartInfoStore> store_;
    // Guarded by partLock() while the part phase runs.
    std::uint64_t uploadedLength_ = 0;
    std::vector<HOSPartInfoPtr> finished_;
    HOSTaskPtr errorTask_;
    std::set<std::int32_t> present_;
};

void MultipartRun::openStore(const std::string& uploadId) {
    if (store_ && store_->path() == hosPartInfoFilePath(uploadId)) return;
    store_.reset();
    const auto path = hosPartInfoFilePath(uploadId);
    if (!path) {
        HOS_LOG_ERROR("create local partInfo file failed!");
        return;
    }
    const auto directory = std::filesystem::path(*path).parent_path();
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec) && !std::filesystem::create_directory(directory, ec))
        HOS_LOG_ERROR("create Directory(%s) failed!", directory.c_str());
    store_ = std::make_unique<HOSPartInfoStore>(*path);
    store_->open();
}

void MultipartRun::closeStore() {
    if (!store_) return;
    if (auto error = store_->close()) HOS_LOG_DEBUG("[Error]: %s", error->description().c_str());
    store_.reset();
}

std::any MultipartRun::run() {
    uploadedLength_ = 0;
    std::error_code ec;
    fileSize_ = std::filesystem::file_size(path_, ec);
    if (ec) return HOSTask::taskWithError(fileError(ec.value(), path_));
    partCount_ = HOSClient::judgePartSizeForMultipartRequest(*request_, fileSize_);
    if (request_->isCancelled()) return HOSTask::taskWithError(HOSClient::cancelError());

    std::string uploadId;
    if (resumable_) {
        auto md5 = HOSUtil::fileMD5String(path_);
        if (!md5) return HOSTask::taskWithError(fileError(errno ? errno : EIO, path_));
        request_->setMd5String(md5);
        if (hos_isNotEmpty(resumableRecord_->recordDirectoryPath())) {
            recordPath_ =
                hosResumableRecordFilePath(*request_, *resumableRecord_->recordDirectoryPath(), sequential_);
            if (std::filesystem::exists(*recordPath_, ec)) {
                std::ifstream in(*recordPath_, std::ios::binary);
                uploadId.assign(std::istreambuf_iterator<char>(in), {});
            } else {
                std::ofstream(*recordPath_, std::ios::binary);
            }
            HOS_LOG_VERBOSE("local uploadId: %s,recordFilePath: %s", uploadId.c_str(), recordPath_->c_str());
        }
        if (!uploadId.empty())
            if (auto failed = reconcile(uploadId)) return failed;
        if (!present_.empty() && request_->uploadProgress() && fileSize_ != 0)
            request_->uploadProgress()(0, static_cast<std::int64_t>(uploadedLength_),
                                       static_cast<std::int64_t>(fileSize_));
    }

    if (uploadId.empty())
        if (auto failed = initiate(uploadId)) return failed;
    request_->setUploadId(uploadId);

    if (request_->isCancelled()) {
        if (resumable_ && deleteOnCancel()) abort();
        return HOSTask::taskWithError(HOSClient::cancelError());
    }

    if (auto failed = partPhase()) {
        const auto error = failed->error();
        const bool abortIt =
            !resumable_ || deleteOnCancel() || (error && error->code() == HOSClientErrorCodeFileCannotWrite);
        if (abortIt) {
            store_.reset();
            abort();
            // Only a resumable run could ever read the part information
            // again; left behind, it would stay in the documents directory
            // for good.
            if (!resumable_)
                if (auto partInfoPath = hosPartInfoFilePath(uploadId)) HOSPartInfoStore::remove(*partInfoPath);
        } else {
            closeStore();
        }
        return failed;
    }
    closeStore();
    return complete();
}

HOSTaskPtr MultipartRun::reconcile(std::string& uploadId) {
    if (crcOn_) openStore(uploadId);
    // Every page of the listing: an upload of more parts than one page holds
    // would otherwise send the rest again.
    platform::Array listed;
    for (std::int32_t marker = 0;;) {
        auto list = std::make_shared<HOSListPartsRequest>();
        list->setBucketName(request_->bucketName());
        list->setObjectKey(request_->objectKey());
        list->setUploadId(uploadId);
        list->setPartNumberMarker(marker);
        auto task = client_->listParts(list);
        task->waitUntilFinished();
        if (const auto error = task->error()) {
            if (marker == 0 && error->domain() == HOSServerErrorDomain && error->code() == -404) {
                HOS_LOG_VERBOSE("local record existes but the remote record is deleted");
                // The old part-information file stays: it belongs to the old id.
                store_.reset();
                uploadId.clear();
                return nullptr;
            }
            return task;
        }
        if (auto failed = failureOf(task)) return failed;
        auto result = std::dynamic_pointer_cast<HOSListPartsResult>(resultOfTask(task));
        if (result && result->parts()) listed.insert(listed.end(), result->parts()->begin(), result->parts()->end());
        // A listing that does not move on ends here rather than loop.
        if (!result || !result->isTruncated() || result->nextPartNumberMarker() <= marker) break;
        marker = result->nextPartNumberMarker();
    }
    HOS_LOG_VERBOSE("resumableUpload listpart ok");

    std::uint64_t sum = 0, first = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const auto size = unsignedOf(listed[i].get("Size")).value_or(0);
        if (i == 0) first = size;
        sum += size;
    }
    if (sum > fileSize_)
        return HOSTask::taskWithError(
            HOSClientError(HOSClientErrorCodeCannotResumeUpload, HOSErrorMessage::kUploadingFileInconsistent));
    if (first != 0 && first != request_->partSize() && first != fileSize_)
        return HOSTask::taskWithError(
            HOSClientError(HOSClientErrorCodeCannotResumeUpload, HOSErrorMessage::kPartSizeInconsistent));
    return takeListedParts(listed);
}

HOSTaskPtr MultipartRun::takeListedParts(const platform::Array& listed) {
    int fd = -1;
    for (const auto& entry : listed) {
        const auto number = unsignedOf(entry.get("PartNumber")).value_or(0);
        const auto size = unsignedOf(entry.get("Size"));
        HOSOptString eTag;
        if (const auto* text = entry.get("ETag"); text && text->stringIf()) eTag = *text->stringIf();
        // Only a part this run would send itself, of the same size, counts as
        // sent: anything else would complete the object from wrong parts
        // (without CRC-64 nothing would notice), so it is sent again.
        if (number == 0 || number > partCount_ || !size || *size != partLength(number) || !hos_isNotEmpty(eTag) ||
            present_.count(static_cast<std::int32_t>(number))) {
            HOS_LOG_VERBOSE("listed part %llu does not fit the upload; it is sent again",
                            static_cast<unsigned long long>(number));
            continue;
        }
        auto part = HOSPartInfo::partInfoWithPartNum(static_cast<std::int32_t>(number), eTag,
                                                     static_cast<std::int64_t>(*size));
        std::optional<std::uint64_t> crc;
        if (store_) crc = store_->crc64Of(part->partNum());
        if (!crc && crcOn_) {
            // The part is at the service but its CRC-64 was never recorded
            // here (the record was lost): read it again from the file, which
            // is the same file (its MD5 named the record), rather than fold a
            // 0 that would fail the whole object's check.
            const std::uint64_t offset = (number - 1) * request_->partSize();
            if (fd < 0) fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
            platform::Bytes data;
            if (fd < 0 || !readPart(fd, offset, data, static_cast<std::size_t>(*size))) {
                const int err = errno;
                if (fd >= 0) ::close(fd);
                return HOSTask::taskWithError(fileError(err, path_));
            }
            crc = HOSUtil::crc64ecma(0, data.data(), data.size());
            part->setCrc64(*crc);
            if (store_) store_->record(*part);
        }
        part->setCrc64(crc.value_or(0));
        finished_.push_back(part);
        present_.insert(part->partNum());
        uploadedLength_ += *size;
    }
    if (fd >= 0) ::close(fd);
    return nullptr;
}

HOSTaskPtr MultipartRun::initiate(std::string& uploadId) {
    auto init = std::make_shared<HOSInitMultipartUploadRequest>();
    init->setBucketName(request_->bucketName());
    init->setObjectKey(request_->objectKey());
    init->setContentType(request_->contentType());
    init->setObjectMeta(request_->completeMetaHeader());
    init->setSequential(sequential_);
    init->setCrcFlag(request_->crcFlag());
    auto task = client_->multipartUploadInit(init);
    task->waitUntilFinished();
    if (auto failed = failureOf(task)) return failed;
    auto result = std::dynamic_pointer_cast<HOSInitMultipartUploadResult>(resultOfTask(task));
    // Without an id the parts would be sent as plain writes of the object,
    // each replacing the last: stop, whatever the mode.
    if (!result || !hos_isNotEmpty(result->uploadId()))
        return HOSTask::taskWithError(
            HOSServerMessageError(HOSClientErrorCodeNoUploadId, HOSErrorMessage::kCannotGetUploadId));
    uploadId = *result->uploadId();
    if (recordPath_) {
        platform::ErrorPtr error;
        if (!platform::KeyedArchive::writeFileAtomically(*recordPath_, platform::Bytes(uploadId.begin(), uploadId.end()),
                                                         &error)) {
            auto failure = HOSClientError(HOSClientErrorCodeFileCannotWrite, HOSErrorMessage::kUploadIdNotStored);
            HOS_LOG_DEBUG("[Error]: %s", failure->description().c_str());
            return HOSTask::taskWithError(failure);
        }
    }
    return nullptr;
}

HOSTaskPtr MultipartRun::partPhase() {
    if (crcOn_) openStore(*request_->uploadId());
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return HOSTask::taskWithError(fileError(errno, path_));
    auto failed = sequential_ ? sequentialParts(fd) : parallelParts(fd);
    ::close(fd);
    return failed;
}

HOSTaskPtr MultipartRun::parallelParts(int fd) {
    auto queue = platform::OperationQueue::create("com.halvane.hos.multipart.parts");
    queue->setMaxConcurrentOperationCount(HOSClient::kParallelPartCount);
    // Bounds the parts queued or running, so only they are held in memory.
    std::counting_semaphore<HOSClient::kParallelPartCount> slots(HOSClient::kParallelPartCount);
    HOSTaskPtr readFailure;
    for (std::uint64_t n = 1; n <= partCount_; ++n) {
        if (request_->isCancelled()) {
            queue->cancelAllOperations();
            break;
        }
        const auto number = static_cast<std::int32_t>(n);
        if (present_.count(number)) continue;
        slots.acquire();
        if (request_->isCancelled()) {
            slots.release();
            queue->cancelAllOperations();
            break;
        }
        platform::Bytes data;
        if (!readPart(fd, request_->partSize() * (n - 1), data, partLength(n))) {
            slots.release();
            readFailure = HOSTask::taskWithError(fileError(errno, path_));
            break;
        }
        queue->addOperation([this, number, &slots, data = std::move(data)]() mutable {
            sendPart(number, std::move(data));
            slots.release();
        });
    }
    queue->waitUntilAllOperationsAreFinished();
    std::lock_guard<std::mutex> guard(partLock());
    if (errorTask_) return errorTask_;
    if (readFailure) return readFailure;
    if (request_->isCancelled()) return HOSTask::taskWithError(HOSClient::cancelError());
    return nullptr;
}

HOSTaskPtr MultipartRun::sequentialParts(int fd) {
    for (std::uint64_t n = 1; n <= partCount_; ++n) {
        const auto number = static_cast<std::int32_t>(n);
        if (present_.count(number)) continue;
        platform::Bytes data;
        if (!readPart(fd, request_->partSize() * (n - 1), data, partLength(n)))
            return HOSTask::taskWithError(fileError(errno, path_));
        // Polled after reading, so a cancel that came meanwhile sends nothing.
        if (request_->isCancelled()) return HOSTask::taskWithError(HOSClient::cancelError());
        if (auto failed = sendPart(number, std::move(data))) return failed;
    }
    return nullptr;
}

HOSTaskPtr MultipartRun::sendPart(std::int32_t number, platform::Bytes data) {
    auto part = std::make_shared<HOSUploadPartRequest>();
    part->setBucketName(request_->bucketName());
    part->setObjectkey(request_->objectKey());
    part->setPartNumber(number);
    part->setUploadId(request_->uploadId());
    part->setContentMd5(HOSUtil::base64Md5ForData(data));
    part->setCrcFlag(request_->crcFlag());
    const auto length = static_cast<std::int64_t>(data.size());
    part->setUploadPartData(std::move(data));
    auto task = client_->uploadPart(part);
    task->waitUntilFinished();
    if (auto failed = failureOf(task)) {
        std::lock_guard<std::mutex> guard(partLock());
        errorTask_ = failed;
        return failed;
    }
    auto result = std::dynamic_pointer_cast<HOSUploadPartResult>(resultOfTask(task));
    auto info = HOSPartInfo::partInfoWithPartNum(number, result ? result->eTag() : std::nullopt, length);
    const auto crc = result ? unsignedOf(result->remoteCRC64ecma()) : std::nullopt;
    if (!crc) HOS_LOG_ERROR("multipart upload error with nil remote crc64!");
    info->setCrc64(crc.value_or(0));
    recordPart(info);
    return nullptr;
}

void MultipartRun::recordPart(const HOSPartInfoPtr& part) {
    std::lock_guard<std::mutex> guard(partLock());
    finished_.push_back(part);
    if (crcOn_ && store_)
        if (auto error = store_->record(*part)) HOS_LOG_DEBUG("[Error]: %s", error->description().c_str());
    uploadedLength_ += static_cast<std::uint64_t>(part->size());
    if (const auto& progress = request_->uploadProgress())
        progress(part->size(), static_cast<std::int64_t>(uploadedLength_), static_cast<std::int64_t>(fileSize_));
}

std::any MultipartRun::complete() {
    std::sort(finished_.begin(), finished_.end(),
              [](const HOSPartInfoPtr& a, const HOSPartInfoPtr& b) { return a->partNum() < b->partNum(); });
    std::uint64_t localCrc = 0;
    if (crcOn_)
        for (const auto& part : finished_)
            localCrc = HOSUtil::crc64ForCombineCRC1(localCrc, part->crc64(), static_cast<std::uint64_t>(part->size()));

    auto completion = std::make_shared<HOSCompleteMultipartUploadRequest>();
    completion->setBucketName(request_->bucketName());
    completion->setObjectKey(request_->objectKey());
    completion->setUploadId(request_->uploadId());
    completion->setPartInfos(finished_);
    completion->setCrcFlag(request_->crcFlag());
    completion->setContentSHA1(request_->contentSHA1());
    if (!request_->completeMetaHeader().empty()) completion->setCompleteMetaHeader(request_->completeMetaHeader());
    if (request_->callbackParam()) completion->setCallbackParam(request_->callbackParam());
    if (request_->callbackVar()) completion->setCallbackVar(request_->callbackVar());
    auto task = client_->completeMultipartUpload(completion);
    task->waitUntilFinished();
    if (auto failed = failureOf(task)) {
        HOS_LOG_VERBOSE("completeTask.error %s: ", failed->error()->description().c_str());
        return failed;
    }
    std::error_code ec;
    if (recordPath_ && std::filesystem::exists(*recordPath_, ec) && !std::filesystem::remove(*recordPath_, ec) && ec)
        HOS_LOG_ERROR("delete localUploadIdPath failed!Error: %s", ec.message().c_str());
    if (auto partInfoPath = hosPartInfoFilePath(*request_->uploadId())) HOSPartInfoStore::remove(*partInfoPath);

    auto result = std::dynamic_pointer_cast<HOSCompleteMultipartUploadResult>(resultOfTask(task));
    if (crcOn_ && result) {
        if (const auto remote = unsignedOf(result->remoteCRC64ecma())) {
            HOS_LOG_VERBOSE("resumableUpload local_crc64 %llu", static_cast<unsigned long long>(localCrc));
            HOS_LOG_VERBOSE("resumableUpload remote_crc64 %llu", static_cast<unsigned long long>(*remote));
            if (*remote != localCrc) {
                char message[160];
                std::snprintf(message, sizeof message, HOSErrorMessage::kCRCNotEqual,
                              static_cast<unsigned long long>(localCrc), static_cast<unsigned long long>(*remote));
                return HOSTask::taskWithError(HOSClientError(HOSClientErrorCodeInvalidCRC, message));
            }
        }
    }
    auto out = std::make_shared<HOSResumableUploadResult>();
    if (result) {
        out->setRequestId(result->requestId());
        out->setHttpResponseCode(result->httpResponseCode());
        out->setHttpResponseHeaderFields(result->httpResponseHeaderFields());
        out->setServerReturnJsonString(result->serverReturnJsonString());
        out->setRemoteCRC64ecma(result->remoteCRC64ecma());
        out->setLocalCRC64ecma(std::to_string(localCrc));
    }
    return HOSResultPtr(out);
}

void MultipartRun::abort() {
    // The outcome does not change the run's: it ends with its own failure.
    client_->abortMultipartUpload(request_, sequential_, resumable_)->waitUntilFinished();
}

}  // namespace

std::uint64_t HOSClient::judgePartSizeForMultipartRequest(HOSMultipartUploadRequest& request, std::uint64_t fileSize) {
    const std::uint64_t partSize = request.partSize();
    std::uint64_t count = fileSize / partSize + (fileSize % partSize ? 1 : 0);
    if (count > kMaximumPartCount) {
        request.setPartSize(fileSize / kMaximumPartCount);
        count = kMaximumPartCount;
    }
    return count;
}

HOSTaskPtr HOSClient::multipartUpload(const std::shared_ptr<HOSMultipartUploadRequest>& request) {
    return multipartUpload(request, false, false);
}

HOSTaskPtr HOSClient::resumableUpload(const std::shared_ptr<HOSResumableUploadRequest>& request) {
    return multipartUpload(request, true, false);
}

HOSTaskPtr HOSClient::sequentialMultipartUpload(const std::shared_ptr<HOSResumableUploadRequest>& request) {
    return multipartUpload(request, true, true);
}

HOSTaskPtr HOSClient::multipartUpload(const std::shared_ptr<HOSMultipartUploadRequest>& request, bool resumable,
                                      bool sequential) {
    if (!request) return HOSTask::taskWithError(invalid(HOSErrorMessage::kCheckUploadingFileURL));
    if (resumable && !dynamic_cast<HOSResumableUploadRequest*>(request.get()))
        return HOSTask::taskWithError(invalid(HOSErrorMessage::kResumableNeedsMultipartRequest));
    if (request->crcFlag() == HOSCrcFlagUnset)
        request->setCrcFlag(state_->clientConfiguration && state_->clientConfiguration->crc64Verifiable() ? HOSCrcFlagOn
                                                                                            : HOSCrcFlagOff);

    const auto& url = request->uploadingFileURL();
    if (!url || url->path().empty()) return HOSTask::taskWithError(invalid(HOSErrorMessage::kCheckUploadingFileURL));
    std::error_code ec;
    if (const auto size = std::filesystem::file_size(url->path(), ec); !ec && size == 0)
        return HOSTask::taskWithError(invalid(HOSErrorMessage::kFileLengthZero));
    if (!hos_isNotEmpty(request->objectKey()))
        return HOSTask::taskWithError(invalid(HOSErrorMessage::kCheckParamsObjectKey));
    if (!hos_isNotEmpty(request->bucketName()))
        return HOSTask::taskWithError(invalid(HOSErrorMessage::kCheckParamsBucketName));
    if (!hos_isNotEmpty(std::string_view(url->path()))) return HOSTask::taskWithError(invalid(HOSErrorMessage::kCheckParamsUploadingFileURL));
    if (request->partSize() < kMinimumPartSize) return HOSTask::taskWithError(invalid(HOSErrorMessage::kPartSizeTooSmall));

    return HOSTask::taskWithResult(std::any())->continueWithExecutor(
        state_->hosOperationExecutor, [client = worker(), request, resumable, sequential](const HOSTaskPtr&) -> std::any {
            MultipartRun run(client, request, resumable, sequential);
            return run.run();
        });
}

}  // namespace pellix
