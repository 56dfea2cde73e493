// XML dictionary parser: the tree shape under each setting, reading nodes
// back, writing XML, and hostile input.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "HOSSDK/HOSXMLDictionary.h"
#include "HOSSDK/HOSXMLDictionaryParser.h"
#include "platform/Log.h"
#include "support/TestSupport.h"

using namespace pellix;
using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

// Captures the system log for the lifetime of the object.
struct LogCapture {
    LogCapture() {
        platform::Log::setSink([this](std::string_view line) {
            std::lock_guard<std::mutex> g(m);
            lines.emplace_back(line);
        });
    }
    ~LogCapture() { platform::Log::setSink(nullptr); }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> g(m);
        return lines;
    }
    std::mutex m;
    std::vector<std::string> lines;
};

Dictionary parse(std::string_view xml) {
    auto d = HOSXMLDictionary::hos_dictionaryWithXMLString(xml);
    EXPECT_TRUE(d.has_value()) << xml;
    return d ? *d : Dictionary{};
}

}  // namespace

TEST(HOSXMLDictionary, DefaultTreeShapes) {
    struct Case {
        const char* xml;
        Dictionary expected;
    };
    const std::vector<Case> cases = {
        {"<a><b>1</b><b>2</b><c/></a>", {{"__name", "a"}, {"b", Array{"1", "2"}}}},
        {"<a x=\"1\"><b>t</b></a>", {{"__name", "a"}, {"_x", "1"}, {"b", "t"}}},
        {"<a>one<b>t</b>two</a>", {{"__name", "a"}, {"__text", Array{"one", "two"}}, {"b", "t"}}},
        {"<a>  \n\t </a>", {{"__name", "a"}}},
        {"<a><b><c>deep</c></b><d>&lt;&amp;&#x41;</d></a>",
         {{"__name", "a"}, {"b", Dictionary{{"c", "deep"}}}, {"d", "<&A"}}},
        {"<a><b><![CDATA[<raw> & ]]>tail</b></a>", {{"__name", "a"}, {"b", "<raw> & tail"}}},
        {"<a>\xC2\xA0 nbsp-trimmed \xE3\x80\x80</a>", {{"__name", "a"}, {"__text", "nbsp-trimmed"}}},
        {"<!-- before --><a><!-- kept out by default --><b>x</b></a>", {{"__name", "a"}, {"b", "x"}}},
        // Leading and trailing space around references and line breaks.
        {"<a>\n  &lt;x&gt; &amp;\n  y\n</a>", {{"__name", "a"}, {"__text", "<x> &\n  y"}}},
        {"<a>\n  <b>\n    1\n  </b>\n  two\n</a>", {{"__name", "a"}, {"b", "1"}, {"__text", "two"}}},
        {"<a>x<![CDATA[ c ]]>  \n<b/>y \n</a>", {{"__name", "a"}, {"__text", Array{"x c", "y"}}}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.xml), c.expected) << c.xml << "\n" << Value(parse(c.xml)).description();
}

TEST(HOSXMLDictionary, SettingsTable) {
    struct Case {
        const char* name;
        std::function<void(HOSXMLDictionaryParser&)> set;
        const char* xml;
        Dictionary expected;
    };
    const std::vector<Case> cases = {
        {"alwaysUseArrays", [](auto& p) { p.setAlwaysUseArrays(true); }, "<a><b>1</b></a>",
         {{"__name", "a"}, {"b", Array{"1"}}}},
        {"wrapRootNode", [](auto& p) { p.setWrapRootNode(true); }, "<a><b>1</b></a>",
         {{"a", Dictionary{{"__name", "a"}, {"b", "1"}}}}},
        {"attributes as dictionary", [](auto& p) { p.setAttributesMode(HOSXMLDictionaryAttributesModeDictionary); },
         "<a x=\"1\" y=\"2\"/>", {{"__name", "a"}, {"__attributes", Dictionary{{"x", "1"}, {"y", "2"}}}}},
        {"attributes unprefixed", [](auto& p) { p.setAttributesMode(HOSXMLDictionaryAttributesModeUnprefixed); },
         "<a x=\"1\"/>", {{"__name", "a"}, {"x", "1"}}},
        {"attributes discarded", [](auto& p) { p.setAttributesMode(7); }, "<a x=\"1\"><b y=\"2\">t</b></a>",
         {{"__name", "a"}, {"b", "t"}}},
        {"names always", [](auto& p) { p.setNodeNameMode(HOSXMLDictionaryNodeNameModeAlways); },
         "<a><b><c>1</c></b></a>", {{"__name", "a"}, {"b", Dictionary{{"__name", "b"}, {"c", "1"}}}}},
        {"names never", [](auto& p) { p.setNodeNameMode(HOSXMLDictionaryNodeNameModeNever); }, "<a><b>1</b></a>",
         {{"b", "1"}}},
        {"comments preserved, not before the root", [](auto& p) { p.setPreserveComments(true); },
         "<!--x--><a><!--one--><b>1</b><!--two--></a>", {{"__name", "a"}, {"__comments", Array{"one", "two"}}, {"b", "1"}}},
        {"no trimming", [](auto& p) { p.setTrimWhiteSpace(false); }, "<a> x <b>1</b></a>",
         {{"__name", "a"}, {"__text", " x "}, {"b", "1"}}},
        {"no trimming keeps space around references", [](auto& p) { p.setTrimWhiteSpace(false); },
         "<a>\n  &lt;x&gt;\n</a>", {{"__name", "a"}, {"__text", "\n  <x>\n"}}},
        {"no trimming keeps indentation as text", [](auto& p) { p.setTrimWhiteSpace(false); },
         "<a>\n  <b>1</b>\n  <![CDATA[c]]>  \n</a>", {{"__name", "a"}, {"__text", Array{"\n  ", "\n  c  \n"}}, {"b", "1"}}},
        {"no collapsing", [](auto& p) { p.setCollapseTextNodes(false); }, "<a><b>1</b></a>",
         {{"__name", "a"}, {"b", Dictionary{{"__text", "1"}}}}},
        {"always arrays, empty child leaves an empty list", [](auto& p) { p.setAlwaysUseArrays(true); },
         "<a><c/><d>1</d><d/></a>", {{"__name", "a"}, {"c", Array{}}, {"d", Array{"1"}}}},
        {"attribute and child of one name share a list",
         [](auto& p) { p.setAttributesMode(HOSXMLDictionaryAttributesModeUnprefixed); },
         "<a x=\"1\" y=\"2\"><x>t</x><y/></a>", {{"__name", "a"}, {"x", Array{"1", "t"}}, {"y", Array{"2"}}}},
        {"keep empty nodes", [](auto& p) { p.setStripEmptyNodes(false); }, "<a><c/></a>",
         {{"__name", "a"}, {"c", Dictionary{}}}},
        {"keep empty, no collapse", [](auto& p) {
             p.setStripEmptyNodes(false);
             p.setCollapseTextNodes(false);
         },
         "<a><c/></a>", {{"__name", "a"}, {"c", Dictionary{{"__text", ""}}}}},
    };
    for (const auto& c : cases) {
        HOSXMLDictionaryParser p;
        c.set(p);
        auto d = p.dictionaryWithString(c.xml);
        ASSERT_TRUE(d) << c.name;
        EXPECT_EQ(*d, c.expected) << c.name << "\n" << Value(*d).description();
    }
}

// Listings repeat one node shape many times, but not always exactly: nodes
// of one name with more, fewer and other children than the one before, and
// a node of that name deeper down, each keep exactly their own entries in
// document order.
TEST(HOSXMLDictionary, RepeatedNodesOfChangingShape) {
    std::string wide = "<C>";
    Dictionary wideNode;
    for (int i = 0; i < 80; ++i) {
        const std::string k = "k" + std::to_string(i);
        wide += "<" + k + ">" + std::to_string(i) + "</" + k + ">";
        wideNode.append(k, Value(std::to_string(i)));
    }
    wide += "</C>";
    const std::string xml = "<r>\n  <C><Key>a</Key><Size>1</Size><Owner><ID>7</ID><N>x</N></Owner></C>\n"
                            "  <C><Key>b</Key></C>\n"
                            "  <C><Size>3</Size><Key>c</Key><Owner><ID>8</ID></Owner><E>e</E><F><C><G>g</G></C></F></C>\n" +
                            wide + "<C><Key>d</Key></C></r>";
    const Array contents{
        Dictionary{{"Key", "a"}, {"Size", "1"}, {"Owner", Dictionary{{"ID", "7"}, {"N", "x"}}}},
        Dictionary{{"Key", "b"}},
        Dictionary{{"Size", "3"},
                   {"Key", "c"},
                   {"Owner", Dictionary{{"ID", "8"}}},
                   {"E", "e"},
                   {"F", Dictionary{{"C", Dictionary{{"G", "g"}}}}}},
        wideNode,
        Dictionary{{"Key", "d"}},
    };
    const Dictionary tree = parse(xml);
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_EQ(tree.begin()->first, "__name");
    ASSERT_NE(tree.find("C"), nullptr);
    EXPECT_EQ(*tree.find("C"), Value(contents)) << Value(tree).description();
    // Entry order, which equality of dictionaries does not look at.
    const Array& parsed = tree.find("C")->asArray();
    ASSERT_EQ(parsed.size(), contents.size());
    for (std::size_t i = 0; i < parsed.size(); ++i)
        EXPECT_EQ(parsed[i].asDictionary().keys(), contents[i].asDictionary().keys()) << i;
    // The shared parser keeps what it learnt of node sizes only within one
    // parse: the next parse of the same reply starts afresh and agrees.
    EXPECT_EQ(parse(xml), tree);
}

TEST(HOSXMLDictionary, SharedInstanceSettingsApplyToLaterParses) {
    HOSXMLDictionaryParser::sharedInstance().setAlwaysUseArrays(true);
    auto d = HOSXMLDictionary::hos_dictionaryWithXMLString("<a><b>1</b></a>");
    HOSXMLDictionaryParser::sharedInstance().setAlwaysUseArrays(false);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->find("b")->isArray());
}

TEST(HOSXMLDictionary, ReadersOfANode) {
    auto d = parse("<a x=\"1\"><b>t</b></a>");
    EXPECT_EQ(HOSXMLDictionary::hos_nodeName(d), "a");
    EXPECT_EQ(HOSXMLDictionary::hos_attributes(d), (Dictionary{{"x", "1"}}));
    EXPECT_EQ(HOSXMLDictionary::hos_childNodes(d), (Dictionary{{"b", "t"}}));
    EXPECT_EQ(HOSXMLDictionary::hos_innerText(parse("<a>one<b>t</b>two</a>")), "one\ntwo");

    auto list = parse("<r><Contents><Key>k1</Key><Size>1</Size></Contents><Contents><Key>k2</Key></Contents>"
                      "<Name>bucket</Name><Owner><ID>7</ID></Owner></r>");
    EXPECT_EQ(HOSXMLDictionary::hos_stringValueForKeyPath(list, "Name"), "bucket");
    EXPECT_EQ(HOSXMLDictionary::hos_stringValueForKeyPath(list, "Contents.Key"), "k1");
    EXPECT_EQ(HOSXMLDictionary::hos_arrayValueForKeyPath(list, "Contents")->size(), 2u);
    EXPECT_EQ(HOSXMLDictionary::hos_arrayValueForKeyPath(list, "Name"), (Array{"bucket"}));
    EXPECT_EQ(HOSXMLDictionary::hos_arrayValueForKeyPath(list, "Missing"), std::nullopt);
    EXPECT_EQ(HOSXMLDictionary::hos_dictionaryValueForKeyPath(list, "Owner"), (Dictionary{{"ID", "7"}}));
    EXPECT_EQ(HOSXMLDictionary::hos_dictionaryValueForKeyPath(list, "Name"), (Dictionary{{"__text", "bucket"}}));
    EXPECT_EQ(HOSXMLDictionary::hos_stringValueForKeyPath(list, "Nothing.Here"), std::nullopt);
}

TEST(HOSXMLDictionary, WritingXML) {
    EXPECT_EQ(HOSXMLDictionary::hos_XMLEncodedString("a<b&c\"d'e>"), "a&lt;b&amp;c&quot;d&apos;e&gt;");
    EXPECT_EQ(HOSXMLDictionary::hos_XMLString(parse("<a x=\"1&amp;\"><b>t&lt;</b><c>1</c><c>2</c></a>")),
              "<a x=\"1&amp;\"><b>t&lt;</b>\n<c>1</c>\n<c>2</c></a>");
    EXPECT_EQ(HOSXMLDictionary::hos_XMLString(Dictionary{{"__name", "e"}}), "<e/>");
    EXPECT_EQ(HOSXMLDictionary::hos_XMLString(Dictionary{{"k", "v"}, {"m", "n"}}), "<root><k>v</k>\n<m>n</m></root>");

    HOSXMLDictionaryParser wrap;
    wrap.setWrapRootNode(true);
    auto wrapped = wrap.dictionaryWithString("<a><b>1</b></a>");
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(HOSXMLDictionary::hos_XMLString(*wrapped), "<a><b>1</b></a>");

    // Writing and parsing again gives the same tree.
    const char* doc = "<r><Deleted><Key>a&amp;b</Key></Deleted><Deleted><Key>&lt;x/&gt;</Key></Deleted></r>";
    auto tree = parse(doc);
    EXPECT_EQ(parse(HOSXMLDictionary::hos_XMLString(tree)), tree);
}

TEST(HOSXMLDictionary, MalformedAndHostileInput) {
    LogCapture log;
    // Cut off after a complete first child: the tree so far, and a "NO" line.
    auto cut = HOSXMLDictionary::hos_dictionaryWithXMLString("<a><b>1</b><c>2");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->find("b")->asString(), "1");
    auto lines = log.snapshot();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "dictionaryWithParser NO");

    HOSXMLDictionary::hos_dictionaryWithXMLString("<a/>");
    EXPECT_EQ(log.snapshot().back(), "dictionaryWithParser YES");

    EXPECT_EQ(HOSXMLDictionary::hos_dictionaryWithXMLString(""), std::nullopt);
    EXPECT_EQ(HOSXMLDictionary::hos_dictionaryWithXMLString("just text"), std::nullopt);
    EXPECT_EQ(HOSXMLDictionary::hos_dictionaryWithXMLFile("/nonexistent/file.xml"), std::nullopt);

    // Entity expansion and external entities are refused, not expanded.
    auto laughs = HOSXMLDictionary::hos_dictionaryWithXMLString(
        "<!DOCTYPE a [<!ENTITY x \"xxxxxxxxxx\"><!ENTITY y \"&x;&x;&x;&x;&x;&x;&x;&x;\">]><a>&y;&y;&y;</a>");
    EXPECT_TRUE(!laughs || !laughs->contains("__text"));
    auto external = HOSXMLDictionary::hos_dictionaryWithXMLString(
        "<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>");
    EXPECT_TRUE(!external || !external->contains("__text"));

    // Deep nesting stops at the cap without exhausting the stack.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<d>";
    auto capped = HOSXMLDictionary::hos_dictionaryWithXMLString(deep);
    ASSERT_TRUE(capped);
    std::size_t depth = 0;
    const Dictionary* d = &*capped;
    while (const Value* next = d->find("d")) {
        if (!next->dictionaryIf()) break;
        d = next->dictionaryIf();
        ++depth;
    }
    EXPECT_LE(depth, HOSXMLDictionaryParser::kMaxDepth);
}

TEST(HOSXMLDictionary, FileEntryPoint) {
    test::TempDir dir;
    test::writeFile(dir.file("r.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>NoSuchKey</Code></Error>");
    auto d = HOSXMLDictionary::hos_dictionaryWithXMLFile(dir.file("r.xml"));
    ASSERT_TRUE(d);
    EXPECT_EQ(HOSXMLDictionary::hos_stringValueForKeyPath(*d, "Code"), "NoSuchKey");
}
