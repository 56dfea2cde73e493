// MQTTWebsocketTransport alone against the Node `ws` server, and MQTT
// sessions over it against mosquitto's WebSocket listener (ws and wss).
#include <gtest/gtest.h>

#include <map>

#include "../bwsocket/WsPeer.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTSession.h"
#include "MQTTClient/MQTTWebsocketTransport.h"
#include "platform/RunLoop.h"
#include "support/MosquittoBroker.h"

namespace pellix {
namespace {

using namespace std::chrono_literals;
using platform::Bytes;

bool pump(const std::function<bool()>& done, double seconds = 10) { return platform::RunLoop::main()->runUntil(done, seconds); }

// Records what a transport tells its delegate (on the main queue).
class TransportRecorder : public MQTTTransportDelegate {
public:
    explicit TransportRecorder(bool optionals = true) : optionals_(optionals) {}
    void mqttTransport(MQTTTransport&, const Bytes& message) override { events.push_back("data:" + std::to_string(message.size())); }
    void mqttTransportDidOpen(MQTTTransport&) override { events.push_back("open"); }
    void mqttTransport(MQTTTransport& t, platform::ErrorPtr error) override {
        auto& ws = static_cast<MQTTWebsocketTransport&>(t);
        // By now the socket is closed and no longer talks to the transport.
        detachedBeforeFailure = ws.websocket() == nullptr ||
                                (ws.websocket()->delegate() == nullptr && ws.websocket()->readyState() >= BWReadyStateClosing);
        events.push_back("fail:" + error->domain() + ":" + std::to_string(error->code()));
    }
    void mqttTransportDidClose(MQTTTransport&) override { events.push_back("close"); }
    bool implements(Method) const override { return optionals_; }

    bool has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
    std::vector<std::string> events;
    bool detachedBeforeFailure = false;

private:
    bool optionals_;
};

TEST(MQTTWebsocketTransport, EndpointURLs) {
    struct Case {
        std::string host;
        std::uint32_t port;
        std::string path;
        bool tls;
        std::optional<std::string> url;
    };
    for (const auto& k : {Case{"localhost", 80, "/mqtt", false, "ws://localhost:80/mqtt"},
                          Case{"localhost", 0, "/mqtt", false, "ws://localhost/mqtt"},
                          Case{"localhost", 8883, "/mqtt", true, "wss://localhost:8883/mqtt"},
                          Case{"broker.test", 9001, "", false, "ws://broker.test:9001"},
                          Case{"bad host", 80, "/mqtt", false, std::nullopt},
                          Case{"", 80, "/mqtt", false, std::nullopt},
                          Case{"localhost", 80, "/a b", false, std::nullopt}}) {
        auto t = MQTTWebsocketTransport::create();
        t->setHost(k.host);
        t->setPort(k.port);
        t->setPath(k.path);
        t->setTls(k.tls);
        auto url = t->endpointURL();
        EXPECT_EQ(url ? std::optional(url->absoluteString()) : std::nullopt, k.url) << k.host << k.path;
    }
    auto t = MQTTWebsocketTransport::create();
    EXPECT_EQ(t->endpointURL()->absoluteString(), "ws://localhost:80/mqtt");
    EXPECT_EQ(t->state(), MQTTTransportStateCreated);
    EXPECT_FALSE(t->send(Bytes{1, 2, 3}));
}

TEST(MQTTWebsocketTransport, AnInvalidEndpointFailsTheOpenInsteadOfAsserting) {
    MQTTLog::setLogLevel(0);
    auto t = MQTTWebsocketTransport::create();
    auto r = std::make_shared<TransportRecorder>();
    t->setDelegate(r);
    t->setHost("bad host");
    t->open();
    EXPECT_EQ(t->state(), MQTTTransportStateClosed);
    ASSERT_TRUE(pump([&] { return !r->events.empty(); }));
    EXPECT_EQ(r->events, std::vector<std::string>{"fail:NSURLErrorDomain:-1000"});
}

TEST(MQTTWebsocketTransport, MessagesCloseAndFailureAgainstAWebSocketServer) {
    SKIP_WITHOUT_WS_PEER();
    MQTTLog::setLogLevel(0);
    test::WsPeer peer;
    auto connect = [&](const std::string& path, std::shared_ptr<TransportRecorder> r) {
        auto t = MQTTWebsocketTransport::create();
        t->setHost("127.0.0.1");
        t->setPort(static_cast<std::uint32_t>(peer.port()));
        t->setPath(path);
        t->setDelegate(r);
        t->open();
        EXPECT_EQ(t->state(), MQTTTransportStateOpening);
        EXPECT_FALSE(t->send(Bytes{1}));  // not open yet
        return t;
    };
    {
        auto r = std::make_shared<TransportRecorder>();
        auto t = connect("/echo", r);
        ASSERT_TRUE(pump([&] { return r->has("open"); }));
        EXPECT_EQ(t->state(), MQTTTransportStateOpen);
        EXPECT_EQ(t->websocket()->protocol(), "mqtt");
        EXPECT_TRUE(t->send(Bytes{0xC0, 0x00, 0xD0}));  // whatever the bytes, one message
        ASSERT_TRUE(pump([&] { return r->has("data:3"); }));
        EXPECT_TRUE(peer.logged("^message binary 3$"));
        t->close();
        EXPECT_EQ(t->state(), MQTTTransportStateClosing);
        ASSERT_TRUE(pump([&] { return r->has("close"); }));
        EXPECT_EQ(t->state(), MQTTTransportStateClosed);
        EXPECT_EQ(r->events, (std::vector<std::string>{"open", "data:3", "close"}));
    }
    {
        // A text message goes no further and the connection stays up.
        auto r = std::make_shared<TransportRecorder>();
        auto t = connect("/headers", r);
        ASSERT_TRUE(pump([&] { return r->has("open"); }));
        platform::RunLoop::main()->runUntil([] { return false; }, 0.2);
        EXPECT_EQ(r->events, std::vector<std::string>{"open"});
        EXPECT_EQ(t->state(), MQTTTransportStateOpen);
    }
    {
        auto r = std::make_shared<TransportRecorder>();
        auto t = connect("/bad?kind=status403", r);
        ASSERT_TRUE(pump([&] { return !r->events.empty(); }));
        EXPECT_EQ(r->events, std::vector<std::string>{"fail:BWWebSocketErrorDomain:2132"});
        EXPECT_TRUE(r->detachedBeforeFailure);
        EXPECT_EQ(t->state(), MQTTTransportStateClosed);
    }
    {
        // Only the required method is implemented: data, and nothing else.
        auto r = std::make_shared<TransportRecorder>(false);
        auto t = connect("/big?size=5", r);
        ASSERT_TRUE(pump([&] { return t->state() == MQTTTransportStateOpen && !r->events.empty(); }));
        t->close();
        ASSERT_TRUE(pump([&] { return t->state() == MQTTTransportStateClosed; }));
        EXPECT_EQ(r->events, std::vector<std::string>{"data:5"});
    }
}

// ---- sessions over mosquitto's WebSocket listener -----------------------------

class SessionEvents : public MQTTSessionDelegate {
public:
    void handleEvent(MQTTSession&, MQTTSessionEvent event, platform::ErrorPtr) override { events.push_back(event); }
    void newMessage(MQTTSession&, const Bytes& data, const std::string&, std::uint8_t qos, bool, std::uint32_t) override {
        received[qos].push_back(std::string(data.begin(), data.end()));
    }
    std::vector<MQTTSessionEvent> events;
    std::map<std::uint8_t, std::vector<std::string>> received;
};

struct WsSession {
    std::shared_ptr<MQTTSession> session = MQTTSession::create();
    std::shared_ptr<SessionEvents> events = std::make_shared<SessionEvents>();
    std::shared_ptr<MQTTWebsocketTransport> transport = MQTTWebsocketTransport::create();

    WsSession(int port, const std::string& clientId, std::uint8_t level, std::optional<Bytes> pinnedLeaf) {
        transport->setHost("127.0.0.1");
        transport->setPort(static_cast<std::uint32_t>(port));
        if (pinnedLeaf) {
            transport->setTls(true);
            transport->setPinnedCertificates(std::vector<Bytes>{*pinnedLeaf});
        }
        session->setClientId(clientId);
        session->setProtocolLevel(level);
        session->setTransport(transport);
        session->setDelegate(events);
    }
    void connect() {
        bool done = false;
        platform::ErrorPtr error;
        session->connectWithConnectHandler([&](platform::ErrorPtr e) {
            error = e;
            done = true;
        });
        ASSERT_TRUE(pump([&] { return done; }));
        ASSERT_FALSE(error) << error->description();
    }
};

class MQTTOverWebSocket : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { MQTTLog::setLogLevel(0); }
};

TEST_P(MQTTOverWebSocket, QoS012BothWaysAtLevels4And5ThenACutConnection) {
    const bool secure = GetParam();
    test::TestCerts certs;
    test::MosquittoBroker::Options options{.websockets = true};
    if (secure) options.websocketsTLS = test::MosquittoBroker::TLS{&certs, certs.leaf};
    test::MosquittoBroker broker(options);
    std::optional<Bytes> pin;
    if (secure) {
        const std::string der = test::TestCerts::der(certs.leaf.cert);
        pin = Bytes(der.begin(), der.end());
    }
    for (std::uint8_t level : {4, 5}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::string topic = "ws/" + std::to_string(level);
        WsSession sub(broker.websocketsPort(), "wsub" + std::to_string(level), level, pin);
        WsSession pub(broker.websocketsPort(), "wpub" + std::to_string(level), level, pin);
        sub.connect();
        pub.connect();
        bool subscribed = false;
        sub.session->subscribeToTopic(topic + "/#", 2, [&](platform::ErrorPtr e, const std::optional<platform::Array>&) {
            EXPECT_FALSE(e);
            subscribed = true;
        });
        ASSERT_TRUE(pump([&] { return subscribed; }));
        int acknowledged = 0;
        for (std::uint8_t qos : {0, 1, 2}) {
            for (int i = 0; i < 5; ++i) {
                const std::string text = "q" + std::to_string(qos) + "-" + std::to_string(i);
                pub.session->publishData(Bytes(text.begin(), text.end()), topic + "/q", false, qos,
                                         [&](platform::ErrorPtr e) {
                                             EXPECT_FALSE(e);
                                             ++acknowledged;
                                         });
            }
        }
        ASSERT_TRUE(pump([&] {
            return acknowledged == 15 && sub.events->received[0].size() == 5 && sub.events->received[1].size() == 5 &&
                   sub.events->received[2].size() == 5;
        }));
        for (std::uint8_t qos : {0, 1, 2})
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(sub.events->received[qos][static_cast<std::size_t>(i)], "q" + std::to_string(qos) + "-" + std::to_string(i));
        // Each QoS 2 flow to the subscriber ended.
        EXPECT_TRUE(broker.waitFor({"Received PUBCOMP from wsub" + std::to_string(level)}, 5));

        pub.session->close();
        // The transport lets go of its socket once the socket reported the end.
        ASSERT_TRUE(pump([&] { return pub.transport->websocket()->delegate() == nullptr; }));
        EXPECT_TRUE(broker.waitFor({"Received DISCONNECT from wpub" + std::to_string(level)}));
    }

    // The broker goes away under a connected session.
    WsSession cut(broker.websocketsPort(), "wcut", 4, pin);
    cut.connect();
    broker.process().stop();
    ASSERT_TRUE(pump([&] {
        for (auto e : cut.events->events)
            if (e == MQTTSessionEventConnectionClosedByBroker || e == MQTTSessionEventConnectionError) return true;
        return false;
    }));
    EXPECT_EQ(cut.transport->websocket()->readyState(), BWReadyStateClosed);
    EXPECT_EQ(cut.transport->websocket()->delegate(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WsAndWss, MQTTOverWebSocket, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "wss" : "ws"; });

}  // namespace
}  // namespace pellix
