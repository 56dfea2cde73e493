// Keep-alive, closing, wills, subscriptions, and callbacks that call back
// into the session.
#include <gtest/gtest.h>

#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTStrict.h"
#include "SessionTestKit.h"

namespace pellix::test {
namespace {

class SessionLifecycle : public ::testing::Test {
protected:
    void SetUp() override { MQTTLog::setLogLevel(0); }

    static void connect(const std::shared_ptr<MQTTSession>& session) { connectAndWait(session); }

    Broker broker;
};

TEST_F(SessionLifecycle, PingsEveryKeepAliveInterval) {
    auto session = makeSession(broker.port(), "pinger", 4);
    session->setKeepAliveInterval(1);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    ASSERT_TRUE(broker.waitFor({"Received PINGREQ from pinger"}, 2, 5));
    EXPECT_TRUE(pump([&] {
        const auto got = recorder->got();
        return std::count_if(got.begin(), got.end(), [](const Packet& p) { return p.type == MQTTPingresp; }) >= 2;
    }));
    EXPECT_EQ(session->status(), MQTTSessionStatusConnected);  // a PINGRESP changes nothing
    session->close();

    // Keep-alive 0: no timer, no ping.
    auto quiet = makeSession(broker.port(), "quiet", 4);
    quiet->setKeepAliveInterval(0);
    connect(quiet);
    pumpFor(1.5);
    EXPECT_EQ(broker.count({"Received PINGREQ from quiet"}), 0);
    quiet->close();
}

TEST_F(SessionLifecycle, CloseSendsDisconnectAndTheWillGoesOutOnlyWhenTheSocketDrops) {
    auto watcher = makeSession(broker.port(), "will-watcher", 4);
    auto seen = std::make_shared<Recorder>();
    watcher->setDelegate(seen);
    connect(watcher);
    bool subscribed = false;
    watcher->subscribeToTopic("will/#", 1, [&](platform::ErrorPtr, const std::optional<platform::Array>&) { subscribed = true; });
    ASSERT_TRUE(pump([&] { return subscribed; }));

    for (std::uint8_t level : {3, 4, 5}) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::string id = "willing" + std::to_string(level);
        const std::string topic = "will/" + std::to_string(level);
        // Orderly close: DISCONNECT, the will is discarded.
        {
            auto session = MQTTSession::initWithClientId(id, std::nullopt, std::nullopt, 60, true, topic,
                                                         bytes("gone"), 1, false);
            session->setProtocolLevel(level);
            session->setTransport(transportTo(broker.port()));
            auto recorder = std::make_shared<Recorder>();
            session->setDelegate(recorder);
            connect(session);
            bool closed = false;
            session->closeWithDisconnectHandler([&](platform::ErrorPtr e) {
                EXPECT_FALSE(e);
                closed = true;
            });
            EXPECT_TRUE(closed);  // within the call
            EXPECT_EQ(session->status(), MQTTSessionStatusClosed);
            EXPECT_EQ(recorder->events(), (std::vector<MQTTSessionEvent>{MQTTSessionEventConnected,
                                                                         MQTTSessionEventConnectionClosed}));
            EXPECT_EQ(recorder->sent().back().type, MQTTDisconnect);
            EXPECT_TRUE(broker.waitFor({"Received DISCONNECT from " + id}));
        }
        pumpFor(0.3);
        EXPECT_EQ(seen->count(topic), 0u);
        // Dropped socket: the broker publishes the will.
        {
            Proxy proxy(broker.port());
            auto session = MQTTSession::initWithClientId(id, std::nullopt, std::nullopt, 60, true, topic,
                                                         bytes("gone"), 1, false);
            session->setProtocolLevel(level);
            session->setTransport(transportTo(proxy.port()));
            connect(session);
            proxy.cut();
            ASSERT_TRUE(pump([&] { return seen->count(topic) == 1; }));
            EXPECT_EQ(str(seen->messages().back().data), "gone");
            ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
        }
    }
    watcher->close();
}

TEST_F(SessionLifecycle, SubscribeAndUnsubscribeShareTheIdCounter) {
    auto session = makeSession(broker.port(), "subber", 4);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    std::vector<std::uint16_t> ids;
    std::vector<platform::Array> granted;
    platform::Dictionary topics{{"a/+/c", platform::Value(1)}, {"a/#", platform::Value(2)}};
    ids.push_back(session->subscribeToTopics(topics, [&](platform::ErrorPtr e, const std::optional<platform::Array>& g) {
        EXPECT_FALSE(e);
        granted.push_back(g.value_or(platform::Array{}));
    }));
    ids.push_back(session->publishData(bytes("x"), "a/b", false, 1));
    bool unsubscribed = false;
    ids.push_back(session->unsubscribeTopic("a/#", [&](platform::ErrorPtr e) {
        EXPECT_FALSE(e);
        unsubscribed = true;
    }));
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{2, 3, 4}));
    ASSERT_TRUE(pump([&] { return unsubscribed && granted.size() == 1; }));
    EXPECT_EQ(granted[0], (platform::Array{platform::Value(1), platform::Value(2)}));
    session->close();
}

TEST_F(SessionLifecycle, StrictTopicFilterChecks) {
    auto session = MQTTSession::create();
    MQTTStrict::setStrict(true);
    for (const char* good : {"a/+/c", "a/#", "#", "+"}) {
        EXPECT_NO_THROW(session->checkTopicFilters({good})) << good;
    }
    struct Bad {
        const char* filter;
        const char* name;
    };
    for (const Bad& b : {Bad{"a/b+/c", "singlelevel wildcard must be alone on a level of a topic filter"},
                         Bad{"a/#/c", "multilevel wildcard must be on the last level of a topic filter"},
                         Bad{"a/b#", "multilevel wildcard must be alone on a level of a topic filter"},
                         Bad{"", "topicFilter must be at least 1 characters long"}}) {
        try {
            session->checkTopicFilters({b.filter});
            ADD_FAILURE() << b.filter;
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.name(), b.name) << b.filter;
        }
    }
    EXPECT_THROW(session->subscribeToTopic(std::nullopt, 0), platform::Exception);
    MQTTStrict::setStrict(false);
}

TEST_F(SessionLifecycle, ShortSubackFailsTheConnectionAndThePendingHandler) {
    // A SUBACK of two bytes (no granted value), then a level-4 DISCONNECT on
    // a second connection.
    FakeBroker fake([](FakeConnection& conn, int index) {
        conn.expect(MQTTConnect);
        conn.send(hex("20 02 00 00"));
        if (index == 0) {
            auto sub = conn.expect(MQTTSubscribe);
            conn.send(platform::Bytes{0x90, 0x02, (*sub)[2], (*sub)[3]});
        } else {
            conn.send(hex("E0 00"));
        }
        conn.closedByPeer(3s);
    });
    auto session = makeSession(fake.port(), "short", 4);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    platform::ErrorPtr failure;
    bool answered = false;
    session->subscribeToTopic("t", 1, [&](platform::ErrorPtr e, const std::optional<platform::Array>& g) {
        failure = e;
        answered = true;
        EXPECT_FALSE(g);
    });
    ASSERT_TRUE(pump([&] { return answered; }));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->code(), -6);
    EXPECT_EQ(failure->localizedDescription(), "No response");
    EXPECT_EQ(recorder->lastError()->code(), -7);

    connect(session);
    ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
    const auto events = recorder->events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], MQTTSessionEventProtocolError);
    EXPECT_EQ(events.back(), MQTTSessionEventConnectionClosed);
    EXPECT_EQ(recorder->lastError()->localizedDescription(), "MQTT protocol DISCONNECT received");
    EXPECT_EQ(recorder->lastError()->code(), 0);
}

TEST_F(SessionLifecycle, CallbacksMayCloseOrReconnectTheSession) {
    Proxy proxy(broker.port());
    auto session = makeSession(proxy.port(), "phoenix", 4);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    // Reconnect from inside connectionClosed when the broker goes away.
    bool reconnected = false;
    recorder->onClosed = [&](MQTTSession& s) {
        s.connectWithConnectHandler([&](platform::ErrorPtr e) {
            EXPECT_FALSE(e);
            reconnected = true;
        });
    };
    proxy.cut();
    ASSERT_TRUE(pump([&] { return reconnected; }));
    EXPECT_EQ(session->status(), MQTTSessionStatusConnected);

    // Close, and drop our last reference, from inside a message callback.
    bool subscribed = false;
    session->subscribeToTopic("phoenix/#", 0, [&](platform::ErrorPtr, const std::optional<platform::Array>&) {
        subscribed = true;
    });
    ASSERT_TRUE(pump([&] { return subscribed; }));
    std::weak_ptr<MQTTSession> weak = session;
    recorder->onMessage = [&](MQTTSession& s, const Received&) {
        s.close();
        session.reset();
    };
    auto sender = makeSession(broker.port(), "phoenix-sender", 4);
    connect(sender);
    sender->publishData(bytes("bye"), "phoenix/x", false, 0);
    ASSERT_TRUE(pump([&] { return weak.expired(); }));
    EXPECT_EQ(recorder->messages().size(), 1u);
    sender->close();
}

}  // namespace
}  // namespace pellix::test
