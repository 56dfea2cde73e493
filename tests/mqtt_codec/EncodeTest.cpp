// Golden wire bytes of the packet builders.
#include <gtest/gtest.h>

#include "CodecTestUtil.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"

using pellix::MQTTMessage;
using pellix::MQTTMessagePtr;
using pellix::platform::Bytes;
using pellix::platform::Dictionary;
using pellix::platform::Value;
using pellix::test::hex;
using pellix::test::toHex;

namespace {

const std::nullopt_t none = std::nullopt;

MQTTMessagePtr connect(const std::string& clientId, std::optional<std::string> user, std::optional<std::string> pass,
                       std::int64_t keepAlive, bool clean, std::uint8_t level, bool will = false,
                       std::optional<std::string> willTopic = none, std::optional<Bytes> willMsg = none,
                       std::uint8_t willQoS = 0, bool willRetain = false) {
    return MQTTMessage::connectMessageWithClientId(clientId, user, pass, keepAlive, clean, will, willTopic, willMsg,
                                                   willQoS, willRetain, level, none, none, none, none, none, none,
                                                   none, none, none, none);
}

std::string wire(const MQTTMessagePtr& m) { return toHex(m->wireFormat()); }

class Encode : public ::testing::Test {
protected:
    void SetUp() override { pellix::MQTTLog::setLogLevel(0); }
};

}  // namespace

TEST_F(Encode, PingreqAndDisconnect) {
    EXPECT_EQ(wire(MQTTMessage::pingreqMessage()), "C0 00");
    EXPECT_EQ(wire(MQTTMessage::disconnectMessage(4, 0x04, 10u, std::string("x"), none)), "E0 00");
    EXPECT_EQ(wire(MQTTMessage::disconnectMessage(5, 0, none, none, none)), "E0 00");
    EXPECT_EQ(wire(MQTTMessage::disconnectMessage(5, 0x04, none, none, none)), "E0 01 04");
    EXPECT_EQ(wire(MQTTMessage::disconnectMessage(5, 0, none, std::string("bye"), none)),
              "E0 08 00 06 1F 00 03 62 79 65");
    EXPECT_EQ(wire(MQTTMessage::disconnectMessage(5, 0x8E, 3600u, none, Dictionary{{"a", "b"}})),
              "E0 0E 8E 0C 11 00 00 0E 10 26 00 01 61 00 01 62");
}

TEST_F(Encode, ConnectHeaderPerLevel) {
    EXPECT_EQ(wire(connect("c", none, none, 60, true, 4)), "10 0D 00 04 4D 51 54 54 04 02 00 3C 00 01 63");
    EXPECT_EQ(wire(connect("c", none, none, 60, true, 3)), "10 0F 00 06 4D 51 49 73 64 70 03 02 00 3C 00 01 63");
    EXPECT_EQ(wire(connect("c", none, none, 60, true, 5)), "10 0E 00 04 4D 51 54 54 05 02 00 3C 00 00 01 63");
    EXPECT_EQ(wire(connect("c", none, none, 60, false, 0)), "10 09 00 00 00 00 00 3C 00 01 63");
    EXPECT_EQ(wire(connect("c", none, none, 60, false, 7)), "10 0D 00 04 4D 51 54 54 07 00 00 3C 00 01 63");
    // Only the low 16 bits of the keep-alive.
    EXPECT_EQ(wire(connect("c", none, none, 65536, false, 4)), "10 0D 00 04 4D 51 54 54 04 00 00 00 00 01 63");
}

TEST_F(Encode, ConnectCredentialFlagsFollowPresence) {
    EXPECT_EQ(wire(connect("c", std::string("u"), none, 0, false, 4)),
              "10 10 00 04 4D 51 54 54 04 80 00 00 00 01 63 00 01 75");
    EXPECT_EQ(wire(connect("c", none, std::string("p"), 0, false, 4)),
              "10 10 00 04 4D 51 54 54 04 40 00 00 00 01 63 00 01 70");
    EXPECT_EQ(wire(connect("c", std::string("u"), std::string("p"), 0, false, 4, true, std::string("w"),
                           Bytes{0x21}, 2, true)),
              "10 19 00 04 4D 51 54 54 04 F4 00 00 00 01 63 00 01 77 00 01 21 00 01 75 00 01 70");
}

TEST_F(Encode, WillFieldsOnlyWithTheWillFlag) {
    // Without the flag, a will topic and message given anyway stay off the
    // wire; the broker would otherwise read them as user name and password.
    EXPECT_EQ(wire(connect("c", none, none, 0, false, 4, false, std::string("w"), Bytes{0x21})),
              "10 0D 00 04 4D 51 54 54 04 00 00 00 00 01 63");
    // So do the will QoS and retain bits: a broker closes a CONNECT that sets
    // them without the flag as malformed.
    EXPECT_EQ(wire(connect("c", none, none, 0, false, 4, false, none, none, 2, true)),
              "10 0D 00 04 4D 51 54 54 04 00 00 00 00 01 63");
    // At level 5 the will properties precede the will topic.
    auto m = MQTTMessage::connectMessageWithClientId("c", none, none, 0, false, true, std::string("w"), Bytes{0x21}, 1,
                                                     false, 5, none, none, none, none, 30u, none, none, none, none,
                                                     none);
    EXPECT_EQ(wire(m), "10 1A 00 04 4D 51 54 54 05 0C 00 00 00 00 01 63 05 18 00 00 00 1E 00 01 77 00 01 21");
    auto plain = MQTTMessage::connectMessageWithClientId("c", none, none, 0, false, true, std::string("w"),
                                                         Bytes{}, 0, false, 5, none, none, none, none, none, none,
                                                         none, none, none, none);
    EXPECT_EQ(wire(plain), "10 14 00 04 4D 51 54 54 05 04 00 00 00 00 01 63 00 00 01 77 00 00");
}

TEST_F(Encode, ConnectLevelFivePropertiesInOrder) {
    auto m = MQTTMessage::connectMessageWithClientId(
        "c", none, none, 60, true, false, none, none, 0, false, 5, 3600u, std::string("m"), Bytes{0x09}, 1u, 99u, 1u,
        10u, 5u, Dictionary{{"k", "v"}}, 1024u);
    EXPECT_EQ(wire(m),
              "10 31 00 04 4D 51 54 54 05 02 00 3C 23 11 00 00 0E 10 15 00 01 6D 16 00 01 09 17 01 19 01 21 00 0A "
              "22 00 05 26 00 01 6B 00 01 76 27 00 00 04 00 00 01 63");
}

TEST_F(Encode, SubscribeAndUnsubscribe) {
    auto sub4 = MQTTMessage::subscribeMessageWithMessageId(10, Dictionary{{"a/b", 1}}, 4, none);
    EXPECT_EQ(wire(sub4), "82 08 00 0A 00 03 61 2F 62 01");
    EXPECT_EQ(sub4->mid(), 10);
    EXPECT_EQ(sub4->qos(), 1);
    auto sub5 = MQTTMessage::subscribeMessageWithMessageId(10, Dictionary{{"a", 0x2A}, {"b", 2}}, 5, 200u);
    EXPECT_EQ(wire(sub5), "82 0E 00 0A 03 0B C8 01 00 01 61 2A 00 01 62 02");
    EXPECT_EQ(wire(MQTTMessage::subscribeMessageWithMessageId(1, Dictionary{{"a", 0}}, 5, none)),
              "82 07 00 01 00 00 01 61 00");
    EXPECT_EQ(wire(MQTTMessage::unsubscribeMessageWithMessageId(7, {"a", "bc"}, 4)), "A2 09 00 07 00 01 61 00 02 62 63");
    EXPECT_EQ(wire(MQTTMessage::unsubscribeMessageWithMessageId(7, {"a"}, 5)), "A2 06 00 07 00 00 01 61");
}

TEST_F(Encode, PublishIdentifierFollowsTheIdentifierArgument) {
    auto publish = [](std::uint8_t qos, std::uint16_t mid, std::uint8_t level, bool retain = false,
                      bool dup = false) {
        return MQTTMessage::publishMessageWithData(Bytes{0x68, 0x69}, "t", qos, mid, retain, dup, level, none, none,
                                                   none, none, none, none, none);
    };
    EXPECT_EQ(wire(publish(0, 0, 4)), "30 05 00 01 74 68 69");
    EXPECT_EQ(wire(publish(1, 0, 4)), "32 05 00 01 74 68 69");
    EXPECT_EQ(wire(publish(2, 0x1234, 4, true, true)), "3D 07 00 01 74 12 34 68 69");
    EXPECT_EQ(wire(publish(1, 5, 5)), "32 08 00 01 74 00 05 00 68 69");
    auto full = MQTTMessage::publishMessageWithData(Bytes{}, "t", 0, 0, false, false, 5, 1u, 60u, 3u,
                                                    std::string("r"), Bytes{0x07}, Dictionary{{"k", "v"}},
                                                    std::string("c"));
    EXPECT_EQ(wire(full), "30 21 00 01 74 1D 01 01 02 00 00 00 3C 23 00 03 08 00 01 72 09 00 01 07 26 00 01 6B 00 01 "
                          "76 03 00 01 63");
}

TEST_F(Encode, AcknowledgementFamily) {
    using Builder = MQTTMessagePtr (*)(std::uint16_t, std::uint8_t, std::uint64_t, const std::optional<std::string>&,
                                       const std::optional<Dictionary>&);
    struct Case {
        Builder build;
        const char* first;
    } cases[] = {{&MQTTMessage::pubackMessageWithMessageId, "40"},
                 {&MQTTMessage::pubrecMessageWithMessageId, "50"},
                 {&MQTTMessage::pubrelMessageWithMessageId, "62"},
                 {&MQTTMessage::pubcompMessageWithMessageId, "70"}};
    for (const auto& c : cases) {
        EXPECT_EQ(wire(c.build(0x0102, 4, 0x80, std::string("x"), none)), std::string(c.first) + " 02 01 02");
        EXPECT_EQ(wire(c.build(0x0102, 5, 0, none, none)), std::string(c.first) + " 04 01 02 00 00");
        EXPECT_EQ(wire(c.build(0x0102, 5, 0x110, std::string("no"), none)),
                  std::string(c.first) + " 09 01 02 10 05 1F 00 02 6E 6F");
        EXPECT_EQ(c.build(0x0102, 4, 0, none, none)->mid(), 0x0102);
    }
}

TEST_F(Encode, RemainingLengthAndUnsetData) {
    MQTTMessage m128(pellix::MQTTPublish, Bytes(128, 0));
    auto w = m128.wireFormat();
    EXPECT_EQ(toHex(Bytes(w.begin(), w.begin() + 3)), "30 80 01");
    MQTTMessage m16k(pellix::MQTTPublish, Bytes(16384, 0));
    w = m16k.wireFormat();
    EXPECT_EQ(toHex(Bytes(w.begin(), w.begin() + 4)), "30 80 80 01");
    EXPECT_EQ(toHex(MQTTMessage(pellix::MQTTPuback).wireFormat()), "40 00");
    EXPECT_EQ(toHex(MQTTMessage().wireFormat()), "00 00");
}

TEST_F(Encode, OverlongFieldsMakeThePacketUnencodable) {
    const std::string longTopic(65536, 't');
    auto publish = MQTTMessage::publishMessageWithData(Bytes{1}, longTopic, 0, 0, false, false, 4, none, none, none,
                                                       none, none, none, none);
    EXPECT_FALSE(publish->encodable());
    EXPECT_TRUE(publish->wireFormat().empty());
    Bytes out{0xAA};
    EXPECT_FALSE(publish->appendWireFormat(out));
    EXPECT_EQ(out.size(), 1u);

    auto userProp = MQTTMessage::pubackMessageWithMessageId(1, 5, 0, none, Dictionary{{"k", longTopic}});
    EXPECT_TRUE(userProp->wireFormat().empty());
    auto client = connect(std::string(70000, 'c'), none, none, 0, false, 4);
    EXPECT_TRUE(client->wireFormat().empty());
    auto subscribe = MQTTMessage::subscribeMessageWithMessageId(1, Dictionary{{longTopic, 0}}, 4, none);
    EXPECT_TRUE(subscribe->wireFormat().empty());

    // The limit itself is fine.
    auto edge = MQTTMessage::publishMessageWithData(Bytes{}, std::string(65535, 't'), 0, 0, false, false, 4, none,
                                                    none, none, none, none, none, none);
    EXPECT_EQ(edge->wireFormat().size(), 1u + 3 + 2 + 65535);
}
