#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/BinaryPropertyList.h"
#include "platform/PropertyList.h"

using namespace pellix::platform;

namespace {

Bytes unhex(std::string_view h) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
    return out;
}

Value richValue() {
    Array many;
    for (int i = 0; i < 300; ++i) many.push_back(Value(i * 1000));  // more than 255 objects: 2-byte references
    return Value(Dictionary{
        {"zeta", 1},
        {"alpha", Array{Value(0), Value(255), Value(256), Value(65535), Value(65536), Value(4294967295LL),
                        Value(4294967296LL), Value(-1), Value(std::numeric_limits<std::int64_t>::min()),
                        Value(std::numeric_limits<std::int64_t>::max())}},
        {"unsigned", Value(std::numeric_limits<std::uint64_t>::max())},
        {"reals", Array{Value(0.1 + 0.2), Value(-0.0), Value(1e300), Value(3.0)}},
        {"text", Array{Value(""), Value("short"), Value(std::string(40, 'x')),
                       Value("\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x98\x80 mixed")}},
        {"bytes", Value(Bytes{0, 1, 2, 0xff})},
        {"bigBytes", Value(Bytes(1000, 0xab))},
        {"flags", Array{Value(true), Value(false)}},
        {"nested", Dictionary{{"inner", Dictionary{{"deeper", Array{Value(Dictionary{})}}}}}},
        {"many", Value(std::move(many))},
    });
}

}  // namespace

TEST(PropertyList, BinaryRoundTripKeepsTypesValuesAndKeyOrder) {
    Value v = richValue();
    auto data = PropertyList::write(v, PropertyList::Format::Binary);
    ASSERT_TRUE(data);
    PropertyList::Format format{};
    ErrorPtr error;
    auto back = PropertyList::read(*data, &format, &error);
    ASSERT_TRUE(back) << error->description();
    EXPECT_EQ(format, PropertyList::Format::Binary);
    EXPECT_EQ(*back, v);
    EXPECT_EQ(back->asDictionary().keys(), v.asDictionary().keys());
    EXPECT_TRUE(back->get("unsigned")->isUInt());
    EXPECT_TRUE(back->get("reals")->at(3)->isDouble());
    EXPECT_TRUE(std::signbit(back->get("reals")->at(1)->asDouble()));
}

TEST(PropertyList, ReadsBinaryWrittenByAnotherImplementation) {
    // Written by Python's plistlib: 16-byte unsigned, 8-byte negative, UTF-16 text.
    const Bytes data = unhex(
        "62706c6973743030d70102030405060708090a0b0c0d0e5161536e65675362696751735164516653617272100113ffffffffffff"
        "fffb140000000000000000ffffffffffffffff644e2d6587d83dde00420001233fe0000000000000a20f1009080817191d212325"
        "272b2d364750535c5f600000000000000101000000000000001100000000000000000000000000000061");
    auto v = PropertyList::read(data);
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, Value(Dictionary{{"a", 1},
                                   {"neg", -5},
                                   {"big", std::numeric_limits<std::uint64_t>::max()},
                                   {"s", "\xe4\xb8\xad\xe6\x96\x87\xf0\x9f\x98\x80"},
                                   {"d", Bytes{0, 1}},
                                   {"f", 0.5},
                                   {"arr", Array{Value(true), Value(false)}}}));
    EXPECT_EQ(v->asDictionary().keys(), (std::vector<std::string>{"a", "neg", "big", "s", "d", "f", "arr"}));
}

TEST(PropertyList, XMLRoundTripAndForeignXML) {
    Value v = richValue();
    v.asDictionary().erase("unsigned");  // see WritersRefuseWhatTheFormatCannotHold
    auto xml = PropertyList::write(v, PropertyList::Format::XML);
    ASSERT_TRUE(xml);
    std::string text(xml->begin(), xml->end());
    EXPECT_NE(text.find("<plist version=\"1.0\">"), std::string::npos);
    PropertyList::Format format{};
    auto back = PropertyList::read(*xml, &format);
    ASSERT_TRUE(back);
    EXPECT_EQ(format, PropertyList::Format::XML);
    EXPECT_EQ(*back, v);
    EXPECT_EQ(back->asDictionary().keys(), v.asDictionary().keys());

    const std::string foreign = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>when</key><date>2001-01-02T00:00:00Z</date>
  <key>blob</key><data>AAEC</data>
  <key>n</key><integer>-42</integer>
  <key>ok</key><true/>
</dict></plist>)";
    auto f = PropertyList::read(Bytes(foreign.begin(), foreign.end()));
    ASSERT_TRUE(f);
    EXPECT_DOUBLE_EQ(f->get("when")->asDouble(), 978307200.0 + 86400.0);
    EXPECT_EQ(f->get("blob")->asBytes(), (Bytes{0, 1, 2}));
    EXPECT_EQ(f->get("n")->asInt(), -42);
    EXPECT_TRUE(f->get("ok")->asBool());
}

TEST(PropertyList, WritersRefuseWhatTheFormatCannotHold) {
    struct Case {
        const char* name;
        Value value;
        bool binary, xml;  // accepted by each writer
    } cases[] = {
        {"null", Array{Value()}, false, false},
        {"nan", Array{Value(std::nan(""))}, false, false},
        {"invalid UTF-8", Array{Value("\xff")}, false, false},
        // libplist's XML writer would print it as a negative number.
        {"unsigned above INT64_MAX", Array{Value(std::numeric_limits<std::uint64_t>::max())}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ErrorPtr error;
        EXPECT_EQ(PropertyList::write(c.value, PropertyList::Format::Binary, &error).has_value(), c.binary);
        EXPECT_EQ(PropertyList::write(c.value, PropertyList::Format::XML, &error).has_value(), c.xml);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 3852);
    }
    // Nesting beyond the cap is refused when writing and when reading.
    Value deep = Array{};
    for (std::size_t i = 0; i <= PropertyList::kMaxDepth; ++i) deep = Array{deep};
    EXPECT_FALSE(PropertyList::write(deep, PropertyList::Format::Binary));
    std::string xml = "<plist version=\"1.0\">";
    for (int i = 0; i < 2000; ++i) xml += "<array>";
    for (int i = 0; i < 2000; ++i) xml += "</array>";
    xml += "</plist>";
    EXPECT_FALSE(PropertyList::read(Bytes(xml.begin(), xml.end())));
}

namespace {

// A binary plist from raw objects: refs and offsets one byte, top object 0.
Bytes craft(const std::vector<Bytes>& objects, std::uint8_t refSize = 1) {
    Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::size_t> offsets;
    for (const auto& o : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), o.begin(), o.end());
    }
    std::size_t table = out.size();
    for (auto off : offsets) out.push_back(static_cast<std::uint8_t>(off));
    Bytes trailer(32, 0);
    trailer[6] = 1;
    trailer[7] = refSize;
    trailer[15] = static_cast<std::uint8_t>(objects.size());
    trailer[31] = static_cast<std::uint8_t>(table);
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
}

}  // namespace

TEST(PropertyList, HostileBinaryInputIsRefused) {
    std::vector<Bytes> dag;
    for (std::uint8_t i = 0; i < 60; ++i) dag.push_back(Bytes{0xA2, static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(i + 1)});
    dag.push_back(Bytes{0x10, 5});
    struct Case {
        const char* name;
        Bytes data;
    } cases[] = {
        {"sane control", craft({{0xA1, 1}, {0x10, 7}})},
        {"array containing itself", craft({{0xA1, 0}})},
        {"two-level cycle", craft({{0xA1, 1}, {0xA1, 0}})},
        {"shared references doubling 60 times", craft(dag)},
        {"reference past the object count", craft({{0xA1, 9}})},
        {"non-string dictionary key", craft({{0xD1, 1, 1}, {0x10, 7}})},
        {"string longer than the file", craft({{0x5F, 0x10, 0xFF}})},
        {"length in a 8-byte int", craft({{0x4F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}})},
        {"fill byte as object", craft({{0x0F}})},
        {"unknown marker", craft({{0xF0}})},
        {"integer of 32 bytes", craft({{0x15, 0}})},
        {"16-byte int out of range", craft({{0x14, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}})},
        {"lone surrogate", craft({{0x61, 0xD8, 0x00}})},
        {"non-ASCII in ASCII string", craft({{0x51, 0xE4}})},
        {"zero reference size", craft({{0x10, 1}}, 0)},
        {"magic only", Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ErrorPtr error;
        auto v = PropertyList::read(c.data, nullptr, &error);
        if (std::string(c.name) == "sane control") {
            ASSERT_TRUE(v);
            EXPECT_EQ(*v, Value(Array{Value(7)}));
            continue;
        }
        EXPECT_FALSE(v);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(error->code(), 3840);
    }
}

TEST(PropertyList, EveryTruncationAndByteFlipIsSurvived) {
    auto data = PropertyList::write(richValue(), PropertyList::Format::Binary).value();
    for (std::size_t n = 0; n < data.size(); ++n) {
        Bytes cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_FALSE(PropertyList::read(cut)) << "prefix of " << n << " bytes";
    }
    // Flips may still decode to some value; they must never crash or hang.
    for (std::size_t i = 0; i < data.size(); i += 3) {
        Bytes bad = data;
        bad[i] ^= 0x5A;
        (void)PropertyList::read(bad);
    }
}
