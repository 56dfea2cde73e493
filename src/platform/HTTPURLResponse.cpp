#include "platform/HTTPURLResponse.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace pellix::platform {

namespace {

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

HTTPURLResponse::HTTPURLResponse(URL url, int statusCode, std::string httpVersion, HeaderFields headerFields)
    : url_(std::move(url)), statusCode_(statusCode), httpVersion_(std::move(httpVersion)) {
    for (auto& field : headerFields) {
        // Named references, not a structured binding: clang 14 cannot capture those.
        std::string& name = field.first;
        std::string& value = field.second;
        auto it = std::find_if(headers_.begin(), headers_.end(), [&](const auto& e) { return sameName(e.first, name); });
        if (it == headers_.end())
            headers_.emplace_back(std::move(name), std::move(value));
        else
            it->second += ", " + value;
    }
    if (auto type = valueForHTTPHeaderField("Content-Type")) {
        std::string_view t = *type;
        auto semi = t.find(';');
        std::string media = lower(trim(t.substr(0, semi)));
        if (!media.empty()) mimeType_ = media;
        while (semi != std::string_view::npos) {
            t = t.substr(semi + 1);
            semi = t.find(';');
            std::string_view param = t.substr(0, semi);
            auto eq = param.find('=');
            if (eq == std::string_view::npos) continue;
            if (lower(trim(param.substr(0, eq))) != "charset") continue;
            std::string v = trim(param.substr(eq + 1));
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            if (!v.empty()) textEncoding_ = lower(v);
        }
    }
    if (auto length = valueForHTTPHeaderField("Content-Length")) {
        std::string v = trim(*length);
        std::int64_t n = 0;
        auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
        if (ec == std::errc() && p == v.data() + v.size() && n >= 0 && !v.empty()) expectedLength_ = n;
    }
}

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(std::string_view name) const {
    for (const auto& [n, v] : headers_)
        if (sameName(n, name)) return v;
    return std::nullopt;
}

}  // namespace pellix::platform
