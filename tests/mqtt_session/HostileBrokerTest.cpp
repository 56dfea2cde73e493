// What the session does with packet sequences and call orders a well-behaved
// broker and application never produce: the cases the session fuzz target
// turned up, each against the scripted fake broker.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "MQTTClient/MQTTLog.h"
#include "SessionTestKit.h"
#include "platform/ManualClock.h"

namespace pellix::test {
namespace {

// Answers every PINGREQ until the client closes the connection.
void answerPings(FakeConnection& conn) {
    while (auto packet = conn.receive(3s)) {
        if ((*packet)[0] >> 4 == MQTTPingreq) {
            conn.send(hex("D0 00"));
        }
    }
}

// The packet identifier of a client PUBLISH on topic "t", or of a PUBREL.
platform::Bytes midOf(const platform::Bytes& packet) {
    const std::size_t at = (packet[0] >> 4) == MQTTPublish ? 2 + 2 + 1 : 2;
    return {packet[at], packet[at + 1]};
}

platform::Bytes join(platform::Bytes a, const platform::Bytes& b, const platform::Bytes& c = {}) {
    a.insert(a.end(), b.begin(), b.end());
    a.insert(a.end(), c.begin(), c.end());
    return a;
}

class HostileBroker : public ::testing::Test {
protected:
    void SetUp() override {
        MQTTLog::setLogLevel(0);
        clock = std::make_shared<platform::ManualClock>();
        platform::Clock::setShared(clock);
    }
    void TearDown() override { platform::Clock::setShared(nullptr); }

    static void connect(const std::shared_ptr<MQTTSession>& session) { connectAndWait(session); }

    // Moves the clock on one second at a time, letting each firing run.
    void advance(int seconds) {
        for (int i = 0; i < seconds; ++i) {
            clock->advance(1.0);
            pumpFor(0.02);
        }
    }

    // As advance(), but each second waits (in real time) for every PINGREQ
    // sent so far to be answered, so a loaded machine cannot make a prompt
    // broker look silent.
    void advanceAnswered(int seconds, const Recorder& recorder) {
        for (int i = 0; i < seconds; ++i) {
            clock->advance(1.0);
            pumpFor(0.02);
            EXPECT_TRUE(pump([&] { return gotOf(recorder, MQTTPingresp) >= sentOf(recorder, MQTTPingreq); }));
        }
    }

    static std::size_t gotOf(const Recorder& recorder, std::uint8_t type) {
        const auto got = recorder.got();
        return static_cast<std::size_t>(
            std::count_if(got.begin(), got.end(), [type](const Packet& p) { return p.type == type; }));
    }

    static std::size_t sentOf(const Recorder& recorder, std::uint8_t type) {
        const auto sent = recorder.sent();
        return static_cast<std::size_t>(
            std::count_if(sent.begin(), sent.end(), [type](const Packet& p) { return p.type == type; }));
    }

    std::shared_ptr<platform::ManualClock> clock;
};

// connect() on a connected session starts a new connection; the old one's
// keep-alive and resend timers must go with it, or they ping twice as often
// and go on pinging after close() for as long as the session lives.
TEST_F(HostileBroker, ConnectingAgainWhileConnectedLeavesNoTimerOfTheOldConnection) {
    FakeBroker fake([](FakeConnection& conn, int) {
        conn.expect(MQTTConnect);
        conn.send(hex("20 02 00 00"));
        answerPings(conn);
    });
    auto session = makeSession(fake.port(), "twice", 4);
    session->setKeepAliveInterval(1);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connect(session);
    connect(session);

    advanceAnswered(3, *recorder);
    EXPECT_EQ(sentOf(*recorder, MQTTPingreq), 3u);

    session->close();
    const auto afterClose = sentOf(*recorder, MQTTPingreq);
    advance(3);
    EXPECT_EQ(sentOf(*recorder, MQTTPingreq), afterClose);
}

// A broker that goes silent must not leave the session waiting: no CONNACK
// within the connect time-out, or no PINGRESP one keep-alive interval after
// a PINGREQ, ends the connection with the connection-error event, so whoever
// manages the session reconnects. A broker that answers keeps the session.
TEST_F(HostileBroker, SilenceEndsTheConnection) {
    struct Case {
        const char* name;
        const char* connack;  // hex; empty: none at all
        bool answerPings;
        std::int64_t code;    // 0: the connection must survive
    };
    const Case cases[] = {
        {"CONNECT unanswered", "", false, MQTTSessionErrorNoConnackInTime},
        {"CONNACK cut short", "20 02 00", false, MQTTSessionErrorNoConnackInTime},
        {"PINGREQ unanswered", "20 02 00 00", false, MQTTSessionErrorNoPingResponse},
        {"PINGREQ answered", "20 02 00 00", true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBroker fake([&c](FakeConnection& conn, int) {
            conn.expect(MQTTConnect);
            conn.send(hex(c.connack));
            if (c.answerPings) {
                answerPings(conn);
            } else {
                conn.closedByPeer(5s);
            }
        });
        auto session = makeSession(fake.port(), "silence", 4);
        session->setKeepAliveInterval(2);
        session->setConnectTimeout(5);
        auto recorder = std::make_shared<Recorder>();
        session->setDelegate(recorder);
        platform::ErrorPtr connectError;
        bool answered = false;
        session->connectWithConnectHandler([&](platform::ErrorPtr e) {
            connectError = e;
            answered = true;
        });
        const bool connacked = std::string(c.connack).size() > 8;
        if (connacked) {
            ASSERT_TRUE(pump([&] { return answered; }));
            ASSERT_FALSE(connectError);
        } else {
            pumpFor(0.2);
            EXPECT_FALSE(answered);
        }
        if (c.answerPings) {
            advanceAnswered(7, *recorder);
        } else {
            advance(7);
        }
        if (c.code == 0) {
            EXPECT_EQ(session->status(), MQTTSessionStatusConnected);
            EXPECT_GE(sentOf(*recorder, MQTTPingreq), 3u);
            session->close();
        } else {
            ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
            const auto events = recorder->events();
            EXPECT_NE(std::find(events.begin(), events.end(), MQTTSessionEventConnectionError), events.end());
            ASSERT_TRUE(recorder->lastError());
            EXPECT_EQ(recorder->lastError()->code(), c.code);
            if (!connacked) {
                ASSERT_TRUE(answered) << "the connect handler was never called";
                ASSERT_TRUE(connectError);
                EXPECT_EQ(connectError->code(), c.code);
            }
        }
        EXPECT_TRUE(fake.done());
    }
}

// MQTT requires a malformed packet to end the connection; dropping it and
// carrying on hides the fault and may lose what follows.
TEST_F(HostileBroker, MalformedPacketsCloseWithProtocolError) {
    struct Case {
        const char* name;
        std::uint8_t level;
        const char* packet;
    };
    const Case cases[] = {
        {"topic length past the packet", 4, "30 03 00 05 74"},
        {"topic length 0xFFFF", 4, "30 04 FF FF 74 74"},
        {"QoS 1 without packet identifier", 4, "32 03 00 01 74"},
        {"zero-length PUBLISH", 4, "30 00"},
        {"empty topic without alias", 4, "30 03 00 00 78"},
        {"second CONNACK", 4, "20 02 00 00"},
        {"SUBACK without codes", 4, "90 02 00 01"},
        {"level 5: property length missing", 5, "30 03 00 01 74"},
        {"level 5: QoS 1 property block past the packet", 5, "32 08 00 01 74 00 08 20 01 02"},
        {"level 5: QoS 2 property block past the packet", 5, "34 08 00 01 74 00 07 20 01 02"},
        {"level 5: unknown topic alias", 5, "30 07 00 00 03 23 00 02 78"},
        {"level 5: topic alias 0", 5, "30 08 00 01 74 03 23 00 00 78"},
        {"level 5: topic alias above the maximum", 5, "30 08 00 01 74 03 23 00 09 78"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBroker fake([&c](FakeConnection& conn, int) {
            conn.expect(MQTTConnect);
            conn.send(hex(c.level == 5 ? "20 03 00 00 00" : "20 02 00 00"));
            conn.send(hex(c.packet));
            // A PUBLISH after it must never reach the application.
            conn.send(hex(c.level == 5 ? "30 05 00 01 74 00 79" : "30 04 00 01 74 79"));
            EXPECT_TRUE(conn.closedByPeer(5s));
        });
        auto session = makeSession(fake.port(), "malformed", c.level);
        session->topicAliasMaximum = 4;
        auto recorder = std::make_shared<Recorder>();
        session->setDelegate(recorder);
        connectAndWait(session);
        ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
        const auto events = recorder->events();
        EXPECT_NE(std::find(events.begin(), events.end(), MQTTSessionEventProtocolError), events.end());
        EXPECT_TRUE(recorder->messages().empty());
        EXPECT_TRUE(session->persistence()->allFlowsforClientId("malformed", true).empty());
        EXPECT_TRUE(fake.done());
    }
}

// Incoming topic aliases name a topic for the rest of the connection; the
// next connection starts with none.
TEST_F(HostileBroker, TopicAliasesAreResolvedPerConnection) {
    FakeBroker fake([](FakeConnection& conn, int index) {
        conn.expect(MQTTConnect);
        conn.send(hex("20 03 00 00 00"));
        if (index == 0) {
            conn.send(hex("30 0A 00 03 61 2F 62 03 23 00 01 31"));  // "a/b" as alias 1, payload "1"
            conn.send(hex("30 07 00 00 03 23 00 01 32"));           // alias 1, payload "2"
            conn.closedByPeer(5s);
        } else {
            conn.send(hex("30 07 00 00 03 23 00 01 33"));  // alias 1 is unknown here
            conn.closedByPeer(5s);
        }
    });
    auto session = makeSession(fake.port(), "aliases", 5);
    session->topicAliasMaximum = 4;
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connectAndWait(session);
    ASSERT_TRUE(pump([&] { return recorder->messages().size() == 2; }));
    EXPECT_EQ(recorder->messages()[0].topic, "a/b");
    EXPECT_EQ(recorder->messages()[1].topic, "a/b");
    EXPECT_EQ(str(recorder->messages()[1].data), "2");
    session->close();
    connectAndWait(session);
    ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
    EXPECT_EQ(recorder->messages().size(), 2u);
    EXPECT_TRUE(fake.done());
}

// After a reconnect without clean session: what was in flight goes out again
// at once on the CONNACK (not when the duplicate time-out passes); a PUBCOMP
// "packet identifier not found" for a resent PUBREL means delivered; and a
// level-5 broker that kept no session gets nothing resent (the subscriber
// would see it twice): those flows fail with their handlers told.
TEST_F(HostileBroker, UnfinishedFlowsAfterAReconnect) {
    struct Case {
        const char* name;
        bool sessionPresent;
        std::int64_t code;  // the publish handler's, 0 for none
    };
    const Case cases[] = {
        {"session present: PUBREL resent, PUBCOMP 0x92 ends it as delivered", true, 0},
        {"no session: the flow is dropped", false, MQTTSessionErrorSessionNotPresent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> resent{0};
        FakeBroker fake([&](FakeConnection& conn, int index) {
            conn.expect(MQTTConnect);
            if (index == 0) {
                conn.send(hex("20 03 00 00 00"));
                auto publish = conn.expect(MQTTPublish);
                conn.send(join(hex("50 02"), midOf(*publish)));
                conn.expect(MQTTPubrel);
                conn.close();  // PUBCOMP never came on this connection
                return;
            }
            conn.send(hex(c.sessionPresent ? "20 03 01 00 00" : "20 03 00 00 00"));
            if (auto again = conn.receive(2s); again && (*again)[0] >> 4 == MQTTPubrel) {
                ++resent;
                conn.send(join(hex("70 03"), midOf(*again), hex("92")));
            }
            conn.closedByPeer(3s);
        });
        auto session = makeSession(fake.port(), "unfinished", 5);
        session->setCleanSessionFlag(false);
        auto recorder = std::make_shared<Recorder>();
        session->setDelegate(recorder);
        connectAndWait(session);
        bool answered = false;
        platform::ErrorPtr error;
        session->publishData(bytes("p"), "t", false, 2, [&](platform::ErrorPtr e) {
            error = e;
            answered = true;
        });
        ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
        EXPECT_FALSE(answered);
        connectAndWait(session);  // the clock stands still: no deadline passes
        ASSERT_TRUE(pump([&] { return answered; }));
        EXPECT_EQ(error ? error->code() : 0, c.code);
        EXPECT_EQ(resent.load(), c.sessionPresent ? 1 : 0);
        EXPECT_EQ(recorder->delivered().size(), c.sessionPresent ? 1u : 0u);
        EXPECT_TRUE(session->persistence()->allFlowsforClientId("unfinished", false).empty());
        session->close();
        EXPECT_TRUE(fake.done());
    }
}

// A publish that can never be encoded is refused before it gets an id or a
// flow; stored, it would never complete and every QoS 1/2 message after it
// would wait for the once-a-second pass (which never comes here: the clock
// stands still).
TEST_F(HostileBroker, UnencodablePublishIsRefusedAndHoldsNothingUp) {
    FakeBroker fake([](FakeConnection& conn, int) {
        conn.expect(MQTTConnect);
        conn.send(hex("20 02 00 00"));
        auto publish = conn.expect(MQTTPublish);
        if (publish) {
            EXPECT_EQ((*publish)[1], 6) << "the refused message went out";
            conn.send(join(hex("40 02"), midOf(*publish)));
        }
        conn.closedByPeer(3s);
    });
    auto session = makeSession(fake.port(), "unencodable", 4);
    connectAndWait(session);
    platform::ErrorPtr error;
    EXPECT_EQ(session->publishData(bytes("x"), std::string(65536, 't'), false, 1,
                                   [&](platform::ErrorPtr e) { error = e; }),
              0);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), MQTTSessionErrorMessageTooLarge);
    EXPECT_TRUE(session->persistence()->allFlowsforClientId("unencodable", false).empty());
    bool done = false;
    EXPECT_NE(session->publishData(bytes("x"), "t", false, 1, [&](platform::ErrorPtr e) {
        EXPECT_FALSE(e);
        done = true;
    }), 0);
    EXPECT_TRUE(pump([&] { return done; }, 5));
    session->close();
    EXPECT_TRUE(fake.done());
}

// A half-open connection: mosquitto is fine, but nothing it sends reaches us
// any more (the proxy swallows it). Only the PINGRESP time-out can tell; the
// connection then ends with the connection-error event and a new connect
// gets through.
TEST_F(HostileBroker, HalfOpenConnectionIsNoticedAndReconnectable) {
    Broker broker;
    Proxy proxy(broker.port());
    auto session = makeSession(proxy.port(), "half-open", 4);
    session->setKeepAliveInterval(2);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connectAndWait(session);
    proxy.setFilter([](Proxy::Direction direction, const platform::Bytes&) {
        return direction == Proxy::ToClient ? Proxy::Drop : Proxy::Forward;
    });
    advance(5);
    ASSERT_TRUE(pump([&] { return session->status() == MQTTSessionStatusClosed; }));
    const auto events = recorder->events();
    EXPECT_NE(std::find(events.begin(), events.end(), MQTTSessionEventConnectionError), events.end());
    ASSERT_TRUE(recorder->lastError());
    EXPECT_EQ(recorder->lastError()->code(), MQTTSessionErrorNoPingResponse);

    proxy.setFilter(nullptr);
    auto second = std::make_shared<Recorder>();  // counts pings of the new connection only
    session->setDelegate(second);
    connectAndWait(session);
    advanceAnswered(5, *second);  // PINGRESPs come again: the connection stays
    EXPECT_EQ(session->status(), MQTTSessionStatusConnected);
    session->close();
}

}  // namespace
}  // namespace pellix::test
