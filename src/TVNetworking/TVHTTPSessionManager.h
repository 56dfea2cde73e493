// TVHTTPSessionManager: a session manager for HTTP requests against an
// optional base URL. Each request call builds the request with the request
// serializer, creates and resumes a data task (or, for the multipart POST, a
// streamed upload task) and reports through success and failure blocks on
// the completion queue (main queue when none is set).
//
// A pinning security policy is refused ("Invalid Security Policy") unless the
// base URL is https. A manager made for one request is let go with
// invalidateSessionCancelingTasks(false) right after the call (see
// TVURLSessionManager.h).
//
// Threads: request calls from any thread; configure serializers and policy
// before the requests that should use them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "TVNetworking/TVHTTPRequestSerializer.h"
#include "TVNetworking/TVMultipartFormData.h"
#include "TVNetworking/TVURLSessionManager.h"

namespace pellix {

class TVHTTPSessionManager : public TVURLSessionManager {
public:
    using Success = std::function<void(const TVURLSessionTaskPtr& task, const TVResponseObject& responseObject)>;
    using HeadSuccess = std::function<void(const TVURLSessionTaskPtr& task)>;
    using Failure = std::function<void(const TVURLSessionTaskPtr& task, const platform::ErrorPtr& error)>;
    using ConstructingBody = std::function<void(TVMultipartFormData& formData)>;

    // A manager without base URL.
    static std::shared_ptr<TVHTTPSessionManager> manager();
    static std::shared_ptr<TVHTTPSessionManager> create(
        std::optional<platform::URL> baseURL = std::nullopt,
        std::optional<platform::URLSessionConfiguration> configuration = std::nullopt);

    // With a non-empty path it always ends with "/".
    const std::optional<platform::URL>& baseURL() const { return baseURL_; }

    std::shared_ptr<TVHTTPRequestSerializer> requestSerializer() const;
    // Null: "Invalid parameter not satisfying: requestSerializer".
    void setRequestSerializer(std::shared_ptr<TVHTTPRequestSerializer> serializer);
    // Throws platform::Exception "Invalid Security Policy" for a pinning
    // policy on a manager whose base URL is not https; the old policy stays.
    void setSecurityPolicy(std::shared_ptr<TVSecurityPolicy> policy) override;

    // Each returns the resumed task, or null when the request could not be
    // built (the failure block then gets a null task and the error).
    TVURLSessionTaskPtr GET(const std::string& URLString, const platform::Value& parameters, Success success,
                            Failure failure);
    TVURLSessionTaskPtr GET(const std::string& URLString, const platform::Value& parameters,
                            TVProgressBlock downloadProgress, Success success, Failure failure);
    TVURLSessionTaskPtr HEAD(const std::string& URLString, const platform::Value& parameters, HeadSuccess success,
                             Failure failure);
    TVURLSessionTaskPtr POST(const std::string& URLString, const platform::Value& parameters, Success success,
                             Failure failure);
    TVURLSessionTaskPtr POST(const std::string& URLString, const platform::Value& parameters,
                             TVProgressBlock uploadProgress, Success success, Failure failure);
    TVURLSessionTaskPtr POST(const std::string& URLString, const platform::Value& parameters,
                             ConstructingBody block, Success success, Failure failure);
    TVURLSessionTaskPtr POST(const std::string& URLString, const platform::Value& parameters,
                             ConstructingBody block, TVProgressBlock uploadProgress, Success success,
                             Failure failure);
    TVURLSessionTaskPtr PUT(const std::string& URLString, const platform::Value& parameters, Success success,
                            Failure failure);
    TVURLSessionTaskPtr PATCH(const std::string& URLString, const platform::Value& parameters, Success success,
                              Failure failure);
    TVURLSessionTaskPtr DELETE(const std::string& URLString, const platform::Value& parameters, Success success,
                               Failure failure);

    // The builder behind the calls above; the task is not resumed.
    TVURLSessionTaskPtr dataTaskWithHTTPMethod(const std::string& method, const std::string& URLString,
                                               const platform::Value& parameters, TVProgressBlock uploadProgress,
                                               TVProgressBlock downloadProgress, Success success, Failure failure);

    // Archive: "baseURL" (text), the configuration's "identifier" (see
    // TVURLSessionManager), "requestSerializer", "responseSerializer" and
    // "securityPolicy" (their own archives). Decoding sets the serializers
    // and, when archived, the policy through the checking setters, so a
    // pinning policy on a non-https base URL throws "Invalid Security
    // Policy" as setSecurityPolicy does.
    void encodeWithCoder(platform::Dictionary& coder) const override;
    static std::shared_ptr<TVHTTPSessionManager> initWithCoder(const platform::Dictionary& coder);

    std::string description() const override;
    // Same base URL and session configuration, copies of the serializers
    // and the policy; blocks, completion queue and group are not carried.
    std::shared_ptr<TVURLSessionManager> copy() const override;

protected:
    TVHTTPSessionManager() = default;

private:
    std::string resolve(const std::string& URLString) const;
    void reportSerializationError(const platform::ErrorPtr& error, const Failure& failure) const;
    TVURLSessionCompletionHandler completionFor(std::shared_ptr<TVURLSessionTaskPtr> taskSlot, Success success,
                                                Failure failure) const;

    std::optional<platform::URL> baseURL_;
    mutable std::mutex serializerMutex_;
    std::shared_ptr<TVHTTPRequestSerializer> requestSerializer_;
};

}  // namespace pellix
