// The platform's socket stream pair against real loopback peers: a TCP
// server in the test, `openssl s_server` for TLS.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "TransportTestUtil.h"
#include "platform/DispatchQueue.h"
#include "platform/RunLoop.h"
#include "platform/ServerTrust.h"
#include "platform/SocketInputStream.h"
#include "platform/SocketOutputStream.h"

using namespace pellix;
using namespace pellix::platform;
using namespace std::chrono_literals;
using pellix::test::TCPServer;
using pellix::test::Waiter;

namespace {

// Records every event of both streams; reads what arrives into `received`
// and keeps writing `toSend` as room appears.
class Recorder : public SocketStreamDelegate {
public:
    Waiter waiter;
    std::vector<std::pair<char, StreamEvent>> events;  // 'i' / 'o'
    Bytes received;
    Bytes toSend;
    std::size_t sent = 0;
    ErrorPtr error;
    std::atomic<bool> readInHandler{true};

    void stream(SocketInputStream& stream, StreamEvent event) override {
        std::lock_guard lock(waiter.mutex());
        events.emplace_back('i', event);
        if (event == StreamEvent::HasBytesAvailable && readInHandler) {
            std::uint8_t buf[1000];
            auto n = stream.read(buf, sizeof buf);
            if (n > 0) received.insert(received.end(), buf, buf + n);
        }
        if (event == StreamEvent::ErrorOccurred) error = stream.streamError();
        waiter.notify();
    }
    void stream(SocketOutputStream& stream, StreamEvent event) override {
        std::lock_guard lock(waiter.mutex());
        events.emplace_back('o', event);
        if (event == StreamEvent::HasSpaceAvailable) pump(stream);
        if (event == StreamEvent::ErrorOccurred) error = stream.streamError();
        waiter.notify();
    }
    void pump(SocketOutputStream& stream) {
        while (sent < toSend.size()) {
            auto n = stream.write(toSend.data() + sent, toSend.size() - sent);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
    }
    int count(char side, StreamEvent event) {
        int n = 0;
        for (auto& [s, e] : events) n += (s == side && e == event);
        return n;
    }
};

struct Pair {
    SocketStreamPair streams;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial("test.streams");

    Pair(const std::string& host, std::uint32_t port, const std::optional<TLSSettings>& tls = std::nullopt)
        : streams(SocketStreamPair::create(host, port)) {
        if (tls) {
            EXPECT_TRUE(streams.input->setTLSSettings(*tls));
        }
        streams.input->setDelegate(recorder);
        streams.output->setDelegate(recorder);
        streams.input->scheduleInQueue(queue);
        streams.output->scheduleInQueue(queue);
    }
    void open() {
        streams.input->open();
        streams.output->open();
    }
    ~Pair() {
        queue->sync([&] {
            streams.input->close();
            streams.output->close();
        });
    }
};

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xff);
    return b;
}

TEST(SocketStreamPair, EchoesMegabytesInOrderThroughBothBuffers) {
    // The server reads everything before echoing, so the client's output
    // buffer fills and must resume on has-space events.
    const Bytes payload = pattern(3 * 1024 * 1024 + 17);
    TCPServer server([&](int fd) {
        Bytes all;
        std::uint8_t buf[65536];
        while (all.size() < payload.size()) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            all.insert(all.end(), buf, buf + n);
        }
        ::send(fd, all.data(), all.size(), MSG_NOSIGNAL);
    });
    Pair pair("127.0.0.1", server.port());
    pair.recorder->toSend = payload;
    pair.open();
    auto& r = *pair.recorder;
    ASSERT_TRUE(r.waiter.waitFor([&] { return r.received.size() >= payload.size() || r.error; }, 20s));
    // The server closes after echoing: the end comes once all was read.
    ASSERT_TRUE(r.waiter.waitFor([&] { return r.count('i', StreamEvent::EndEncountered) == 1; }));
    std::lock_guard lock(r.waiter.mutex());
    EXPECT_FALSE(r.error);
    EXPECT_TRUE(r.received == payload);
    EXPECT_EQ(r.count('i', StreamEvent::OpenCompleted), 1);
    EXPECT_EQ(r.count('o', StreamEvent::OpenCompleted), 1);
    EXPECT_GT(r.count('o', StreamEvent::HasSpaceAvailable), 1);
    EXPECT_EQ(pair.streams.input->streamStatus(), InputStream::Status::AtEnd);
    EXPECT_EQ(r.count('i', StreamEvent::ErrorOccurred), 0);
}

TEST(SocketStreamPair, HandlerThatDoesNotReadIsToldAgainOnlyWhenNewBytesCome) {
    std::atomic<int> step{0};
    TCPServer server([&](int fd) {
        ::send(fd, "abc", 3, MSG_NOSIGNAL);
        while (step < 1) std::this_thread::sleep_for(5ms);
        ::send(fd, "def", 3, MSG_NOSIGNAL);
        while (step < 2) std::this_thread::sleep_for(5ms);
    });
    Pair pair("127.0.0.1", server.port());
    auto& r = *pair.recorder;
    r.readInHandler = false;
    pair.open();
    ASSERT_TRUE(r.waiter.waitFor([&] { return r.count('i', StreamEvent::HasBytesAvailable) == 1; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(r.waiter.waitFor([&] { return r.count('i', StreamEvent::HasBytesAvailable) == 1; }, 0ms));
    EXPECT_TRUE(pair.streams.input->hasBytesAvailable());
    step = 1;
    ASSERT_TRUE(r.waiter.waitFor([&] { return r.count('i', StreamEvent::HasBytesAvailable) == 2; }));
    std::uint8_t buf[16];
    EXPECT_EQ(pair.streams.input->read(buf, sizeof buf), 6);
    EXPECT_EQ(std::string(buf, buf + 6), "abcdef");
    EXPECT_EQ(pair.streams.input->read(buf, sizeof buf), 0);  // nothing waits, not the end
    EXPECT_EQ(pair.streams.input->streamStatus(), InputStream::Status::Open);
    step = 2;
}

TEST(SocketStreamPair, ConnectFailuresReachBothStreamsOnce) {
    struct Case {
        std::string host;
        std::uint32_t port;
        std::string domain;
        std::int64_t code;
    };
    int closedPort = pellix::test::freePort();
    for (const Case& c : {Case{"127.0.0.1", static_cast<std::uint32_t>(closedPort), "NSPOSIXErrorDomain", ECONNREFUSED},
                          Case{"127.0.0.1", 70000, "kCFErrorDomainCFNetwork", 2}}) {
        SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
        Pair pair(c.host, c.port);
        pair.open();
        auto& r = *pair.recorder;
        ASSERT_TRUE(r.waiter.waitFor([&] {
            return r.count('i', StreamEvent::ErrorOccurred) == 1 && r.count('o', StreamEvent::ErrorOccurred) == 1;
        }));
        std::this_thread::sleep_for(50ms);
        std::lock_guard lock(r.waiter.mutex());
        EXPECT_EQ(r.events.size(), 2u);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->domain(), c.domain);
        EXPECT_EQ(r.error->code(), c.code);
        EXPECT_EQ(pair.streams.output->streamStatus(), OutputStream::Status::Error);
        std::uint8_t b = 0;
        EXPECT_EQ(pair.streams.output->write(&b, 1), -1);
        EXPECT_EQ(pair.streams.input->read(&b, 1), -1);
    }
}

TEST(SocketStreamPair, CloseDeliversNothingMoreAndStillSendsWhatWasWritten) {
    Waiter serverSide;
    std::string got;
    bool done = false;
    TCPServer server([&](int fd) {
        char buf[256];
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            std::lock_guard lock(serverSide.mutex());
            got.append(buf, buf + n);
        }
        std::lock_guard lock(serverSide.mutex());
        done = true;
        serverSide.notify();
    });
    Pair pair("127.0.0.1", server.port());
    pair.open();
    auto& r = *pair.recorder;
    ASSERT_TRUE(r.waiter.waitFor([&] { return r.count('o', StreamEvent::HasSpaceAvailable) >= 1; }));
    pair.queue->sync([&] {
        const std::string bye = "last words";
        EXPECT_EQ(pair.streams.output->write(reinterpret_cast<const std::uint8_t*>(bye.data()), bye.size()), 10);
        pair.streams.output->close();
        pair.streams.input->close();
    });
    ASSERT_TRUE(serverSide.waitFor([&] { return done; }));
    EXPECT_EQ(got, "last words");
    std::size_t before;
    {
        std::lock_guard lock(r.waiter.mutex());
        before = r.events.size();
    }
    pair.queue->sync([] {});
    std::lock_guard lock(r.waiter.mutex());
    EXPECT_EQ(r.events.size(), before);
    EXPECT_EQ(pair.streams.input->streamStatus(), InputStream::Status::Closed);
}

TEST(SocketStreamPair, EventsCanBeScheduledOnTheMainRunLoop) {
    TCPServer server([](int fd) { ::send(fd, "hi", 2, MSG_NOSIGNAL); });
    auto streams = SocketStreamPair::create("localhost", static_cast<std::uint32_t>(server.port()));
    auto recorder = std::make_shared<Recorder>();
    streams.input->setDelegate(recorder);
    streams.input->scheduleInRunLoop(RunLoop::main());
    streams.input->open();
    bool onMain = false;
    ASSERT_TRUE(RunLoop::main()->runUntil(
        [&] {
            std::lock_guard lock(recorder->waiter.mutex());
            onMain = RunLoop::isMainThread();
            return recorder->count('i', StreamEvent::EndEncountered) == 1;
        },
        10));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(std::string(recorder->received.begin(), recorder->received.end()), "hi");
    streams.input->close();
}

// ---- TLS -------------------------------------------------------------------

class SocketStreamPairTLS : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certs_ = new pellix::test::TestCerts(); }
    static void TearDownTestSuite() {
        delete certs_;
        certs_ = nullptr;
    }
    void SetUp() override { ::setenv("SSL_CERT_FILE", certs_->ca.cert.c_str(), 1); }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    // Opens a pair, sends a line, and returns the error or the echoed text.
    static std::pair<ErrorPtr, std::string> exchange(const pellix::test::TestCerts::Pair& serverPair,
                                                     const std::string& host, TLSSettings tls) {
        pellix::test::TLSEchoServer server(serverPair, &serverPair == &certs_->chained);
        Pair pair(host, static_cast<std::uint32_t>(server.port()), tls);
        pair.recorder->toSend = {'p', 'e', 'l', 'l', 'i', 'x', '\n'};
        pair.open();
        auto& r = *pair.recorder;
        r.waiter.waitFor([&] { return r.received.size() >= 6 || r.error; }, 10s);
        std::lock_guard lock(r.waiter.mutex());
        return {r.error, std::string(r.received.begin(), r.received.end())};
    }

    static pellix::test::TestCerts* certs_;
};

pellix::test::TestCerts* SocketStreamPairTLS::certs_ = nullptr;

TEST_F(SocketStreamPairTLS, TrustedServerByNameAndByAddress) {
    for (const std::string host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        auto [error, text] = exchange(certs_->leaf, host, TLSSettings{});
        EXPECT_FALSE(error) << (error ? error->description() : "");
        EXPECT_EQ(text.substr(0, 6), "xillep");
    }
    // A chain the server completes with its intermediate.
    auto [error, text] = exchange(certs_->chained, "localhost", TLSSettings{});
    EXPECT_FALSE(error) << (error ? error->description() : "");
}

TEST_F(SocketStreamPairTLS, UntrustedServersAreRefusedWithTheirReason) {
    struct Case {
        const char* name;
        pellix::test::TestCerts::Pair pair;
        std::int64_t code;
    };
    for (const Case& c : {Case{"host mismatch", certs_->wrongHost, -9843}, Case{"expired", certs_->expired, -9814},
                          Case{"self-signed", certs_->selfSigned, -9813}}) {
        SCOPED_TRACE(c.name);
        auto [error, text] = exchange(c.pair, "localhost", TLSSettings{});
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), "NSOSStatusErrorDomain");
        EXPECT_EQ(error->code(), c.code);
        EXPECT_TRUE(text.empty());
    }
    // Without SSL_CERT_FILE our test CA is unknown.
    ::unsetenv("SSL_CERT_FILE");
    auto [error, text] = exchange(certs_->leaf, "localhost", TLSSettings{});
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -9812);
}

TEST_F(SocketStreamPairTLS, PeerNameAndTrustEvaluatorReplaceTheDefaultChecks) {
    TLSSettings named;
    named.peerName = "wrong.example";
    EXPECT_FALSE(exchange(certs_->wrongHost, "127.0.0.1", named).first);

    for (bool verdict : {true, false}) {
        SCOPED_TRACE(verdict);
        std::vector<Bytes> seen;
        std::string seenHost;
        TLSSettings hook;
        hook.trustEvaluator = [&](const ServerTrust& trust) {
            seen = trust.certificateChain();
            seenHost = trust.host();
            return verdict;
        };
        auto [error, text] = exchange(certs_->selfSigned, "localhost", hook);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(std::string(seen[0].begin(), seen[0].end()), pellix::test::TestCerts::der(certs_->selfSigned.cert));
        EXPECT_EQ(seenHost, "localhost");
        if (verdict) {
            EXPECT_FALSE(error);
        } else {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->code(), -9807);
        }
    }
}

TEST(SocketStreamPairSettings, RefusedSettingsChangeNothing) {
    auto streams = SocketStreamPair::create("127.0.0.1", 1);
    TLSSettings bad;
    bad.level = "kCFStreamSocketSecurityLevelBogus";
    EXPECT_FALSE(streams.input->setTLSSettings(bad));
    TLSSettings notIdentity;
    notIdentity.certificates = std::vector<TLSCertificateItem>{Bytes{1, 2, 3}};
    EXPECT_FALSE(streams.output->setTLSSettings(notIdentity));
    TLSSettings nullIdentity;
    nullIdentity.certificates = std::vector<TLSCertificateItem>{std::shared_ptr<const TLSIdentity>()};
    EXPECT_FALSE(streams.output->setTLSSettings(nullIdentity));
    EXPECT_TRUE(streams.output->setTLSSettings(TLSSettings{}));
}

}  // namespace
