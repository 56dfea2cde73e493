// Framing of the byte stream into packets, however the chunks fall.
#include <gtest/gtest.h>

#include "CodecTestUtil.h"
#include "MQTTClient/MQTTFrameDecoder.h"

using pellix::MQTTFrameDecoder;
using pellix::platform::Bytes;
using pellix::test::hex;
using pellix::test::toHex;

namespace {

struct Collector {
    MQTTFrameDecoder decoder;
    std::vector<Bytes> packets;

    Collector() { decoder.open(); }
    void feed(const Bytes& chunk) {
        decoder.feed(chunk, [this](std::span<const std::uint8_t> p) {
            packets.emplace_back(p.begin(), p.end());
            return true;
        });
    }
};

// A stream of a few packets of different shapes: empty body, one- and
// two-byte lengths, a body of exactly 127.
Bytes sampleStream() {
    Bytes s = hex("D0 00 20 02 00 00");
    Bytes publish = hex("30 C8 01 00 01 74");
    publish.resize(3 + 200, 0x5A);
    s.insert(s.end(), publish.begin(), publish.end());
    Bytes p127 = hex("32 7F 00 01 74 00 01");
    p127.resize(2 + 127, 0x11);
    s.insert(s.end(), p127.begin(), p127.end());
    auto tail = hex("E0 00");
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
}

std::vector<Bytes> wholeFeed(const Bytes& stream) {
    Collector c;
    c.feed(stream);
    return c.packets;
}

}  // namespace

TEST(MQTTFrameDecoder, SeveralPacketsInOneChunkComeOutInOrder) {
    Collector c;
    c.feed(hex("D0 00 D0 00"));
    ASSERT_EQ(c.packets.size(), 2u);
    EXPECT_EQ(toHex(c.packets[0]), "D0 00");
    EXPECT_EQ(toHex(c.packets[1]), "D0 00");
    EXPECT_EQ(c.decoder.state(), pellix::MQTTDecoderStateHeader);
}

TEST(MQTTFrameDecoder, EverySplitPointGivesTheSamePackets) {
    const Bytes stream = sampleStream();
    const auto expected = wholeFeed(stream);
    ASSERT_EQ(expected.size(), 5u);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        for (std::size_t cut2 = cut; cut2 <= stream.size(); cut2 += 7) {
            Collector c;
            c.feed(Bytes(stream.begin(), stream.begin() + cut));
            c.feed(Bytes(stream.begin() + cut, stream.begin() + cut2));
            c.feed(Bytes(stream.begin() + cut2, stream.end()));
            ASSERT_EQ(c.packets, expected) << "cuts at " << cut << ", " << cut2;
        }
    }
    Collector bytewise;
    for (auto b : stream) {
        bytewise.feed(Bytes{b});
    }
    EXPECT_EQ(bytewise.packets, expected);
}

TEST(MQTTFrameDecoder, NothingIsReadBeforeOpen) {
    MQTTFrameDecoder decoder;
    int calls = 0;
    decoder.feed(hex("D0 00"), [&](auto) { return ++calls, true; });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(decoder.state(), pellix::MQTTDecoderStateIdle);
}

TEST(MQTTFrameDecoder, RemainingLengthLimits) {
    struct Case {
        const char* bytes;
        bool error;
        std::size_t packets;
    } cases[] = {
        {"30 80 80 80 80", true, 0},          // a fifth length byte follows
        {"30 80 80 80 01", true, 0},          // 2,097,152: above what the parser takes
        {"30 FF FF FF 7F", true, 0},          // the MQTT maximum, refused at once
        {"D0 80 80 80 00", false, 1},         // four bytes, value 0: framed, the parser refuses it
        {"D0 80 00 D0 00", false, 2},         // non-minimal two-byte zero
    };
    for (const auto& c : cases) {
        Collector col;
        col.feed(hex(c.bytes));
        EXPECT_EQ(col.decoder.state() == pellix::MQTTDecoderStateError, c.error) << c.bytes;
        EXPECT_EQ(col.packets.size(), c.packets) << c.bytes;
        EXPECT_TRUE(col.decoder.buffered().empty()) << c.bytes;
    }
    // After an error nothing more is read until the decoder is opened again.
    Collector col;
    col.feed(hex("30 80 80 80 80"));
    col.feed(hex("D0 00"));
    EXPECT_TRUE(col.packets.empty());
    col.decoder.open();
    col.feed(hex("D0 00"));
    EXPECT_EQ(col.packets.size(), 1u);
}

TEST(MQTTFrameDecoder, LargestPacketAssembledFromSmallChunks) {
    Bytes stream = hex("30 FF FF 7F");
    stream.resize(4 + 2097151, 0x42);
    stream.push_back(0xD0);
    stream.push_back(0x00);
    Collector c;
    for (std::size_t i = 0; i < stream.size(); i += 768) {
        c.feed(Bytes(stream.begin() + i, stream.begin() + std::min(stream.size(), i + 768)));
    }
    ASSERT_EQ(c.packets.size(), 2u);
    EXPECT_EQ(c.packets[0].size(), 4u + 2097151);
    EXPECT_EQ(c.packets[0], Bytes(stream.begin(), stream.end() - 2));
    EXPECT_EQ(c.decoder.buffered().size(), 0u);
    EXPECT_LE(c.decoder.bufferCapacity(), 64u * 1024);  // the 2 MiB buffer is given back
}

TEST(MQTTFrameDecoder, DeliveryCanStopReading) {
    MQTTFrameDecoder decoder;
    decoder.open();
    int calls = 0;
    decoder.feed(hex("D0 00 D0 00 D0 00"), [&](auto) { return ++calls < 2; });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(decoder.state(), pellix::MQTTDecoderStateHeader);
}
