// Request serializers: an HTTP method, a URL string and parameters become a
// URL request. Default headers are applied where the request has none, the
// request properties set on the serializer are copied, and the parameters go
// into the URL query (GET, HEAD, DELETE) or into the body (form, JSON or
// property list).
//
// Threads: the default headers live on a concurrent queue
// ("requestHeaderModificationQueue"): setValue() and clearAuthorizationHeader()
// queue barrier writes and return at once, reads are synchronous, so a header
// set on one thread is seen by every later read on any thread. The other
// properties are plain fields: configure a serializer on one thread before it
// builds requests. Building a request may run on any thread.
//
// Failure: serialising errors are platform Errors in
// TVURLRequestSerializationErrorDomain (failure reason under
// NSLocalizedFailureReason); encoder errors and a custom query block's error
// are handed on unchanged. Broken preconditions (empty method or URL string,
// a URL string that does not parse) raise platform::Exception with
// "Invalid parameter not satisfying: <condition>".
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DispatchQueue.h"
#include "platform/Error.h"
#include "platform/URLRequest.h"
#include "platform/Value.h"

namespace pellix {

class TVMultipartFormData;
namespace platform {
class OutputStream;
}

inline constexpr const char* TVURLRequestSerializationErrorDomain = "com.tessvale.error.serialization.request";
inline constexpr const char* TVNetworkingOperationFailingURLRequestErrorKey =
    "com.tessvale.serialization.request.error.response";

// The platform's string-encoding code for UTF-8, the only encoding used.
inline constexpr unsigned kTVUTF8StringEncoding = 4;

// The request properties a serializer copies onto its requests once set, in
// the order they are applied.
const std::vector<std::string>& TVHTTPRequestSerializerObservedKeyPaths();

// What builds a request from a given one and parameters.
class TVURLRequestSerialization {
public:
    virtual ~TVURLRequestSerialization() = default;
    // A new request built from `request` with `parameters` (null: none)
    // applied; nullopt and `error` when they cannot be.
    virtual std::optional<platform::URLRequest> requestBySerializingRequest(const platform::URLRequest& request,
                                                                            const platform::Value& parameters,
                                                                            platform::ErrorPtr* error) = 0;
};

class TVHTTPRequestSerializer : public TVURLRequestSerialization {
public:
    enum TVHTTPRequestQueryStringSerializationStyle : unsigned { TVHTTPRequestQueryStringDefaultStyle = 0 };
    // Custom query builder: the text, or nullopt (with `error` set to fail).
    using QueryStringSerialization = std::function<std::optional<std::string>(
        const platform::URLRequest& request, const platform::Value& parameters, platform::ErrorPtr* error)>;
    using HeaderMap = platform::URLRequest::HeaderFields;

    static std::shared_ptr<TVHTTPRequestSerializer> serializer();

    TVHTTPRequestSerializer();
    ~TVHTTPRequestSerializer() override = default;
    TVHTTPRequestSerializer(const TVHTTPRequestSerializer&) = delete;
    TVHTTPRequestSerializer& operator=(const TVHTTPRequestSerializer&) = delete;

    // A new serializer of the same class with the same default headers,
    // style and custom block; every other property has its initial value.
    virtual std::shared_ptr<TVHTTPRequestSerializer> copy() const;

    // Archiving: the default headers under "mutableHTTPRequestHeaders" (a
    // dictionary) and the style under "queryStringSerializationStyle"; the
    // subclasses add their options. initWithCoder applies an archive to a
    // freshly made serializer: a missing or mistyped entry leaves the initial
    // value (style 0), and header entries that are not safe header text are
    // dropped.
    static bool supportsSecureCoding() { return true; }
    virtual void encodeWithCoder(platform::Dictionary& coder) const;
    virtual void initWithCoder(const platform::Dictionary& coder);

    unsigned stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(unsigned encoding) { stringEncoding_ = encoding; }

    // The six request properties. Setting one, even to its current value,
    // marks it, and only marked properties reach the requests. What each
    // does on the way out is platform::URLRequest's to say: pipelining and
    // the network service type are carried but have no effect on Linux.
    bool allowsCellularAccess() const { return allowsCellularAccess_; }
    void setAllowsCellularAccess(bool v);
    platform::URLRequest::CachePolicy cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(platform::URLRequest::CachePolicy v);
    bool HTTPShouldHandleCookies() const { return HTTPShouldHandleCookies_; }
    void setHTTPShouldHandleCookies(bool v);
    bool HTTPShouldUsePipelining() const { return HTTPShouldUsePipelining_; }
    void setHTTPShouldUsePipelining(bool v);
    unsigned networkServiceType() const { return networkServiceType_; }
    void setNetworkServiceType(unsigned v);
    double timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(double seconds);
    // Names of the properties set since creation.
    const std::set<std::string>& mutableObservedChangedKeyPaths() const { return changedKeyPaths_; }

    // Snapshot of the default headers (synchronous read on the header queue).
    HeaderMap HTTPRequestHeaders() const;
    // Sets (nullopt: removes) a default header; queued as a barrier write.
    // Returns false and changes nothing when the name is not an HTTP token or
    // the value holds CR, LF or NUL: such a header would let a value inject
    // further header lines.
    bool setValue(std::optional<std::string> value, const std::string& field);
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    // "Authorization: Basic <Base64 of user:password>".
    void setAuthorizationHeaderFieldWithUsername(const std::string& username, const std::string& password);
    void clearAuthorizationHeader();

    unsigned queryStringSerializationStyle() const { return queryStringSerializationStyle_; }
    void setQueryStringSerializationWithStyle(TVHTTPRequestQueryStringSerializationStyle style);
    void setQueryStringSerializationWithBlock(QueryStringSerialization block);

    // Methods whose parameters go into the URL: "GET", "HEAD", "DELETE".
    const std::set<std::string>& HTTPMethodsEncodingParametersInURI() const { return methodsInURI_; }
    void setHTTPMethodsEncodingParametersInURI(std::set<std::string> methods) { methodsInURI_ = std::move(methods); }

    // A new request for `method` (kept as given) and `URLString` with the
    // marked properties and the parameters applied; nullopt when serialising
    // fails (its error stands).
    std::optional<platform::URLRequest> requestWithMethod(const std::string& method, const std::string& URLString,
                                                          const platform::Value& parameters, platform::ErrorPtr* error);

    // A multipart/form-data request: the parameters become the first form
    // fields (flattened, sorted), then the parts `block` appends. Method must
    // not be GET or HEAD. Multipart builder: TVStreamingMultipartFormData.h.
    // Nothing (and the error) when a part was refused for an unsafe header.
    std::optional<platform::URLRequest> multipartFormRequestWithMethod(
        const std::string& method, const std::string& URLString, const platform::Value& parameters,
        const std::function<void(TVMultipartFormData&)>& block, platform::ErrorPtr* error);

    // Writes the body stream of `request` into the file at `fileURL` on a
    // global queue and returns at once a copy of the request without body
    // stream; `completionHandler` (may be empty) gets the error (null on
    // success) on the main queue.
    platform::URLRequest requestWithMultipartFormRequest(const platform::URLRequest& request,
                                                         const platform::URL& fileURL,
                                                         std::function<void(platform::ErrorPtr)> completionHandler);

    std::optional<platform::URLRequest> requestBySerializingRequest(const platform::URLRequest& request,
                                                                    const platform::Value& parameters,
                                                                    platform::ErrorPtr* error) override;

protected:
    // Copies the headers, style and block into `target` (for copy()).
    void copyInto(TVHTTPRequestSerializer& target) const;
    // The default headers set on `request` where it has none; then the query
    // text of `parameters` in the URL. Shared with the subclasses.
    void applyDefaultHeaders(platform::URLRequest& request, const platform::URLRequest& original) const;
    // The query text, or nullopt: none (no parameters) or failure (error set,
    // `failed` true).
    std::optional<std::string> queryString(const platform::URLRequest& request, const platform::Value& parameters,
                                           platform::ErrorPtr* error, bool& failed) const;
    bool encodesParametersInURI(const std::string& method) const;
    // False, leaving the request as it was, when the result is no valid URL.
    static bool appendQueryToURL(platform::URLRequest& request, const std::string& query);

private:
    void markChanged(const char* keyPath) { changedKeyPaths_.insert(keyPath); }

    struct Headers {
        HeaderMap map;
    };
    std::shared_ptr<Headers> headers_ = std::make_shared<Headers>();
    std::shared_ptr<platform::DispatchQueue> headerQueue_;
    std::set<std::string> changedKeyPaths_;
    unsigned queryStringSerializationStyle_ = TVHTTPRequestQueryStringDefaultStyle;
    QueryStringSerialization queryStringSerialization_;
    unsigned stringEncoding_ = kTVUTF8StringEncoding;
    bool allowsCellularAccess_ = true;
    platform::URLRequest::CachePolicy cachePolicy_ = platform::URLRequest::CachePolicy::UseProtocolCachePolicy;
    bool HTTPShouldHandleCookies_ = true;
    bool HTTPShouldUsePipelining_ = false;
    unsigned networkServiceType_ = 0;
    double timeoutInterval_ = platform::URLRequest::kDefaultTimeoutInterval;
    std::set<std::string> methodsInURI_{"GET", "HEAD", "DELETE"};
};

// Opens both streams, copies `input` into `output` in 1 KiB reads (every byte
// of a partial write follows), closes both; the first failure (null: none).
// What requestWithMultipartFormRequest runs on its global queue.
platform::ErrorPtr TVWriteInputStreamToOutputStream(platform::InputStream& input, platform::OutputStream& output);

}  // namespace pellix
