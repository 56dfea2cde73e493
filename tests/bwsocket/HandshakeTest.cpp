// The opening handshake without a socket: request head, response parser, checks.
#include <gtest/gtest.h>

#include "BWSocket/BWHandshake.h"

namespace pellix {
namespace {

platform::URL url(const char* text) { return *platform::URL::parse(text); }

std::string header(const std::string& head, const std::string& name) {
    const auto at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "<absent>";
    const auto start = at + 4 + name.size();
    return head.substr(start, head.find("\r\n", start) - start);
}

TEST(BWHandshake, RequestHostOriginAndAuthorization) {
    struct Case {
        const char* url;
        const char* requestLine;
        const char* host;
        const char* origin;
        const char* authorization;
    };
    for (const auto& k : {
             Case{"ws://example.test/chat", "GET /chat HTTP/1.1", "example.test", "http://example.test", "<absent>"},
             Case{"ws://example.test", "GET / HTTP/1.1", "example.test", "http://example.test", "<absent>"},
             Case{"wss://example.test:8443/a?b=c", "GET /a?b=c HTTP/1.1", "example.test:8443", "https://example.test:8443", "<absent>"},
             Case{"wss://example.test:443/", "GET / HTTP/1.1", "example.test:443", "https://example.test", "<absent>"},
             Case{"ws://example.test:80/", "GET / HTTP/1.1", "example.test:80", "http://example.test", "<absent>"},
             Case{"https://[::1]:9000/x", "GET /x HTTP/1.1", "[::1]:9000", "https://[::1]:9000", "<absent>"},
             Case{"ws://user:pass@example.test/", "GET / HTTP/1.1", "example.test", "http://example.test", "Basic dXNlcjpwYXNz"},
             Case{"ws://user@example.test/", "GET / HTTP/1.1", "example.test", "http://example.test", "<absent>"},
         }) {
        BWHandshakeRequest request{url(k.url), "dGhlIHNhbXBsZSBub25jZQ==", std::nullopt, {}, {}};
        const std::string head = request.serialize();
        EXPECT_EQ(head.substr(0, head.find("\r\n")), k.requestLine) << k.url;
        EXPECT_EQ(header(head, "Host"), k.host) << k.url;
        EXPECT_EQ(header(head, "Origin"), k.origin) << k.url;
        EXPECT_EQ(header(head, "Authorization"), k.authorization) << k.url;
        EXPECT_EQ(header(head, "Sec-WebSocket-Protocol"), "<absent>") << k.url;
        EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
    }
    BWHandshakeRequest request{url("ws://h/"), "k", std::vector<std::string>{"mqtt", "chat"}, {{"a", "1"}}, {{"origin", "mine"}}};
    const std::string head = request.serialize();
    EXPECT_EQ(header(head, "Sec-WebSocket-Protocol"), "mqtt, chat");
    EXPECT_EQ(header(head, "Origin"), "mine");  // the caller's field replaces ours, once
    EXPECT_EQ(head.find("rigin: http"), std::string::npos);
    EXPECT_EQ(header(head, "Cookie"), "a=1");
    EXPECT_EQ(BWNewSecKey().size(), 24u);
    // RFC 6455's own example.
    EXPECT_EQ(BWAcceptKey("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(BWHandshake, ResponseHeadCutAnywhereLeavesTheFrameBytes) {
    const std::string head = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    const std::string stream = head + "\x81\x02hi";
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, stream.size()}) {
        BWHandshakeResponseParser parser;
        std::size_t at = 0, consumed = 0;
        auto result = BWHandshakeResponseParser::Result::NeedMore;
        while (result == BWHandshakeResponseParser::Result::NeedMore && at < stream.size()) {
            const std::size_t n = std::min(piece, stream.size() - at);
            result = parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(stream.data()) + at, n), consumed);
            at += consumed;
        }
        ASSERT_EQ(result, BWHandshakeResponseParser::Result::Complete) << piece;
        EXPECT_EQ(at, head.size()) << piece;  // the frame's bytes were not taken
        EXPECT_EQ(parser.response().statusCode, 101);
        EXPECT_EQ(parser.response().header("sec-websocket-accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
        std::optional<std::string> protocol;
        EXPECT_EQ(BWCheckHandshakeResponse(parser.response(), "dGhlIHNhbXBsZSBub25jZQ==", std::nullopt, protocol), nullptr);
    }
}

TEST(BWHandshake, OversizedOrMalformedHeadsFail) {
    BWHandshakeResponseParser big;
    std::string filler = "HTTP/1.1 101 OK\r\nX: " + std::string(BWHandshakeResponseParser::kMaxHeadSize, 'a');
    std::size_t consumed = 0;
    EXPECT_EQ(big.feed(std::span(reinterpret_cast<const std::uint8_t*>(filler.data()), filler.size()), consumed),
              BWHandshakeResponseParser::Result::Failed);
    EXPECT_EQ(big.error()->localizedDescription(), "HTTP response head too large");

    for (const std::string bad : {"HTTP/1.1 1x1 Huh\r\n\r\n", "hello\r\n\r\n", "HTTP/1.1 101 OK\r\nno colon\r\n\r\n",
                                  "HTTP/1.1\r\n\r\n"}) {
        BWHandshakeResponseParser parser;
        EXPECT_EQ(parser.feed(std::span(reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()), consumed),
                  BWHandshakeResponseParser::Result::Failed)
            << bad;
        EXPECT_EQ(parser.error()->code(), BWWebSocketErrorBadHandshake);
    }
}

TEST(BWHandshake, ResponseChecks) {
    const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
    const std::string accept = BWAcceptKey(key);
    using Protocols = std::optional<std::vector<std::string>>;
    struct Case {
        const char* name;
        int status;
        std::vector<std::pair<std::string, std::string>> headers;
        Protocols offered;
        std::string failure;  // "" passes
        std::optional<std::string> protocol;
    };
    const std::pair<std::string, std::string> up{"Upgrade", "WebSocket"}, conn{"Connection", "keep-alive, Upgrade"},
        acc{"Sec-WebSocket-Accept", accept};
    const std::vector<Case> cases{
        {"plain", 101, {up, conn, acc}, std::nullopt, "", std::nullopt},
        {"second protocol", 101, {up, conn, acc, {"Sec-WebSocket-Protocol", "b"}}, Protocols{{"a", "b"}}, "", "b"},
        {"none named", 101, {up, conn, acc}, Protocols{{"a"}}, "", std::nullopt},
        {"not offered", 101, {up, conn, acc, {"Sec-WebSocket-Protocol", "c"}}, Protocols{{"a"}},
         "Server specified Sec-WebSocket-Protocol that wasn't requested", std::nullopt},
        {"nothing offered", 101, {up, conn, acc, {"Sec-WebSocket-Protocol", "a"}}, std::nullopt,
         "Server specified Sec-WebSocket-Protocol that wasn't requested", std::nullopt},
        {"accept in other case", 101, {up, conn, {"Sec-WebSocket-Accept", std::string(accept).replace(0, 1, "S")}},
         std::nullopt, "Invalid Sec-WebSocket-Accept response", std::nullopt},
        {"no accept", 101, {up, conn}, std::nullopt, "Invalid Sec-WebSocket-Accept response", std::nullopt},
        {"no upgrade", 101, {conn, acc}, std::nullopt, "Invalid Upgrade response", std::nullopt},
        {"no connection", 101, {up, acc}, std::nullopt, "Invalid Upgrade response", std::nullopt},
        {"200", 200, {up, conn, acc}, std::nullopt, "received bad response code from server 200", std::nullopt},
        {"403", 403, {}, std::nullopt, "received bad response code from server 403", std::nullopt},
    };
    for (const auto& k : cases) {
        BWHandshakeResponse response{k.status, "", k.headers};
        std::optional<std::string> protocol = "stale";
        auto error = BWCheckHandshakeResponse(response, key, k.offered, protocol);
        EXPECT_EQ(error ? error->localizedDescription() : "", k.failure) << k.name;
        EXPECT_EQ(protocol, k.protocol) << k.name;
    }
}

}  // namespace
}  // namespace pellix
