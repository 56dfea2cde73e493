// HOSClient: the object-storage client, one per service endpoint and
// credential source. Every operation takes a request record, turns it into
// the request's networking state and returns at once an HOSTask that later
// completes with the operation's result record (an HOSResultPtr holding the
// row's result class) or a storage error. Operations never throw and never
// block; they may be called from any thread.
//
// Destroying the client cancels every transfer still running.
#pragma once

#include <memory>
#include <string>

#include "HOSSDK/HOSClientConfiguration.h"
#include "HOSSDK/HOSCredentialProvider.h"
#include "HOSSDK/HOSModel.h"
#include "HOSSDK/HOSNetworking.h"
#include "HOSSDK/HOSOperation.h"
#include "HOSSDK/HOSTask/HOSCancellationTokenSource.h"
#include "HOSSDK/HOSTask/HOSExecutor.h"
#include "HOSSDK/HOSTask/HOSTask.h"

namespace pellix {

class HOSClient {
public:
    // An endpoint without "://" gains "https://"; blanks around it are
    // removed. A null configuration keeps the networking defaults: no
    // retries, no HTTP-DNS, no CRC-64 unless a request asks for it.
    HOSClient(const std::string& endpoint, HOSCredentialProviderPtr credentialProvider,
              std::shared_ptr<HOSClientConfiguration> clientConfiguration);
    HOSClient(const std::string& endpoint, HOSCredentialProviderPtr credentialProvider);
    ~HOSClient();
    HOSClient(const HOSClient&) = delete;
    HOSClient& operator=(const HOSClient&) = delete;

    const std::string& endpoint() const { return state_->endpoint; }
    void setEndpoint(std::string endpoint) { state_->endpoint = std::move(endpoint); }
    const HOSNetworkingPtr& networking() const { return state_->networking; }
    const HOSCredentialProviderPtr& credentialProvider() const { return state_->credentialProvider; }
    void setCredentialProvider(HOSCredentialProviderPtr p) { state_->credentialProvider = std::move(p); }
    const std::shared_ptr<HOSClientConfiguration>& clientConfiguration() const { return state_->clientConfiguration; }
    const std::shared_ptr<HOSExecutor>& hosOperationExecutor() const { return state_->hosOperationExecutor; }

    // The shared error of a cancelled task (client code 5).
    static platform::ErrorPtr cancelError();

    HOSTaskPtr headObject(const std::shared_ptr<HOSHeadObjectRequest>& request);
    HOSTaskPtr getObject(const std::shared_ptr<HOSGetObjectRequest>& request);
    HOSTaskPtr putObject(const std::shared_ptr<HOSPutObjectRequest>& request);
    HOSTaskPtr appendObject(const std::shared_ptr<HOSAppendObjectRequest>& request);
    // `crc64ecma`: the object's CRC-64 before this append, so the check can
    // cover the whole object.
    HOSTaskPtr appendObject(const std::shared_ptr<HOSAppendObjectRequest>& request, HOSOptString crc64ecma);
    HOSTaskPtr deleteObject(const std::shared_ptr<HOSDeleteObjectRequest>& request);

    HOSTaskPtr getService(const std::shared_ptr<HOSGetServiceRequest>& request);
    HOSTaskPtr createBucket(const std::shared_ptr<HOSCreateBucketRequest>& request);
    HOSTaskPtr deleteBucket(const std::shared_ptr<HOSDeleteBucketRequest>& request);
    HOSTaskPtr getBucket(const std::shared_ptr<HOSGetBucketRequest>& request);
    HOSTaskPtr getBucketACL(const std::shared_ptr<HOSGetBucketACLRequest>& request);
    HOSTaskPtr getObjectACL(const std::shared_ptr<HOSGetObjectACLRequest>& request);
    // Without `acl` the object's ACL goes back to "default" (the bucket's).
    HOSTaskPtr putObjectACL(const std::shared_ptr<HOSPutObjectACLRequest>& request);
    // A blank bucket name or no keys fails with client code 3 before sending.
    HOSTaskPtr deleteMultipleObjects(const std::shared_ptr<HOSDeleteMultipleObjectsRequest>& request);
    HOSTaskPtr copyObject(const std::shared_ptr<HOSCopyObjectRequest>& request);
    // A blank bucket or object name fails with code 3 of the task domain
    // before sending.
    HOSTaskPtr triggerCallBack(const std::shared_ptr<HOSCallBackRequest>& request);
    // Blocks the caller until the service answered. An absent object (404)
    // answers false and leaves `error` alone; any other failure answers false
    // and stores the failure in `error` when one is given.
    bool doesObjectExistInBucket(const std::string& bucketName, const std::string& objectKey,
                                 platform::ErrorPtr* error);

    HOSTaskPtr multipartUploadInit(const std::shared_ptr<HOSInitMultipartUploadRequest>& request);
    HOSTaskPtr uploadPart(const std::shared_ptr<HOSUploadPartRequest>& request);
    HOSTaskPtr completeMultipartUpload(const std::shared_ptr<HOSCompleteMultipartUploadRequest>& request);
    // An operation on an open upload (upload part, complete, abort, list
    // parts) whose record has no upload id fails with client code 3 and
    // sends nothing: without the id it would act on the object itself.
    HOSTaskPtr abortMultipartUpload(const std::shared_ptr<HOSAbortMultipartUploadRequest>& request);
    HOSTaskPtr listParts(const std::shared_ptr<HOSListPartsRequest>& request);
    HOSTaskPtr listMultipartUploads(const std::shared_ptr<HOSListMultipartUploadsRequest>& request);
    // Gives up a resumable upload: its record file goes (the upload id is
    // read from it when the record has none), so does the part-information
    // file of the record's upload id, and the upload is aborted.
    HOSTaskPtr abortResumableMultipartUpload(const std::shared_ptr<HOSResumableUploadRequest>& request);
    // Not resumable: aborts the record's upload. Resumable (a resumable
    // record): as abortResumableMultipartUpload, with the record file of a
    // sequential upload when `sequential`.
    HOSTaskPtr abortMultipartUpload(const std::shared_ptr<HOSMultipartUploadRequest>& request, bool sequential,
                                    bool resumable);

    // Uploads of a local file in numbered parts. Each checks the request on
    // the caller's thread (a failure is the returned task's error) and runs
    // on hosOperationExecutor(): initiate (or find the upload again), send
    // the parts the service does not have (up to 5 at a time, or one after
    // another when sequential), complete with the parts in order and, with
    // CRC-64 on, compare the whole object's CRC-64, folded from the parts',
    // with the service's. The result is an HOSResumableUploadResult.
    // A resumable run with a record directory keeps the upload id in a record
    // file there and the parts' CRC-64 in a part-information file (see
    // HOSPartInfoStore), so a later run with the same file, bucket, key, part
    // size, sequential flag and CRC setting continues where this one stopped.
    // `uploadProgress` gets (bytes of the part just sent, bytes at the
    // service so far, file size) after each part, and once (0, bytes found,
    // file size) when a run resumes.
    HOSTaskPtr multipartUpload(const std::shared_ptr<HOSMultipartUploadRequest>& request);
    HOSTaskPtr resumableUpload(const std::shared_ptr<HOSResumableUploadRequest>& request);
    HOSTaskPtr sequentialMultipartUpload(const std::shared_ptr<HOSResumableUploadRequest>& request);
    // The engine behind the three; a resumable run needs an
    // HOSResumableUploadRequest (else client code 3).
    HOSTaskPtr multipartUpload(const std::shared_ptr<HOSMultipartUploadRequest>& request, bool resumable,
                               bool sequential);

    static constexpr std::uint64_t kMinimumPartSize = 102400;
    static constexpr std::uint64_t kMaximumPartCount = 5000;
    static constexpr int kParallelPartCount = 5;
    // The part count of a file; above kMaximumPartCount parts the request's
    // part size grows to fileSize / kMaximumPartCount (rounded down) and the
    // last of exactly kMaximumPartCount parts carries the remainder.
    static std::uint64_t judgePartSizeForMultipartRequest(HOSMultipartUploadRequest& request, std::uint64_t fileSize);

    // URLs that let any HTTP client GET an object. Both tasks are normally
    // finished when the call returns; nothing is sent except what the
    // credential provider needs to obtain a token. The constrain URL is
    // signed and expires `expirationInterval` seconds after the server's
    // clock as last observed; the public URL carries no credentials. The
    // endpoint's scheme, host and port are kept; its path is not.
    HOSTaskPtr presignConstrainURLWithBucketName(const std::string& bucketName, const std::string& objectKey,
                                                 double expirationInterval,
                                                 const platform::Dictionary& parameters = {});
    HOSTaskPtr presignPublicURLWithBucketName(const std::string& bucketName, const std::string& objectKey,
                                              const platform::Dictionary& parameters = {});

    // Callback-style forms of put, get and delete: plain arguments in, a
    // completion block and a progress fraction (0 to 1) out, and a handle
    // whose cancel() stops the transfer at any time after the call, even
    // before it has started. The work runs on hosOperationExecutor(); every
    // wrapper but the delete reports a last 1.0 before its completion,
    // whatever the outcome. Completions run on an operation-queue thread.
    using HOSCompletedBlock = std::function<void(bool success, platform::ErrorPtr error)>;
    using HOSDataCompletedBlock = std::function<void(std::optional<platform::Bytes> data, platform::ErrorPtr error)>;
    using HOSFractionBlock = std::function<void(float fraction)>;
    using HOSCancellationTokenSourcePtr = std::shared_ptr<HOSCancellationTokenSource>;
    HOSCancellationTokenSourcePtr uploadData(const platform::Bytes& data, const HOSOptString& contentType,
                                             const platform::Dictionary& objectMeta, const std::string& bucketName,
                                             const std::string& objectKey, HOSCompletedBlock onCompleted,
                                             HOSFractionBlock onProgress);
    HOSCancellationTokenSourcePtr uploadFile(const std::string& path, const HOSOptString& contentType,
                                             const platform::Dictionary& objectMeta, const std::string& bucketName,
                                             const std::string& objectKey, HOSCompletedBlock onCompleted,
                                             HOSFractionBlock onProgress);
    HOSCancellationTokenSourcePtr downloadToDataFromBucket(const std::string& bucketName, const std::string& objectKey,
                                                           HOSDataCompletedBlock onCompleted,
                                                           HOSFractionBlock onProgress);
    HOSCancellationTokenSourcePtr downloadToFileFromBucket(const std::string& bucketName, const std::string& objectKey,
                                                           const std::string& path, HOSCompletedBlock onCompleted,
                                                           HOSFractionBlock onProgress);
    void deleteObjectInBucket(const std::string& bucketName, const std::string& objectKey,
                              HOSCompletedBlock onCompleted);
    // A resumable upload of the file at `path`, its record kept in the
    // caches directory, so a later call for the same file, bucket and key
    // continues where this one stopped (a cancelled upload is kept for
    // that). A file that cannot be read fails at once with the file
    // system's error and nothing is sent. Progress is (bytes at the service)
    // / (file size) after each part; cancel() on the handle stops the run.
    // The completion runs on the thread that ends the run; a cancelled task
    // reports client code 5 "This task is cancelled", an exception code 9.
    HOSCancellationTokenSourcePtr resumableUploadFile(const std::string& path, const HOSOptString& contentType,
                                                      const platform::Dictionary& objectMeta,
                                                      const std::string& bucketName, const std::string& objectKey,
                                                      HOSCompletedBlock onCompleted, HOSFractionBlock onProgress);

    // Runs one operation row for a record of the row's request class.
    HOSTaskPtr perform(const HOSOperation& operation, HOSRequest& request);
    HOSTaskPtr invokeRequest(const HOSNetworkingRequestDelegatePtr& request, bool requireAuthentication);
    void enableCRC64WithFlag(std::uint64_t crcFlag, HOSNetworkingRequestDelegate& request) const;

private:
    // What every request of the client needs. Work that runs on after a call
    // returned (multipart runs, the callback-style wrappers) holds it through
    // a worker client, so the caller may destroy the client at any time.
    struct State {
        std::string endpoint;
        HOSCredentialProviderPtr credentialProvider;
        std::shared_ptr<HOSClientConfiguration> clientConfiguration;
        HOSNetworkingPtr networking;
        std::shared_ptr<HOSExecutor> hosOperationExecutor;
    };
    struct WorkerTag {};

public:
    // A client over this one's state that cancels nothing when it goes: what
    // background work holds instead of the caller's client. Destroying the
    // caller's client still cancels the transfers of every worker.
    HOSClient(WorkerTag, std::shared_ptr<State> state) : state_(std::move(state)), owner_(false) {}
    std::shared_ptr<HOSClient> worker() const { return std::make_shared<HOSClient>(WorkerTag{}, state_); }

private:
    std::shared_ptr<State> state_;
    bool owner_ = true;
};

// The folder, under the documents directory, of the part-information files
// of resumable uploads (one per upload id).
inline constexpr const char* kHOSPartInfosDirectoryName = "hos_partInfos_storage_name";

// The record file of a resumable upload in `directory`: named by the MD5 of
// the file's MD5 text, bucket, key and part size, marked for a sequential
// upload and for CRC-64.
std::string hosResumableRecordFilePath(const HOSMultipartUploadRequest& record, const std::string& directory,
                                       bool sequential);
// The part-information file of an upload (its journal is the same path plus
// ".journal", see HOSPartInfoStore); none when the id is not a plain file name (empty, ".", "..", or holding a slash or NUL), so no path built
// from it can leave the folder.
std::optional<std::string> hosPartInfoFilePath(const std::string& uploadId);

}  // namespace pellix
