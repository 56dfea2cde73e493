// Level-5 acknowledgements that report failure, malformed level-5 property
// blocks, and a store with every message id taken.
#include <gtest/gtest.h>

#include <algorithm>

#include "MQTTClient/MQTTInMemoryPersistence.h"
#include "MQTTClient/MQTTLog.h"
#include "SessionTestKit.h"
#include "platform/Clock.h"

namespace pellix::test {
namespace {

platform::Bytes withMid(std::string head, const platform::Bytes& packet, std::string tail = {}) {
    // Copies the packet identifier of a client PUBLISH (topic "t") or PUBREL.
    const bool publish = (packet[0] >> 4) == MQTTPublish;
    const std::size_t at = publish ? 2 + 2 + (static_cast<std::size_t>(packet[2]) << 8 | packet[3]) : 2;
    auto out = hex(head);
    out.push_back(packet[at]);
    out.push_back(packet[at + 1]);
    auto rest = hex(tail);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

struct Level5 : ::testing::Test {
    void SetUp() override { MQTTLog::setLogLevel(0); }
};

TEST_F(Level5, FailureReasonsEndTheOutgoingFlow) {
    FakeBroker fake([](FakeConnection& conn, int) {
        conn.expect(MQTTConnect);
        conn.send(hex("20 03 00 00 00"));
        // QoS 1 refused by PUBACK 0x87 (not authorised).
        auto p1 = conn.expect(MQTTPublish);
        conn.send(withMid("40 03", *p1, "87"));
        // QoS 2 refused by PUBREC 0x80: no PUBREL may follow.
        auto p2 = conn.expect(MQTTPublish);
        conn.send(withMid("50 03", *p2, "80"));
        // QoS 2 accepted, then PUBCOMP 0x92 (packet identifier not found).
        auto p3 = conn.expect(MQTTPublish);
        EXPECT_EQ((*p3)[0] >> 4, MQTTPublish) << "a PUBREL followed a refused PUBREC";
        conn.send(withMid("50 02", *p3));
        auto rel = conn.expect(MQTTPubrel);
        conn.send(withMid("70 03", *rel, "92"));
        // And one that succeeds with a short level-5 PUBACK.
        auto p4 = conn.expect(MQTTPublish);
        conn.send(withMid("40 02", *p4));
        conn.closedByPeer(3s);
    });
    auto session = makeSession(fake.port(), "refused5", 5);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    bool connected = false;
    session->connectWithConnectHandler([&](platform::ErrorPtr e) {
        EXPECT_FALSE(e);
        connected = true;
    });
    ASSERT_TRUE(pump([&] { return connected; }));

    std::vector<std::int64_t> codes;
    const auto publish = [&](std::uint8_t qos) {
        bool answered = false;
        session->publishData(bytes("p"), "t", false, qos, [&](platform::ErrorPtr e) {
            codes.push_back(e ? e->code() : 0);
            if (e) {
                EXPECT_EQ(e->domain(), "MQTT");
            }
            answered = true;
        });
        EXPECT_TRUE(pump([&] { return answered; }));
    };
    publish(1);
    publish(2);
    publish(2);
    publish(1);
    EXPECT_EQ(codes, (std::vector<std::int64_t>{0x87, 0x80, 0x92, 0}));
    EXPECT_EQ(recorder->delivered().size(), 1u);  // only the last one
    EXPECT_TRUE(session->persistence()->allFlowsforClientId("refused5", false).empty());
    session->close();
    EXPECT_TRUE(fake.done());
}

// The SUBACK's property block is skipped so the list holds only reason
// codes; a code from 0x80 up is a refusal the caller must hear of, from the
// handler and from the blocking form alike. The broker-assigned client id of
// an empty-id CONNECT is kept.
TEST_F(Level5, SubackRefusalIsReportedAndTheAssignedClientIdKept) {
    FakeBroker fake([](FakeConnection& conn, int) {
        conn.expect(MQTTConnect);
        // Assigned client identifier "assigned".
        conn.send(hex("20 0E 00 00 0B 12 00 08 61 73 73 69 67 6E 65 64"));
        // SUBACK with a reason-string property before the codes 1 and 0x80.
        auto sub = conn.expect(MQTTSubscribe);
        conn.send(platform::Bytes{0x90, 0x08, (*sub)[2], (*sub)[3], 0x03, 0x1F, 0x00, 0x00, 0x01, 0x80});
        sub = conn.expect(MQTTSubscribe);
        conn.send(platform::Bytes{0x90, 0x04, (*sub)[2], (*sub)[3], 0x00, 0x80});
        sub = conn.expect(MQTTSubscribe);
        conn.send(platform::Bytes{0x90, 0x04, (*sub)[2], (*sub)[3], 0x00, 0x01});
        // A sound QoS 2 PUBLISH: content type "x", payload "ok".
        conn.send(hex("34 0C 00 01 74 00 09 04 03 00 01 78 6F 6B"));
        auto rec = conn.expect(MQTTPubrec);
        conn.send(hex("62 02 00 09"));
        conn.expect(MQTTPubcomp);
        conn.closedByPeer(3s);
    });
    auto session = makeSession(fake.port(), "", 5);
    auto recorder = std::make_shared<Recorder>();
    session->setDelegate(recorder);
    connectAndWait(session);
    EXPECT_EQ(session->assignedClientIdentifier(), "assigned");

    std::optional<platform::Array> granted;
    platform::ErrorPtr error;
    bool answered = false;
    session->subscribeToTopics(platform::Dictionary{{"t", platform::Value(1)}, {"u", platform::Value(1)}},
                               [&](platform::ErrorPtr e, const std::optional<platform::Array>& g) {
                                   error = e;
                                   granted = g;
                                   answered = true;
                               });
    ASSERT_TRUE(pump([&] { return answered; }));
    ASSERT_TRUE(granted);
    EXPECT_EQ(*granted, (platform::Array{platform::Value(1), platform::Value(128)}));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), MQTTSessionErrorSubscriptionRefused);
    EXPECT_FALSE(session->subscribeAndWaitToTopic("refused", 1, 5));
    EXPECT_TRUE(session->subscribeAndWaitToTopic("granted", 1, 5));

    ASSERT_TRUE(pump([&] { return recorder->messages().size() == 1; }));
    EXPECT_EQ(str(recorder->messages()[0].data), "ok");
    EXPECT_EQ(session->status(), MQTTSessionStatusConnected);
    session->close();
    EXPECT_TRUE(fake.done());
}

TEST(SessionLimits, MessageIdsRunOutInsteadOfLooping) {
    MQTTLog::setLogLevel(0);
    auto store = MQTTInMemoryPersistence::create();
    store->setMaxMessages(70000);
    auto session = MQTTSession::create();
    session->setClientId("crowded");
    session->setPersistence(store);
    EXPECT_EQ(session->nextMsgId(), 2);
    for (unsigned id = 1; id <= 65535; ++id) {
        // Straight into the maps: storing counts the client's flows each time.
        ASSERT_TRUE(store->createFlowforClientId("crowded", false, static_cast<std::uint16_t>(id)));
    }
    platform::ErrorPtr error;
    EXPECT_EQ(session->publishData(bytes("x"), "t", false, 1, [&](platform::ErrorPtr e) { error = e; }), 0);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), -6);
    EXPECT_EQ(error->localizedDescription(), "Dropping outgoing Message");
    // SUBSCRIBE and UNSUBSCRIBE need an id too: refused rather than sent with 0.
    platform::ErrorPtr subError, unsubError;
    EXPECT_EQ(session->subscribeToTopic("t", 1, [&](platform::ErrorPtr e, const auto&) { subError = e; }), 0);
    EXPECT_EQ(session->unsubscribeTopic("t", [&](platform::ErrorPtr e) { unsubError = e; }), 0);
    for (const auto& e : {subError, unsubError}) {
        ASSERT_TRUE(e);
        EXPECT_EQ(e->code(), MQTTSessionErrorNoFreeMessageId);
    }
    EXPECT_FALSE(session->subscribeAndWaitToTopic("t", 1, 0));  // returns at once, no wait for ever
    // One id set free is found again, wherever the counter stands.
    store->deleteFlow(store->flowforClientId("crowded", false, 777));
    EXPECT_EQ(session->nextMsgId(), 777);
    store->deleteAllFlowsForClientId("crowded");
}

TEST(SessionLimits, IdsSkipThoseHeldAndWrapPastZero) {
    auto store = MQTTInMemoryPersistence::create();
    auto session = MQTTSession::create();
    session->setClientId("wrapping");
    session->setPersistence(store);
    for (std::uint16_t id : {3, 4}) {
        store->storeMessageForClientId("wrapping", "t", {}, false, 1, id, false, 3, 0);
    }
    EXPECT_EQ(session->nextMsgId(), 2);
    EXPECT_EQ(session->nextMsgId(), 5);
    for (int i = 5; i < 65535; ++i) {
        session->nextMsgId();
    }
    EXPECT_EQ(session->nextMsgId(), 1);  // after 65535 comes 1, never 0
    store->deleteAllFlowsForClientId("wrapping");
}

}  // namespace
}  // namespace pellix::test

namespace pellix::test {
namespace {

// Counts the outgoing PUBLISHes in flight as the session sends and completes them.
struct WindowRecorder : Recorder {
    void sending(MQTTSession& s, std::uint8_t type, std::uint8_t qos, bool retained, bool duped, std::uint16_t mid,
                 const platform::Bytes& data) override {
        Recorder::sending(s, type, qos, retained, duped, mid, data);
        if (type == MQTTPublish && qos > 0 && !duped) most = std::max(most, ++inFlight);
    }
    void messageDelivered(MQTTSession& s, std::uint16_t mid) override {
        Recorder::messageDelivered(s, mid);
        --inFlight;
    }
    int inFlight = 0, most = 0;
};

// mosquitto announcing Receive Maximum 2 and Maximum Packet Size 256 in its
// CONNACK: the session keeps to both, so nothing is dropped and the
// connection stays up. Seen through the proxy, the CONNACK must carry them.
TEST(Level5Limits, ReceiveMaximumAndMaximumPacketSizeAreKept) {
    MQTTLog::setLogLevel(0);
    MosquittoBroker broker({.extraConfig = "max_inflight_messages 2\nmax_packet_size 256\n",
                            .whileWaiting = [] { pumpFor(0.02); }});
    Proxy proxy(broker.port());
    auto session = makeSession(proxy.port(), "limits5", 5);
    auto recorder = std::make_shared<WindowRecorder>();
    session->setDelegate(recorder);
    connectAndWait(session);
    const auto connack = proxy.seenPackets(Proxy::ToClient).at(0);
    const auto has = [&](const platform::Bytes& property) {
        return std::search(connack.begin(), connack.end(), property.begin(), property.end()) != connack.end();
    };
    ASSERT_TRUE(has(hex("21 00 02"))) << "no Receive Maximum 2 in the CONNACK";
    ASSERT_TRUE(has(hex("27 00 00 01 00"))) << "no Maximum Packet Size 256 in the CONNACK";

    int completed = 0;
    for (int i = 0; i < 5; ++i) {
        session->publishData(bytes("m" + std::to_string(i)), "t", false, 2, [&](platform::ErrorPtr e) {
            EXPECT_FALSE(e);
            ++completed;
        });
    }
    ASSERT_TRUE(pump([&] { return completed == 5; }));
    EXPECT_LE(recorder->most, 2) << "more QoS 2 messages in flight than the broker's Receive Maximum";
    EXPECT_EQ(session->status(), MQTTSessionStatusConnected);

    // Packet size: 1 + 2 (remaining length) + 2 + 1 (topic) + 2 (id) + 1 (properties) + payload.
    platform::ErrorPtr error;
    bool answered = false;
    EXPECT_EQ(session->publishData(platform::Bytes(248, 'x'), "t", false, 1, [&](platform::ErrorPtr e) {
        error = e;
        answered = true;
    }), 0);
    ASSERT_TRUE(answered);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), MQTTSessionErrorMessageTooLarge);
    EXPECT_TRUE(session->persistence()->allFlowsforClientId("limits5", false).empty());
    EXPECT_TRUE(session->publishAndWaitData(platform::Bytes(247, 'x'), "t", false, 1, 5));
    EXPECT_EQ(session->status(), MQTTSessionStatusConnected);
    session->close();
}

}  // namespace
}  // namespace pellix::test
