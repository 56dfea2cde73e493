#include "TVNetworking/TVHTTPRequestSerializer.h"

#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "TVNetworking/TVNetworkingSupport.h"
#include "TVNetworking/TVQueryStringPair.h"
#include "platform/Bundle.h"
#include "platform/Crypto.h"
#include "platform/Device.h"
#include "platform/TextServices.h"
#include "platform/URLError.h"

namespace pellix {

using platform::ErrorPtr;
using platform::URLRequest;
using platform::Value;

namespace {

bool sameField(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The user's preferred languages. The platform stand-in has no such fact, so
// they come from the POSIX locale variables: LANGUAGE ("de_DE:en"), else
// LC_ALL, LC_MESSAGES or LANG ("en_US.UTF-8"), written as "de-DE".
std::vector<std::string> preferredLanguages() {
    std::vector<std::string> raw;
    auto split = [&](const char* v) {
        std::string s = v ? v : "";
        std::size_t start = 0;
        while (start <= s.size()) {
            std::size_t end = s.find(':', start);
            if (end == std::string::npos) end = s.size();
            if (end > start) raw.push_back(s.substr(start, end - start));
            start = end + 1;
        }
    };
    split(std::getenv("LANGUAGE"));
    if (raw.empty()) {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* v = std::getenv(name);
            if (v && *v) {
                split(v);
                break;
            }
        }
    }
    std::vector<std::string> out;
    for (std::string tag : raw) {
        tag = tag.substr(0, tag.find_first_of(".@"));
        if (tag.empty() || tag == "C" || tag == "POSIX") continue;
        for (char& c : tag)
            if (c == '_') c = '-';
        out.push_back(tag);
    }
    return out;
}

std::string infoText(const platform::Bundle& bundle, const char* key, const char* fallbackKey) {
    auto v = bundle.objectForInfoDictionaryKey(key);
    if (!v || !v->isString()) v = bundle.objectForInfoDictionaryKey(fallbackKey);
    if (!v || v->isNull()) return "(null)";
    return v->description();
}

bool isASCII(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

const std::vector<std::string>& TVHTTPRequestSerializerObservedKeyPaths() {
    static const std::vector<std::string> paths{"allowsCellularAccess", "cachePolicy", "HTTPShouldHandleCookies",
                                                "HTTPShouldUsePipelining", "networkServiceType", "timeoutInterval"};
    return paths;
}

std::shared_ptr<TVHTTPRequestSerializer> TVHTTPRequestSerializer::serializer() {
    return std::make_shared<TVHTTPRequestSerializer>();
}

TVHTTPRequestSerializer::TVHTTPRequestSerializer()
    : headerQueue_(platform::DispatchQueue::concurrent("requestHeaderModificationQueue")) {
    // Accept-Language: at most six languages, qualities 1 down to 0.5.
    std::string languages;
    int index = 0;
    for (const std::string& language : preferredLanguages()) {
        float q = 1.0f - static_cast<float>(index) * 0.1f;
        char text[256];
        std::snprintf(text, sizeof text, "%s;q=%0.1g", language.c_str(), static_cast<double>(q));
        if (!languages.empty()) languages += ", ";
        languages += text;
        ++index;
        if (q <= 0.5f) break;
    }
    headers_->map.emplace_back("Accept-Language", languages);

    const platform::Bundle& bundle = platform::Bundle::mainBundle();
    platform::Device& device = platform::Device::currentDevice();
    char scale[64];
    std::snprintf(scale, sizeof scale, "%0.2f", device.screenScale());
    std::string userAgent = infoText(bundle, "CFBundleExecutable", "CFBundleIdentifier") + "/" +
                            infoText(bundle, "CFBundleShortVersionString", "CFBundleVersion") + " (" + device.model() +
                            "; iOS " + device.systemVersion() + "; Scale/" + scale + ")";
    if (!isASCII(userAgent)) {
        if (auto ascii = platform::text::applyTransform(userAgent, "Any-Latin; Latin-ASCII; [:^ASCII:] Remove"))
            userAgent = *ascii;
    }
    // A host-set fact with a line break must not become a header line of its own.
    if (URLRequest::isSafeHeaderValue(userAgent)) headers_->map.emplace_back("User-Agent", userAgent);
}

std::shared_ptr<TVHTTPRequestSerializer> TVHTTPRequestSerializer::copy() const {
    auto c = std::make_shared<TVHTTPRequestSerializer>();
    copyInto(*c);
    return c;
}

void TVHTTPRequestSerializer::copyInto(TVHTTPRequestSerializer& target) const {
    HeaderMap snapshot = HTTPRequestHeaders();
    auto headers = target.headers_;
    target.headerQueue_->syncBarrier([&] { headers->map = std::move(snapshot); });
    target.queryStringSerializationStyle_ = queryStringSerializationStyle_;
    target.queryStringSerialization_ = queryStringSerialization_;
}

void TVHTTPRequestSerializer::encodeWithCoder(platform::Dictionary& coder) const {
    platform::Dictionary headers;
    for (const auto& [field, value] : HTTPRequestHeaders()) headers.set(field, Value(value));
    coder.set("mutableHTTPRequestHeaders", Value(std::move(headers)));
    coder.set("queryStringSerializationStyle", Value(queryStringSerializationStyle_));
}

void TVHTTPRequestSerializer::initWithCoder(const platform::Dictionary& coder) {
    if (const Value* v = coder.find("mutableHTTPRequestHeaders"); v && v->isDictionary()) {
        HeaderMap map;
        for (const auto& [field, value] : v->asDictionary()) {
            // An archive from elsewhere must not smuggle in header lines.
            if (value.isString() && URLRequest::isToken(field) && URLRequest::isSafeHeaderValue(value.asString()))
                map.emplace_back(field, value.asString());
        }
        auto headers = headers_;
        headerQueue_->syncBarrier([&] { headers->map = std::move(map); });
    }
    const Value* style = coder.find("queryStringSerializationStyle");
    queryStringSerializationStyle_ = style && style->isNumber() ? static_cast<unsigned>(style->uintValue()) : 0;
}

void TVHTTPRequestSerializer::setAllowsCellularAccess(bool v) {
    allowsCellularAccess_ = v;
    markChanged("allowsCellularAccess");
}
void TVHTTPRequestSerializer::setCachePolicy(URLRequest::CachePolicy v) {
    cachePolicy_ = v;
    markChanged("cachePolicy");
}
void TVHTTPRequestSerializer::setHTTPShouldHandleCookies(bool v) {
    HTTPShouldHandleCookies_ = v;
    markChanged("HTTPShouldHandleCookies");
}
void TVHTTPRequestSerializer::setHTTPShouldUsePipelining(bool v) {
    HTTPShouldUsePipelining_ = v;
    markChanged("HTTPShouldUsePipelining");
}
void TVHTTPRequestSerializer::setNetworkServiceType(unsigned v) {
    networkServiceType_ = v;
    markChanged("networkServiceType");
}
void TVHTTPRequestSerializer::setTimeoutInterval(double seconds) {
    timeoutInterval_ = seconds;
    markChanged("timeoutInterval");
}

TVHTTPRequestSerializer::HeaderMap TVHTTPRequestSerializer::HTTPRequestHeaders() const {
    HeaderMap copy;
    auto headers = headers_;
    headerQueue_->sync([&] { copy = headers->map; });
    return copy;
}

bool TVHTTPRequestSerializer::setValue(std::optional<std::string> value, const std::string& field) {
    if (!URLRequest::isToken(field) || (value && !URLRequest::isSafeHeaderValue(*value))) return false;
    auto headers = headers_;
    headerQueue_->asyncBarrier([headers, value = std::move(value), field] {
        auto& map = headers->map;
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (sameField(it->first, field)) {
                if (value) it->second = *value;
                else map.erase(it);
                return;
            }
        }
        if (value) map.emplace_back(field, *value);
    });
    return true;
}

std::optional<std::string> TVHTTPRequestSerializer::valueForHTTPHeaderField(const std::string& field) const {
    std::optional<std::string> out;
    auto headers = headers_;
    headerQueue_->sync([&] {
        for (const auto& [name, value] : headers->map)
            if (sameField(name, field)) {
                out = value;
                return;
            }
    });
    return out;
}

void TVHTTPRequestSerializer::setAuthorizationHeaderFieldWithUsername(const std::string& username,
                                                                      const std::string& password) {
    setValue("Basic " + platform::crypto::base64Encode(username + ":" + password), "Authorization");
}

void TVHTTPRequestSerializer::clearAuthorizationHeader() { setValue(std::nullopt, "Authorization"); }

void TVHTTPRequestSerializer::setQueryStringSerializationWithStyle(TVHTTPRequestQueryStringSerializationStyle style) {
    queryStringSerializationStyle_ = style;
    queryStringSerialization_ = nullptr;
}

void TVHTTPRequestSerializer::setQueryStringSerializationWithBlock(QueryStringSerialization block) {
    queryStringSerialization_ = std::move(block);
}

std::optional<URLRequest> TVHTTPRequestSerializer::requestWithMethod(const std::string& method,
                                                                     const std::string& URLString,
                                                                     const Value& parameters, ErrorPtr* error) {
    TVParameterAssert(!method.empty(), "method");
    TVParameterAssert(!URLString.empty(), "URLString");
    auto url = platform::URL::parse(URLString);
    TVParameterAssert(url.has_value(), "url");
    URLRequest request(*url);
    TVParameterAssert(request.setHTTPMethod(method), "method");
    // Only the properties set on the serializer override the request's defaults.
    if (changedKeyPaths_.count("allowsCellularAccess")) request.setAllowsCellularAccess(allowsCellularAccess_);
    if (changedKeyPaths_.count("cachePolicy")) request.setCachePolicy(cachePolicy_);
    if (changedKeyPaths_.count("HTTPShouldHandleCookies")) request.setHTTPShouldHandleCookies(HTTPShouldHandleCookies_);
    if (changedKeyPaths_.count("HTTPShouldUsePipelining")) request.setHTTPShouldUsePipelining(HTTPShouldUsePipelining_);
    if (changedKeyPaths_.count("networkServiceType")) request.setNetworkServiceType(networkServiceType_);
    if (changedKeyPaths_.count("timeoutInterval")) request.setTimeoutInterval(timeoutInterval_);
    return requestBySerializingRequest(request, parameters, error);
}

void TVHTTPRequestSerializer::applyDefaultHeaders(URLRequest& request, const URLRequest& original) const {
    for (const auto& [field, value] : HTTPRequestHeaders()) {
        if (!original.valueForHTTPHeaderField(field)) request.setValue(value, field);
    }
}

std::optional<std::string> TVHTTPRequestSerializer::queryString(const URLRequest& request, const Value& parameters,
                                                                ErrorPtr* error, bool& failed) const {
    failed = false;
    if (parameters.isNull()) return std::nullopt;
    if (queryStringSerialization_) {
        ErrorPtr blockError;
        auto text = queryStringSerialization_(request, parameters, &blockError);
        if (blockError) {
            if (error) *error = blockError;
            failed = true;
            return std::nullopt;
        }
        return text;
    }
    return TVQueryStringFromParameters(parameters);
}

bool TVHTTPRequestSerializer::encodesParametersInURI(const std::string& method) const {
    return methodsInURI_.count(upper(method)) > 0;
}

bool TVHTTPRequestSerializer::appendQueryToURL(URLRequest& request, const std::string& query) {
    const platform::URL& url = request.url();
    // The query goes before any fragment: appended after it, the parameters
    // would travel in the fragment, which is never sent.
    std::string text = url.absoluteString();
    std::string fragment;
    if (url.fragment()) {
        fragment = "#" + *url.fragment();
        text.resize(text.size() - fragment.size());
    }
    text += (url.query() ? "&" : "?") + query + fragment;
    auto parsed = platform::URL::parse(text);
    if (!parsed) return false;
    request.setURL(*parsed);
    return true;
}

std::optional<URLRequest> TVHTTPRequestSerializer::requestBySerializingRequest(const URLRequest& request,
                                                                               const Value& parameters,
                                                                               ErrorPtr* error) {
    URLRequest mutableRequest = request;
    applyDefaultHeaders(mutableRequest, request);
    bool failed = false;
    std::optional<std::string> query = queryString(request, parameters, error, failed);
    if (failed) return std::nullopt;
    if (encodesParametersInURI(request.httpMethod())) {
        if (query && !query->empty() && !appendQueryToURL(mutableRequest, *query)) {
            // Sent with the old URL, the request would silently lose its parameters.
            if (error)
                *error = platform::Error::make(
                    platform::URLError::kDomain, platform::URLError::BadURL,
                    platform::Dictionary{{platform::Error::kLocalizedDescriptionKey,
                                          Value(std::string("The query text does not form a valid URL."))}});
            return std::nullopt;
        }
    } else {
        if (!query) query = std::string();
        if (!mutableRequest.valueForHTTPHeaderField("Content-Type"))
            mutableRequest.setValue("application/x-www-form-urlencoded", "Content-Type");
        mutableRequest.setHTTPBody(platform::Bytes(query->begin(), query->end()));
    }
    return mutableRequest;
}

}  // namespace pellix
