// HOSOperation: each storage operation described once, as data. A row names
// the operation type (the number that ties a request to its result parsing),
// the HTTP verb, the target, the CRC-64 rule, how the request record becomes
// headers, query and body, and how the reply becomes the result record.
// HOSClient::perform runs any row; adding an operation is adding a row.
//
// The table is built at compile time and only read; safe from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "HOSSDK/HOSModel.h"
#include "platform/Error.h"
#include "platform/HTTPURLResponse.h"
#include "platform/Value.h"

namespace pellix {

class HOSNetworkingRequestDelegate;

enum HOSOperationType : std::int64_t {
    HOSOperationTypeGetService = 0,
    HOSOperationTypeCreateBucket = 1,
    HOSOperationTypeDeleteBucket = 2,
    HOSOperationTypeGetBucket = 3,
    HOSOperationTypeGetBucketACL = 4,
    HOSOperationTypeHeadObject = 5,
    HOSOperationTypeGetObject = 6,
    HOSOperationTypeGetObjectACL = 7,
    HOSOperationTypePutObject = 8,
    HOSOperationTypePutObjectACL = 9,
    HOSOperationTypeAppendObject = 10,
    HOSOperationTypeDeleteObject = 11,
    HOSOperationTypeDeleteMultipleObjects = 12,
    HOSOperationTypeCopyObject = 13,
    HOSOperationTypeInitMultipartUpload = 14,
    HOSOperationTypeUploadPart = 15,
    HOSOperationTypeCompleteMultipartUpload = 16,
    HOSOperationTypeAbortMultipartUpload = 17,
    HOSOperationTypeListParts = 18,
    HOSOperationTypeListMultipartUploads = 19,
    HOSOperationTypeTriggerCallBack = 20,
};

// What a record contributes to its request message besides verb and date.
struct HOSRequestParts {
    HOSOptString bucketName;
    HOSOptString objectKey;
    HOSOptString contentType;
    HOSOptString contentMd5;
    HOSOptString range;
    HOSOptString contentSHA1;
    platform::Dictionary headers;
    platform::Dictionary query;
    // Where a download's body goes instead of memory.
    std::optional<platform::URL> downloadToFileURL;
    // Set when the record cannot be sent: the operation fails with it and
    // nothing goes out.
    platform::ErrorPtr invalid;
};

// What the parser hands a row to build the result from.
struct HOSResultSource {
    // The kept response head; null when none was kept.
    const platform::HTTPURLResponse* response = nullptr;
    // The body collected in memory, if any. A row may move it out: the
    // parser builds its result once.
    std::optional<platform::Bytes>* body = nullptr;
    // Running CRC-64 of a downloaded body, meaningful when `crc64Computed`
    // (an empty body's is 0, and is compared like any other).
    std::uint64_t crc64 = 0;
    bool crc64Computed = false;

    // A response header by name, without regard to case.
    HOSOptString header(std::string_view name) const;
    // The object's metadata headers (the fixed names and "x-hos-meta*").
    platform::Dictionary objectMeta() const;
    // The collected body as text, if a body was collected.
    HOSOptString bodyText() const;

    // What a row found wrong with the reply's shape (an element that should
    // hold text holds elements, an entry that is not an element...); the
    // parser then fails the operation with it instead of giving a result.
    mutable HOSOptString wrongShape;
};

enum class HOSCrcRule {
    None,        // the operation does not verify CRC-64
    Verify,      // resolves the request's CRC flag and gives it to the parser
    ParserOnly,  // gives the state's current switch to the parser without resolving the flag
};

enum class HOSTarget { Service, Bucket, Object };

struct HOSOperation {
    HOSOperationType type;
    const char* name;
    const char* verb;
    HOSTarget target;
    HOSCrcRule crc;
    // A sub-resource sent without a value in front of the row's own query
    // ("acl", "uploads"...); null for none.
    const char* subresource;
    // Fills the message parts and the request state (body, callbacks) from
    // the record, which is of the row's request class.
    void (*collect)(HOSRequest& record, HOSNetworkingRequestDelegate& state, HOSRequestParts& parts);
    // A new result of the row's result class with its own fields filled; the
    // base fields are the parser's.
    HOSResultPtr (*makeResult)(const HOSResultSource& source);
};

// The row of an operation type; null for a type without a row.
const HOSOperation* hosOperation(std::int64_t type);

}  // namespace pellix
