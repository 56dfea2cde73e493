// HOSAllRequestNeededMessage: the transport-neutral description of one
// storage HTTP exchange (endpoint, verb, bucket, key, content headers, other
// headers, query). The client fills it per operation, the interceptors stamp
// and sign it, and the request delegate turns it into the HTTP request.
//
// Not locked: one request's chain uses it at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "HOSSDK/HOSProperty.h"
#include "HOSSDK/HOSTask/HOSTask.h"
#include "platform/Value.h"

namespace pellix {

using HOSOptString = std::optional<std::string>;

class HOSAllRequestNeededMessage {
public:
    // Header and query tables keep insertion order; a query entry whose
    // value is the empty text is a bare sub-resource.
    HOSAllRequestNeededMessage(HOSOptString endpoint, HOSOptString httpMethod, HOSOptString bucketName,
                               HOSOptString objectKey, HOSOptString contentType, HOSOptString contentMd5,
                               HOSOptString range, HOSOptString date, platform::Dictionary headerParams,
                               platform::Dictionary querys, HOSOptString contentSHA1 = std::nullopt);

    HOS_PROPERTY(HOSOptString, endpoint, setEndpoint)
    HOS_PROPERTY(HOSOptString, httpMethod, setHttpMethod)
    HOS_PROPERTY(HOSOptString, bucketName, setBucketName)
    HOS_PROPERTY(HOSOptString, objectKey, setObjectKey)
    HOS_PROPERTY(HOSOptString, contentType, setContentType)
    HOS_PROPERTY(HOSOptString, contentMd5, setContentMd5)
    HOS_PROPERTY(HOSOptString, range, setRange)
    HOS_PROPERTY(HOSOptString, date, setDate)
    HOS_PROPERTY(platform::Dictionary, headerParams, setHeaderParams)
    HOS_PROPERTY(platform::Dictionary, querys, setQuerys)
    HOS_PROPERTY(HOSOptString, contentSHA1, setContentSHA1)
    HOS_PROPERTY(bool, isHostInCnameExcludeList, setIsHostInCnameExcludeList)

public:
    platform::Dictionary& mutableHeaderParams() { return headerParams_; }

    // A task with nil result when the message can be sent for the operation
    // type; otherwise a failed task with client error 3 whose message is
    // that of the last failing check.
    HOSTaskPtr validateRequestParamsInOperationType(std::int64_t operType) const;

    // The fields one per line. Header values that carry credentials
    // ("Authorization", "x-hos-security-token") are masked.
    std::string description() const;
};

using HOSAllRequestNeededMessagePtr = std::shared_ptr<HOSAllRequestNeededMessage>;

// Header text with the credential-bearing values masked, for logs.
std::string hosDescribeHeadersMasked(const platform::Dictionary& headers);

}  // namespace pellix
