// Error and Exception: how every layer reports failure.
//
// An Error is immutable once made and travels as ErrorPtr (null = no error),
// so it can be handed between threads freely. Exception is the platform's
// raised exception; the library never lets one cross its public API.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "platform/Value.h"

namespace pellix::platform {

class Error;
using ErrorPtr = std::shared_ptr<const Error>;

class Error {
public:
    // Well-known user-info keys.
    static constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
    static constexpr const char* kLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
    static constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
    static constexpr const char* kURLErrorFailingURLErrorKey = "NSErrorFailingURLKey";
    static constexpr const char* kURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";

    Error(std::string domain, std::int64_t code, Dictionary userInfo = {}, ErrorPtr underlying = nullptr)
        : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)), underlying_(std::move(underlying)) {}

    static ErrorPtr make(std::string domain, std::int64_t code, Dictionary userInfo = {}, ErrorPtr underlying = nullptr) {
        return std::make_shared<const Error>(std::move(domain), code, std::move(userInfo), std::move(underlying));
    }

    const std::string& domain() const { return domain_; }
    std::int64_t code() const { return code_; }
    const Dictionary& userInfo() const { return userInfo_; }
    const ErrorPtr& underlying() const { return underlying_; }

    // userInfo's localized description, else "The operation couldn’t be
    // completed. (<domain> error <code>.)" as the platform words it.
    std::string localizedDescription() const;
    // "Error Domain=<domain> Code=<code> \"<description>\"" for logs.
    std::string description() const;

private:
    std::string domain_;
    std::int64_t code_;
    Dictionary userInfo_;
    ErrorPtr underlying_;
};

// The platform's raised exception: a name ("NSInvalidArgumentException",
// "NSInternalInconsistencyException", ...), a reason and user info.
class Exception : public std::runtime_error {
public:
    static constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
    static constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
    static constexpr const char* kRangeException = "NSRangeException";
    static constexpr const char* kGenericException = "NSGenericException";

    Exception(std::string name, std::string reason, Dictionary userInfo = {})
        : std::runtime_error(reason), name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {}

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const Dictionary& userInfo() const { return userInfo_; }

private:
    std::string name_;
    std::string reason_;
    Dictionary userInfo_;
};

}  // namespace pellix::platform
