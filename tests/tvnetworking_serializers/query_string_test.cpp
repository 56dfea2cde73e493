// Query-string encoding: escaping, flattening order and key formatting, and a
// differential check of the escaping against Python's urllib.parse.quote.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "TVNetworking/TVQueryStringPair.h"
#include "platform/Value.h"
#include "support/TestSupport.h"

namespace pellix {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

TEST(TVQueryString, ParametersToText) {
    struct Case {
        const char* name;
        Value parameters;
        std::string expected;
    };
    const Case cases[] = {
        {"top-level keys sorted", Dictionary{{"b", 2}, {"a", 1}}, "a=1&b=2"},
        {"reserved characters", Dictionary{{"q", "a b+c&d=e/f?g"}}, "q=a%20b%2Bc%26d%3De/f?g"},
        {"nested keys with escaped brackets", Dictionary{{"user", Dictionary{{"name", "x"}, {"age", 3}}}},
         "user%5Bage%5D=3&user%5Bname%5D=x"},
        {"arrays keep their order", Dictionary{{"ids", Array{2, 1}}}, "ids%5B%5D=2&ids%5B%5D=1"},
        {"null gives the bare key", Dictionary{{"flag", nullptr}}, "flag"},
        {"empty dictionary", Dictionary{}, ""},
        {"upper case sorts first", Dictionary{{"b", 1}, {"a", 2}, {"B", 3}}, "B=3&a=2&b=1"},
        {"Chinese as UTF-8 bytes", Dictionary{{"k", "门"}}, "k=%E9%97%A8"},
        {"true is 1", Dictionary{{"t", true}, {"f", false}}, "f=0&t=1"},
        {"doubles in shortest form", Dictionary{{"d", 0.1}}, "d=0.1"},
        {"mixed nesting", Dictionary{{"user", Dictionary{{"name", "x"}, {"age", 3}}}, {"ids", Array{1, 2}}},
         "ids%5B%5D=1&ids%5B%5D=2&user%5Bage%5D=3&user%5Bname%5D=x"},
        {"array of dictionaries", Dictionary{{"a", Array{Dictionary{{"k", "v"}}}}}, "a%5B%5D%5Bk%5D=v"},
        {"keys are escaped too", Dictionary{{"a b", "c"}}, "a%20b=c"},
        // Keys beyond the BMP sort by their surrogates (after U+E000..U+FFFF).
        {"UTF-16 key order", Dictionary{{"\xF0\x9F\x98\x80", 1}, {"\xEF\xBD\x81", 2}}, "%F0%9F%98%80=1&%EF%BD%81=2"},
    };
    for (const Case& c : cases) EXPECT_EQ(TVQueryStringFromParameters(c.parameters), c.expected) << c.name;
}

TEST(TVQueryString, FlatteningPairs) {
    auto pairs = TVQueryStringPairsFromDictionary(Dictionary{{"user", Dictionary{{"name", "x"}, {"age", 3}}}, {"ids", Array{1, 2}}});
    ASSERT_EQ(pairs.size(), 4u);
    EXPECT_EQ(pairs[0].field(), "ids[]");
    EXPECT_EQ(pairs[0].value(), Value(1));
    EXPECT_EQ(pairs[1].field(), "ids[]");
    EXPECT_EQ(pairs[2].field(), "user[age]");
    EXPECT_EQ(pairs[3].field(), "user[name]");
    EXPECT_EQ(pairs[3].value(), Value("x"));
}

TEST(TVQueryString, BatchesNeverSplitComposedSequences) {
    // 120 UTF-16 units; units 50 and 51 (1-based) form one surrogate pair.
    std::string text(49, 'a');
    text += "\xF0\x9F\x98\x80";  // U+1F600, two units
    text += std::string(69, 'b');
    ASSERT_EQ(platform::utf16Length(text), 120u);
    EXPECT_EQ(TVPercentEscapeBatchLengths(text), (std::vector<std::size_t>{51, 50, 19}));

    // A base letter with combining marks across the batch edge stays whole.
    std::string combining(49, 'a');
    combining += "e\xCC\x81\xCC\xA3";  // e + U+0301 + U+0323: three units
    combining += std::string(10, 'c');
    EXPECT_EQ(TVPercentEscapeBatchLengths(combining), (std::vector<std::size_t>{52, 10}));

    EXPECT_EQ(TVPercentEscapedStringFromString(text),
              std::string(49, 'a') + "%F0%9F%98%80" + std::string(69, 'b'));
    EXPECT_EQ(TVPercentEscapedStringFromString(""), "");
    EXPECT_TRUE(TVPercentEscapeBatchLengths("").empty());
}

void appendUTF8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

TEST(TVQueryString, EscapingMatchesPythonQuote) {
    std::mt19937 rng(20261210);
    std::vector<std::string> samples;
    for (int i = 0; i < 2000; ++i) {
        std::string s;
        int length = std::uniform_int_distribution<int>(0, 140)(rng);
        for (int k = 0; k < length; ++k) {
            char32_t cp;
            switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
                case 0: cp = std::uniform_int_distribution<char32_t>(0x20, 0x7E)(rng); break;  // printable ASCII
                case 1: cp = std::uniform_int_distribution<char32_t>(0x00, 0x7F)(rng); break;  // any ASCII
                case 2: cp = std::uniform_int_distribution<char32_t>(0x80, 0xD7FF)(rng); break;
                case 3: cp = std::uniform_int_distribution<char32_t>(0xE000, 0xFFFD)(rng); break;
                default: cp = std::uniform_int_distribution<char32_t>(0x10000, 0x10FFFF)(rng); break;
            }
            appendUTF8(s, cp);
        }
        samples.push_back(s);
    }
    test::TempDir dir;
    {
        std::ofstream in(dir.file("in.txt"));
        for (const auto& s : samples) {
            static const char kHex[] = "0123456789abcdef";
            for (unsigned char c : s) in << kHex[c >> 4] << kHex[c & 15];
            in << '\n';
        }
    }
    const std::string script =
        "import sys, urllib.parse\n"
        "out = open(sys.argv[2], 'w')\n"
        "for line in open(sys.argv[1]):\n"
        "    s = bytes.fromhex(line.strip()).decode('utf-8')\n"
        "    out.write(urllib.parse.quote(s, safe='-._~/?') + '\\n')\n";
    test::writeFile(dir.file("quote.py"), script);
    ASSERT_EQ(test::run("/usr/bin/python3 " + dir.file("quote.py") + " " + dir.file("in.txt") + " " + dir.file("out.txt")), 0);
    std::ifstream out(dir.file("out.txt"));
    std::string line;
    std::size_t i = 0;
    while (std::getline(out, line)) {
        ASSERT_LT(i, samples.size());
        ASSERT_EQ(TVPercentEscapedStringFromString(samples[i]), line) << "sample " << i;
        ++i;
    }
    EXPECT_EQ(i, samples.size());
}

}  // namespace
}  // namespace pellix
