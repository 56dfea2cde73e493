// BWWebSocket against the Node `ws` server on loopback.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "BWSocket/BWHandshake.h"
#include "BWSocket/BWWebSocket.h"
#include "WsPeer.h"
#include "platform/Crypto.h"
#include "platform/OperationQueue.h"
#include "platform/RunLoop.h"

namespace pellix {
namespace {

using namespace std::chrono_literals;
using platform::Bytes;
using test::Client;
using test::WsPeer;

std::string hex(std::string_view bytes) {
    return platform::crypto::hex(platform::crypto::ByteView(bytes.data(), bytes.size()));
}

// An unmasked server frame, as hex for /raw.
std::string frameHex(std::uint8_t b0, std::string_view payload) {
    std::string f(1, static_cast<char>(b0));
    if (payload.size() < 126) {
        f += static_cast<char>(payload.size());
    } else {
        f += static_cast<char>(126);
        f += static_cast<char>(payload.size() >> 8);
        f += static_cast<char>(payload.size() & 0xFF);
    }
    f += payload;
    return hex(f);
}

TEST(BWWebSocketPeer, EchoesTextBinaryAndAMebibyteThenClosesCleanly) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    Client c(peer.url("/echo"));
    c.socket->open();
    ASSERT_EQ(c.recorder->waitFor("open"), "open");
    EXPECT_EQ(c.socket->readyState(), BWReadyStateOpen);
    EXPECT_FALSE(c.socket->protocol());
    ASSERT_TRUE(c.socket->receivedHTTPHeaders());
    EXPECT_EQ(c.socket->receivedHTTPHeaders()->statusCode, 101);

    c.socket->send(platform::Value(std::string("h\xC3\xA9llo \xE4\xB8\xAD")));
    EXPECT_EQ(c.recorder->waitFor("text:"), "text:h\xC3\xA9llo \xE4\xB8\xAD");
    Bytes big(1024 * 1024);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 31 + 7);
    c.socket->send(platform::Value(big));
    ASSERT_EQ(c.recorder->waitFor("binary:"), "binary:1048576");
    EXPECT_EQ(c.recorder->lastBinary(), big);
    EXPECT_TRUE(peer.logged("^message binary 1048576$"));
    c.socket->send(platform::Value());  // null: nothing
    c.socket->sendPing(Bytes{'a', 'b', 'c'});
    EXPECT_EQ(c.recorder->waitFor("pong:"), "pong:abc");

    c.socket->close();
    c.socket->close();  // a second close does nothing
    EXPECT_EQ(c.recorder->waitFor("close:"), "close:1000:<none>:1");
    EXPECT_TRUE(peer.logged("^close 1000 $"));
    EXPECT_EQ(c.socket->readyState(), BWReadyStateClosing);  // a clean close stays there
    // Sending after the connection closed puts nothing on the wire.
    c.socket->send(platform::Value(std::string("late")));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(peer.log().find("message text 4"), std::string::npos);
    EXPECT_EQ(c.recorder->events().size(), 5u);
}

TEST(BWWebSocketPeer, ServerMessagesFragmentsPingsAndCloseCodes) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    {
        // A fragmented message with a ping between its frames arrives whole;
        // the ping is answered and not reported.
        Client c(peer.url("/fragments"));
        c.socket->open();
        EXPECT_EQ(c.recorder->waitFor("text:"), "text:Hello, w\xC3\xB6rld!");
        EXPECT_TRUE(peer.logged("^pong between$"));
        c.socket->close();
        EXPECT_EQ(c.recorder->waitFor("close:"), "close:1000:<none>:1");
        EXPECT_EQ(c.recorder->events(), (std::vector<std::string>{"open", "text:Hello, w\xC3\xB6rld!", "close:1000:<none>:1"}));
    }
    struct Case {
        const char* query;
        std::string reported;
    };
    for (const auto& k : {Case{"code=4000&reason=bye", "close:4000:bye:1"}, Case{"code=1001&reason=", "close:1001:<none>:1"},
                          Case{"code=3999&reason=%E2%82%AC", "close:3999:\xE2\x82\xAC:1"}}) {
        Client c(peer.url(std::string("/close?") + k.query));
        c.socket->open();
        EXPECT_EQ(c.recorder->waitFor("close:"), k.reported) << k.query;
        EXPECT_TRUE(c.recorder->waitFor("fail:", 50ms).empty());
    }
    // Our answer always carries 1000.
    EXPECT_TRUE(peer.logged("^close 1000 $"));
}

TEST(BWWebSocketPeer, MessageCapRefusesTheMessageAndReportsAnError) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    Client c(peer.url("/big?size=1048577"));
    c.socket->setMaxMessageSize(1024 * 1024);
    c.socket->open();
    EXPECT_EQ(c.recorder->waitFor("fail:"), "fail:BWWebSocketErrorDomain:1009:Message too big");
    EXPECT_TRUE(peer.logged("^close 1009 Message too big$"));
    EXPECT_TRUE(c.recorder->waitFor("binary:", 100ms).empty());
    EXPECT_EQ(c.socket->readyState(), BWReadyStateClosed);

    Client fits(peer.url("/big?size=1048576"));
    fits.socket->setMaxMessageSize(1024 * 1024);
    fits.socket->open();
    EXPECT_EQ(fits.recorder->waitFor("binary:"), "binary:1048576");
}

TEST(BWWebSocketPeer, CraftedBadFramesCloseWithTheProtocolCodeAndAreReportedAsErrors) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    struct Case {
        std::string name;
        std::string hex;
        int code;
        std::string reason;
    };
    std::vector<Case> cases{
        {"reserved bit", frameHex(0xC1, "hi"), 1002, "Server used RSV bits"},
        {"opcode 3", frameHex(0x83, ""), 1002, "Unknown opcode 3"},
        {"ping over 125", frameHex(0x89, std::string(126, 'p')), 1002,
         "Control frames cannot have payloads larger than 126 bytes"},
        {"fragmented ping", frameHex(0x09, "x"), 1002, "Fragmented control frames not allowed"},
        {"close code 1005", frameHex(0x88, "\x03\xED"), 1002, "Cannot have close code of 1005"},
        {"masked", "8283010203046a6b", 1002, "Client must receive unmasked data"},
    };
    // Invalid UTF-8 at the start, in the middle and at the end of a text frame.
    for (const std::string text : {"\xFF" "abc", "ab\xC0 c", "abc\xED\xA0\x80"})
        cases.push_back({"utf-8 " + hex(text), frameHex(0x81, text), 1007, "Text frames must be valid UTF-8"});
    for (const auto& k : cases) {
        Client c(peer.url("/raw?hex=" + k.hex));
        c.socket->open();
        EXPECT_EQ(c.recorder->waitFor("fail:"), "fail:BWWebSocketErrorDomain:" + std::to_string(k.code) + ":" + k.reason)
            << k.name;
        EXPECT_TRUE(peer.logged("^close " + std::to_string(k.code) + " " + k.reason + "$")) << k.name;
        EXPECT_TRUE(c.recorder->waitFor("close:", 20ms).empty()) << k.name;
        EXPECT_TRUE(c.recorder->waitFor("binary:", 0ms).empty()) << k.name;
    }
}

// Answers every text message "re:<text>" from inside its callback.
class Replier : public test::Recorder {
public:
    void webSocket(BWWebSocket& socket, const platform::Value& message) override {
        test::Recorder::webSocket(socket, message);
        if (message.isString()) socket.send(platform::Value("re:" + message.asString()));
    }
    using test::Recorder::webSocket;
};

// A sound message and a violating frame in one write: the message is the
// delegate's, and its answer goes out before the close frame that the
// violation brings, wherever the delegate's callbacks run.
TEST(BWWebSocketPeer, AMessageBeforeAViolationIsAnsweredBeforeTheCloseFrame) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    struct Case {
        std::string name;
        std::function<void(BWWebSocket&)> place;
        bool pumpMain;
    };
    const std::vector<Case> cases{
        {"serial queue",
         [](BWWebSocket& s) { s.setDelegateDispatchQueue(platform::DispatchQueue::serial("bwsocket.test.replier")); },
         false},
        {"operation queue", [](BWWebSocket& s) { s.setDelegateOperationQueue(platform::OperationQueue::create()); },
         false},
        {"main queue", [](BWWebSocket& s) { s.setDelegateDispatchQueue(platform::DispatchQueue::main()); }, true},
    };
    int round = 0;
    for (const auto& k : cases) {
        const std::string word = "hello" + std::to_string(++round);
        auto replier = std::make_shared<Replier>();
        auto socket = BWWebSocket::create(peer.url("/raw?hex=" + frameHex(0x81, word) + frameHex(0xC1, "hi")));
        k.place(*socket);
        socket->setDelegate(replier);
        socket->open();
        const auto failed = [&] { return !replier->waitFor("fail:", 0ms).empty(); };
        if (k.pumpMain) platform::RunLoop::main()->runUntil(failed, 10);
        EXPECT_EQ(replier->waitFor("fail:"), "fail:BWWebSocketErrorDomain:1002:Server used RSV bits") << k.name;
        EXPECT_EQ(replier->waitFor("text:", 0ms), "text:" + word) << k.name;
        // The server reads nothing after our close frame, so a reply that
        // followed it never shows; earlier rounds' lines come first.
        ASSERT_TRUE(peer.logged("^message text re:" + word + "$")) << k.name << ": the reply was dropped\n" << peer.log();
        const auto closeAfterReply = [&] {
            const std::string log = peer.log();
            return log.find("close 1002 Server used RSV bits", log.find("message text re:" + word)) != std::string::npos;
        };
        for (int i = 0; i < 500 && !closeAfterReply(); ++i) std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(closeAfterReply()) << k.name << "\n" << peer.log();
        // Nothing of the violating frame reached the delegate.
        EXPECT_EQ(replier->events().size(), 3u) << k.name;  // open, text, fail
        if (k.pumpMain) platform::RunLoop::main()->runUntil([] { return false; }, 0.05);
    }
}

TEST(BWWebSocketPeer, TextCutAcrossReadsAfterANulIsAccepted) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    // Two frames of one message; the character after the NUL is cut between them.
    const std::string first("a\0\xE4", 3);
    Client c(peer.url("/raw?hex=" + frameHex(0x01, first) + frameHex(0x80, "\xB8\xAD")));
    c.socket->open();
    EXPECT_EQ(c.recorder->waitFor("text:"), std::string("text:a\0\xE4\xB8\xAD", 10));
}

TEST(BWWebSocketPeer, BadHandshakeResponsesFail) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    struct Case {
        const char* kind;
        std::string failure;
    };
    for (const auto& k : {Case{"accept", "fail:BWWebSocketErrorDomain:2133:Invalid Sec-WebSocket-Accept response"},
                          Case{"noupgrade", "fail:BWWebSocketErrorDomain:2133:Invalid Upgrade response"},
                          Case{"status200", "fail:BWWebSocketErrorDomain:2132:received bad response code from server 200"},
                          Case{"status403", "fail:BWWebSocketErrorDomain:2132:received bad response code from server 403"},
                          Case{"bighead", "fail:BWWebSocketErrorDomain:2133:HTTP response head too large"},
                          Case{"garbage", "fail:BWWebSocketErrorDomain:2133:Invalid HTTP response"}}) {
        Client c(peer.url(std::string("/bad?kind=") + k.kind));
        c.socket->open();
        EXPECT_EQ(c.recorder->waitFor("fail:"), k.failure) << k.kind;
        EXPECT_TRUE(c.recorder->waitFor("open", 0ms).empty()) << k.kind;
        EXPECT_EQ(c.socket->readyState(), BWReadyStateClosed);
        if (std::string(k.kind) == "status403") {
            const auto* status = c.recorder->error()->userInfo().find(BWHTTPResponseStatusCodeKey);
            ASSERT_TRUE(status);
            EXPECT_EQ(status->asInt(), 403);
        }
    }
}

TEST(BWWebSocketPeer, HandshakeSendsHeadersCookiesAuthorizationAndNegotiatesTheProtocol) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    platform::URLRequest request(
        *platform::URL::parse("ws://user:p%40ss@127.0.0.1:" + std::to_string(peer.port()) + "/headers"));
    request.setValue("yes", "X-Extra");
    request.setValue("http://override.example", "Origin");
    Client c(request, std::vector<std::string>{"chat", "mqtt"});
    c.socket->setRequestCookies(std::vector<BWHTTPCookie>{{"a", "1"}, {"b", "2"}});
    c.socket->open();
    const std::string headers = c.recorder->waitFor("text:");
    EXPECT_EQ(c.socket->protocol(), "mqtt");
    for (const std::string& expected :
         {"\"host\":\"127.0.0.1:" + std::to_string(peer.port()) + "\"", std::string("\"x-extra\":\"yes\""),
          std::string("\"origin\":\"http://override.example\""), std::string("\"cookie\":\"a=1; b=2\""),
          "\"authorization\":\"Basic " + platform::crypto::base64Encode(platform::crypto::ByteView("user:p@ss", 9)) + "\"",
          std::string("\"sec-websocket-protocol\":\"chat, mqtt\""), std::string("\"sec-websocket-version\":\"13\"")})
        EXPECT_NE(headers.find(expected), std::string::npos) << expected << " in " << headers;

    Client notOffered(peer.url("/protocol?pick=other"), std::vector<std::string>{"mqtt"});
    notOffered.socket->open();
    EXPECT_EQ(notOffered.recorder->waitFor("fail:"),
              "fail:BWWebSocketErrorDomain:2133:Server specified Sec-WebSocket-Protocol that wasn't requested");
}

TEST(BWWebSocketPeer, ConnectTimeoutStreamEndAndClosingTimeout) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    {
        platform::URLRequest request(peer.url("/bad?kind=never"), 0.3);
        Client c(request);
        c.socket->open();
        EXPECT_EQ(c.recorder->waitFor("fail:"), "fail:com.brimwick.BWSocket:504:Timeout Connecting to Server");
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(c.recorder->events().size(), 1u);  // only the first failure
    }
    {
        Client c(peer.url("/cut"));
        c.socket->open();
        EXPECT_EQ(c.recorder->waitFor("close:"), "close:1001:Stream end encountered:0");
        EXPECT_EQ(c.socket->readyState(), BWReadyStateClosed);
    }
    {
        // The server never answers our close frame.
        Client c(peer.url("/silent"));
        c.socket->setClosingTimeout(0.3);
        c.socket->open();
        ASSERT_EQ(c.recorder->waitFor("open"), "open");
        c.socket->close();
        EXPECT_EQ(c.recorder->waitFor("close:", 3s), "close:0:<none>:0");
    }
}

TEST(BWWebSocketPeer, MisuseAndCloseBeforeOpen) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    Client c(peer.url("/echo"));
    EXPECT_THROW(c.socket->send(platform::Value(std::string("x"))), platform::Exception);
    EXPECT_THROW(c.socket->sendPing(), platform::Exception);
    EXPECT_THROW(c.socket->closeWithCode(0, std::nullopt), platform::Exception);
    EXPECT_THROW(BWWebSocket::create(*platform::URL::parse("ftp://127.0.0.1/")), platform::Exception);
    c.socket->open();
    EXPECT_THROW(c.socket->open(), platform::Exception);
    ASSERT_EQ(c.recorder->waitFor("open"), "open");
    EXPECT_THROW(c.socket->send(platform::Value(std::int64_t{1})), platform::Exception);

    // Closing before open only moves the state; nothing is reported.
    Client early(peer.url("/echo"));
    early.socket->close();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(early.socket->readyState(), BWReadyStateClosing);
    EXPECT_THROW(early.socket->open(), platform::Exception);
    EXPECT_TRUE(early.recorder->events().empty());
}

TEST(BWWebSocketPeer, AnOpenedSocketLivesUntilItsConnectionEnds) {
    SKIP_WITHOUT_WS_PEER();
    WsPeer peer;
    auto recorder = std::make_shared<test::Recorder>();
    std::weak_ptr<BWWebSocket> weak;
    {
        auto socket = BWWebSocket::create(peer.url("/close?code=1000&reason=done"));
        socket->setDelegateDispatchQueue(platform::DispatchQueue::serial("t"));
        socket->setDelegate(recorder);
        socket->open();
        weak = socket;
    }
    EXPECT_EQ(recorder->waitFor("close:"), "close:1000:done:1");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!weak.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(weak.expired());
}

// A server that answers the handshake and then only listens: what the client
// writes after its close frame shows on the wire. A long reason is cut so the
// close frame stays a valid control frame (125 bytes of payload at most).
TEST(BWWebSocketPeer, NothingFollowsTheCloseFrameAndItFitsAControlFrame) {
    int port = 0;
    const int listener = test::listenLoopback(port);
    std::string wire;
    std::thread server([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        std::string in;
        char buf[4096];
        ssize_t n;
        while (in.find("\r\n\r\n") == std::string::npos && (n = ::read(fd, buf, sizeof buf)) > 0) in.append(buf, static_cast<std::size_t>(n));
        const auto at = in.find("Sec-WebSocket-Key: ") + 19;
        const std::string answer = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                   "Sec-WebSocket-Accept: " + BWAcceptKey(in.substr(at, 24)) + "\r\n\r\n";
        (void)!::write(fd, answer.data(), answer.size());
        while ((n = ::read(fd, buf, sizeof buf)) > 0) wire.append(buf, static_cast<std::size_t>(n));
        ::close(fd);
    });
    // The server thread ends with the connection, however the test ends.
    struct Join {
        std::thread& t;
        int listener;
        ~Join() {
            ::shutdown(listener, SHUT_RDWR);
            if (t.joinable()) t.join();
            ::close(listener);
        }
    } join{server, listener};
    Client c(*platform::URL::parse("ws://127.0.0.1:" + std::to_string(port) + "/"));
    c.socket->setClosingTimeout(0.3);
    c.socket->open();
    ASSERT_EQ(c.recorder->waitFor("open"), "open") << ::testing::PrintToString(c.recorder->events());
    // 122 ASCII bytes, then a 3-byte character that would cross the limit.
    c.socket->closeWithCode(4000, std::string(122, 'r') + "\xE2\x82\xAC and more");
    c.socket->send(platform::Value(std::string("late")));
    EXPECT_EQ(c.recorder->waitFor("close:"), "close:0:<none>:0");  // the server never answered
    server.join();
    // One masked close frame: 2 header bytes, 4 key bytes, the code and 122
    // bytes of reason (the cut character left out whole).
    ASSERT_EQ(wire.size(), 2u + 4 + 2 + 122);
    EXPECT_EQ(static_cast<std::uint8_t>(wire[0]), 0x88);
    EXPECT_EQ(static_cast<std::uint8_t>(wire[1]), 0x80 | 124);
    std::string payload;
    for (std::size_t i = 6; i < wire.size(); ++i) payload += static_cast<char>(wire[i] ^ wire[2 + (i - 6) % 4]);
    EXPECT_EQ(payload, "\x0F\xA0" + std::string(122, 'r'));
}

}  // namespace
}  // namespace pellix
