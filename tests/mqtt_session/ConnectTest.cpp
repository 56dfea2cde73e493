// Connect results against mosquitto at levels 3, 4 and 5, and the CONNACK
// handling and protocol errors of a scripted broker.
#include <gtest/gtest.h>

#include "MQTTClient/MQTTInMemoryPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTStrict.h"
#include "SessionTestKit.h"
#include "platform/DispatchQueue.h"

namespace pellix::test {
namespace {

struct Outcome {
    bool called = false;
    platform::ErrorPtr error;
};

// Connects and pumps until the connect handler has answered.
Outcome connectAndAnswer(const std::shared_ptr<MQTTSession>& session, double seconds = 10) {
    auto outcome = std::make_shared<Outcome>();
    session->connectWithConnectHandler([outcome](platform::ErrorPtr error) {
        EXPECT_FALSE(outcome->called) << "connect handler called twice";
        outcome->called = true;
        outcome->error = error;
    });
    pump([&] { return outcome->called; }, seconds);
    return *outcome;
}

class SessionConnect : public ::testing::Test {
protected:
    void SetUp() override { MQTTLog::setLogLevel(0); }
    Broker broker;
};

TEST_F(SessionConnect, ResultsAtEachLevel) {
    struct Case {
        const char* name;
        std::uint8_t level;
        std::string clientId;
        bool clean;
        bool passwordListener;
        std::optional<std::string> user, password;
        std::int64_t code;  // 0 = accepted
        const char* text;
    };
    const Case cases[] = {
        {"accepted", 3, "acc3", true, false, {}, {}, 0, nullptr},
        {"accepted", 4, "acc4", true, false, {}, {}, 0, nullptr},
        {"accepted", 5, "acc5", true, false, {}, {}, 0, nullptr},
        {"credentials", 4, "cred4", true, true, Broker::kUser, Broker::kPassword, 0, nullptr},
        {"credentials", 5, "cred5", true, true, Broker::kUser, Broker::kPassword, 0, nullptr},
        {"empty id, clean off", 3, "", false, false, {}, {}, 2, "MQTT CONNACK: identifier rejected"},
        {"empty id, clean off", 4, "", false, false, {}, {}, 2, "MQTT CONNACK: identifier rejected"},
        // MQTT 5 lets the broker assign an id whatever the clean-start flag says.
        {"empty id, clean off", 5, "", false, false, {}, {}, 0, nullptr},
        {"bad credentials", 3, "bad3", true, true, Broker::kUser, "wrong", 5, "MQTT CONNACK: not authorized"},
        {"bad credentials", 4, "bad4", true, true, Broker::kUser, "wrong", 5, "MQTT CONNACK: not authorized"},
        {"bad credentials", 5, "bad5", true, true, Broker::kUser, "wrong", 6, "MQTT CONNACK: reserved for future use"},
        {"wrong level", 6, "lvl6", true, false, {}, {}, 1, "MQTT CONNACK: unacceptable protocol version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " at level " + std::to_string(c.level));
        auto session = makeSession(c.passwordListener ? broker.passwordPort() : broker.port(), c.clientId, c.level);
        auto recorder = std::make_shared<Recorder>();
        session->setDelegate(recorder);
        session->setCleanSessionFlag(c.clean);
        session->setUserName(c.user);
        session->setPassword(c.password);
        std::vector<MQTTSessionEvent> handlerEvents;
        session->setConnectionHandler([&](MQTTSessionEvent e) { handlerEvents.push_back(e); });
        auto outcome = connectAndAnswer(session);
        ASSERT_TRUE(outcome.called);
        if (c.code == 0) {
            EXPECT_FALSE(outcome.error) << outcome.error->description();
            EXPECT_EQ(session->status(), MQTTSessionStatusConnected);
            EXPECT_EQ(recorder->events(), std::vector<MQTTSessionEvent>{MQTTSessionEventConnected});
            EXPECT_EQ(handlerEvents, std::vector<MQTTSessionEvent>{MQTTSessionEventConnected});
            session->close();
            EXPECT_EQ(session->status(), MQTTSessionStatusClosed);
        } else {
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(outcome.error->domain(), "MQTT");
            EXPECT_EQ(outcome.error->code(), c.code);
            EXPECT_EQ(outcome.error->localizedDescription(), c.text);
            EXPECT_EQ(session->status(), MQTTSessionStatusClosed);
            EXPECT_EQ(recorder->events(), (std::vector<MQTTSessionEvent>{MQTTSessionEventConnectionRefused,
                                                                         MQTTSessionEventConnectionClosed}));
            // The close inside the error path reports to the delegate only.
            EXPECT_EQ(handlerEvents, std::vector<MQTTSessionEvent>{MQTTSessionEventConnectionRefused});
            ASSERT_TRUE(recorder->lastError());
            EXPECT_EQ(recorder->lastError()->code(), c.code);
        }
    }
}

TEST_F(SessionConnect, ReconnectsTheSameSessionAndKeepsFlowsWithoutCleanSession) {
    auto session = makeSession(broker.port(), "again", 4);
    session->setCleanSessionFlag(false);
    auto first = connectAndAnswer(session);
    ASSERT_FALSE(first.error) << first.error->description();
    session->close();
    // Queued while closed; the check run on CONNACK sends it.
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    const auto mid = session->publishData(bytes("queued"), "again/t", false, 1);
    EXPECT_EQ(mid, 2);  // the first id handed out by a new session
    auto outcome = connectAndAnswer(session);
    ASSERT_FALSE(outcome.error) << outcome.error->description();
    EXPECT_TRUE(session->sessionPresent());
    ASSERT_TRUE(pump([&] { return recorder->delivered().size() == 1; }));
    const auto sent = recorder->sent();
    auto publish = std::find_if(sent.begin(), sent.end(), [](const Packet& p) { return p.type == MQTTPublish; });
    ASSERT_NE(publish, sent.end());
    EXPECT_FALSE(publish->dup);
    session->close();

    // Clean session deletes the flows and drops handlers without calling them.
    bool called = false;
    session->setCleanSessionFlag(true);
    session->publishData(bytes("dropped"), "again/t", false, 1, [&](platform::ErrorPtr) { called = true; });
    ASSERT_FALSE(connectAndAnswer(session).error);
    pumpFor(0.3);
    EXPECT_FALSE(called);
    EXPECT_TRUE(session->persistence()->allFlowsforClientId("again", false).empty());
    session->close();
}

TEST_F(SessionConnect, StrictModeChecksTheConfiguration) {
    MQTTStrict::setStrict(true);
    auto session = makeSession(broker.port(), std::string(65536, 'x'), 4);
    try {
        session->connect();
        ADD_FAILURE() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.name(), "clientId may not be longer than 65535 bytes in UTF8 representation");
        EXPECT_EQ(e.reason(), "clientId length = 65536");
    }
    EXPECT_EQ(session->status(), MQTTSessionStatusCreated);
    session->setClientId("ok");
    session->setWillTopic("a/+");
    session->setWillFlag(true);
    session->setWillMsg(bytes("x"));
    EXPECT_THROW(session->connect(), platform::Exception);
    MQTTStrict::setStrict(false);
}

// ---- Scripted broker -----------------------------------------------------------

TEST_F(SessionConnect, ConnackRefusalsAndMalformedAnswers) {
    struct Case {
        const char* name;
        std::uint8_t level;
        std::string connack;
        std::int64_t code;
        const char* text;
        MQTTSessionEvent event;
    };
    const Case cases[] = {
        {"server unavailable", 4, "20 02 00 03", 3, "MQTT CONNACK: server unavailable", MQTTSessionEventConnectionRefused},
        {"level-5 reason", 5, "20 03 00 87 00", 6, "MQTT CONNACK: reserved for future use", MQTTSessionEventConnectionRefused},
        {"PUBLISH before CONNACK", 4, "30 05 00 01 74 68 69", -1, "MQTT protocol no CONNACK", MQTTSessionEventProtocolError},
        {"DISCONNECT instead", 5, "E0 02 8C 00", 0x8C, "MQTT protocol DISCONNECT instead of CONNACK", MQTTSessionEventProtocolError},
        {"short level-5 CONNACK", 5, "20 02 00 00", -7, "MQTT illegal message received", MQTTSessionEventProtocolError},
        {"huge length", 4, "20 FF FF FF 7F", -7, "MQTT illegal message received", MQTTSessionEventProtocolError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBroker fake([&](FakeConnection& conn, int) {
            conn.expect(MQTTConnect);
            conn.send(hex(c.connack));
            conn.closedByPeer(3s);
        });
        auto session = makeSession(fake.port(), "fake", c.level);
        auto recorder = std::make_shared<Recorder>();
        session->setDelegate(recorder);
        auto outcome = connectAndAnswer(session);
        ASSERT_TRUE(outcome.called);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code(), c.code);
        EXPECT_EQ(outcome.error->localizedDescription(), c.text);
        EXPECT_EQ(session->status(), MQTTSessionStatusClosed);
        EXPECT_EQ(recorder->events(), (std::vector<MQTTSessionEvent>{c.event, MQTTSessionEventConnectionClosed}));
        EXPECT_TRUE(fake.done());
    }
}

TEST_F(SessionConnect, BrokerClosingWhileConnectingGivesClosedWithoutConnack) {
    FakeBroker fake([](FakeConnection& conn, int) {
        conn.expect(MQTTConnect);
        conn.close();
    });
    auto session = makeSession(fake.port(), "closing", 4);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    auto outcome = connectAndAnswer(session);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code(), -8);
    EXPECT_EQ(outcome.error->localizedDescription(), "Server has closed connection without connack.");
    EXPECT_EQ(recorder->events(), (std::vector<MQTTSessionEvent>{MQTTSessionEventConnectionClosedByBroker,
                                                                 MQTTSessionEventConnectionClosed}));
    EXPECT_FALSE(recorder->lastError());  // event 5 carries no error
}

TEST_F(SessionConnect, NothingListeningIsAConnectionError) {
    const int port = freePort();
    auto session = makeSession(port, "nobody", 4);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    auto outcome = connectAndAnswer(session);
    ASSERT_TRUE(outcome.error);
    EXPECT_NE(outcome.error->domain(), "MQTT");  // the transport's own error
    EXPECT_EQ(recorder->events(), (std::vector<MQTTSessionEvent>{MQTTSessionEventConnectionError,
                                                                 MQTTSessionEventConnectionClosed}));
    EXPECT_EQ(session->status(), MQTTSessionStatusClosed);
}

TEST_F(SessionConnect, ServerKeepAliveOfALevel5ConnackRulesThePings) {
    // CONNACK with server keep-alive 1 s while we asked for 60.
    FakeBroker fake([](FakeConnection& conn, int) {
        conn.expect(MQTTConnect);
        conn.send(hex("20 06 00 00 03 13 00 01"));
        conn.expect(MQTTPingreq, 3s);
        conn.send(hex("D0 00"));
        conn.expect(MQTTPingreq, 3s);
        conn.send(hex("E0 00"));  // a level-5 DISCONNECT, normal reason
        conn.closedByPeer(3s);
    });
    auto session = makeSession(fake.port(), "ka5", 5);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    ASSERT_FALSE(connectAndAnswer(session).error);
    ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }, 6));
    EXPECT_EQ(recorder->events(), (std::vector<MQTTSessionEvent>{MQTTSessionEventConnected,
                                                                 MQTTSessionEventProtocolError,
                                                                 MQTTSessionEventConnectionClosed}));
    ASSERT_TRUE(recorder->lastError());
    EXPECT_EQ(recorder->lastError()->localizedDescription(), "MQTT protocol DISCONNECT received");
    EXPECT_TRUE(fake.done());
}

TEST_F(SessionConnect, IgnoredConnackKeepsConnecting) {
    struct Ignoring : Recorder {
        bool ignoreReceived(MQTTSession&, std::uint8_t type, std::uint8_t, bool, bool, std::uint16_t,
                            const platform::Bytes&) override {
            return type == MQTTConnack;
        }
    };
    auto session = makeSession(broker.port(), "ignoring", 4);
    auto recorder = std::make_shared<Ignoring>();
    session->setDelegate(recorder);
    session->connect();
    ASSERT_TRUE(pump([&] { return !recorder->got().empty(); }));
    pumpFor(0.2);
    EXPECT_EQ(session->status(), MQTTSessionStatusConnecting);
    session->close();
    EXPECT_EQ(session->status(), MQTTSessionStatusClosed);
}

}  // namespace
}  // namespace pellix::test
