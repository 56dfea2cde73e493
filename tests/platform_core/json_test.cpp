#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/JSON.h"

using namespace pellix::platform;

namespace {

Value parseOK(std::string_view text, unsigned options = 0) {
    ErrorPtr error;
    auto v = JSON::parse(text, options, &error);
    EXPECT_TRUE(v.has_value()) << text << ": " << (error ? error->description() : "");
    return v.value_or(Value());
}

std::string debugText(const ErrorPtr& e) {
    const Value* d = e ? e->userInfo().find("NSDebugDescription") : nullptr;
    return d ? d->asString() : "";
}

}  // namespace

TEST(JSON, NumbersKeepTheirKindAndValueThroughARoundTrip) {
    struct Case {
        const char* text;
        Value::Type type;
    } cases[] = {
        {"0", Value::Type::Int},
        {"-9223372036854775808", Value::Type::Int},
        {"9223372036854775807", Value::Type::Int},
        {"9223372036854775808", Value::Type::UInt},
        {"18446744073709551615", Value::Type::UInt},
        {"1.0", Value::Type::Double},
        {"3.0", Value::Type::Double},
        {"0.1", Value::Type::Double},
        {"-0.0", Value::Type::Double},
        {"1e+100", Value::Type::Double},
        {"2.2250738585072014e-308", Value::Type::Double},
        {"0.30000000000000004", Value::Type::Double},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Value v = parseOK(std::string("[") + c.text + "]");
        ASSERT_EQ(v.asArray().at(0).type(), c.type);
        auto text = JSON::write(v);
        ASSERT_TRUE(text);
        Value back = parseOK(*text);
        ASSERT_EQ(back, v) << *text;
        EXPECT_EQ(back.asArray().at(0).type(), c.type);
        if (c.type == Value::Type::Double) {
            EXPECT_EQ(std::signbit(back.asArray()[0].asDouble()), std::signbit(v.asArray()[0].asDouble()));
        }
    }
    EXPECT_EQ(parseOK("[18446744073709551615]").asArray()[0].asUInt(), std::numeric_limits<std::uint64_t>::max());
    // Beyond 64 bits the number can only be a double.
    EXPECT_TRUE(parseOK("[18446744073709551616]").asArray()[0].isDouble());
}

TEST(JSON, WritesCompactTextInInsertionOrderWithPlatformEscapes) {
    Value v(Dictionary{{"z", 1},
                       {"url", "http://a/b"},
                       {"text", "q\"\\\n\t\x01 \xe4\xb8\xad"},
                       {"list", Array{Value(true), Value(nullptr), Value(2.5)}},
                       {"a", Dictionary{}}});
    EXPECT_EQ(JSON::write(v).value(),
              R"({"z":1,"url":"http:\/\/a\/b","text":"q\"\\\n\t\u0001 )"
              "\xe4\xb8\xad"
              R"(","list":[true,null,2.5],"a":{}})");
    EXPECT_EQ(parseOK(*JSON::write(v)), v);
    EXPECT_EQ(JSON::write(Value(Dictionary{{"a", Array{Value(1)}}}), JSON::kPrettyPrinted).value(),
              "{\n  \"a\" : [\n    1\n  ]\n}");
}

TEST(JSON, ReadsEscapesSurrogatesAndByteOrderMark) {
    Value v = parseOK("\xef\xbb\xbf{\"k\":\"\\u4e2d\\ud83d\\ude00\\/\"}");
    EXPECT_EQ(v.get("k")->asString(), "\xe4\xb8\xad\xf0\x9f\x98\x80/");
}

TEST(JSON, RepeatedKeysKeepTheLastValueAtTheFirstPosition) {
    EXPECT_EQ(JSON::write(parseOK(R"({"a":1,"b":2,"a":3})")).value(), R"({"a":3,"b":2})");
    // Same rule once the object is large enough to be indexed.
    std::string text = "{";
    for (int i = 0; i < 100; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    text += "\"k5\":\"again\"}";
    Value big = parseOK(text);
    ASSERT_EQ(big.asDictionary().size(), 100u);
    EXPECT_EQ(big.asDictionary().keys()[5], "k5");
    EXPECT_EQ(big.get("k5")->asString(), "again");
}

// Containers inside containers, arrays and objects interleaved, each closing
// with exactly its own members, in document order; a repeated key whose new
// value is itself a container, in a small object and in an indexed one.
TEST(JSON, NestedContainersKeepTheirOwnMembersInOrder) {
    EXPECT_EQ(JSON::write(parseOK(R"({"a":[1,{"b":[2,[]],"c":{}},[3]],"d":{"e":[{"f":null}],"g":true},)"
                                  R"("a":{"h":[4,{"i":"j"}]},"k":[]})"))
                  .value(),
              R"({"a":{"h":[4,{"i":"j"}]},"d":{"e":[{"f":null}],"g":true},"k":[]})");

    std::string text = R"([{"x":[[],{}]},{)";
    std::string expected = R"([{"x":[[],{}]},{)";
    for (int i = 0; i < 40; ++i) {
        const std::string member = "\"k" + std::to_string(i) + "\":[" + std::to_string(i) + ",{\"n\":" +
                                   std::to_string(i) + "}]";
        text += member + ",";
        expected += (i == 7 ? std::string(R"("k7":{"again":[7]})") : member) + (i < 39 ? "," : "");
    }
    text += R"("k7":{"again":[7]}},[{}]])";
    expected += R"(},[{}]])";
    EXPECT_EQ(JSON::write(parseOK(text)).value(), expected);
}

TEST(JSON, FragmentsOnlyWhenAllowed) {
    struct Case {
        const char* text;
        Value value;
    } cases[] = {{"12", Value(12)}, {"\"s\"", Value("s")}, {" null ", Value()}, {"true", Value(true)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ErrorPtr error;
        EXPECT_FALSE(JSON::parse(c.text, 0, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 3840);
        EXPECT_NE(debugText(error).find("fragments"), std::string::npos);
        EXPECT_EQ(parseOK(c.text, JSON::kFragmentsAllowed | JSON::kMutableLeaves), c.value);
    }
    EXPECT_FALSE(JSON::write(Value(1)));
    EXPECT_EQ(JSON::write(Value(1), JSON::kWriteFragmentsAllowed).value(), "1");
}

TEST(JSON, MalformedInputIsAnErrorWithPosition) {
    struct Case {
        std::string text;
        const char* expect;  // part of the debug description
    } cases[] = {
        {"{\"a\":1} x", "Garbage at end"},
        {"[1][2]", "Garbage at end"},
        {"[\"\xff\"]", "Unable to convert data to string"},
        {"[\"\xc0\xaf\"]", "Unable to convert data to string"},  // overlong "/"
        {"[\"\xed\xa0\x80\"]", "Unable to convert data to string"},  // encoded surrogate
        {"[\"\\ud800\"]", "Invalid value"},
        {"", "Unexpected end of file"},
        {"[1,", "Unexpected end of file"},
        {"{\"a\"}", "Invalid value"},
        {"[01]", "Invalid value"},
        {"[NaN]", "Invalid value"},
        {"[1e999]", "Number out of range"},
        {"[1,]", "Invalid value"},
        {"\n\n  [tru]", "line 3"},
        {std::string("[1]\0", 4), "Garbage at end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ErrorPtr error;
        EXPECT_FALSE(JSON::parse(c.text, JSON::kFragmentsAllowed, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");
        EXPECT_EQ(error->code(), 3840);
        EXPECT_NE(debugText(error).find(c.expect), std::string::npos) << debugText(error);
    }
}

TEST(JSON, DepthCapRefusesDeepNestingWithoutRecursing) {
    auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(JSON::parse(nested(JSON::kMaxDepth)));
    ErrorPtr error;
    EXPECT_FALSE(JSON::parse(nested(JSON::kMaxDepth + 1), 0, &error));
    ASSERT_TRUE(error);
    EXPECT_NE(debugText(error).find("Too many nested"), std::string::npos);
    // A hostile document far deeper than the cap is refused just the same.
    EXPECT_FALSE(JSON::parse(std::string(1'000'000, '[')));
    EXPECT_FALSE(JSON::parse(nested(5), 0, nullptr, 4));
    // The writer refuses what the reader would refuse.
    Value deep = Array{};
    for (std::size_t i = 0; i < JSON::kMaxDepth; ++i) deep = Array{deep};
    EXPECT_FALSE(JSON::write(deep));
}

TEST(JSON, WriterRefusesValuesJSONCannotHold) {
    struct Case {
        const char* name;
        Value value;
    } cases[] = {
        {"nan", Array{Value(std::nan(""))}},
        {"infinity", Dictionary{{"x", std::numeric_limits<double>::infinity()}}},
        {"bytes", Array{Value(Bytes{1, 2})}},
        {"invalid UTF-8", Array{Value("\xff")}},
        {"invalid UTF-8 key", Dictionary{{"\xc3", 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ErrorPtr error;
        EXPECT_FALSE(JSON::write(c.value, 0, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 3852);
        EXPECT_FALSE(JSON::isValidJSONObject(c.value));
    }
    EXPECT_TRUE(JSON::isValidJSONObject(Value(Dictionary{{"a", 1}})));
    EXPECT_FALSE(JSON::isValidJSONObject(Value("top-level text")));
}
