// The parser's acceptance rules, the fields it takes, and the warning it logs
// for each refusal.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "CodecTestUtil.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"
#include "platform/Log.h"

using pellix::MQTTMessage;
using pellix::platform::Bytes;
using pellix::test::hex;

namespace {

// Captures the lines written to the system log.
class LogCapture {
public:
    LogCapture() {
        pellix::platform::Log::setSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { pellix::platform::Log::setSink({}); }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

class Parse : public ::testing::Test {
protected:
    void SetUp() override { pellix::MQTTLog::setLogLevel(pellix::MQTTLogLevelWarning); }
    void TearDown() override { pellix::MQTTLog::setLogLevel(0x1F); }
    LogCapture log;
};

}  // namespace

TEST_F(Parse, RefusalsNameTheirReason) {
    struct Case {
        const char* bytes;
        std::uint8_t level;
        std::vector<std::string> lines;
    } cases[] = {
        {"D0", 4, {"[MQTTMessage] message data length < 2"}},
        {"F0 00", 5, {"[MQTTMessage] illegal message type"}},
        {"00 00", 4, {"[MQTTMessage] illegal message type"}},
        {"30 80", 4,
         {"[MQTTMessage] message data incomplete remaining length", "[MQTTMessage] remaining data wrong length"}},
        {"30 80 80 80 00", 4,
         {"[MQTTMessage] message data too long remaining length", "[MQTTMessage] remaining data wrong length"}},
        // Reading stops at the fourth length byte, whatever follows.
        {"30 FF FF FF FF FF FF 7F", 4,
         {"[MQTTMessage] message data too long remaining length", "[MQTTMessage] remaining data wrong length"}},
        {"D0 01", 4, {"[MQTTMessage] remaining data wrong length"}},
        {"D0 00 00", 4, {"[MQTTMessage] remaining data wrong length"}},
        {"36 03 00 01 74", 4, {"[MQTTMessage] illegal header flags"}},
        {"60 02 00 01", 4, {"[MQTTMessage] illegal header flags"}},
        {"80 03 00 01 00", 4, {"[MQTTMessage] illegal header flags"}},
        {"A0 03 00 01 00", 4, {"[MQTTMessage] illegal header flags"}},
        {"42 02 00 01", 4, {"[MQTTMessage] illegal header flags"}},
        {"40 01 00", 4, {"[MQTTMessage] missing packet identifier"}},
        {"32 01 00", 4, {"[MQTTMessage] missing packet identifier"}},
        {"10 02 00 04", 4, {"[MQTTMessage] missing connect variable header"}},
        {"20 02 01 00", 5, {"[MQTTMessage] missing connack variable header"}},
        {"20 03 00 00 00", 4, {"[MQTTMessage] missing connack variable header"}},
        {"40 03 00 05 10", 4, {"[MQTTMessage] unexpected payload after packet identifier"}},
        {"B0 04 00 07 00 00", 4, {"[MQTTMessage] unexpected payload after packet identifier"}},
        {"82 02 00 01", 4, {"[MQTTMessage] missing subscribe variable header"}},
        {"90 02 00 01", 5, {"[MQTTMessage] missing suback variable header"}},
        {"A2 02 00 01", 4, {"[MQTTMessage] missing unsubscribe variable header"}},
        {"C0 01 00", 4, {"[MQTTMessage] unexpected payload"}},
        {"D0 01 00", 5, {"[MQTTMessage] unexpected payload"}},
        {"E0 01 00", 4, {"[MQTTMessage] unexpected payload"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MQTTMessage::messageFromData(hex(c.bytes), c.level), nullptr) << c.bytes;
        EXPECT_EQ(log.take(), c.lines) << c.bytes;
    }
}

TEST_F(Parse, SimplePacketsAndHeaderBits) {
    auto pingresp = MQTTMessage::messageFromData(hex("D0 00"), 4);
    ASSERT_TRUE(pingresp);
    EXPECT_EQ(pingresp->type(), pellix::MQTTPingresp);
    EXPECT_EQ(pingresp->mid(), 0);
    EXPECT_EQ(pingresp->data(), Bytes{});

    // Dup and retain bits are not checked for acknowledgements.
    auto puback = MQTTMessage::messageFromData(hex("49 02 00 01"), 4);
    ASSERT_TRUE(puback);
    EXPECT_TRUE(puback->dupFlag());
    EXPECT_TRUE(puback->retainFlag());
    EXPECT_EQ(puback->mid(), 1);
    EXPECT_FALSE(puback->returnCode());

    for (int level : {3, 4, 5}) {
        auto disconnect = MQTTMessage::messageFromData(hex("E0 00"), static_cast<std::uint8_t>(level));
        ASSERT_TRUE(disconnect) << level;
        EXPECT_EQ(disconnect->returnCode().has_value(), level == 5);
    }
    EXPECT_TRUE(log.take().empty());
}

TEST_F(Parse, ConnackPerLevel) {
    auto v4 = MQTTMessage::messageFromData(hex("20 02 01 00"), 4);
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->connectAcknowledgeFlags(), 1u);
    EXPECT_EQ(v4->returnCode(), 0u);
    EXPECT_FALSE(v4->properties());

    auto v5 = MQTTMessage::messageFromData(hex("20 03 00 00 00"), 5);
    ASSERT_TRUE(v5);
    ASSERT_TRUE(v5->properties());
    EXPECT_FALSE(v5->properties()->serverKeepAlive());

    auto props = MQTTMessage::messageFromData(hex("20 09 00 86 06 13 00 1E 24 01 99"), 5);
    ASSERT_TRUE(props);
    EXPECT_EQ(props->returnCode(), 0x86u);
    EXPECT_EQ(props->properties()->serverKeepAlive(), 30);
    EXPECT_EQ(props->properties()->maximumQoS(), 1);
}

TEST_F(Parse, AcknowledgementsAtLevelFive) {
    // The short form a broker sends for success: identifier only.
    for (const char* bytes : {"40 02 00 05", "50 02 00 05", "62 02 00 05", "70 02 00 05"}) {
        auto ack = MQTTMessage::messageFromData(hex(bytes), 5);
        ASSERT_TRUE(ack) << bytes;
        EXPECT_EQ(ack->mid(), 5);
        EXPECT_EQ(ack->returnCode(), 0u);
        EXPECT_FALSE(ack->properties());
    }
    auto withCode = MQTTMessage::messageFromData(hex("40 03 00 05 10"), 5);
    ASSERT_TRUE(withCode);
    EXPECT_EQ(withCode->returnCode(), 0x10u);
    ASSERT_TRUE(withCode->properties());
    EXPECT_FALSE(withCode->properties()->reasonString());

    auto withReason = MQTTMessage::messageFromData(hex("50 0A 00 05 87 06 1F 00 03 6E 6F 21"), 5);
    ASSERT_TRUE(withReason);
    EXPECT_EQ(withReason->returnCode(), 0x87u);
    EXPECT_EQ(withReason->properties()->reasonString(), "no!");

    auto unsuback = MQTTMessage::messageFromData(hex("B0 04 00 07 00 00"), 5);
    ASSERT_TRUE(unsuback);
    EXPECT_EQ(unsuback->mid(), 7);
    EXPECT_TRUE(log.take().empty());
}

TEST_F(Parse, DisconnectAtLevelFive) {
    auto one = MQTTMessage::messageFromData(hex("E0 01 8E"), 5);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->returnCode(), 0x8Eu);
    EXPECT_FALSE(one->properties());

    auto withProps = MQTTMessage::messageFromData(hex("E0 07 8B 05 1F 00 02 6E 6F"), 5);
    ASSERT_TRUE(withProps);
    EXPECT_EQ(withProps->returnCode(), 0x8Bu);
    EXPECT_EQ(withProps->properties()->reasonString(), "no");
}

TEST_F(Parse, PublishIdentifierAndLongestLength) {
    auto qos1 = MQTTMessage::messageFromData(hex("32 07 00 03 61 2F 62 00 2A"), 4);
    ASSERT_TRUE(qos1);
    EXPECT_EQ(qos1->mid(), 42);
    EXPECT_EQ(qos1->qos(), 1);
    // Topic length larger than the data: identifier stays 0 for the session to drop.
    auto shortTopic = MQTTMessage::messageFromData(hex("34 03 00 09 61"), 4);
    ASSERT_TRUE(shortTopic);
    EXPECT_EQ(shortTopic->mid(), 0);

    Bytes big = hex("30 FF FF 7F");
    big.resize(4 + 2097151, 0);
    auto longest = MQTTMessage::messageFromData(big, 4);
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->data()->size(), 2097151u);
}

TEST_F(Parse, ReusedRecordStartsFresh) {
    MQTTMessage record;
    ASSERT_TRUE(MQTTMessage::parse(hex("20 09 00 86 06 13 00 1E 24 01 99"), 5, record));
    ASSERT_TRUE(MQTTMessage::parse(hex("3B 05 00 01 74 00 09"), 5, record));
    EXPECT_EQ(record.type(), pellix::MQTTPublish);
    EXPECT_TRUE(record.dupFlag());
    EXPECT_TRUE(record.retainFlag());
    EXPECT_EQ(record.mid(), 9);
    EXPECT_FALSE(record.returnCode());
    EXPECT_FALSE(record.connectAcknowledgeFlags());
    EXPECT_FALSE(record.properties());
    EXPECT_EQ(record.data(), hex("00 01 74 00 09"));
    EXPECT_FALSE(MQTTMessage::parse(hex("F0 00"), 5, record));
    EXPECT_EQ(record.type(), 0);
}

TEST_F(Parse, RoundTripOfEveryBuilder) {
    using pellix::platform::Dictionary;
    const auto none = std::nullopt;
    for (std::uint8_t level : {3, 4, 5}) {
        std::vector<pellix::MQTTMessagePtr> built = {
            MQTTMessage::connectMessageWithClientId("id", std::string("u"), std::string("p"), 30, true, true,
                                                    std::string("w"), Bytes{1}, 1, false, level, none, none, none,
                                                    none, none, none, none, none, none, none),
            MQTTMessage::pingreqMessage(),
            MQTTMessage::disconnectMessage(level, 0, none, none, none),
            MQTTMessage::subscribeMessageWithMessageId(3, Dictionary{{"a/#", 1}}, level, none),
            MQTTMessage::unsubscribeMessageWithMessageId(4, {"a/#"}, level),
            MQTTMessage::publishMessageWithData(Bytes{1, 2, 3}, "a/b", 2, 5, true, false, level, none, none, none,
                                                none, none, none, none),
            MQTTMessage::pubackMessageWithMessageId(6, level, 0, none, none),
            MQTTMessage::pubrecMessageWithMessageId(7, level, 0, none, none),
            MQTTMessage::pubrelMessageWithMessageId(8, level, 0, none, none),
            MQTTMessage::pubcompMessageWithMessageId(9, level, 0, none, none),
        };
        for (const auto& m : built) {
            auto back = MQTTMessage::messageFromData(m->wireFormat(), level);
            ASSERT_TRUE(back) << int(m->type()) << " at " << int(level);
            EXPECT_EQ(back->type(), m->type());
            EXPECT_EQ(back->qos(), m->qos());
            EXPECT_EQ(back->mid(), m->mid());
            EXPECT_EQ(back->data().value_or(Bytes{}), m->data().value_or(Bytes{}));
            EXPECT_EQ(back->wireFormat(), m->wireFormat());
        }
    }
    EXPECT_TRUE(log.take().empty());
}
