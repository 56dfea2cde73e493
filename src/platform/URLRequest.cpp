#include "platform/URLRequest.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cctype>

namespace pellix::platform {

bool URLRequest::isToken(std::string_view text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        if (std::isalnum(c)) continue;
        if (std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) == std::string_view::npos) return false;
    }
    return true;
}

bool URLRequest::isSafeHeaderValue(std::string_view value) {
    for (char c : value)
        if (c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

bool URLRequest::setHTTPMethod(std::string method) {
    if (!isToken(method)) return false;
    method_ = std::move(method);
    return true;
}

bool URLRequest::setAllHTTPHeaderFields(const HeaderFields& fields) {
    for (const auto& [name, value] : fields)
        if (!isToken(name) || !isSafeHeaderValue(value)) return false;
    headers_.clear();
    for (const auto& [name, value] : fields) setValue(value, name);
    return true;
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(std::string_view name) const {
    for (const auto& [n, v] : headers_)
        if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) return v;
    return std::nullopt;
}

bool URLRequest::setValue(std::optional<std::string> value, std::string_view name) {
    if (!isToken(name) || (value && !isSafeHeaderValue(*value))) return false;
    for (auto it = headers_.begin(); it != headers_.end(); ++it) {
        if (it->first.size() == name.size() && strncasecmp(it->first.data(), name.data(), name.size()) == 0) {
            if (value)
                it->second = std::move(*value);
            else
                headers_.erase(it);
            return true;
        }
    }
    if (value) headers_.emplace_back(std::string(name), std::move(*value));
    return true;
}

bool URLRequest::addValue(const std::string& value, std::string_view name) {
    auto existing = valueForHTTPHeaderField(name);
    return setValue(existing ? *existing + ", " + value : value, name);
}

void URLRequest::setHTTPBody(std::optional<Bytes> body) {
    body_ = std::move(body);
    if (body_) bodyStream_.reset();
}

void URLRequest::setHTTPBodyStream(std::shared_ptr<InputStream> stream) {
    bodyStream_ = std::move(stream);
    if (bodyStream_) body_.reset();
}

bool URLRequest::setConnectToAddress(std::optional<std::string> address) {
    if (!address) {
        connectTo_.reset();
        return true;
    }
    std::string text = *address;
    unsigned char bytes[16];
    if (::inet_pton(AF_INET, text.c_str(), bytes) == 1) {
        connectTo_ = text;
        return true;
    }
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    if (::inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
        connectTo_ = "[" + text + "]";
        return true;
    }
    return false;
}

std::optional<Value> URLRequest::propertyForKey(std::string_view key) const {
    const Value* v = properties_.find(key);
    if (!v) return std::nullopt;
    return *v;
}

void URLRequest::setProperty(std::optional<Value> value, std::string key) {
    if (value)
        properties_.set(std::move(key), std::move(*value));
    else
        properties_.erase(key);
}

}  // namespace pellix::platform
