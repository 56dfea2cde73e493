// XMLParser: the platform's event-based (SAX) XML parser, over expat.
//
// The parser reads a whole document held in memory and calls its delegate
// for each event in document order. It is non-validating and never reaches
// outside the document: external entities and external DTD subsets are not
// loaded, and a document that declares entities of its own (the
// "billion laughs" family) is refused with an error before any expansion.
// Elements nested deeper than maxDepth() are refused too. Namespaces are not
// processed: names arrive as written ("s:Envelope").
//
// Ownership and threads: the parser owns a copy of the document, except when
// made with kBorrow: then it reads the caller's text, which must stay alive
// and unchanged until parse() returns. The delegate is borrowed (not owned)
// and must outlive parse(). One parser runs
// on one thread at a time; parse() runs once (a second call fails). Delegate
// callbacks should not throw; one that does ends the parse with
// kInternalError (the exception does not escape parse()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix::platform {

class XMLParser;

// Every method has an empty default body; override the events you need.
class XMLParserDelegate {
public:
    virtual ~XMLParserDelegate() = default;
    virtual void parserDidStartDocument(XMLParser&) {}
    virtual void parserDidEndDocument(XMLParser&) {}
    // Attributes in document order, each name → String value. `name` stays
    // valid, and unchanged, until the matching didEndElement returns.
    virtual void didStartElement(XMLParser&, const std::string& name, const Dictionary& attributes) {
        (void)name, (void)attributes;
    }
    virtual void didEndElement(XMLParser&, const std::string& name) { (void)name; }
    // A run of character data (entities and character references resolved);
    // one text may arrive in several runs, and whitespace between elements
    // is reported too. The parser hands over the text between two pieces of
    // markup as one run where it can.
    virtual void foundCharacters(XMLParser&, const std::string& text) { (void)text; }
    virtual void foundComment(XMLParser&, const std::string& comment) { (void)comment; }
    // The content of one CDATA section, whole.
    virtual void foundCDATA(XMLParser&, const Bytes& data) { (void)data; }
    // Called once when parsing fails (not after abortParsing()).
    virtual void parseErrorOccurred(XMLParser&, const ErrorPtr& error) { (void)error; }
};

class XMLParser {
public:
    static constexpr const char* kErrorDomain = "NSXMLParserErrorDomain";
    // User-info keys of a parse error.
    static constexpr const char* kErrorLineNumberKey = "NSXMLParserErrorLineNumber";
    static constexpr const char* kErrorColumnKey = "NSXMLParserErrorColumn";
    static constexpr const char* kErrorMessageKey = "NSXMLParserErrorMessage";
    // Error codes (the platform's numbering).
    enum ErrorCode : std::int64_t {
        kInternalError = 1,               // also: a delegate callback threw
        kEmptyDocumentError = 4,
        kPrematureDocumentEndError = 5,   // cut off inside the root element
        kInvalidCharacterError = 9,
        kUndeclaredEntityError = 26,
        kExternalEntityError = 29,        // reference to an external entity
        kTagNameMismatchError = 76,
        kNotWellBalancedError = 85,       // any other well-formedness error
        kEntityRefLoopError = 89,         // entity declarations refused
        kNestingTooDeepError = 111,       // deeper than maxDepth() (this library's own code)
        kDelegateAbortedParseError = 512,
    };

    static constexpr std::size_t kDefaultMaxDepth = 256;

    explicit XMLParser(Bytes data);
    explicit XMLParser(std::string_view text);
    // Reads `text` in place instead of copying it (see above).
    struct Borrow {};
    static constexpr Borrow kBorrow{};
    XMLParser(std::string_view text, Borrow);
    ~XMLParser();
    XMLParser(const XMLParser&) = delete;
    XMLParser& operator=(const XMLParser&) = delete;

    void setDelegate(XMLParserDelegate* delegate) { delegate_ = delegate; }
    XMLParserDelegate* delegate() const { return delegate_; }
    void setMaxDepth(std::size_t depth) { maxDepth_ = depth; }
    std::size_t maxDepth() const { return maxDepth_; }
    // Off: text made only of spaces, tabs and line ends that runs up to a
    // start or end tag is not reported (the indentation between elements),
    // for delegates that trim such space away anyway. On by default.
    void setReportsSpaceBeforeTags(bool report) { reportsSpaceBeforeTags_ = report; }
    bool reportsSpaceBeforeTags() const { return reportsSpaceBeforeTags_; }

    // Runs the whole document through the delegate. True when the document
    // was well formed and nobody aborted; otherwise false with parserError()
    // set (line and column in its user info).
    bool parse();
    // From inside a delegate callback: stops parsing after the current event;
    // parse() then returns false with kDelegateAbortedParseError.
    void abortParsing();

    ErrorPtr parserError() const { return error_; }
    // Position of the event being reported (1-based line, 0-based column).
    std::int64_t lineNumber() const;
    std::int64_t columnNumber() const;

private:
    struct Impl;
    friend struct Impl;
    Bytes data_;
    std::string_view doc_;  // data_, or the borrowed text
    XMLParserDelegate* delegate_ = nullptr;
    std::size_t maxDepth_ = kDefaultMaxDepth;
    bool reportsSpaceBeforeTags_ = true;
    ErrorPtr error_;
    bool started_ = false;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pellix::platform
