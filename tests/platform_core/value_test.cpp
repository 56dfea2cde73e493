#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

using namespace pellix::platform;

TEST(Value, TextFormOfScalars) {
    struct Case {
        Value value;
        const char* text;
    } cases[] = {
        {Value(true), "1"},
        {Value(false), "0"},
        {Value(42), "42"},
        {Value(-7LL), "-7"},
        {Value(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
        {Value(0.1), "0.1"},
        {Value(3.0), "3"},
        {Value(-2.5), "-2.5"},
        {Value(1e100), "1e+100"},
        {Value(1e16), "1e+16"},
        {Value(1234567.0), "1234567"},
        {Value(0.0001), "0.0001"},
        {Value(0.00001), "1e-05"},
        {Value(0.1 + 0.2), "0.30000000000000004"},
        {Value(nullptr), "<null>"},
        {Value("text"), "text"},
        {Value(Bytes{0x0a, 0x1b, 0x2c, 0x3d, 0x4e}), "<0a1b2c3d 4e>"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value.description(), c.text) << c.text;
}

TEST(Value, DescriptionOfCollectionsNestsAndQuotes) {
    Value v(Dictionary{{"name", "a b"}, {"n", 1}, {"list", Array{Value(1), Value("x")}}, {"empty", Array{}}});
    EXPECT_EQ(v.description(),
              "{\n"
              "    name = \"a b\";\n"
              "    n = 1;\n"
              "    list =     (\n"
              "        1,\n"
              "        x\n"
              "    );\n"
              "    empty =     (\n"
              "    );\n"
              "}");
    EXPECT_EQ(Value(Array{Value("\xe4\xb8\xad")}).description(), "(\n    \"\\U4e2d\"\n)");
}

TEST(Value, UnsignedAboveInt64KeepsItsType) {
    EXPECT_TRUE(Value(static_cast<std::uint64_t>(5)).isInt());
    Value big(static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1);
    EXPECT_TRUE(big.isUInt());
    EXPECT_EQ(big.asUInt(), 9223372036854775808ULL);
}

TEST(Value, CopiesAreDeep) {
    Value a(Dictionary{{"k", Array{Value(1)}}});
    Value b = a;
    b.asDictionary()["k"].asArray().push_back(Value(2));
    EXPECT_EQ(a.get("k")->asArray().size(), 1u);
    EXPECT_EQ(b.get("k")->asArray().size(), 2u);
    EXPECT_NE(a, b);
}

// Moves hand over what they hold: a tree built from moved parts owns the
// same text buffers, where a copy (a braced list, say) would own new ones.
TEST(Value, MovesHandOverTheirContents) {
    std::string text(100, 'x');
    const char* buffer = text.data();
    Value leaf(std::move(text));
    EXPECT_EQ(leaf.asString().data(), buffer);

    Value node(Dictionary{{"k", Value(std::string(100, 'y'))}});
    const char* inner = node.get("k")->asString().data();
    Array list = arrayOf(std::move(leaf), std::move(node), Value(3));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].asString().data(), buffer);
    EXPECT_EQ(list[1].get("k")->asString().data(), inner);
    EXPECT_EQ(list[2], Value(3));

    Dictionary d;
    d.emplace(std::string("key"), std::move(list));
    EXPECT_EQ(d.find("key")->asArray()[1].get("k")->asString().data(), inner);
}

// A member assigned to the value that holds it, moved or copied.
TEST(Value, AMemberCanReplaceItsContainer) {
    const Array list{Value(1), Value(std::string(40, 't'))};
    Value v(Dictionary{{"k", list}, {"other", 2}});
    v = std::move(v.asDictionary()["k"]);
    EXPECT_EQ(v, Value(list));
    v = std::move(v.asArray()[1]);
    EXPECT_EQ(v, Value(std::string(40, 't')));

    Value w(Array{Value(Dictionary{{"x", list}})});
    w = w.asArray()[0];
    EXPECT_EQ(w, Value(Dictionary{{"x", list}}));
}

TEST(Value, EqualityIsTypedAndDictionaryOrderFree) {
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(1), Value(true));
    EXPECT_EQ(Value(Dictionary{{"a", 1}, {"b", 2}}), Value(Dictionary{{"b", 2}, {"a", 1}}));
    EXPECT_NE(Value(Array{Value(1), Value(2)}), Value(Array{Value(2), Value(1)}));
}

TEST(Value, DictionaryKeepsInsertionOrderAndReplacesInPlace) {
    Dictionary d{{"z", 1}, {"a", 2}};
    d.set("m", 3);
    d.set("z", 9);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"z", "a", "m"}));
    EXPECT_EQ(d.find("z")->asInt(), 9);
    EXPECT_TRUE(d.erase("a"));
    EXPECT_FALSE(d.erase("a"));
    EXPECT_EQ(d.size(), 2u);
}

TEST(Value, LenientNumberReadings) {
    struct Case {
        Value value;
        std::int64_t i;
        double d;
        bool b;
    } cases[] = {
        {Value("12abc"), 12, 12.0, true},
        {Value("  -3.75e1x"), -3, -37.5, true},
        {Value("abc"), 0, 0.0, false},
        {Value("0001"), 1, 1.0, true},
        {Value("yes"), 0, 0.0, true},
        {Value("99999999999999999999"), std::numeric_limits<std::int64_t>::max(), 1e20, true},
        {Value(2.9), 2, 2.9, true},
        {Value(true), 1, 1.0, true},
        {Value(nullptr), 0, 0.0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.description());
        EXPECT_EQ(c.value.intValue(), c.i);
        EXPECT_DOUBLE_EQ(c.value.doubleValue(), c.d);
        EXPECT_EQ(c.value.boolValue(), c.b);
    }
}

TEST(Value, UTF16OrderAndLength) {
    // U+FF5E (one unit 0xFF5E) sorts after U+1F600 (surrogates 0xD83D...) in
    // UTF-16 order, though its code point is smaller.
    EXPECT_GT(compareUTF16("\xef\xbd\x9e", "\xf0\x9f\x98\x80"), 0);
    EXPECT_LT(compareUTF16("a", "b"), 0);
    EXPECT_LT(compareUTF16("ab", "abc"), 0);
    EXPECT_EQ(compareUTF16("\xe4\xb8\xad", "\xe4\xb8\xad"), 0);
    EXPECT_EQ(utf16Length("abc"), 3u);
    EXPECT_EQ(utf16Length("\xe4\xb8\xad\xe6\x96\x87"), 2u);
    EXPECT_EQ(utf16Length("\xf0\x9f\x98\x80"), 2u);
    EXPECT_EQ(utf16Length("a\xff" "b"), 3u);
    EXPECT_EQ(utf16Length("\xe4\xb8"), 2u);  // truncated sequence: each byte counts
}

// Every faulty sequence is found wherever it sits among ASCII runs, which
// are checked eight bytes at a time: at each offset of a word, straddling
// two words, and in the tail shorter than a word.
TEST(Value, UTF8ValidityAtEveryOffsetOfAnASCIIRun) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    } cases[] = {
        {"two-byte", "\xc3\xa9", true},
        {"three-byte", "\xe4\xb8\xad", true},
        {"four-byte", "\xf0\x9f\x98\x80", true},
        {"stray continuation", "\x80", false},
        {"0xff", "\xff", false},
        {"overlong slash", "\xc0\xaf", false},
        {"encoded surrogate", "\xed\xa0\x80", false},
        {"above U+10FFFF", "\xf4\x90\x80\x80", false},
        {"lead without continuation", "\xe4" "a" "\xad", false},
    };
    for (const auto& c : cases) {
        for (std::size_t before = 0; before <= 17; ++before) {
            for (std::size_t after : {0u, 1u, 7u, 8u, 9u, 20u}) {
                const std::string text = std::string(before, 'a') + c.bytes + std::string(after, 'z');
                EXPECT_EQ(isValidUTF8(text), c.valid) << c.name << " after " << before << ", before " << after;
            }
        }
        // Cut short at the end of the text.
        if (c.valid) {
            EXPECT_FALSE(isValidUTF8(std::string(13, 'a') + c.bytes.substr(0, c.bytes.size() - 1))) << c.name;
        }
    }
    EXPECT_TRUE(isValidUTF8(""));
    EXPECT_TRUE(isValidUTF8(std::string(1000, 'x') + "\xe4\xb8\xad" + std::string(1000, 'y') + "\xc3\xa9"));
}

TEST(Error, DescriptionsAsThePlatformWordsThem) {
    auto plain = Error::make("NSURLErrorDomain", -1001);
    EXPECT_EQ(plain->localizedDescription(), "The operation couldn\u2019t be completed. (NSURLErrorDomain error -1001.)");
    auto withText = Error::make("D", 7, Dictionary{{Error::kLocalizedDescriptionKey, "timed out"}}, plain);
    EXPECT_EQ(withText->localizedDescription(), "timed out");
    EXPECT_EQ(withText->description(), "Error Domain=D Code=7 \"timed out\"");
    EXPECT_EQ(withText->underlying(), plain);
}
