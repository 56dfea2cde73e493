#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/JSON.h"
#include "support/JsonReference.h"

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

namespace {

using pellix::test::fromReference;

void expectSameAsReference(const std::string& text) {
    SCOPED_TRACE(testing::Message() << "text: " << testing::PrintToString(text));
    const auto reference = nlohmann::json::parse(text, nullptr, false);
    ErrorPtr error;
    const auto ours = JSON::parse(text, JSON::kFragmentsAllowed, &error);
    ASSERT_EQ(ours.has_value(), !reference.is_discarded()) << (error ? debugText(error) : "");
    if (ours) {
        EXPECT_EQ(*ours, fromReference(reference));
    } else {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), 3840);
    }
}

// Random documents of every kind of member, then the same with a few bytes
// changed, deleted or repeated.
class DocumentMaker {
public:
    explicit DocumentMaker(unsigned seed) : rng_(seed) {}

    std::string document() {
        std::string out;
        value(out, 0);
        return space() + out + space();
    }

    std::string mutated(std::string text) {
        static const char kBytes[] = {'"', '\\', ',', ':', '[', ']', '{', '}', 'e', 'E', '-', '+', '.', '0',
                                      '9', ' ', '\t', 'u', 'n', '/', '\x1f', '\x7f', '\xc3', '\xa9', '\xed',
                                      '\xa0', '\xf4', '\x90', '\xe0', '\xc0', '\xff'};
        const int edits = 1 + pick(3);
        for (int i = 0; i < edits && !text.empty(); ++i) {
            const std::size_t at = static_cast<std::size_t>(pick(static_cast<int>(text.size())));
            switch (pick(3)) {
            case 0: text[at] = kBytes[pick(sizeof kBytes)]; break;
            case 1: text.erase(at, 1); break;
            default: text.insert(at, 1, text[at]); break;
            }
        }
        return text;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    std::string space() {
        static const char* kSpaces[] = {"", "", "", " ", "\n", "\r\n\t "};
        return kSpaces[pick(6)];
    }

    void value(std::string& out, int depth) {
        switch (pick(depth > 4 ? 4 : 6)) {
        case 0: out += string(); break;
        case 1: out += number(); break;
        case 2: out += (const char*[]){"true", "false", "null"}[pick(3)]; break;
        case 3: out += string(); break;
        case 4: {
            out += '[' + space();
            const int n = pick(5);
            for (int i = 0; i < n; ++i) {
                if (i) out += space() + ',' + space();
                value(out, depth + 1);
            }
            out += space() + ']';
            break;
        }
        default: {
            out += '{' + space();
            const int n = pick(6);
            for (int i = 0; i < n; ++i) {
                if (i) out += space() + ',' + space();
                // Few distinct keys, so some repeat.
                out += pick(2) ? "\"k" + std::to_string(pick(4)) + "\"" : string();
                out += space() + ':' + space();
                value(out, depth + 1);
            }
            out += space() + '}';
        }
        }
    }

    std::string string() {
        static const char* kPieces[] = {"a", "plain text ", "\\\"", "\\\\", "\\/", "\\b\\f\\n\\r\\t",
                                        "\\u0041", "\\u00e9", "\\u4E2D", "\\ud83d\\ude00", "\\u0000",
                                        "\xc3\xa9", "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "\xef\xbf\xbf",
                                        "\xf4\x8f\xbf\xbf", "0123456789abcdef", "\\uDBFF\\uDFFF"};
        std::string s = "\"";
        const int n = pick(5);
        for (int i = 0; i < n; ++i) s += kPieces[pick(sizeof kPieces / sizeof *kPieces)];
        return s + "\"";
    }

    std::string number() {
        static const char* kNumbers[] = {"0", "-0", "1", "-1", "42", "9223372036854775807", "-9223372036854775808",
                                         "9223372036854775808", "18446744073709551615", "18446744073709551616",
                                         "-9223372036854775809", "0.5", "-0.0", "1e10", "1E+2", "2.5e-3",
                                         "1.7976931348623157e308", "4.9e-324", "1e-400", "123456789012345678901234567890",
                                         "0.1", "3.141592653589793238462643383279"};
        return kNumbers[pick(sizeof kNumbers / sizeof *kNumbers)];
    }

    std::mt19937 rng_;
};

}  // namespace

// Hand-picked documents at the edges of the grammar, then thousands of random
// ones, whole and damaged: accepted exactly when the reference reader accepts
// them, and then with the same values.
TEST(JSON, ReadsExactlyWhatTheReferenceReaderReadsWithTheSameValues) {
    const std::string edges[] = {
        "[]", "{}", " [ ] ", "[[[]],{}]", R"({"a":{"b":[1,2,{"c":null}]}})", "[1.5e3,-0,0e0,0E-0]",
        "[01]", "[-]", "[1.]", "[.5]", "[1e]", "[1e+]", "[+1]", "[-01]", "[1.0e+308]", "[1e309]", "[-1e309]",
        "[\"\\ud800\"]", "[\"\\udc00\"]", "[\"\\ud800\\u0041\"]", "[\"\\uD83D\\uDE00\"]", "[\"\\u00\"]",
        "[\"\\x\"]", "[\"\t\"]", "[\"\x7f\"]", "[\"\xc2\x80\"]", "[\"\xc1\xbf\"]", "[\"\xe0\x9f\xbf\"]",
        "[\"\xed\x9f\xbf\"]", "[\"\xed\xa0\x80\"]", "[\"\xf0\x8f\xbf\xbf\"]", "[\"\xf4\x90\x80\x80\"]",
        "[\"\xf5\x80\x80\x80\"]", "[\"\xe4\xb8\"]", "[\"abc", "[\"abc\\", "{\"a\" 1}", "{\"a\":}", "{,}",
        "{\"a\":1,}", "[1 2]", "[true false]", "[tru]", "[nul]", "[falsey]", "[null]x", "\xef\xbb\xbf[1]",
        "{\"a\":1,\"a\":[2],\"b\":3,\"a\":{}}", "[1]]", "{\"a\":1}}", "[", "{", "{\"a\"", "  ", "[1,[2,[3]]]",
    };
    for (const std::string& text : edges) expectSameAsReference(text);

    DocumentMaker maker(20251211);
    for (int i = 0; i < 3000; ++i) {
        const std::string text = maker.document();
        expectSameAsReference(text);
        expectSameAsReference(maker.mutated(text));
        if (HasFatalFailure()) return;
    }
}
