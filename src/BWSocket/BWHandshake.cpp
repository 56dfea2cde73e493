#include "BWSocket/BWHandshake.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/Crypto.h"

namespace pellix {

namespace {

namespace crypto = platform::crypto;

constexpr const char* kGUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

platform::ErrorPtr handshakeError(std::int64_t code, std::string text, platform::Dictionary extra = {}) {
    platform::Dictionary info{{platform::Error::kLocalizedDescriptionKey, platform::Value(std::move(text))}};
    for (auto& [k, v] : extra) info.set(k, v);
    return platform::Error::make(BWWebSocketErrorDomain, code, std::move(info));
}

// A comma-separated header value holds the token (any case).
bool hasToken(std::string_view value, std::string_view token) {
    while (!value.empty()) {
        auto comma = value.find(',');
        if (equalsIgnoringCase(trim(value.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace

std::string BWOrigin(const platform::URL& url) {
    std::string scheme = url.scheme();
    if (scheme == "wss") scheme = "https";
    if (scheme == "ws") scheme = "http";
    const auto& port = url.port();
    const bool defaultPort = !port || (*port == 80 && scheme == "http") || (*port == 443 && scheme == "https");
    std::string origin = scheme + "://" + url.hostForURL();
    if (!defaultPort) origin += ":" + std::to_string(*port);
    return origin;
}

std::string BWAcceptKey(const std::string& secKey) {
    const std::string text = secKey + kGUID;
    auto digest = crypto::sha1(crypto::ByteView(text.data(), text.size()));
    return digest ? crypto::base64Encode(crypto::ByteView(digest->data(), digest->size())) : std::string();
}

std::string BWNewSecKey() {
    auto bytes = crypto::randomBytes(16);
    platform::Bytes key = bytes ? *bytes : platform::Bytes(16, 0x42);
    return crypto::base64Encode(crypto::ByteView(key.data(), key.size()));
}

std::string BWHandshakeRequest::serialize() const {
    std::vector<std::pair<std::string, std::string>> fields;
    auto set = [&fields](const std::string& name, std::string value) {
        for (auto& f : fields) {
            if (equalsIgnoringCase(f.first, name)) {
                f.second = std::move(value);
                return;
            }
        }
        fields.emplace_back(name, std::move(value));
    };
    std::string host = url.hostForURL();
    if (url.port()) host += ":" + std::to_string(*url.port());
    set("Host", host);
    if (!cookies.empty()) {
        std::string cookie;
        for (const auto& c : cookies) {
            if (c.name.empty()) continue;
            if (!cookie.empty()) cookie += "; ";
            cookie += c.name + "=" + c.value;
        }
        if (!cookie.empty()) set("Cookie", cookie);
    }
    if (url.user() && url.password() && !url.user()->empty() && !url.password()->empty()) {
        const std::string user = platform::URL::percentDecode(*url.user()).value_or(*url.user());
        const std::string password = platform::URL::percentDecode(*url.password()).value_or(*url.password());
        const std::string credentials = user + ":" + password;
        set("Authorization", "Basic " + crypto::base64Encode(crypto::ByteView(credentials.data(), credentials.size())));
    }
    set("Upgrade", "websocket");
    set("Connection", "Upgrade");
    set("Sec-WebSocket-Key", secKey);
    set("Sec-WebSocket-Version", "13");
    set("Origin", BWOrigin(url));
    if (protocols) {
        std::string joined;
        for (const auto& p : *protocols) joined += (joined.empty() ? "" : ", ") + p;
        set("Sec-WebSocket-Protocol", joined);
    }
    for (const auto& [name, value] : extraHeaders) set(name, value);

    std::string target = url.percentEncodedPath().empty() ? "/" : url.percentEncodedPath();
    if (url.query()) target += "?" + *url.query();
    std::string head = "GET " + target + " HTTP/1.1\r\n";
    for (const auto& [name, value] : fields) head += name + ": " + value + "\r\n";
    head += "\r\n";
    return head;
}

std::optional<std::string> BWHandshakeResponse::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (equalsIgnoringCase(n, name)) return v;
    return std::nullopt;
}

BWHandshakeResponseParser::Result BWHandshakeResponseParser::feed(std::span<const std::uint8_t> bytes,
                                                                  std::size_t& consumed) {
    consumed = 0;
    if (result_ != Result::NeedMore) return result_;
    // Only the last three bytes held can start the blank line with new ones.
    const std::size_t from = head_.size() >= 3 ? head_.size() - 3 : 0;
    const std::size_t room = kMaxHeadSize - head_.size();
    const std::size_t take = std::min(bytes.size(), room);
    head_.append(reinterpret_cast<const char*>(bytes.data()), take);
    const auto end = head_.find("\r\n\r\n", from);
    if (end == std::string::npos) {
        consumed = take;
        if (head_.size() < kMaxHeadSize) return result_;
        error_ = handshakeError(BWWebSocketErrorBadHandshake, "HTTP response head too large");
        return result_ = Result::Failed;
    }
    const std::size_t headSize = end + 4;
    consumed = take - (head_.size() - headSize);
    head_.resize(headSize);
    return result_ = parse();
}

BWHandshakeResponseParser::Result BWHandshakeResponseParser::parse() {
    auto malformed = [this] {
        error_ = handshakeError(BWWebSocketErrorBadHandshake, "Invalid HTTP response");
        return Result::Failed;
    };
    std::string_view rest(head_);
    rest.remove_suffix(2);  // the blank line's CR LF; each line below ends in CR LF
    auto nextLine = [&rest]() -> std::optional<std::string_view> {
        auto eol = rest.find("\r\n");
        if (eol == std::string_view::npos) return std::nullopt;
        auto line = rest.substr(0, eol);
        rest.remove_prefix(eol + 2);
        return line;
    };
    auto status = nextLine();
    // "HTTP/1.1 101 Switching Protocols"
    if (!status || status->substr(0, 5) != "HTTP/") return malformed();
    auto sp = status->find(' ');
    if (sp == std::string_view::npos) return malformed();
    auto codeText = status->substr(sp + 1, 3);
    int code = 0;
    auto [ptr, ec] = std::from_chars(codeText.data(), codeText.data() + codeText.size(), code);
    if (ec != std::errc() || ptr != codeText.data() + 3 || codeText.size() != 3) return malformed();
    response_.statusCode = code;
    if (status->size() > sp + 4) response_.reasonPhrase = std::string(trim(status->substr(sp + 4)));
    while (auto line = nextLine()) {
        auto colon = line->find(':');
        if (colon == std::string_view::npos || colon == 0) return malformed();
        response_.headers.emplace_back(std::string(line->substr(0, colon)), std::string(trim(line->substr(colon + 1))));
    }
    return Result::Complete;
}

platform::ErrorPtr BWCheckHandshakeResponse(const BWHandshakeResponse& response, const std::string& secKey,
                                            const std::optional<std::vector<std::string>>& requestedProtocols,
                                            std::optional<std::string>& protocol) {
    protocol.reset();
    // Only 101 switches protocols; anything else (a 200 included) is an
    // ordinary HTTP answer, whatever headers it carries.
    if (response.statusCode != 101) {
        return handshakeError(BWWebSocketErrorBadResponseCode,
                              "received bad response code from server " + std::to_string(response.statusCode),
                              {{BWHTTPResponseStatusCodeKey, platform::Value(static_cast<std::int64_t>(response.statusCode))}});
    }
    auto upgrade = response.header("Upgrade");
    auto connection = response.header("Connection");
    if (!upgrade || !equalsIgnoringCase(trim(*upgrade), "websocket") || !connection || !hasToken(*connection, "upgrade"))
        return handshakeError(BWWebSocketErrorBadHandshake, "Invalid Upgrade response");
    auto accept = response.header("Sec-WebSocket-Accept");
    if (!accept || *accept != BWAcceptKey(secKey))
        return handshakeError(BWWebSocketErrorBadHandshake, "Invalid Sec-WebSocket-Accept response");
    if (auto named = response.header("Sec-WebSocket-Protocol")) {
        const bool offered = requestedProtocols &&
                             std::find(requestedProtocols->begin(), requestedProtocols->end(), *named) != requestedProtocols->end();
        if (!offered)
            return handshakeError(BWWebSocketErrorBadHandshake, "Server specified Sec-WebSocket-Protocol that wasn't requested");
        protocol = *named;
    }
    return nullptr;
}

}  // namespace pellix
