// Storage errors: the two domains, the client codes, the user-info keys and
// the message texts every storage failure is reported with.
//
// A storage operation fails only through its task, with a platform Error in
// one of these domains. Service failures carry minus the HTTP status as code
// and the parsed XML error body as user info (its "Code" entry, e.g.
// "RequestTimeTooSkewed", drives the retry policy). The builders below are
// plain functions of their arguments and safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Error.h"

namespace pellix {

inline constexpr const char* HOSClientErrorDomain = "com.halvane.hos.clientError";
inline constexpr const char* HOSServerErrorDomain = "com.halvane.hos.serverError";

// User-info keys.
inline constexpr const char* HOSErrorMessageKey = "ErrorMessage";
inline constexpr const char* HOSOriginErrorCodeKey = "OriginErrorCode";

enum HOSClientErrorCode : std::int64_t {
    HOSClientErrorCodeResponseCodeZero = 0,  // the response carried status code 0
    HOSClientErrorCodeSignFailed = 1,        // credentials missing or signing failed
    HOSClientErrorCodeFileCannotWrite = 2,   // a file or directory cannot be created or written
    HOSClientErrorCodeInvalidArgument = 3,   // a request parameter is missing or invalid
    HOSClientErrorCodeNoUploadId = 4,        // no upload id (raised in HOSServerErrorDomain)
    HOSClientErrorCodeTaskCancelled = 5,     // the request was cancelled
    HOSClientErrorCodeNetworkError = 6,      // the transport failed
    HOSClientErrorCodeInvalidCRC = 7,        // the CRC-64 of the transferred data does not match
    HOSClientErrorCodeCannotResumeUpload = 8,  // a resumable upload cannot continue from its record
    HOSClientErrorCodeExceptionCaught = 9,   // an exception was caught inside a task
    HOSClientErrorCodeInvalidResponse = 10,  // a successful reply's body has the wrong shape
};

// Message texts. Those with "%s"/"%llu" are printf formats the raising code
// fills (a path, a CRC value in decimal, an exception's description).
namespace HOSErrorMessage {
inline constexpr const char* kResponseCodeZero = "Request failed, response code 0";
inline constexpr const char* kNullKeyPair = "accessKey or secretKey can't be null";
inline constexpr const char* kNoFederationToken = "Can't get a federation token";
inline constexpr const char* kInvalidSignature = "the returned signature is invalid";
inline constexpr const char* kCannotCreateDir = "Can't create dir at %s";
inline constexpr const char* kCannotCreateFile = "Can't create file at %s";
inline constexpr const char* kUploadIdNotStored = "uploadId for this task can't be stored persistentially!";
inline constexpr const char* kEndpointNil = "Endpoint should not be nil";
inline constexpr const char* kBucketNameNil = "Bucket name should not be nil";
inline constexpr const char* kBucketNameInvalid = "Bucket name invalid";
inline constexpr const char* kObjectKeyNil = "Object key should not be nil";
inline constexpr const char* kObjectKeyInvalid = "Object key invalid";
inline constexpr const char* kNoBodyToUpload = "This operation need data or file to upload but none is set";
inline constexpr const char* kFileDoesNotExist = "File doesn't exist";
inline constexpr const char* kBucketNameEmpty = "bucket name should not be empty";
inline constexpr const char* kKeysEmpty = "keys should not be empty";
inline constexpr const char* kResumableNeedsMultipartRequest =
    "resumable multipart request should use instance of class HOSMultipartUploadRequest!";
inline constexpr const char* kCheckParamsBucketName = "checkNecessaryParamsOfRequest requires nonnull bucketName!";
inline constexpr const char* kCheckParamsObjectKey = "checkNecessaryParamsOfRequest requires nonnull objectKey!";
inline constexpr const char* kCheckParamsUploadingFileURL =
    "checkNecessaryParamsOfRequest requires nonnull uploadingFileURL!";
inline constexpr const char* kPartSizeTooSmall = "Part size must be greater than equal to 100KB";
inline constexpr const char* kFileLengthZero = "File length must not be 0!";
inline constexpr const char* kCheckUploadingFileURL = "Please check your request's uploadingFileURL!";
inline constexpr const char* kCannotGetUploadId = "Can not get uploadId!";
inline constexpr const char* kTaskHasBeenCancelled = "This task has been cancelled!";
inline constexpr const char* kTaskIsCancelled = "This task is cancelled";
inline constexpr const char* kCRCValidationFails = "crc validation fails(local_crc64ecma: %s,remote_crc64ecma: %s)";
inline constexpr const char* kCRCNotEqual = "local_crc64(%llu) is not equal to remote_crc64(%llu)!";
inline constexpr const char* kUploadingFileInconsistent = "The uploading file is inconsistent with before";
inline constexpr const char* kPartSizeInconsistent = "The part size setting is inconsistent with before";
inline constexpr const char* kCatchException = "Catch exception - %s";
inline constexpr const char* kUploadIdNil = "uploadId should not be nil";
inline constexpr const char* kTriggerBucketNameEmpty = "bucketName should not be empty!";
inline constexpr const char* kTriggerObjectNameEmpty = "objectName should not be empty!";
}  // namespace HOSErrorMessage

// Error in HOSClientErrorDomain whose user info is the single "ErrorMessage".
platform::ErrorPtr HOSClientError(HOSClientErrorCode code, std::string message);
// Error in HOSClientErrorDomain with no user info at all (a request cancelled
// before its task started).
platform::ErrorPtr HOSClientError(HOSClientErrorCode code);
// Error in HOSServerErrorDomain with a message: codes 4 (no upload id) and 2
// (writing a received body failed).
platform::ErrorPtr HOSServerMessageError(std::int64_t code, std::string message);
// A failed reply: code = -httpStatus (404 gives -404), user info = the
// dictionary made of the reply's XML error body.
platform::ErrorPtr HOSServerError(std::int64_t httpStatus, platform::Dictionary xmlBody);
// A cancelled transfer: client code 5 with the transport error's user info
// unchanged.
platform::ErrorPtr HOSCancelledTransportError(const platform::Error& transportError);
// Any other transport failure: client code 6 with a copy of the transport
// error's user info plus "OriginErrorCode", its code in decimal.
platform::ErrorPtr HOSNetworkError(const platform::Error& transportError);

}  // namespace pellix
