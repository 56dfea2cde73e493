#include <gtest/gtest.h>

#include "CodecTestUtil.h"
#include "MQTTClient/MQTTProperties.h"

using pellix::MQTTProperties;
using pellix::platform::Bytes;
using pellix::test::hex;

namespace {

MQTTProperties parse(const std::string& text) {
    Bytes b = hex(text);
    return MQTTProperties(b);
}

// True when no property at all is set.
bool empty(const MQTTProperties& p) {
    return !p.payloadFormatIndicator() && !p.publicationExpiryInterval() && !p.contentType() && !p.responseTopic() &&
           !p.correlationData() && !p.subscriptionIdentifier() && !p.sessionExpiryInterval() &&
           !p.assignedClientIdentifier() && !p.serverKeepAlive() && !p.authMethod() && !p.authData() &&
           !p.requestProblemInformation() && !p.willDelayInterval() && !p.requestResponseInformation() &&
           !p.responseInformation() && !p.serverReference() && !p.reasonString() && !p.receiveMaximum() &&
           !p.topicAliasMaximum() && !p.topicAlias() && !p.maximumQoS() && !p.retainAvailable() &&
           !p.userProperty() && !p.maximumPacketSize() && !p.wildcardSubscriptionAvailable() &&
           !p.subscriptionIdentifiersAvailable() && !p.sharedSubscriptionAvailable();
}

}  // namespace

TEST(MQTTProperties, MalformedBlocksSetNothing) {
    const char* cases[] = {
        "",                  // no data
        "00",                // empty block
        "02 05 00",          // unknown id 0x05
        "80 80 80 01",       // four-byte block length
        "02 01",             // block shorter than its length
        "01 01",             // payload format indicator without its value
        "80",                // length cut off
        "05 11 00 00 0E",    // four-byte value cut off by the data
        "03 26 00 01",       // user property shorter than its minimum
        "04 0B 80 80 80",    // subscription identifier that can't be read
    };
    for (const char* c : cases) {
        EXPECT_TRUE(empty(parse(c))) << c;
    }
}

TEST(MQTTProperties, ReadsEachKindOfValue) {
    EXPECT_EQ(parse("05 11 00 00 0E 10").sessionExpiryInterval(), 3600);
    EXPECT_EQ(parse("03 21 00 0A").receiveMaximum(), 10);
    EXPECT_EQ(parse("02 24 01").maximumQoS(), 1);
    auto big = parse("05 27 FF FF FF FF");
    ASSERT_TRUE(big.maximumPacketSize());
    EXPECT_EQ(*big.maximumPacketSize(), -1);
    EXPECT_EQ(static_cast<std::uint32_t>(*big.maximumPacketSize()), 4294967295u);
    EXPECT_EQ(parse("03 0B 80 01").subscriptionIdentifier(), 128);

    auto p = parse("1A 1F 00 02 6F 6B 12 00 03 61 62 63 09 00 02 01 02 13 00 1E 25 00 2A 01 03 00 00");
    EXPECT_EQ(p.reasonString(), "ok");
    EXPECT_EQ(p.assignedClientIdentifier(), "abc");
    EXPECT_EQ(p.correlationData(), (Bytes{1, 2}));
    EXPECT_EQ(p.serverKeepAlive(), 30);
    EXPECT_EQ(p.retainAvailable(), 0);
    EXPECT_EQ(p.sharedSubscriptionAvailable(), 1);
    EXPECT_EQ(p.contentType(), "");
}

TEST(MQTTProperties, WalkEndsAtTheFirstFaultKeepingWhatCameBefore) {
    // The block length cuts the retain-available entry to one byte.
    auto cut = parse("0A 26 00 01 6B 00 03 76 61 6C 25 01");
    ASSERT_TRUE(cut.userProperty());
    ASSERT_EQ(cut.userProperty()->size(), 1u);
    EXPECT_EQ(cut.userProperty()->find("k")->asString(), "val");
    EXPECT_FALSE(cut.retainAvailable());

    auto unknown = parse("04 24 01 05 00");
    EXPECT_EQ(unknown.maximumQoS(), 1);

    // A string that is not UTF-8 is left unset; the walk goes on after it.
    auto bad = parse("07 1F 00 02 C3 28 24 02");
    EXPECT_FALSE(bad.reasonString());
    EXPECT_EQ(bad.maximumQoS(), 2);
}

TEST(MQTTProperties, RepeatedPropertiesKeepTheLaterValue) {
    auto p = parse("0C 24 00 24 01 26 00 01 6B 00 01 31 26 00 01 6B 00 01 32");
    EXPECT_EQ(p.maximumQoS(), 1);
    // The block length 0x0C stops after the first user property.
    ASSERT_TRUE(p.userProperty());
    EXPECT_EQ(p.userProperty()->find("k")->asString(), "1");

    auto q = parse("14 26 00 01 6B 00 01 31 26 00 01 6B 00 01 32 26 00 01 6A 00 00");
    ASSERT_TRUE(q.userProperty());
    EXPECT_EQ(q.userProperty()->size(), 2u);
    EXPECT_EQ(q.userProperty()->find("k")->asString(), "2");
    EXPECT_EQ(q.userProperty()->find("j")->asString(), "");
}

TEST(MQTTProperties, VariableLengthReaders) {
    struct Case {
        std::int32_t value, bytes;
    } sizes[] = {{127, 1},     {128, 2},     {16383, 2},     {16384, 3}, {2097151, 3},
                 {2097152, 4}, {268435455, 4}, {268435456, 0}, {-5, 1}};
    for (auto c : sizes) {
        EXPECT_EQ(MQTTProperties::variableIntLength(c.value), c.bytes) << c.value;
    }
    EXPECT_EQ(MQTTProperties::getVariableLength(hex("FF FF 7F")), 2097151);
    EXPECT_EQ(MQTTProperties::getVariableLength(hex("FF FF")), -1);
    EXPECT_EQ(MQTTProperties::getVariableLength(hex("80 80 80 01")), -2);
    EXPECT_EQ(MQTTProperties::getTwoByteInt(hex("01")), 0);
    EXPECT_EQ(MQTTProperties::getFourByteInt(hex("01 02 03")), 0);
    EXPECT_FALSE(MQTTProperties::getUtf8String(hex("00 03 61 62")));
    EXPECT_FALSE(MQTTProperties::getBinaryData(hex("00 03 61 62")));
}

TEST(MQTTProperties, UTF8Validation) {
    struct Case {
        const char* bytes;
        bool valid;
    } cases[] = {
        {"61 00 62", true},         // NUL is a character
        {"E9 97 A8", true},         // 门
        {"F0 9F 98 80", true},      // U+1F600
        {"C0 AF", false},           // overlong
        {"E0 80 AF", false},        // overlong
        {"ED A0 80", false},        // surrogate
        {"F4 90 80 80", false},     // above U+10FFFF
        {"E9 97", false},           // cut short
        {"80", false},              // stray continuation
    };
    for (auto c : cases) {
        EXPECT_EQ(MQTTProperties::isValidUTF8(hex(c.bytes)), c.valid) << c.bytes;
    }
}
