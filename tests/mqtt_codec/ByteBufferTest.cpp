#include <gtest/gtest.h>

#include "CodecTestUtil.h"
#include "MQTTClient/MQTTByteBuffer.h"

using pellix::MQTTByteBuffer;
using pellix::platform::Bytes;
using pellix::test::hex;
using pellix::test::toHex;

TEST(MQTTByteBuffer, FixedWidthIntegersAreBigEndian) {
    Bytes b;
    MQTTByteBuffer::appendByte(b, 0xAB);
    MQTTByteBuffer::appendUInt16BigEndian(b, 0x1234);
    MQTTByteBuffer::appendUInt32BigEndian(b, 16909060);
    EXPECT_EQ(toHex(b), "AB 12 34 01 02 03 04");
}

TEST(MQTTByteBuffer, VariableLengthBoundaries) {
    struct Case {
        std::uint64_t value;
        const char* wire;
    } cases[] = {
        {0, "00"},          {127, "7F"},          {128, "80 01"},          {16383, "FF 7F"},
        {16384, "80 80 01"}, {2097151, "FF FF 7F"}, {2097152, "80 80 80 01"}, {268435455, "FF FF FF 7F"},
    };
    for (const auto& c : cases) {
        Bytes b;
        MQTTByteBuffer::appendVariableLength(b, c.value);
        EXPECT_EQ(toHex(b), c.wire) << c.value;
        EXPECT_EQ(MQTTByteBuffer::variableLengthSize(c.value), b.size()) << c.value;
    }
}

TEST(MQTTByteBuffer, StringsCountUTF8BytesAndUnsetWritesNothing) {
    Bytes b;
    EXPECT_TRUE(MQTTByteBuffer::appendMQTTString(b, std::string()));
    EXPECT_EQ(toHex(b), "00 00");
    b.clear();
    EXPECT_TRUE(MQTTByteBuffer::appendMQTTString(b, std::optional<std::string>()));
    EXPECT_TRUE(b.empty());
    EXPECT_TRUE(MQTTByteBuffer::appendMQTTString(b, "门禁"));  // two characters, six UTF-8 bytes
    EXPECT_EQ(toHex(b), "00 06 E9 97 A8 E7 A6 81");
    b.clear();
    EXPECT_TRUE(MQTTByteBuffer::appendBinaryData(b, Bytes{}));
    EXPECT_EQ(toHex(b), "00 00");
    b.clear();
    EXPECT_TRUE(MQTTByteBuffer::appendBinaryData(b, std::optional<Bytes>()));
    EXPECT_TRUE(b.empty());
}

TEST(MQTTByteBuffer, FieldsOverSixtyFiveThousandBytesAreRefusedWhole) {
    Bytes b = hex("AA");
    EXPECT_TRUE(MQTTByteBuffer::appendMQTTString(b, std::string(65535, 'x')));
    EXPECT_EQ(b.size(), 1u + 2 + 65535);
    EXPECT_EQ(b[1], 0xFF);
    EXPECT_EQ(b[2], 0xFF);

    Bytes c = hex("AA");
    EXPECT_FALSE(MQTTByteBuffer::appendMQTTString(c, std::string(65536, 'x')));
    EXPECT_FALSE(MQTTByteBuffer::appendBinaryData(c, Bytes(70000, 1)));
    EXPECT_EQ(toHex(c), "AA");  // nothing appended, not a cut length
}
