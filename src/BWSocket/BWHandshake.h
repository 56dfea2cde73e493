// BWHandshake: the opening handshake of a WebSocket client (protocol version
// 13): the HTTP/1.1 upgrade request, the parser of the server's response
// head and the checks the response must pass.
//
// Pure: no I/O, no threads. The parser is fed whatever the socket read and
// says where the head ended; bytes after it belong to the frames.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/URL.h"
#include "platform/Value.h"

namespace pellix {

// Error domain and codes of the client (failures of the handshake, of
// writing and of the protocol).
inline constexpr const char* BWWebSocketErrorDomain = "BWWebSocketErrorDomain";
inline constexpr std::int64_t BWWebSocketErrorBadResponseCode = 2132;
inline constexpr std::int64_t BWWebSocketErrorBadHandshake = 2133;
inline constexpr std::int64_t BWWebSocketErrorWriteFailed = 2145;
inline constexpr const char* BWHTTPResponseStatusCodeKey = "HTTPResponseStatusCode";

// A cookie sent with the handshake request.
struct BWHTTPCookie {
    std::string name;
    std::string value;
};

struct BWHandshakeRequest {
    platform::URL url;
    std::string secKey;  // Base64 of 16 random bytes
    std::optional<std::vector<std::string>> protocols;
    std::vector<BWHTTPCookie> cookies;
    // The caller's own fields; one named like a field set here replaces it.
    std::vector<std::pair<std::string, std::string>> extraHeaders;

    // The request head, CR LF CR LF included.
    std::string serialize() const;
};

// The Origin of a URL: "ws" sent as "http", "wss" as "https", the port only
// when it is not the scheme's default.
std::string BWOrigin(const platform::URL& url);
// Base64 of SHA-1 of the key and the protocol's GUID.
std::string BWAcceptKey(const std::string& secKey);
// A fresh Sec-WebSocket-Key (24 characters).
std::string BWNewSecKey();

struct BWHandshakeResponse {
    int statusCode = 0;
    std::string reasonPhrase;
    std::vector<std::pair<std::string, std::string>> headers;
    // The first field of that name (any case).
    std::optional<std::string> header(std::string_view name) const;
};

class BWHandshakeResponseParser {
public:
    // A server that sends a longer head is refused, so it cannot fill memory.
    static constexpr std::size_t kMaxHeadSize = 16 * 1024;

    enum class Result { NeedMore, Complete, Failed };

    // Feeds bytes; `consumed` tells how many of them belonged to the head
    // (all of them unless Complete). After Complete or Failed it reads no more.
    Result feed(std::span<const std::uint8_t> bytes, std::size_t& consumed);

    const BWHandshakeResponse& response() const { return response_; }
    // Why the head was refused (Failed), as an error of BWWebSocketErrorDomain.
    const platform::ErrorPtr& error() const { return error_; }

private:
    Result parse();

    std::string head_;
    Result result_ = Result::NeedMore;
    BWHandshakeResponse response_;
    platform::ErrorPtr error_;
};

// Checks a complete response: status 101, "Upgrade: websocket" and an
// upgrading "Connection", the accept key, and a subprotocol among those
// requested. Null when it passes (`protocol` then holds the accepted
// subprotocol, nullopt when the server named none).
platform::ErrorPtr BWCheckHandshakeResponse(const BWHandshakeResponse& response, const std::string& secKey,
                                            const std::optional<std::vector<std::string>>& requestedProtocols,
                                            std::optional<std::string>& protocol);

}  // namespace pellix
