// Response serializers: the answer of one URL task (response head and body)
// becomes the object handed to the caller, and validation decides whether
// the answer counts as a failure.
//
// Validation (validateResponse): a response passes unless its MIME type is
// not among acceptableContentTypes (nil: any) or its status not among
// acceptableStatusCodes (nil: any). Errors are in
// TVURLResponseSerializationErrorDomain: -1016 for the content type (made
// only with a non-empty body and a URL), -1011 for the status (with the
// content-type error as underlying error). A missing response, a file-URL
// response and a response without URL skip the checks that need them.
//
// The decoding subclasses share one gate: an invalid answer yields nothing
// when no error slot was given or the error chain holds -1016; otherwise
// (only the status failed) decoding goes on and the caller gets both the
// decoded body and the status error.
//
// Threads: producing an object never changes a serializer, so one instance
// may serve several threads at once; set its properties before installing it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "platform/Error.h"
#include "platform/HTTPURLResponse.h"
#include "platform/Image.h"
#include "platform/Value.h"
#include "platform/XMLParser.h"

namespace pellix {

inline constexpr const char* TVURLResponseSerializationErrorDomain = "com.tessvale.error.serialization.response";
// User-info keys of validation errors: the response (as a dictionary with
// "statusCode", "URL" and "allHeaderFields") and the body bytes.
inline constexpr const char* TVNetworkingOperationFailingURLResponseErrorKey =
    "com.tessvale.serialization.response.error.response";
inline constexpr const char* TVNetworkingOperationFailingURLResponseDataErrorKey =
    "com.tessvale.serialization.response.error.data";

// The platform's URL-error codes used by validation.
inline constexpr std::int64_t kTVURLErrorCannotDecodeContentData = -1016;
inline constexpr std::int64_t kTVURLErrorBadServerResponse = -1011;

// What a response serializer produces: nothing, a Value (decoded JSON or
// property list, or the raw body as Bytes), an unstarted XML parser or an
// image.
class TVResponseObject {
public:
    TVResponseObject() = default;
    TVResponseObject(platform::Value value) : v_(std::move(value)) {}
    TVResponseObject(std::shared_ptr<platform::XMLParser> parser) {
        if (parser) v_ = std::move(parser);
    }
    TVResponseObject(std::shared_ptr<const platform::Image> image) {
        if (image) v_ = std::move(image);
    }

    bool isNil() const { return v_.index() == 0; }
    explicit operator bool() const { return !isNil(); }
    const platform::Value* value() const { return std::get_if<platform::Value>(&v_); }
    std::shared_ptr<platform::XMLParser> xmlParser() const {
        auto* p = std::get_if<std::shared_ptr<platform::XMLParser>>(&v_);
        return p ? *p : nullptr;
    }
    std::shared_ptr<const platform::Image> image() const {
        auto* p = std::get_if<std::shared_ptr<const platform::Image>>(&v_);
        return p ? *p : nullptr;
    }

private:
    std::variant<std::monostate, platform::Value, std::shared_ptr<platform::XMLParser>,
                 std::shared_ptr<const platform::Image>>
        v_;
};

using TVResponse = std::shared_ptr<const platform::HTTPURLResponse>;
// nullopt stands for "no body at all", as distinct from an empty one.
using TVResponseData = std::optional<platform::Bytes>;

class TVURLResponseSerialization {
public:
    virtual ~TVURLResponseSerialization() = default;
    // The decoded object, or nothing; `error` (may be null) receives the
    // failure.
    virtual TVResponseObject responseObject(const TVResponse& response, const TVResponseData& data,
                                            platform::ErrorPtr* error) const = 0;
};

// The codes first..first+count-1.
std::set<int> TVIndexSetWithRange(int first, int count);

class TVHTTPResponseSerializer : public TVURLResponseSerialization {
public:
    static std::shared_ptr<TVHTTPResponseSerializer> serializer();
    TVHTTPResponseSerializer();
    ~TVHTTPResponseSerializer() override = default;

    // A new serializer of the same class with the same properties.
    virtual std::shared_ptr<TVHTTPResponseSerializer> copy() const;

    // Archiving, each property under its own name ("acceptableStatusCodes"
    // and "acceptableContentTypes" as arrays; the subclasses' options as
    // numbers). initWithCoder applies an archive to a freshly made
    // serializer: a missing set switches its check off, a missing number
    // reads as 0 (NO). The class name goes under "class" so that compound
    // serializers can archive their members.
    static bool supportsSecureCoding() { return true; }
    virtual const char* className() const { return "TVHTTPResponseSerializer"; }
    virtual void encodeWithCoder(platform::Dictionary& coder) const;
    virtual void initWithCoder(const platform::Dictionary& coder);
    // A serializer of the archived class (one of this module's) with the
    // archive applied; null for an unknown class.
    static std::shared_ptr<TVHTTPResponseSerializer> serializerWithCoder(const platform::Dictionary& coder);

    // Default 200..299; nullopt switches the status check off.
    const std::optional<std::set<int>>& acceptableStatusCodes() const { return acceptableStatusCodes_; }
    void setAcceptableStatusCodes(std::optional<std::set<int>> codes) { acceptableStatusCodes_ = std::move(codes); }
    // Default per class; nullopt switches the content-type check off.
    const std::optional<std::set<std::string>>& acceptableContentTypes() const { return acceptableContentTypes_; }
    void setAcceptableContentTypes(std::optional<std::set<std::string>> types) {
        acceptableContentTypes_ = std::move(types);
    }

    // True when the answer passes; otherwise false and, when `error` is
    // given, the collected error in it (which may be null: a wrong content
    // type without body or URL makes no error object).
    virtual bool validateResponse(const TVResponse& response, const TVResponseData& data,
                                  platform::ErrorPtr* error) const;

    // Validates and returns the body bytes whatever the outcome.
    TVResponseObject responseObject(const TVResponse& response, const TVResponseData& data,
                                    platform::ErrorPtr* error) const override;

protected:
    // The decoding gate: false when the decoding subclass must return nothing.
    bool passesDecodingGate(const TVResponse& response, const TVResponseData& data, platform::ErrorPtr* error) const;
    void copyInto(TVHTTPResponseSerializer& target) const;

private:
    std::optional<std::set<int>> acceptableStatusCodes_;
    std::optional<std::set<std::string>> acceptableContentTypes_;
};

// `error` with `underlyingError` as its underlying error: `underlyingError`
// when `error` is null; `error` unchanged when `underlyingError` is null or
// `error` already has one.
platform::ErrorPtr TVErrorWithUnderlyingError(const platform::ErrorPtr& error, const platform::ErrorPtr& underlyingError);
// True when `error` or any error in its underlying chain has this domain and code.
bool TVErrorOrUnderlyingErrorHasCodeInDomain(const platform::ErrorPtr& error, std::int64_t code, const std::string& domain);
// The JSON value without null-valued dictionary entries, at every depth;
// null array elements stay. (Values are always mutable, so the
// mutable-containers bit of `readingOptions` changes nothing here.)
platform::Value TVJSONObjectByRemovingKeysWithNullValues(const platform::Value& JSONObject, unsigned readingOptions);

// The platform's reason phrase for an HTTP status ("not found").
std::string TVLocalizedStringForStatusCode(int statusCode);

}  // namespace pellix
