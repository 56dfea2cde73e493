#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/XMLParser.h"

using namespace pellix::platform;

namespace {

// Records every event as one line of text.
struct Recorder : XMLParserDelegate {
    std::vector<std::string> events;
    int errors = 0;
    std::string abortAt;  // abort on the start of this element
    bool throwOnText = false;

    void parserDidStartDocument(XMLParser&) override { events.push_back("begin"); }
    void parserDidEndDocument(XMLParser&) override { events.push_back("end"); }
    void didStartElement(XMLParser& p, const std::string& name, const Dictionary& attributes) override {
        std::string e = "<" + name;
        for (const auto& [k, v] : attributes) e += " " + k + "=" + v.asString();
        events.push_back(e + ">");
        if (name == abortAt) p.abortParsing();
    }
    void didEndElement(XMLParser&, const std::string& name) override { events.push_back("</" + name + ">"); }
    void foundCharacters(XMLParser&, const std::string& text) override {
        if (throwOnText) throw std::runtime_error("boom");
        // Runs may arrive split; join neighbours so the record is stable.
        if (!events.empty() && events.back().rfind("text:", 0) == 0)
            events.back() += text;
        else
            events.push_back("text:" + text);
    }
    void foundComment(XMLParser&, const std::string& c) override { events.push_back("comment:" + c); }
    void foundCDATA(XMLParser&, const Bytes& b) override { events.push_back("cdata:" + std::string(b.begin(), b.end())); }
    void parseErrorOccurred(XMLParser&, const ErrorPtr&) override { ++errors; }
};

std::int64_t intInfo(const ErrorPtr& e, const char* key) {
    const Value* v = e->userInfo().find(key);
    return v ? v->asInt() : -1;
}

}  // namespace

TEST(XMLParser, ReportsEventsInDocumentOrder) {
    XMLParser parser(std::string_view(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<r b=\"2\" a=\"1 &amp; &#x4e2d;\"><!-- note --><x>t&lt;1</x><![CDATA[<raw> & ]]>tail</r>"));
    Recorder rec;
    parser.setDelegate(&rec);
    ASSERT_TRUE(parser.parse()) << parser.parserError()->description();
    EXPECT_EQ(rec.events, (std::vector<std::string>{"begin", "<r b=2 a=1 & \xe4\xb8\xad>", "comment: note ", "<x>",
                                                    "text:t<1", "</x>", "cdata:<raw> & ", "text:tail", "</r>",
                                                    "end"}));
    EXPECT_FALSE(parser.parserError());
    EXPECT_EQ(rec.errors, 0);
    // One run only.
    EXPECT_FALSE(parser.parse());
}

// Expat splits text at line ends and references; a delegate gets the text
// between two pieces of markup in one call, and a borrowed document reads
// the same as a copied one.
TEST(XMLParser, TextBetweenMarkupArrivesInOneRun) {
    struct Runs : XMLParserDelegate {
        std::vector<std::string> runs;
        void foundCharacters(XMLParser&, const std::string& text) override { runs.push_back(text); }
        void foundCDATA(XMLParser&, const Bytes&) override { runs.push_back("[cdata]"); }
        void foundComment(XMLParser&, const std::string&) override { runs.push_back("[comment]"); }
    };
    const std::string doc = "<a>\n  x &amp; y&#10;\r\n z <b/>\n  tail &lt;<![CDATA[c]]>after<!--n-->end\n</a>";
    const std::vector<std::string> want = {"\n  x & y\n\n z ", "\n  tail <", "[cdata]", "after", "[comment]", "end\n"};
    {
        Runs d;
        XMLParser parser(std::string_view{doc});
        parser.setDelegate(&d);
        ASSERT_TRUE(parser.parse());
        EXPECT_EQ(d.runs, want);
    }
    {
        Runs d;
        XMLParser parser(doc, XMLParser::kBorrow);
        parser.setDelegate(&d);
        ASSERT_TRUE(parser.parse());
        EXPECT_EQ(d.runs, want);
    }
    // Indentation up to a tag can be left out; space elsewhere, and text
    // with space in it, still arrives. Also indentation longer than the
    // parser holds aside in one piece, in one run and in several, and a long
    // run of space that text then follows.
    const std::string several = std::string(40, ' ') + "\n" + std::string(40, '\t');
    const std::string one(100, ' ');
    const std::string text = "\n" + std::string(70, ' ') + "x" + std::string(70, ' ');
    struct SpaceCase {
        std::string doc;
        std::vector<std::string> all, withoutIndentation;
    };
    const std::vector<SpaceCase> spaceCases = {
        {"<a>\n  <b> x </b>\n  <![CDATA[c]]>  \n</a>",
         {"\n  ", " x ", "\n  ", "[cdata]", "  \n"},
         {" x ", "\n  ", "[cdata]"}},
        {"<a>" + several + "<b/>" + one + "<c/>" + text + "<d/></a>", {several, one, text}, {text}},
    };
    for (const auto& c : spaceCases) {
        for (bool report : {true, false}) {
            Runs d;
            XMLParser parser(c.doc, XMLParser::kBorrow);
            parser.setReportsSpaceBeforeTags(report);
            parser.setDelegate(&d);
            ASSERT_TRUE(parser.parse());
            EXPECT_EQ(d.runs, report ? c.all : c.withoutIndentation) << c.doc;
        }
    }
    // Text before a failure is still handed over before the error.
    Runs d;
    XMLParser cut(std::string_view("<a>one\ntwo"));
    cut.setDelegate(&d);
    EXPECT_FALSE(cut.parse());
    EXPECT_EQ(d.runs, (std::vector<std::string>{"one\ntwo"}));
}

// End events name their own element at every depth, also when a shorter or
// longer name was open at that depth before.
TEST(XMLParser, EndEventsNameTheirElement) {
    const std::string doc = "<root><alpha><b/><longer-name><c/></longer-name></alpha><b>t</b><alpha/></root>";
    Recorder rec;
    XMLParser parser(doc, XMLParser::kBorrow);
    parser.setDelegate(&rec);
    ASSERT_TRUE(parser.parse());
    std::vector<std::string> ends;
    for (const auto& e : rec.events)
        if (e.rfind("</", 0) == 0) ends.push_back(e);
    EXPECT_EQ(ends, (std::vector<std::string>{"</b>", "</c>", "</longer-name>", "</alpha>", "</b>", "</alpha>",
                                              "</root>"}));
}

// A delegate may keep the name of an open element by reference until the
// element ends, while deeper elements open and close below it.
TEST(XMLParser, StartNamesStayValidUntilTheirEnd) {
    struct Keeper : XMLParserDelegate {
        std::vector<const std::string*> open;
        std::vector<std::string> copies;
        int mismatches = 0;
        void didStartElement(XMLParser&, const std::string& name, const Dictionary&) override {
            open.push_back(&name);
            copies.push_back(name);
        }
        void didEndElement(XMLParser&, const std::string& name) override {
            if (*open.back() != copies.back() || name != copies.back()) ++mismatches;
            open.pop_back();
            copies.pop_back();
        }
    };
    std::string doc;
    for (int i = 0; i < 60; ++i) doc += "<level-" + std::to_string(i) + "-with-a-name-longer-than-inline>";
    doc += "<leaf/><x/>";
    for (int i = 59; i >= 0; --i) doc += "</level-" + std::to_string(i) + "-with-a-name-longer-than-inline>";
    Keeper k;
    XMLParser parser(doc, XMLParser::kBorrow);
    parser.setDelegate(&k);
    ASSERT_TRUE(parser.parse());
    EXPECT_EQ(k.mismatches, 0);
    EXPECT_TRUE(k.open.empty());
}

TEST(XMLParser, DeclaredEncodingIsHonoured) {
    XMLParser parser(std::string_view("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xe9</a>"));
    Recorder rec;
    parser.setDelegate(&rec);
    ASSERT_TRUE(parser.parse());
    EXPECT_EQ(rec.events.at(2), "text:caf\xc3\xa9");
}

TEST(XMLParser, EntityAttacksAreRefusedBeforeExpansion) {
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    for (int i = 1; i <= 9; ++i)
        laughs += "<!ENTITY lol" + std::to_string(i) + " \"" + [&] {
            std::string s;
            for (int k = 0; k < 10; ++k) s += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
            return s;
        }() + "\">";
    laughs += "]><lolz>&lol9;</lolz>";
    struct Case {
        const char* name;
        std::string doc;
        std::int64_t code;
    } cases[] = {
        {"billion laughs", laughs, XMLParser::kEntityRefLoopError},
        {"external file entity", "<!DOCTYPE d [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><d>&x;</d>",
         XMLParser::kEntityRefLoopError},
        {"parameter entity", "<!DOCTYPE d [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]><d/>",
         XMLParser::kEntityRefLoopError},
        {"plain internal entity", "<!DOCTYPE d [<!ENTITY e \"x\">]><d>&e;</d>", XMLParser::kEntityRefLoopError},
        {"undeclared entity", "<d>&nope;</d>", XMLParser::kUndeclaredEntityError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XMLParser parser(std::string_view(c.doc));
        Recorder rec;
        parser.setDelegate(&rec);
        EXPECT_FALSE(parser.parse());
        ASSERT_TRUE(parser.parserError());
        EXPECT_EQ(parser.parserError()->domain(), "NSXMLParserErrorDomain");
        EXPECT_EQ(parser.parserError()->code(), c.code);
        EXPECT_EQ(rec.errors, 1);
        for (const auto& e : rec.events) EXPECT_EQ(e.find("lollol"), std::string::npos);
        for (const auto& e : rec.events) EXPECT_EQ(e.find("root:"), std::string::npos);
    }
}

TEST(XMLParser, MalformedDocumentsGiveCodeAndPosition) {
    struct Case {
        std::string doc;
        std::int64_t code;
        std::int64_t line;
    } cases[] = {
        {"", XMLParser::kEmptyDocumentError, 1},
        {"   ", XMLParser::kEmptyDocumentError, 1},
        {"<a><b>", XMLParser::kPrematureDocumentEndError, 1},
        {"<a>\n<b></a>", XMLParser::kTagNameMismatchError, 2},
        {"<a/><b/>", XMLParser::kNotWellBalancedError, 1},
        {"<a>\n\n\x01</a>", XMLParser::kInvalidCharacterError, 3},
        {"<a>\xff</a>", XMLParser::kInvalidCharacterError, 1},
        {"<a x=\"1\" x=\"2\"/>", XMLParser::kNotWellBalancedError, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.doc);
        XMLParser parser(std::string_view(c.doc));
        Recorder rec;
        parser.setDelegate(&rec);
        EXPECT_FALSE(parser.parse());
        ErrorPtr e = parser.parserError();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->code(), c.code);
        EXPECT_EQ(intInfo(e, XMLParser::kErrorLineNumberKey), c.line);
        EXPECT_EQ(parser.lineNumber(), c.line);
        EXPECT_NE(e->userInfo().find(XMLParser::kErrorMessageKey), nullptr);
        EXPECT_EQ(rec.errors, 1);
        EXPECT_TRUE(rec.events.empty() || rec.events.back() != "end");
    }
}

// After a clean parse the position is the end of the document, the same as
// the end-document callback saw.
TEST(XMLParser, PositionAfterACleanParseIsTheEnd) {
    struct AtEnd : XMLParserDelegate {
        std::int64_t line = 0, column = 0;
        void parserDidEndDocument(XMLParser& p) override {
            line = p.lineNumber();
            column = p.columnNumber();
        }
    } atEnd;
    XMLParser parser(std::string_view("<a>\n  <b>x</b>\n  <c/>\n</a>  "));
    parser.setDelegate(&atEnd);
    ASSERT_TRUE(parser.parse());
    EXPECT_EQ(parser.lineNumber(), 4);
    EXPECT_EQ(parser.columnNumber(), 6);
    EXPECT_EQ(atEnd.line, 4);
    EXPECT_EQ(atEnd.column, 6);
}

TEST(XMLParser, NestingCap) {
    auto nested = [](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += "<e>";
        for (int i = 0; i < depth; ++i) s += "</e>";
        return s;
    };
    {
        XMLParser parser(std::string_view(nested(static_cast<int>(XMLParser::kDefaultMaxDepth))));
        EXPECT_TRUE(parser.parse());
    }
    {
        XMLParser parser(std::string_view(nested(static_cast<int>(XMLParser::kDefaultMaxDepth) + 1)));
        EXPECT_FALSE(parser.parse());
        EXPECT_EQ(parser.parserError()->code(), XMLParser::kNestingTooDeepError);
    }
    {
        XMLParser parser(std::string_view(nested(100000)));
        parser.setMaxDepth(4);
        Recorder rec;
        parser.setDelegate(&rec);
        EXPECT_FALSE(parser.parse());
        EXPECT_EQ(parser.parserError()->code(), XMLParser::kNestingTooDeepError);
        EXPECT_EQ(rec.events.size(), 5u);  // begin and four starts
    }
}

TEST(XMLParser, AbortAndThrowingDelegateStopCleanly) {
    {
        XMLParser parser(std::string_view("<a><b>text</b><c/></a>"));
        Recorder rec;
        rec.abortAt = "b";
        parser.setDelegate(&rec);
        EXPECT_FALSE(parser.parse());
        EXPECT_EQ(parser.parserError()->code(), XMLParser::kDelegateAbortedParseError);
        EXPECT_EQ(rec.events, (std::vector<std::string>{"begin", "<a>", "<b>"}));
        EXPECT_EQ(rec.errors, 0);
    }
    {
        XMLParser parser(std::string_view("<a>text<b/></a>"));
        Recorder rec;
        rec.throwOnText = true;
        parser.setDelegate(&rec);
        EXPECT_FALSE(parser.parse());
        EXPECT_EQ(parser.parserError()->code(), XMLParser::kInternalError);
        EXPECT_EQ(rec.events, (std::vector<std::string>{"begin", "<a>"}));
    }
    // Without a delegate the document is still checked.
    XMLParser bare(std::string_view("<a><b></a>"));
    EXPECT_FALSE(bare.parse());
}
