// PellixDataService: turns one parameter record into one signed HTTPS request
// to the platform and starts it.
//
// Every request carries the "Pellix-System" header (compact JSON of the SDK
// version, the device's system version and model, the device UUID, "1", "3"
// and encrypt 1; built once, when the service is first used), the common
// parameters "timestamp", "token" and "open_id" (a record's own parameter of
// the same name wins) and "sign", the SHA-1 over the Base64 of the sorted,
// trimmed "key=value&..." text followed by the token's signing key ("(null)"
// without one). Values are sent untrimmed; only the signature covers the
// trimmed forms. GET parameters travel in the query, POST and PUT ones as a
// form body.
//
// All requests go through one HTTP session manager. Each request is bound to
// its own request and response serializers when its task is created (the
// two are installed and the task made under one lock), so an answer is
// always parsed by the serializer its request chose, however many requests
// are in flight. Response serializers accept every status below 600, so
// error answers are parsed and handed on.
//
// Trust: the platform channel carries the access token and the resident's
// identity, so the manager keeps the default policy: the chain must reach a
// trusted root of the system store (which SSL_CERT_FILE / SSL_CERT_DIR
// extend) and name the host; nothing else is accepted.
//
// Threads: requests may be built on any thread (normally the main thread).
// Answers are parsed on the layer's processing queue; success and failure
// blocks run on the main queue inside the layer's process-wide completion
// group. A request that cannot be built (a URL that does not parse, a
// cancelled service) reports its error to the failure block on the main
// queue with a null task and returns null. Nothing here throws to the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "PellixDataManager/PellixNetServer/RequestParams/PellixBaseRequestParam.h"
#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "TVNetworking/TVHTTPResponseSerializer.h"
#include "TVNetworking/TVHTTPSessionManager.h"
#include "TVNetworking/TVSecurityPolicy.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix {

class PellixDataService {
public:
    using Task = TVURLSessionTaskPtr;
    using Success = std::function<void(const Task& task, const TVResponseObject& responseObject)>;
    using Failure = std::function<void(const Task& task, const platform::ErrorPtr& error)>;

    // Version the header reports.
    static constexpr const char* kSDKVersion = "1.3.0";
    // Appended in place of a missing signing key (the platform's text of nil).
    static constexpr const char* kNilSignText = "(null)";

    static const std::shared_ptr<PellixDataService>& services();

    // Builds, signs and starts the record's request; see the class comment.
    Task getPellixSDKData(const std::shared_ptr<PellixBaseRequestParam>& param, Success success, Failure failure);

    // Header name → value set on every request.
    platform::Dictionary requestHeaderParams() const;
    void setRequestHeaderParams(platform::Dictionary headers);

    // The manager every request of the SDK goes through.
    const std::shared_ptr<TVHTTPSessionManager>& sessionManager() const { return sessionManager_; }
    // The trust policy of platform requests: the layer's default (system
    // store, host name checked).
    static std::shared_ptr<TVSecurityPolicy> securityPolicy();

    // A new request serializer carrying requestHeaderParams().
    std::shared_ptr<TVHTTPRequestSerializer> requestSerializer() const;
    // 0 JSON (PXJSONResponseSerializer), 1 XML, 2 image; anything else JSON.
    // Statuses 0-599 accepted.
    static std::shared_ptr<TVHTTPResponseSerializer> reponseSerializerWithType(std::uint64_t type);

    // Builds the request with `requestSerializer`, starts it and returns the
    // task; its answer is parsed with `responseSerializer`.
    Task GET(const std::string& URLString, const platform::Dictionary& parameters,
             const std::shared_ptr<TVHTTPRequestSerializer>& requestSerializer,
             const std::shared_ptr<TVHTTPResponseSerializer>& responseSerializer, Success success, Failure failure);
    Task POST(const std::string& URLString, const platform::Dictionary& parameters,
              const std::shared_ptr<TVHTTPRequestSerializer>& requestSerializer,
              const std::shared_ptr<TVHTTPResponseSerializer>& responseSerializer, Success success, Failure failure);
    Task PUT(const std::string& URLString, const platform::Dictionary& parameters,
             const std::shared_ptr<TVHTTPRequestSerializer>& requestSerializer,
             const std::shared_ptr<TVHTTPResponseSerializer>& responseSerializer, Success success, Failure failure);

    // The base URL and the record's path: a path starting with "/" follows
    // directly, any other non-empty path after one "/".
    static std::string requestURL(const std::string& domain, const std::optional<std::string>& path);

    // "timestamp" (now, whole seconds), "token" and "open_id" when held.
    static platform::Dictionary getCommonParameters();
    // The common parameters with the given dictionary's entries over them;
    // anything but a dictionary adds nothing.
    static platform::Dictionary _commonParametersHandle(const platform::Value& parameters);
    // The merged parameters with "sign" added.
    static platform::Dictionary handleParametersSHA1(const platform::Value& parameters);
    // The text the signature's Base64 is taken of: sorted keys (UTF-16 order
    // of the untrimmed keys), trimmed key "=" trimmed value, joined by "&".
    static std::string signatureText(const platform::Dictionary& merged);
    // SHA-1 hex of Base64(text) followed by the signing key (kNilSignText
    // when there is none).
    static std::string signature(const std::string& text, const std::optional<std::string>& signKey);

    // Cancels every running task and closes the session; the service can
    // carry no further requests afterwards (they fail at once).
    void cancelAllTask();

    // The "Pellix-System" header dictionary.
    static platform::Dictionary configHeaderParams();

    PellixDataService(const PellixDataService&) = delete;
    PellixDataService& operator=(const PellixDataService&) = delete;

private:
    PellixDataService();
    Task send(const std::string& method, const std::string& URLString, const platform::Dictionary& parameters,
              const std::shared_ptr<TVHTTPRequestSerializer>& requestSerializer,
              const std::shared_ptr<TVHTTPResponseSerializer>& responseSerializer, Success success, Failure failure);

    mutable std::mutex mutex_;
    platform::Dictionary requestHeaderParams_;
    // Held while a request's serializers are installed and its task made.
    std::mutex bindMutex_;
    const std::shared_ptr<TVHTTPSessionManager> sessionManager_;
};

}  // namespace pellix
