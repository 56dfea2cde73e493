#include "PellixDataManager/PellixNetServer/DataService/PellixDataService.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "CommonMethod/NSStringTools.h"
#include "CommonMethod/PellixCommonTypes.h"
#include "PellixDataManager/PellixNetServer/DataService/PXJSONResponseSerializer.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "TVNetworking/TVImageResponseSerializer.h"
#include "TVNetworking/TVXMLParserResponseSerializer.h"
#include "platform/Clock.h"
#include "platform/Device.h"
#include "platform/DispatchQueue.h"
#include "platform/JSON.h"
#include "platform/URLError.h"

namespace pellix {

using platform::Dictionary;
using platform::ErrorPtr;
using platform::Value;

namespace {

// The code point starting at `i` and its length; an invalid byte reads as
// itself, one byte long (never white space).
std::pair<char32_t, std::size_t> codePointAt(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    if (b < 0x80) return {b, 1};
    if ((b & 0xE0) == 0xC0 && cont(1)) return {char32_t((b & 0x1F) << 6 | (s[i + 1] & 0x3F)), 2};
    if ((b & 0xF0) == 0xE0 && cont(1) && cont(2)) {
        return {char32_t((b & 0x0F) << 12 | (s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F)), 3};
    }
    if ((b & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
        return {char32_t((b & 0x07) << 18 | (s[i + 1] & 0x3F) << 12 | (s[i + 2] & 0x3F) << 6 | (s[i + 3] & 0x3F)), 4};
    }
    return {0xFFFD, 1};
}

// White space and line breaks: the Unicode space separators, tab, U+000A to
// U+000D, U+0085, U+2028 and U+2029.
bool isWhitespaceOrNewline(char32_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
        case 0x1680: case 0x202F: case 0x205F: case 0x3000: case 0x2028: case 0x2029:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

std::string trimmed(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        auto [c, n] = codePointAt(s, begin);
        if (!isWhitespaceOrNewline(c)) break;
        begin += n;
    }
    // Walk forward over the rest, remembering where the last non-space ends.
    std::size_t end = begin;
    for (std::size_t i = begin; i < s.size();) {
        auto [c, n] = codePointAt(s, i);
        i += n;
        if (!isWhitespaceOrNewline(c)) end = i;
    }
    return std::string(s.substr(begin, end - begin));
}

}  // namespace

const std::shared_ptr<PellixDataService>& PellixDataService::services() {
    static const std::shared_ptr<PellixDataService> instance(new PellixDataService());
    return instance;
}

PellixDataService::PellixDataService()
    : requestHeaderParams_(configHeaderParams()), sessionManager_(TVHTTPSessionManager::manager()) {
    sessionManager_->setSecurityPolicy(securityPolicy());
}

std::shared_ptr<TVSecurityPolicy> PellixDataService::securityPolicy() {
    // Certificates are checked, for the host asked: this channel carries the
    // access token and the resident's identity.
    return TVSecurityPolicy::defaultPolicy();
}

Dictionary PellixDataService::configHeaderParams() {
    Dictionary system;
    system.set("sdk_version", kSDKVersion);
    system.set("system_version", platform::Device::currentDevice().systemVersion());
    system.set("system_models", PellixCommonTypes::gainPlatformString());
    system.set("system_type", "1");
    system.set("device_guid", PellixProxyInfo::sharedInstance()->deviceUUID());
    system.set("device_type", "3");
    system.set("encrypt", Value(std::int64_t(1)));
    Dictionary headers;
    headers.set("Pellix-System", platform::JSON::write(Value(std::move(system))).value_or("{}"));
    return headers;
}

Dictionary PellixDataService::requestHeaderParams() const {
    std::lock_guard lock(mutex_);
    return requestHeaderParams_;
}

void PellixDataService::setRequestHeaderParams(Dictionary headers) {
    std::lock_guard lock(mutex_);
    requestHeaderParams_ = std::move(headers);
}

std::shared_ptr<TVHTTPRequestSerializer> PellixDataService::requestSerializer() const {
    auto serializer = TVHTTPRequestSerializer::serializer();
    for (const auto& [name, value] : requestHeaderParams()) {
        const std::string* text = value.stringIf();
        serializer->setValue(text ? *text : value.description(), name);
    }
    return serializer;
}

std::shared_ptr<TVHTTPResponseSerializer> PellixDataService::reponseSerializerWithType(std::uint64_t type) {
    std::shared_ptr<TVHTTPResponseSerializer> serializer;
    switch (type) {
        case PellixBaseRequestParam::kResponseXML:
            serializer = TVXMLParserResponseSerializer::serializer();
            break;
        case PellixBaseRequestParam::kResponseImage:
            serializer = TVImageResponseSerializer::serializer();
            break;
        default:
            serializer = PXJSONResponseSerializer::serializer();
            break;
    }
    serializer->setAcceptableStatusCodes(TVIndexSetWithRange(0, 600));
    return serializer;
}

std::string PellixDataService::requestURL(const std::string& domain, const std::optional<std::string>& path) {
    if (!path || path->empty()) return domain;
    if (path->front() == '/') return domain + *path;
    return domain + "/" + *path;
}

Dictionary PellixDataService::getCommonParameters() {
    Dictionary common;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%0.f", platform::Clock::now());
    common.set("timestamp", std::string(stamp));
    const auto store = PellixProxyInfo::sharedInstance();
    if (auto token = store->token(); token && token->token()) common.set("token", *token->token());
    if (auto openId = store->openId()) common.set("open_id", *openId);
    return common;
}

Dictionary PellixDataService::_commonParametersHandle(const Value& parameters) {
    Dictionary merged = getCommonParameters();
    if (const Dictionary* own = parameters.dictionaryIf()) {
        for (const auto& [key, value] : *own) merged.set(key, value);
    }
    return merged;
}

std::string PellixDataService::signatureText(const Dictionary& merged) {
    std::vector<const Dictionary::Entry*> entries;
    entries.reserve(merged.size());
    for (const auto& entry : merged) entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](const Dictionary::Entry* a, const Dictionary::Entry* b) {
        return platform::compareUTF16(a->first, b->first) < 0;
    });
    std::string text;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& [key, value] = *entries[i];
        text += trimmed(key);
        text += '=';
        const std::string* s = value.stringIf();
        text += s ? trimmed(*s) : value.description();
        if (i + 1 < entries.size()) text += '&';
    }
    return text;
}

std::string PellixDataService::signature(const std::string& text, const std::optional<std::string>& signKey) {
    return NSStringTools::px_SHA1(NSStringTools::px_base64EncodedString(text) + signKey.value_or(kNilSignText));
}

Dictionary PellixDataService::handleParametersSHA1(const Value& parameters) {
    Dictionary merged = _commonParametersHandle(parameters);
    std::optional<std::string> signKey;
    if (auto token = PellixProxyInfo::sharedInstance()->token()) signKey = token->sign();
    merged.set("sign", signature(signatureText(merged), signKey));
    return merged;
}

PellixDataService::Task PellixDataService::getPellixSDKData(const std::shared_ptr<PellixBaseRequestParam>& param,
                                                             Success success, Failure failure) {
    // Serializers belong to this request alone.
    auto responseSerializer = reponseSerializerWithType(param->buildResponseType());
    auto serializer = requestSerializer();
    serializer->setTimeoutInterval(param->buildRequestTimeout());
    const std::uint64_t method = param->buildRequestMethod();
    const std::string url = requestURL(param->domain().value_or(""), param->buildRequestPath());
    const Dictionary parameters = handleParametersSHA1(Value(param->buildRequestParam()));
    switch (method) {
        case PellixBaseRequestParam::kMethodPOST:
            return POST(url, parameters, serializer, responseSerializer, std::move(success), std::move(failure));
        case PellixBaseRequestParam::kMethodPUT:
            return PUT(url, parameters, serializer, responseSerializer, std::move(success), std::move(failure));
        default:
            return GET(url, parameters, serializer, responseSerializer, std::move(success), std::move(failure));
    }
}

PellixDataService::Task PellixDataService::GET(const std::string& URLString, const Dictionary& parameters,
                                               const std::shared_ptr<TVHTTPRequestSerializer>& requestSerializer,
                                               const std::shared_ptr<TVHTTPResponseSerializer>& responseSerializer,
                                               Success success, Failure failure) {
    return send("GET", URLString, parameters, requestSerializer, responseSerializer, std::move(success),
                std::move(failure));
}

PellixDataService::Task PellixDataService::POST(const std::string& URLString, const Dictionary& parameters,
                                                const std::shared_ptr<TVHTTPRequestSerializer>& requestSerializer,
                                                const std::shared_ptr<TVHTTPResponseSerializer>& responseSerializer,
                                                Success success, Failure failure) {
    return send("POST", URLString, parameters, requestSerializer, responseSerializer, std::move(success),
                std::move(failure));
}

PellixDataService::Task PellixDataService::PUT(const std::string& URLString, const Dictionary& parameters,
                                               const std::shared_ptr<TVHTTPRequestSerializer>& requestSerializer,
                                               const std::shared_ptr<TVHTTPResponseSerializer>& responseSerializer,
                                               Success success, Failure failure) {
    return send("PUT", URLString, parameters, requestSerializer, responseSerializer, std::move(success),
                std::move(failure));
}

PellixDataService::Task PellixDataService::send(const std::string& method, const std::string& URLString,
                                                const Dictionary& parameters,
                                                const std::shared_ptr<TVHTTPRequestSerializer>& requestSerializer,
                                                const std::shared_ptr<TVHTTPResponseSerializer>& responseSerializer,
                                                Success success, Failure failure) {
    const Value params(parameters);
    try {
        std::lock_guard lock(bindMutex_);
        sessionManager_->setRequestSerializer(requestSerializer);
        sessionManager_->setResponseSerializer(responseSerializer);
        if (method == "POST") return sessionManager_->POST(URLString, params, std::move(success), std::move(failure));
        if (method == "PUT") return sessionManager_->PUT(URLString, params, std::move(success), std::move(failure));
        return sessionManager_->GET(URLString, params, std::move(success), std::move(failure));
    } catch (const platform::Exception& e) {
        // A URL that does not parse, or a session that was closed.
        if (failure) {
            auto error = platform::Error::make(platform::URLError::kDomain, platform::URLError::BadURL,
                                               Dictionary{{"NSLocalizedDescription", Value(std::string(e.what()))}});
            platform::DispatchQueue::main()->async([failure, error] { failure(nullptr, error); });
        }
        return nullptr;
    }
}

void PellixDataService::cancelAllTask() { sessionManager_->invalidateSessionCancelingTasks(true); }

}  // namespace pellix
