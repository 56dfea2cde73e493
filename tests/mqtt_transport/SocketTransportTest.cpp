// The MQTT socket transport against mosquitto (plain and TLS, with and
// without a required client certificate) and against loopback TCP servers
// of the test for what a broker does not do on demand.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "MQTTClient/MQTTCFSocketTransport.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"
#include "TransportTestUtil.h"
#include "platform/DispatchQueue.h"

using namespace pellix;
using namespace std::chrono_literals;
using pellix::platform::Bytes;
using pellix::platform::DispatchQueue;
using pellix::platform::ErrorPtr;
using pellix::test::Broker;
using pellix::test::TCPServer;
using pellix::test::TestCerts;

namespace {

const std::nullopt_t none = std::nullopt;

Bytes connectPacket(const std::string& clientId) {
    return MQTTMessage::connectMessageWithClientId(clientId, none, none, 60, true, false, none, none, 0, false, 4, none,
                                                   none, none, none, none, none, none, none, none, none)
        ->wireFormat();
}

const Bytes kConnackAccepted{0x20, 0x02, 0x00, 0x00};

// Records the transport's delegate messages; sends CONNECT on open when asked.
class Recorder : public MQTTTransportDelegate {
public:
    pellix::test::Waiter waiter;
    std::vector<std::string> events;
    Bytes received;
    std::vector<std::size_t> chunkSizes;
    ErrorPtr error;
    std::optional<Bytes> sendOnOpen;
    std::vector<MQTTTransportState> statesSeen;
    std::atomic<bool> onQueue{true};
    std::shared_ptr<DispatchQueue> queue;
    std::function<void(MQTTTransport&)> onOpen;

    void note(MQTTTransport& t, const std::string& what) {
        if (queue && !queue->isCurrent()) onQueue = false;
        events.push_back(what);
        statesSeen.push_back(t.state());
        waiter.notify();
    }
    void mqttTransport(MQTTTransport& t, const Bytes& message) override {
        std::lock_guard lock(waiter.mutex());
        received.insert(received.end(), message.begin(), message.end());
        chunkSizes.push_back(message.size());
        note(t, "data");
    }
    void mqttTransportDidOpen(MQTTTransport& t) override {
        {
            std::lock_guard lock(waiter.mutex());
            note(t, "open");
        }
        // May be refused when the connection already failed behind the open event.
        if (sendOnOpen) t.send(*sendOnOpen);
        if (onOpen) onOpen(t);
    }
    void mqttTransport(MQTTTransport& t, ErrorPtr e) override {
        std::lock_guard lock(waiter.mutex());
        error = e;
        note(t, "fail");
    }
    void mqttTransportDidClose(MQTTTransport& t) override {
        std::lock_guard lock(waiter.mutex());
        note(t, "close");
    }
    bool has(const std::string& what) {
        return std::find(events.begin(), events.end(), what) != events.end();
    }
};

class SocketTransport : public ::testing::Test {
protected:
    void SetUp() override {
        MQTTLog::setLogLevel(std::getenv("MQTR_VERBOSE") ? 0x1F : (MQTTLogLevelError | MQTTLogLevelWarning));
        recorder->queue = queue;
    }
    void TearDown() override {
        if (transport) transport->close();
        ::unsetenv("SSL_CERT_FILE");
    }
    std::shared_ptr<MQTTCFSocketTransport> make(int port, const std::string& host = "127.0.0.1") {
        transport = MQTTCFSocketTransport::create();
        transport->setHost(host);
        transport->setPort(static_cast<std::uint32_t>(port));
        transport->setQueue(queue);
        transport->setDelegate(recorder);
        return transport;
    }
    // Opens, sends CONNECT when open and waits for CONNACK or a failure.
    bool connectAndWaitForConnack() {
        recorder->sendOnOpen = connectPacket("transport-test");
        transport->open();
        recorder->waiter.waitFor([&] {
            return recorder->received.size() >= 4 || recorder->has("fail") || recorder->has("close");
        });
        std::lock_guard lock(recorder->waiter.mutex());
        return recorder->received == kConnackAccepted;
    }

    std::shared_ptr<DispatchQueue> queue = DispatchQueue::serial("test.transport");
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<MQTTCFSocketTransport> transport;
};

TEST_F(SocketTransport, DefaultsAndTheAbstractBase) {
    auto t = MQTTCFSocketTransport::create();
    EXPECT_EQ(t->state(), MQTTTransportStateCreated);
    EXPECT_EQ(t->host(), "localhost");
    EXPECT_EQ(t->port(), 1883u);
    EXPECT_FALSE(t->tls());
    EXPECT_FALSE(t->voip());
    EXPECT_FALSE(t->certificates());
    EXPECT_EQ(t->queue(), DispatchQueue::main());
    EXPECT_EQ(t->streamSSLLevel(), "kCFStreamSocketSecurityLevelNegotiatedSSL");
    EXPECT_TRUE(t->implementsSetCertificates());
    EXPECT_FALSE(t->send(Bytes{1}));  // nothing open

    MQTTTransport base;
    EXPECT_EQ(base.state(), MQTTTransportStateCreated);
    EXPECT_FALSE(base.host());
    EXPECT_EQ(base.port(), 0u);
    EXPECT_FALSE(base.queue());
    EXPECT_FALSE(base.send(Bytes{1}));
    EXPECT_FALSE(base.implementsSetCertificates());
}

TEST_F(SocketTransport, PlainConnectExchangesConnackAndCloseStaysClosing) {
    Broker broker;
    make(broker.port());
    EXPECT_TRUE(connectAndWaitForConnack());
    {
        std::lock_guard lock(recorder->waiter.mutex());
        EXPECT_EQ(recorder->events.front(), "open");
        EXPECT_EQ(recorder->statesSeen.front(), MQTTTransportStateOpen);
        EXPECT_TRUE(recorder->onQueue);
    }
    EXPECT_EQ(transport->state(), MQTTTransportStateOpen);
    transport->close();  // from another thread: returns once the queue ran it
    EXPECT_EQ(transport->state(), MQTTTransportStateClosing);
    EXPECT_FALSE(transport->send(Bytes{0xc0, 0x00}));  // the closed stream takes nothing
    queue->sync([] {});
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(recorder->waiter.mutex());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"open", "data"}));
    EXPECT_EQ(transport->state(), MQTTTransportStateClosing);
}

TEST_F(SocketTransport, PeerEndingTheConnectionIsReportedAsClosed) {
    TCPServer server([](int fd) {
        std::uint8_t buf[64];
        ::recv(fd, buf, sizeof buf, 0);
        ::send(fd, kConnackAccepted.data(), kConnackAccepted.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);  // then the end of the stream
        ::recv(fd, buf, sizeof buf, 0);
    });
    make(server.port());
    EXPECT_TRUE(connectAndWaitForConnack());
    ASSERT_TRUE(recorder->waiter.waitFor([&] { return recorder->has("close") || recorder->has("fail"); }));
    std::lock_guard lock(recorder->waiter.mutex());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"open", "data", "close"}));
    EXPECT_EQ(transport->state(), MQTTTransportStateClosed);
}

TEST_F(SocketTransport, BrokerResettingTheConnectionIsAFailure) {
    Broker broker;
    make(broker.port());
    recorder->sendOnOpen = Bytes{0xf0, 0x00};  // reserved packet type: mosquitto drops the client
    transport->open();
    ASSERT_TRUE(recorder->waiter.waitFor([&] { return recorder->has("close") || recorder->has("fail"); }));
    queue->sync([] {});
    std::lock_guard lock(recorder->waiter.mutex());
    // Reported once, whichever way the socket ends.
    EXPECT_EQ(recorder->events.size(), 2u);
    EXPECT_EQ(transport->state(), recorder->has("fail") ? MQTTTransportStateClosing : MQTTTransportStateClosed);
}

TEST_F(SocketTransport, ConnectRefusedFailsOnceFromTheWriteSide) {
    make(pellix::test::freePort());
    transport->open();
    ASSERT_TRUE(recorder->waiter.waitFor([&] { return recorder->has("fail"); }));
    queue->sync([] {});
    std::lock_guard lock(recorder->waiter.mutex());
    EXPECT_EQ(recorder->events, std::vector<std::string>{"fail"});
    EXPECT_EQ(recorder->error->domain(), "NSPOSIXErrorDomain");
    EXPECT_EQ(recorder->error->code(), ECONNREFUSED);
    EXPECT_EQ(transport->state(), MQTTTransportStateClosing);
}

TEST_F(SocketTransport, CloseFromADelegateMessageRunsAtOnce) {
    Broker broker;
    make(broker.port());
    std::atomic<bool> closedInline{false};
    recorder->onOpen = [&](MQTTTransport& t) {
        t.close();  // on the transport's own queue: must not wait for itself
        closedInline = t.state() == MQTTTransportStateClosing;
    };
    transport->open();
    ASSERT_TRUE(recorder->waiter.waitFor([&] { return recorder->has("open"); }));
    queue->sync([] {});
    EXPECT_TRUE(closedInline);
}

TEST_F(SocketTransport, BytesSentBeforeTheOpenEventAreDroppedNotSentLater) {
    pellix::test::Waiter serverSide;
    std::string got;
    TCPServer server([&](int fd) {
        char buf[64];
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            std::lock_guard lock(serverSide.mutex());
            got.append(buf, buf + n);
            serverSide.notify();
        }
    });
    make(server.port());
    recorder->sendOnOpen = Bytes{'o', 'k'};
    queue->sync([&] {
        transport->open();
        // No stream event can run while we hold the queue: the writer is not ready.
        EXPECT_FALSE(transport->send(Bytes{'e', 'a', 'r', 'l', 'y'}));
    });
    ASSERT_TRUE(serverSide.waitFor([&] { return got.size() >= 2; }));
    std::this_thread::sleep_for(50ms);
    std::lock_guard lock(serverSide.mutex());
    EXPECT_EQ(got, "ok");
}

TEST_F(SocketTransport, ReadsComeInChunksOfAtMost768Bytes) {
    Bytes payload(5000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i % 253);
    TCPServer server([&](int fd) {
        ::send(fd, payload.data(), payload.size(), MSG_NOSIGNAL);
        std::uint8_t b;
        ::recv(fd, &b, 1, 0);  // until the client goes
    });
    make(server.port());
    transport->open();
    ASSERT_TRUE(recorder->waiter.waitFor([&] { return recorder->received.size() >= payload.size(); }));
    std::lock_guard lock(recorder->waiter.mutex());
    EXPECT_TRUE(recorder->received == payload);
    for (auto n : recorder->chunkSizes) EXPECT_LE(n, 768u);
    EXPECT_GE(recorder->chunkSizes.size(), 7u);
}

TEST_F(SocketTransport, LargeSendsGoOutWholeAndInOrder) {
    // 3 MiB is more than the stream takes at once: the encoder keeps the rest
    // and writes it on the stream's has-space events, before what comes later.
    Bytes big(3 * 1024 * 1024);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 31 % 251);
    const Bytes tail{'e', 'n', 'd'};
    pellix::test::Waiter serverSide;
    Bytes got;
    TCPServer server([&](int fd) {
        std::this_thread::sleep_for(200ms);  // let the buffers fill first
        std::uint8_t buf[65536];
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            std::lock_guard lock(serverSide.mutex());
            got.insert(got.end(), buf, buf + n);
            serverSide.notify();
        }
    });
    make(server.port());
    std::atomic<std::size_t> pendingAfterFirst{0};
    recorder->onOpen = [&](MQTTTransport& t) {
        EXPECT_TRUE(t.send(big));
        pendingAfterFirst = transport->encoder()->bufferedLength();
        EXPECT_TRUE(t.send(tail));
    };
    transport->open();
    ASSERT_TRUE(serverSide.waitFor([&] { return got.size() >= big.size() + tail.size(); }, 20s));
    EXPECT_GT(pendingAfterFirst.load(), 0u);
    std::lock_guard lock(serverSide.mutex());
    Bytes expected = big;
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_TRUE(got == expected);
}

// ---- TLS -------------------------------------------------------------------

class SocketTransportTLS : public SocketTransport {
protected:
    static void SetUpTestSuite() { certs_ = new TestCerts(); }
    static void TearDownTestSuite() {
        delete certs_;
        certs_ = nullptr;
    }
    void SetUp() override {
        SocketTransport::SetUp();
        ::setenv("SSL_CERT_FILE", certs_->ca.cert.c_str(), 1);
    }
    static TestCerts* certs_;
};

TestCerts* SocketTransportTLS::certs_ = nullptr;

TEST_F(SocketTransportTLS, ConnectsOverTLSByName) {
    Broker broker(Broker::TLS{certs_, certs_->leaf, false});
    make(broker.port(), "localhost")->setTls(true);
    EXPECT_TRUE(connectAndWaitForConnack());
}

TEST_F(SocketTransportTLS, HostMismatchIsRefused) {
    Broker broker(Broker::TLS{certs_, certs_->wrongHost, false});
    make(broker.port(), "localhost")->setTls(true);
    EXPECT_FALSE(connectAndWaitForConnack());
    std::lock_guard lock(recorder->waiter.mutex());
    EXPECT_EQ(recorder->events, std::vector<std::string>{"fail"});
    EXPECT_EQ(recorder->error->domain(), "NSOSStatusErrorDomain");
    EXPECT_EQ(recorder->error->code(), -9843);
    EXPECT_EQ(transport->state(), MQTTTransportStateClosing);
}

TEST_F(SocketTransportTLS, ClientCertificateFromPKCS12IsAcceptedWhereOneIsRequired) {
    Broker broker(Broker::TLS{certs_, certs_->leaf, true});
    auto certificates = MQTTCFSocketTransport::clientCertsFromP12(certs_->clientP12, certs_->p12Password);
    ASSERT_TRUE(certificates);
    make(broker.port(), "localhost")->setTls(true);
    transport->setCertificates(certificates);
    EXPECT_TRUE(connectAndWaitForConnack());
}

TEST_F(SocketTransportTLS, WithoutTheRequiredClientCertificateNoSessionStarts) {
    Broker broker(Broker::TLS{certs_, certs_->leaf, true});
    make(broker.port(), "localhost")->setTls(true);
    EXPECT_FALSE(connectAndWaitForConnack());
    std::lock_guard lock(recorder->waiter.mutex());
    EXPECT_TRUE(recorder->has("fail") || recorder->has("close"));
}

TEST_F(SocketTransportTLS, RefusedTLSSettingsAreReportedAsMQTT9810) {
    struct Case {
        const char* name;
        std::optional<std::string> level;
        std::optional<MQTTCertificates> certificates;
    };
    for (const Case& c : {Case{"unknown level", std::string("kCFStreamSocketSecurityLevelBogus"), none},
                          Case{"no level", none, none},
                          Case{"certificate where the identity belongs", std::string(platform::TLSSettings::kLevelTLSv1),
                               MQTTCertificates{Bytes{0x30, 0x00}}}}) {
        SCOPED_TRACE(c.name);
        recorder = std::make_shared<Recorder>();
        make(1883);  // never reached
        transport->setTls(true);
        transport->setStreamSSLLevel(c.level);
        transport->setCertificates(c.certificates);
        transport->open();
        ASSERT_TRUE(recorder->waiter.waitFor([&] { return recorder->has("fail"); }));
        std::lock_guard lock(recorder->waiter.mutex());
        EXPECT_EQ(recorder->events, std::vector<std::string>{"fail"});
        EXPECT_EQ(recorder->error->domain(), "MQTT");
        EXPECT_EQ(recorder->error->code(), -9810);
        EXPECT_EQ(recorder->error->localizedDescription(), "Fail to init ssl output stream!");
        EXPECT_EQ(transport->state(), MQTTTransportStateClosing);
    }
}

TEST_F(SocketTransportTLS, ClientCertsFromP12) {
    pellix::test::TempDir dir;
    pellix::test::writeFile(dir.file("junk.p12"), "not a pkcs12 file");
    struct Case {
        const char* name;
        std::optional<std::string> path;
        std::optional<std::string> passphrase;
    };
    for (const Case& c : {Case{"no path", none, std::string("x")}, Case{"missing file", dir.file("none.p12"), std::string("x")},
                          Case{"no passphrase", certs_->clientP12, none},
                          Case{"wrong passphrase", certs_->clientP12, std::string("wrong")},
                          Case{"not PKCS#12", dir.file("junk.p12"), std::string("x")}}) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(MQTTCFSocketTransport::clientCertsFromP12(c.path, c.passphrase));
    }
    auto ok = MQTTCFSocketTransport::clientCertsFromP12(certs_->clientP12, certs_->p12Password);
    ASSERT_TRUE(ok);
    ASSERT_EQ(ok->size(), 2u);
    auto identity = std::get<std::shared_ptr<const platform::TLSIdentity>>((*ok)[0]);
    ASSERT_TRUE(identity);
    EXPECT_NE(identity->subjectSummary().find("test-client"), std::string::npos);
    const Bytes& der = std::get<Bytes>((*ok)[1]);
    EXPECT_EQ(std::string(der.begin(), der.end()), TestCerts::der(certs_->client.cert));
}

}  // namespace
