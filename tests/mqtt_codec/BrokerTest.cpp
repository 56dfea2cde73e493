// Every packet builder at levels 3, 4 and 5 against a real mosquitto on
// loopback. The broker closes the connection on any malformed packet, so each
// exchange checks for the answer the broker owes (CONNACK, SUBACK, PUBACK, ...)
// and the broker's own packets are read with our framing and parser.
//
// With PELLIX_MQTT_CAPTURE_DIR set, the bytes each connection received are
// written there (the fuzz corpus of the stream decoder is seeded from them).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>

#include "CodecTestUtil.h"
#include "MQTTClient/MQTTFrameDecoder.h"
#include "MQTTClient/MQTTLog.h"
#include "MQTTClient/MQTTMessage.h"
#include "support/MosquittoBroker.h"
#include "support/TestSupport.h"

using namespace std::chrono_literals;
using pellix::MQTTMessage;
using pellix::MQTTMessagePtr;
using pellix::MQTTProperties;
using pellix::platform::Bytes;
using pellix::platform::Dictionary;

namespace {

const std::nullopt_t none = std::nullopt;

using Broker = pellix::test::MosquittoBroker;

// A raw TCP client speaking bytes we build, reading packets we frame.
class Client {
public:
    Client(int port, std::uint8_t level, std::string name) : level_(level), name_(std::move(name)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            throw std::runtime_error("connect failed");
        }
        frames_.open();
    }
    ~Client() {
        ::close(fd_);
        if (const char* dir = std::getenv("PELLIX_MQTT_CAPTURE_DIR")) {
            capture(std::string(dir) + "/" + name_ + "-l" + std::to_string(level_) + "-received.bin", captured_);
            capture(std::string(dir) + "/" + name_ + "-l" + std::to_string(level_) + "-sent.bin", sent_);
        }
    }

    // The fuzz target's input: protocol level, chunking seed, then the stream.
    void capture(const std::string& path, const Bytes& stream) const {
        if (stream.empty()) {
            return;
        }
        std::ofstream out(path, std::ios::binary);
        out.put(static_cast<char>(level_));
        out.put(static_cast<char>(stream.size() & 0xFF));
        out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }

    void send(const MQTTMessagePtr& message) {
        ASSERT_TRUE(message->encodable());
        Bytes wire = message->wireFormat();
        ASSERT_FALSE(wire.empty());
        ASSERT_EQ(::send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL), static_cast<ssize_t>(wire.size()));
        sent_.insert(sent_.end(), wire.begin(), wire.end());
    }

    // The next whole packet from the broker, parsed; nullptr on close or time-out.
    MQTTMessagePtr receive(std::chrono::milliseconds timeout = 5s) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (packets_.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              std::chrono::steady_clock::now());
            if (left.count() <= 0 || closed_) {
                return nullptr;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            std::uint8_t buf[4096];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed_ = true;
                return nullptr;
            }
            captured_.insert(captured_.end(), buf, buf + n);
            frames_.feed(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)), [this](auto packet) {
                packets_.emplace_back(packet.begin(), packet.end());
                return true;
            });
        }
        Bytes packet = std::move(packets_.front());
        packets_.pop_front();
        auto message = MQTTMessage::messageFromData(packet, level_);
        EXPECT_TRUE(message) << "unparsable packet " << pellix::test::toHex(packet);
        return message;
    }

    // The next packet, which must be of `type`.
    MQTTMessagePtr expect(std::uint8_t type) {
        auto m = receive();
        EXPECT_TRUE(m) << "no packet of type " << int(type) << " at level " << int(level_);
        if (m) {
            EXPECT_EQ(m->type(), type) << "at level " << int(level_);
        }
        return m;
    }

    bool closedByBroker(std::chrono::milliseconds timeout = 5s) {
        auto m = receive(timeout);
        return !m && closed_;
    }

    std::uint8_t level() const { return level_; }

private:
    int fd_ = -1;
    std::uint8_t level_;
    std::string name_;
    bool closed_ = false;
    pellix::MQTTFrameDecoder frames_;
    std::deque<Bytes> packets_;
    Bytes captured_;
    Bytes sent_;
};

// Topic and payload of a received PUBLISH, read as the session will: topic,
// identifier when QoS > 0, the level-5 property block, then the payload.
struct Delivery {
    std::string topic;
    Bytes payload;
    MQTTProperties properties;
};

Delivery unpack(const MQTTMessage& m, std::uint8_t level) {
    const Bytes& d = *m.data();
    Delivery out;
    std::size_t topicLength = static_cast<std::size_t>(d[0] << 8 | d[1]);
    out.topic.assign(d.begin() + 2, d.begin() + 2 + static_cast<std::ptrdiff_t>(topicLength));
    std::size_t pos = 2 + topicLength + (m.qos() > 0 ? 2 : 0);
    if (level == 5) {
        std::span<const std::uint8_t> rest(d.data() + pos, d.size() - pos);
        out.properties = MQTTProperties(rest);
        auto blockLength = MQTTProperties::getVariableLength(rest);
        pos += static_cast<std::size_t>(MQTTProperties::variableIntLength(blockLength) + blockLength);
    }
    out.payload.assign(d.begin() + static_cast<std::ptrdiff_t>(pos), d.end());
    return out;
}

MQTTMessagePtr plainConnect(const std::string& id, std::uint8_t level, bool clean = true) {
    return MQTTMessage::connectMessageWithClientId(id, none, none, 60, clean, false, none, none, 0, false, level, none,
                                                   none, none, none, none, none, none, none, none, none);
}

MQTTMessagePtr publish(const std::string& topic, const Bytes& payload, std::uint8_t qos, std::uint16_t mid,
                       std::uint8_t level, bool retain = false) {
    return MQTTMessage::publishMessageWithData(payload, topic, qos, mid, retain, false, level, none, none, none, none,
                                               none, none, none);
}

class BrokerLevel : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { pellix::MQTTLog::setLogLevel(pellix::MQTTLogLevelError | pellix::MQTTLogLevelWarning); }
    void TearDown() override { pellix::MQTTLog::setLogLevel(0x1F); }
    std::uint8_t level() const { return static_cast<std::uint8_t>(GetParam()); }
    Broker broker;
};

}  // namespace

TEST_P(BrokerLevel, ConnectSubscribePublishAndAcknowledgeEveryQoS) {
    const std::uint8_t L = level();
    Client c(broker.port(), L, "flows");
    c.send(MQTTMessage::connectMessageWithClientId("pellix-flows", std::string("user"), std::string("secret"), 30,
                                                   true, true, std::string("will/flows"), Bytes{'x'}, 1, false, L,
                                                   none, none, none, none, none, none, none, none, none, none));
    auto connack = c.expect(pellix::MQTTConnack);
    ASSERT_TRUE(connack);
    EXPECT_EQ(connack->returnCode(), 0u);
    EXPECT_EQ(connack->connectAcknowledgeFlags(), 0u);

    c.send(MQTTMessage::subscribeMessageWithMessageId(1, Dictionary{{"t/#", 2}, {"u", 1}}, L,
                                                      L == 5 ? std::optional<std::uint64_t>(7) : std::nullopt));
    auto suback = c.expect(pellix::MQTTSuback);
    ASSERT_TRUE(suback);
    EXPECT_EQ(suback->mid(), 1);
    // Granted QoS (level-5 reason codes) follow the identifier and, at 5, the property block.
    const Bytes& granted = *suback->data();
    EXPECT_EQ(granted[granted.size() - 2], 2);
    EXPECT_EQ(granted.back(), 1);

    // QoS 0 comes straight back.
    c.send(publish("t/zero", {'0'}, 0, 0, L));
    auto p0 = c.expect(pellix::MQTTPublish);
    ASSERT_TRUE(p0);
    auto d0 = unpack(*p0, L);
    EXPECT_EQ(d0.topic, "t/zero");
    EXPECT_EQ(d0.payload, Bytes{'0'});
    if (L == 5) {
        EXPECT_EQ(d0.properties.subscriptionIdentifier(), 7);
    }

    // QoS 1: our PUBACK for the broker's copy, its PUBACK for ours.
    c.send(publish("t/one", {'1'}, 1, 2, L));
    MQTTMessagePtr puback, delivered;
    for (int i = 0; i < 2; ++i) {
        auto m = c.receive();
        ASSERT_TRUE(m);
        (m->type() == pellix::MQTTPuback ? puback : delivered) = m;
    }
    ASSERT_TRUE(puback && delivered);
    EXPECT_EQ(puback->mid(), 2);
    if (L == 5) {
        EXPECT_EQ(puback->returnCode(), 0u);
    }
    EXPECT_EQ(delivered->qos(), 1);
    EXPECT_EQ(unpack(*delivered, L).payload, Bytes{'1'});
    c.send(MQTTMessage::pubackMessageWithMessageId(delivered->mid(), L, 0, none, none));

    // QoS 2 in both directions.
    c.send(publish("t/two", {'2'}, 2, 3, L));
    auto pubrec = c.expect(pellix::MQTTPubrec);
    ASSERT_TRUE(pubrec);
    EXPECT_EQ(pubrec->mid(), 3);
    c.send(MQTTMessage::pubrelMessageWithMessageId(3, L, 0, none, none));
    MQTTMessagePtr pubcomp, incoming;
    for (int i = 0; i < 2; ++i) {
        auto m = c.receive();
        ASSERT_TRUE(m);
        (m->type() == pellix::MQTTPubcomp ? pubcomp : incoming) = m;
    }
    ASSERT_TRUE(pubcomp && incoming);
    EXPECT_EQ(pubcomp->mid(), 3);
    ASSERT_EQ(incoming->type(), pellix::MQTTPublish);
    EXPECT_EQ(incoming->qos(), 2);
    c.send(MQTTMessage::pubrecMessageWithMessageId(incoming->mid(), L, 0, none, none));
    auto pubrel = c.expect(pellix::MQTTPubrel);
    ASSERT_TRUE(pubrel);
    EXPECT_EQ(pubrel->mid(), incoming->mid());
    c.send(MQTTMessage::pubcompMessageWithMessageId(incoming->mid(), L, 0, none, none));

    c.send(MQTTMessage::pingreqMessage());
    c.expect(pellix::MQTTPingresp);

    c.send(MQTTMessage::unsubscribeMessageWithMessageId(4, {"t/#", "u"}, L));
    auto unsuback = c.expect(pellix::MQTTUnsuback);
    ASSERT_TRUE(unsuback);
    EXPECT_EQ(unsuback->mid(), 4);

    // Nothing comes back once unsubscribed; the ping proves the connection lives.
    c.send(publish("t/zero", {'0'}, 0, 0, L));
    c.send(MQTTMessage::pingreqMessage());
    c.expect(pellix::MQTTPingresp);

    c.send(MQTTMessage::disconnectMessage(L, 0, none, none, none));
    EXPECT_TRUE(c.closedByBroker()) << broker.log();
}

TEST_P(BrokerLevel, WillIsPublishedWhenTheConnectionDrops) {
    const std::uint8_t L = level();
    Client watcher(broker.port(), L, "will-watcher");
    watcher.send(plainConnect("pellix-watcher", L));
    watcher.expect(pellix::MQTTConnack);
    watcher.send(MQTTMessage::subscribeMessageWithMessageId(1, Dictionary{{"will/#", 0}}, L, none));
    watcher.expect(pellix::MQTTSuback);
    {
        Client dying(broker.port(), L, "will-owner");
        dying.send(MQTTMessage::connectMessageWithClientId(
            "pellix-dying", none, none, 60, true, true, std::string("will/gone"), Bytes{'b', 'y', 'e'}, 0, false, L,
            none, none, none, none, L == 5 ? std::optional<std::uint32_t>(0) : std::nullopt, none, none, none, none,
            none));
        auto connack = dying.expect(pellix::MQTTConnack);
        ASSERT_TRUE(connack);
        EXPECT_EQ(connack->returnCode(), 0u);
    }  // closed without DISCONNECT
    auto will = watcher.expect(pellix::MQTTPublish);
    ASSERT_TRUE(will);
    auto d = unpack(*will, L);
    EXPECT_EQ(d.topic, "will/gone");
    EXPECT_EQ(d.payload, (Bytes{'b', 'y', 'e'}));
}

TEST_P(BrokerLevel, WillFieldsStayOffTheWireWithoutTheWillFlag) {
    const std::uint8_t L = level();
    Client c(broker.port(), L, "no-will");
    c.send(MQTTMessage::connectMessageWithClientId("pellix-nowill", none, none, 60, true, false, std::string("will/x"),
                                                   Bytes{'x'}, 0, false, L, none, none, none, none, none, none, none,
                                                   none, none, none));
    auto connack = c.expect(pellix::MQTTConnack);
    ASSERT_TRUE(connack);
    EXPECT_EQ(connack->returnCode(), 0u);
}

TEST_P(BrokerLevel, MalformedPacketIsRefusedByTheBroker) {
    // The check the other tests lean on: mosquitto drops a connection whose
    // packet it can't read (here a CONNECT whose will flags lack the will).
    const std::uint8_t L = level();
    Client c(broker.port(), L, "malformed");
    auto bad = plainConnect("pellix-bad", L);
    bad->setData([&] {
        Bytes d = *bad->data();
        d[L == 3 ? 9 : 7] |= 0x04;  // will flag without will topic and message
        return d;
    }());
    c.send(bad);
    EXPECT_TRUE(c.closedByBroker());
}

INSTANTIATE_TEST_SUITE_P(Levels, BrokerLevel, ::testing::Values(3, 4, 5));

TEST(BrokerLevelFive, PropertiesReachTheBrokerAndComeBack) {
    pellix::MQTTLog::setLogLevel(pellix::MQTTLogLevelError | pellix::MQTTLogLevelWarning);
    Broker broker;
    Client c(broker.port(), 5, "properties");
    c.send(MQTTMessage::connectMessageWithClientId("pellix-props", none, none, 60, true, false, none, none, 0, false,
                                                   5, 120u, none, none, 1u, none, 1u, 20u, 10u,
                                                   Dictionary{{"app", "pellix"}, {"门", "禁"}}, 65536u));
    auto connack = c.expect(pellix::MQTTConnack);
    ASSERT_TRUE(connack);
    EXPECT_EQ(connack->returnCode(), 0u);
    ASSERT_TRUE(connack->properties());

    c.send(MQTTMessage::subscribeMessageWithMessageId(1, Dictionary{{"p/#", 1}}, 5, none));
    c.expect(pellix::MQTTSuback);
    c.send(MQTTMessage::publishMessageWithData(Bytes{'h', 'i'}, "p/a", 1, 9, false, false, 5, 1u, 300u, 1u,
                                               std::string("p/reply"), Bytes{0xC0, 0xFF}, Dictionary{{"k", "v"}},
                                               std::string("text/plain")));
    MQTTMessagePtr delivered;
    for (int i = 0; i < 2; ++i) {
        auto m = c.receive();
        ASSERT_TRUE(m);
        if (m->type() == pellix::MQTTPublish) delivered = m;
    }
    ASSERT_TRUE(delivered);
    auto d = unpack(*delivered, 5);
    EXPECT_EQ(d.topic, "p/a");
    EXPECT_EQ(d.payload, (Bytes{'h', 'i'}));
    EXPECT_EQ(d.properties.payloadFormatIndicator(), 1);
    ASSERT_TRUE(d.properties.publicationExpiryInterval());
    EXPECT_LE(*d.properties.publicationExpiryInterval(), 300);
    EXPECT_EQ(d.properties.responseTopic(), "p/reply");
    EXPECT_EQ(d.properties.correlationData(), (Bytes{0xC0, 0xFF}));
    EXPECT_EQ(d.properties.contentType(), "text/plain");
    ASSERT_TRUE(d.properties.userProperty());
    EXPECT_EQ(d.properties.userProperty()->find("k")->asString(), "v");
    c.send(MQTTMessage::pubackMessageWithMessageId(delivered->mid(), 5, 0, std::string("thanks"),
                                                   Dictionary{{"a", "b"}}));

    c.send(MQTTMessage::pingreqMessage());
    c.expect(pellix::MQTTPingresp);
    c.send(MQTTMessage::disconnectMessage(5, 0x04, 0u, std::string("done"), Dictionary{{"why", "test"}}));
    EXPECT_TRUE(c.closedByBroker()) << broker.log();
}

TEST(BrokerLevelFive, RefusalCarriesReasonCodeAndProperties) {
    pellix::MQTTLog::setLogLevel(pellix::MQTTLogLevelError | pellix::MQTTLogLevelWarning);
    Broker broker;
    Client c(broker.port(), 5, "bad-auth");
    // An authentication method the broker doesn't offer: CONNACK 0x8C.
    c.send(MQTTMessage::connectMessageWithClientId("pellix-auth", none, none, 60, true, false, none, none, 0, false, 5,
                                                   none, std::string("SCRAM-SHA-1"), Bytes{1, 2, 3}, none, none,
                                                   none, none, none, none, none));
    auto connack = c.expect(pellix::MQTTConnack);
    ASSERT_TRUE(connack);
    EXPECT_EQ(connack->returnCode(), 0x8Cu);
    EXPECT_TRUE(c.closedByBroker());
}
