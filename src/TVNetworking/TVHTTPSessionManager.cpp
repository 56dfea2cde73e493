#include "TVNetworking/TVHTTPSessionManager.h"

#include <cstdio>

#include "TVNetworking/TVJSONResponseSerializer.h"
#include "TVNetworking/TVNetworkingSupport.h"

namespace pellix {

namespace {

// The URL with "/" after its path, so relative strings resolve below it.
platform::URL withTrailingSlash(const platform::URL& url) {
    if (url.percentEncodedPath().empty()) return url;
    std::string text = url.absoluteString();
    std::string suffix;
    if (url.query()) suffix += "?" + *url.query();
    if (url.fragment()) suffix += "#" + *url.fragment();
    std::string head = text.substr(0, text.size() - suffix.size());
    if (!head.empty() && head.back() == '/') return url;
    auto fixed = platform::URL::parse(head + "/" + suffix);
    return fixed ? *fixed : url;
}

const char* pinningModeName(unsigned mode) {
    switch (mode) {
        case TVSSLPinningModePublicKey:
            return "TVSSLPinningModePublicKey";
        case TVSSLPinningModeCertificate:
            return "TVSSLPinningModeCertificate";
        default:
            return "Unknown Pinning Mode";
    }
}

}  // namespace

std::shared_ptr<TVHTTPSessionManager> TVHTTPSessionManager::manager() { return create(); }

std::shared_ptr<TVHTTPSessionManager> TVHTTPSessionManager::create(
    std::optional<platform::URL> baseURL, std::optional<platform::URLSessionConfiguration> configuration) {
    auto manager = std::shared_ptr<TVHTTPSessionManager>(new TVHTTPSessionManager());
    manager->setUp(std::move(configuration));
    if (baseURL) manager->baseURL_ = withTrailingSlash(*baseURL);
    manager->requestSerializer_ = TVHTTPRequestSerializer::serializer();
    manager->setResponseSerializer(TVJSONResponseSerializer::serializer());
    return manager;
}

std::shared_ptr<TVHTTPRequestSerializer> TVHTTPSessionManager::requestSerializer() const {
    std::lock_guard lock(serializerMutex_);
    return requestSerializer_;
}

void TVHTTPSessionManager::setRequestSerializer(std::shared_ptr<TVHTTPRequestSerializer> serializer) {
    TVParameterAssert(serializer != nullptr, "requestSerializer");
    std::lock_guard lock(serializerMutex_);
    requestSerializer_ = std::move(serializer);
}

void TVHTTPSessionManager::setSecurityPolicy(std::shared_ptr<TVSecurityPolicy> policy) {
    if (policy && policy->SSLPinningMode() != TVSSLPinningModeNone &&
        !(baseURL_ && baseURL_->scheme() == "https")) {
        throw platform::Exception(
            "Invalid Security Policy",
            std::string("A security policy configured with `") + pinningModeName(policy->SSLPinningMode()) +
                "` can only be applied on a manager with a secure base URL (i.e. https)");
    }
    TVURLSessionManager::setSecurityPolicy(std::move(policy));
}

std::string TVHTTPSessionManager::resolve(const std::string& URLString) const {
    if (!baseURL_) return URLString;
    auto url = platform::URL::parse(URLString, *baseURL_);
    // A string that does not parse goes on as given: the request serializer
    // reports it.
    return url ? url->absoluteString() : URLString;
}

void TVHTTPSessionManager::reportSerializationError(const platform::ErrorPtr& error, const Failure& failure) const {
    if (!failure) return;
    auto queue = completionQueue();
    if (!queue) queue = platform::DispatchQueue::main();
    queue->async([failure, error] { failure(nullptr, error); });
}

TVURLSessionCompletionHandler TVHTTPSessionManager::completionFor(std::shared_ptr<TVURLSessionTaskPtr> taskSlot,
                                                                  Success success, Failure failure) const {
    return [taskSlot, success, failure](const TVResponse&, const TVResponseObject& responseObject,
                                        platform::ErrorPtr error) {
        if (error) {
            if (failure) failure(*taskSlot, error);
        } else if (success) {
            success(*taskSlot, responseObject);
        }
    };
}

TVURLSessionTaskPtr TVHTTPSessionManager::dataTaskWithHTTPMethod(const std::string& method,
                                                                 const std::string& URLString,
                                                                 const platform::Value& parameters,
                                                                 TVProgressBlock uploadProgress,
                                                                 TVProgressBlock downloadProgress, Success success,
                                                                 Failure failure) {
    platform::ErrorPtr serializationError;
    auto request = requestSerializer()->requestWithMethod(method, resolve(URLString), parameters, &serializationError);
    if (!request) {
        reportSerializationError(serializationError, failure);
        return nullptr;
    }
    // The blocks need the task, which exists only once created.
    auto slot = std::make_shared<TVURLSessionTaskPtr>();
    auto task = dataTaskWithRequest(*request, std::move(uploadProgress), std::move(downloadProgress),
                                    completionFor(slot, std::move(success), std::move(failure)));
    *slot = task;
    return task;
}

namespace {

TVURLSessionTaskPtr resumed(TVURLSessionTaskPtr task) {
    if (task) task->resume();
    return task;
}

}  // namespace

TVURLSessionTaskPtr TVHTTPSessionManager::GET(const std::string& URLString, const platform::Value& parameters,
                                              Success success, Failure failure) {
    return GET(URLString, parameters, nullptr, std::move(success), std::move(failure));
}

TVURLSessionTaskPtr TVHTTPSessionManager::GET(const std::string& URLString, const platform::Value& parameters,
                                              TVProgressBlock downloadProgress, Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("GET", URLString, parameters, nullptr, std::move(downloadProgress),
                                          std::move(success), std::move(failure)));
}

TVURLSessionTaskPtr TVHTTPSessionManager::HEAD(const std::string& URLString, const platform::Value& parameters,
                                               HeadSuccess success, Failure failure) {
    Success dropObject;
    if (success) dropObject = [success](const TVURLSessionTaskPtr& task, const TVResponseObject&) { success(task); };
    return resumed(dataTaskWithHTTPMethod("HEAD", URLString, parameters, nullptr, nullptr, std::move(dropObject),
                                          std::move(failure)));
}

TVURLSessionTaskPtr TVHTTPSessionManager::POST(const std::string& URLString, const platform::Value& parameters,
                                               Success success, Failure failure) {
    return POST(URLString, parameters, TVProgressBlock(), std::move(success), std::move(failure));
}

TVURLSessionTaskPtr TVHTTPSessionManager::POST(const std::string& URLString, const platform::Value& parameters,
                                               TVProgressBlock uploadProgress, Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("POST", URLString, parameters, std::move(uploadProgress), nullptr,
                                          std::move(success), std::move(failure)));
}

TVURLSessionTaskPtr TVHTTPSessionManager::POST(const std::string& URLString, const platform::Value& parameters,
                                               ConstructingBody block, Success success, Failure failure) {
    return POST(URLString, parameters, std::move(block), nullptr, std::move(success), std::move(failure));
}

TVURLSessionTaskPtr TVHTTPSessionManager::POST(const std::string& URLString, const platform::Value& parameters,
                                               ConstructingBody block, TVProgressBlock uploadProgress,
                                               Success success, Failure failure) {
    platform::ErrorPtr serializationError;
    auto request = requestSerializer()->multipartFormRequestWithMethod(
        "POST", resolve(URLString), parameters,
        [&block](TVMultipartFormData& formData) {
            if (block) block(formData);
        },
        &serializationError);
    if (!request) {
        reportSerializationError(serializationError, failure);
        return nullptr;
    }
    auto slot = std::make_shared<TVURLSessionTaskPtr>();
    auto task = uploadTaskWithStreamedRequest(*request, std::move(uploadProgress),
                                              completionFor(slot, std::move(success), std::move(failure)));
    *slot = task;
    return resumed(task);
}

TVURLSessionTaskPtr TVHTTPSessionManager::PUT(const std::string& URLString, const platform::Value& parameters,
                                              Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("PUT", URLString, parameters, nullptr, nullptr, std::move(success),
                                          std::move(failure)));
}

TVURLSessionTaskPtr TVHTTPSessionManager::PATCH(const std::string& URLString, const platform::Value& parameters,
                                                Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("PATCH", URLString, parameters, nullptr, nullptr, std::move(success),
                                          std::move(failure)));
}

TVURLSessionTaskPtr TVHTTPSessionManager::DELETE(const std::string& URLString, const platform::Value& parameters,
                                                 Success success, Failure failure) {
    return resumed(dataTaskWithHTTPMethod("DELETE", URLString, parameters, nullptr, nullptr, std::move(success),
                                          std::move(failure)));
}

void TVHTTPSessionManager::encodeWithCoder(platform::Dictionary& coder) const {
    TVURLSessionManager::encodeWithCoder(coder);
    if (baseURL_) coder.set("baseURL", baseURL_->absoluteString());
    platform::Dictionary request;
    requestSerializer()->encodeWithCoder(request);
    coder.set("requestSerializer", std::move(request));
    if (auto http = std::dynamic_pointer_cast<TVHTTPResponseSerializer>(responseSerializer())) {
        platform::Dictionary response;
        http->encodeWithCoder(response);
        coder.set("responseSerializer", std::move(response));
    }
    if (auto policy = securityPolicy()) coder.set("securityPolicy", policy->encodeWithCoder());
}

std::shared_ptr<TVHTTPSessionManager> TVHTTPSessionManager::initWithCoder(const platform::Dictionary& coder) {
    std::optional<platform::URL> baseURL;
    if (const auto* v = coder.find("baseURL"); v && v->isString()) baseURL = platform::URL::parse(v->asString());
    auto manager = create(baseURL, configurationFromCoder(coder));
    if (const auto* v = coder.find("requestSerializer"); v && v->isDictionary()) {
        auto request = TVHTTPRequestSerializer::serializer();
        request->initWithCoder(v->asDictionary());
        manager->setRequestSerializer(request);
    }
    if (const auto* v = coder.find("responseSerializer"); v && v->isDictionary())
        if (auto response = TVHTTPResponseSerializer::serializerWithCoder(v->asDictionary()))
            manager->setResponseSerializer(response);
    if (const auto* v = coder.find("securityPolicy"); v && v->isDictionary()) {
        try {
            manager->setSecurityPolicy(TVSecurityPolicy::initWithCoder(v->asDictionary()));
        } catch (...) {
            // Nobody will get this manager: let its session (and thread) go.
            manager->invalidateSessionCancelingTasks(true);
            throw;
        }
    }
    return manager;
}

std::string TVHTTPSessionManager::description() const {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
    char rest[96];
    std::snprintf(rest, sizeof rest, ", session: %p, operationQueue: %p>", static_cast<const void*>(session().get()),
                  static_cast<const void*>(operationQueue().get()));
    return std::string("<TVHTTPSessionManager: ") + buf + ", baseURL: " +
           (baseURL_ ? baseURL_->absoluteString() : std::string("(null)")) + rest;
}

std::shared_ptr<TVURLSessionManager> TVHTTPSessionManager::copy() const {
    auto manager = create(baseURL_, sessionConfiguration());
    manager->setRequestSerializer(requestSerializer()->copy());
    if (auto http = std::dynamic_pointer_cast<TVHTTPResponseSerializer>(responseSerializer()))
        manager->setResponseSerializer(http->copy());
    else
        manager->setResponseSerializer(responseSerializer());
    if (auto policy = securityPolicy()) manager->setSecurityPolicy(policy->copy());
    return manager;
}

}  // namespace pellix
