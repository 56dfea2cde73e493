#include "TVNetworking/TVHTTPResponseSerializer.h"

#include <cstdio>

#include "TVNetworking/TVNetworkingSupport.h"

namespace pellix {

using platform::Dictionary;
using platform::Error;
using platform::ErrorPtr;
using platform::Value;

std::set<int> TVIndexSetWithRange(int first, int count) {
    std::set<int> s;
    for (int i = 0; i < count; ++i) s.insert(first + i);
    return s;
}

std::string TVLocalizedStringForStatusCode(int statusCode) {
    switch (statusCode) {
        case 100: return "continue";
        case 101: return "switching protocols";
        case 200: return "no error";
        case 201: return "created";
        case 202: return "accepted";
        case 203: return "non-authoritative information";
        case 204: return "no content";
        case 205: return "reset content";
        case 206: return "partial content";
        case 300: return "multiple choices";
        case 301: return "moved permanently";
        case 302: return "found";
        case 303: return "see other";
        case 304: return "not modified";
        case 305: return "needs proxy";
        case 307: return "temporarily redirected";
        case 308: return "permanently redirected";
        case 400: return "bad request";
        case 401: return "unauthorized";
        case 402: return "payment required";
        case 403: return "forbidden";
        case 404: return "not found";
        case 405: return "method not allowed";
        case 406: return "unacceptable";
        case 407: return "proxy authentication required";
        case 408: return "request timed out";
        case 409: return "conflict";
        case 410: return "no longer exists";
        case 411: return "length required";
        case 412: return "precondition failed";
        case 413: return "request too large";
        case 414: return "requested URL too long";
        case 415: return "unsupported media type";
        case 416: return "requested range not satisfiable";
        case 417: return "expectation failed";
        case 426: return "upgrade required";
        case 429: return "too many requests";
        case 500: return "internal server error";
        case 501: return "unimplemented";
        case 502: return "bad gateway";
        case 503: return "service unavailable";
        case 504: return "gateway timed out";
        case 505: return "unsupported version";
        default: break;
    }
    if (statusCode >= 100 && statusCode < 200) return "informational";
    if (statusCode >= 200 && statusCode < 300) return "success";
    if (statusCode >= 300 && statusCode < 400) return "redirected";
    if (statusCode >= 400 && statusCode < 500) return "client error";
    if (statusCode >= 500 && statusCode < 600) return "server error";
    return "server error";
}

std::shared_ptr<TVHTTPResponseSerializer> TVHTTPResponseSerializer::serializer() {
    return std::make_shared<TVHTTPResponseSerializer>();
}

TVHTTPResponseSerializer::TVHTTPResponseSerializer() : acceptableStatusCodes_(TVIndexSetWithRange(200, 100)) {}

std::shared_ptr<TVHTTPResponseSerializer> TVHTTPResponseSerializer::copy() const {
    auto c = std::make_shared<TVHTTPResponseSerializer>();
    copyInto(*c);
    return c;
}

void TVHTTPResponseSerializer::copyInto(TVHTTPResponseSerializer& target) const {
    target.acceptableStatusCodes_ = acceptableStatusCodes_;
    target.acceptableContentTypes_ = acceptableContentTypes_;
}

void TVHTTPResponseSerializer::encodeWithCoder(Dictionary& coder) const {
    coder.set("class", Value(className()));
    if (acceptableStatusCodes_) {
        platform::Array codes;
        for (int code : *acceptableStatusCodes_) codes.emplace_back(code);
        coder.set("acceptableStatusCodes", Value(std::move(codes)));
    }
    if (acceptableContentTypes_) {
        platform::Array types;
        for (const std::string& type : *acceptableContentTypes_) types.emplace_back(type);
        coder.set("acceptableContentTypes", Value(std::move(types)));
    }
}

void TVHTTPResponseSerializer::initWithCoder(const Dictionary& coder) {
    acceptableStatusCodes_.reset();
    if (const Value* codes = coder.find("acceptableStatusCodes"); codes && codes->isArray()) {
        acceptableStatusCodes_.emplace();
        for (const Value& code : codes->asArray())
            if (code.isNumber()) acceptableStatusCodes_->insert(static_cast<int>(code.intValue()));
    }
    acceptableContentTypes_.reset();
    if (const Value* types = coder.find("acceptableContentTypes"); types && types->isArray()) {
        acceptableContentTypes_.emplace();
        for (const Value& type : types->asArray())
            if (type.isString()) acceptableContentTypes_->insert(type.asString());
    }
}

namespace {

Dictionary validationUserInfo(const std::string& description, const platform::HTTPURLResponse& response,
                              const TVResponseData& data) {
    Dictionary headers;
    for (const auto& [name, value] : response.allHeaderFields()) headers.set(name, Value(value));
    Dictionary info{
        {Error::kLocalizedDescriptionKey, Value(description)},
        {Error::kURLErrorFailingURLErrorKey, Value(response.url().absoluteString())},
        {TVNetworkingOperationFailingURLResponseErrorKey,
         Value(Dictionary{{"statusCode", Value(response.statusCode())},
                          {"URL", Value(response.url().absoluteString())},
                          {"allHeaderFields", Value(std::move(headers))}})},
    };
    if (data) info.set(TVNetworkingOperationFailingURLResponseDataErrorKey, Value(*data));
    return info;
}

}  // namespace

bool TVHTTPResponseSerializer::validateResponse(const TVResponse& response, const TVResponseData& data,
                                                ErrorPtr* error) const {
    bool valid = true;
    ErrorPtr validationError;
    // A file URL's answer carries no HTTP status or content type to judge.
    if (response && !response->url().isFileURL()) {
        const bool hasURL = !response->url().absoluteString().empty();
        const bool emptyBody = !data || data->empty();
        const auto& mime = response->mimeType();
        if (acceptableContentTypes_ && !(mime && acceptableContentTypes_->count(*mime)) && !(!mime && emptyBody)) {
            if (!emptyBody && hasURL) {
                std::string text = TVNetworkingLocalizedString("Request failed: unacceptable content-type: %@");
                std::string description = text.substr(0, text.find("%@")) + (mime ? *mime : std::string("(null)"));
                validationError = Error::make(TVURLResponseSerializationErrorDomain, kTVURLErrorCannotDecodeContentData,
                                              validationUserInfo(description, *response, data));
            }
            valid = false;
        }
        if (acceptableStatusCodes_ && !acceptableStatusCodes_->count(response->statusCode()) && hasURL) {
            std::string description = "Request failed: " + TVLocalizedStringForStatusCode(response->statusCode()) +
                                      " (" + std::to_string(response->statusCode()) + ")";
            validationError = Error::make(TVURLResponseSerializationErrorDomain, kTVURLErrorBadServerResponse,
                                          validationUserInfo(description, *response, data), validationError);
            valid = false;
        }
    }
    if (error && !valid) *error = validationError;
    return valid;
}

TVResponseObject TVHTTPResponseSerializer::responseObject(const TVResponse& response, const TVResponseData& data,
                                                          ErrorPtr* error) const {
    validateResponse(response, data, error);
    if (!data) return {};
    return TVResponseObject(Value(*data));
}

bool TVHTTPResponseSerializer::passesDecodingGate(const TVResponse& response, const TVResponseData& data,
                                                  ErrorPtr* error) const {
    if (validateResponse(response, data, error)) return true;
    return error && !TVErrorOrUnderlyingErrorHasCodeInDomain(*error, kTVURLErrorCannotDecodeContentData,
                                                             TVURLResponseSerializationErrorDomain);
}

ErrorPtr TVErrorWithUnderlyingError(const ErrorPtr& error, const ErrorPtr& underlyingError) {
    if (!error) return underlyingError;
    if (!underlyingError || error->underlying()) return error;
    return Error::make(error->domain(), error->code(), error->userInfo(), underlyingError);
}

bool TVErrorOrUnderlyingErrorHasCodeInDomain(const ErrorPtr& error, std::int64_t code, const std::string& domain) {
    for (const Error* e = error.get(); e; e = e->underlying().get())
        if (e->code() == code && e->domain() == domain) return true;
    return false;
}

Value TVJSONObjectByRemovingKeysWithNullValues(const Value& JSONObject, unsigned readingOptions) {
    if (const platform::Array* array = JSONObject.arrayIf()) {
        platform::Array out;
        out.reserve(array->size());
        for (const Value& element : *array) out.push_back(TVJSONObjectByRemovingKeysWithNullValues(element, readingOptions));
        return Value(std::move(out));
    }
    if (const platform::Dictionary* dictionary = JSONObject.dictionaryIf()) {
        platform::Dictionary out;
        for (const auto& [key, value] : *dictionary) {
            if (value.isNull()) continue;
            if (value.isArray() || value.isDictionary())
                out.append(key, TVJSONObjectByRemovingKeysWithNullValues(value, readingOptions));
            else
                out.append(key, value);
        }
        return Value(std::move(out));
    }
    return JSONObject;
}

}  // namespace pellix
