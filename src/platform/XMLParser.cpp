#include "platform/XMLParser.h"

#include <climits>
#include <expat.h>

#include <memory>
#include <vector>

namespace pellix::platform {

struct XMLParser::Impl {
    XMLParser& owner;
    XML_Parser parser = nullptr;
    std::size_t depth = 0;
    bool sawElement = false;
    bool inCDATA = false;
    bool aborted = false;
    std::string cdata;
    // The name and text handed to the delegate, reused from event to event
    // so that delivering one costs no allocation once they have grown.
    // Expat splits text at line ends and references; the runs are joined in
    // `text` and handed over together before the next other event, one call
    // instead of several for each text.
    std::string name;
    std::string text;
    // Space that opens a run is held here until the run shows more than
    // space: most such runs are the indentation between two tags, which is
    // then dropped (or handed over) without a pass through `text`. Space
    // beyond the array's size goes on into `text`.
    char space[64];
    std::size_t spaceLength = 0;
    // Names of the open elements, by depth: an end event reuses its start's
    // copy (expat has checked that the two match). Each name has a place of
    // its own, so that it stays put while deeper elements open.
    std::vector<std::unique_ptr<std::string>> openNames;
    // A failure found by our own handlers (refused entity, nesting, thrown callback).
    std::int64_t ownCode = 0;
    std::string ownMessage;
    std::int64_t line = 0, column = 0;

    explicit Impl(XMLParser& o) : owner(o) {}
    ~Impl() {
        if (parser) XML_ParserFree(parser);
    }

    static Impl& from(void* user) { return *static_cast<Impl*>(user); }

    void stopWith(std::int64_t code, std::string message) {
        if (ownCode == 0) {
            ownCode = code;
            ownMessage = std::move(message);
            line = static_cast<std::int64_t>(XML_GetCurrentLineNumber(parser));
            column = static_cast<std::int64_t>(XML_GetCurrentColumnNumber(parser));
        }
        XML_StopParser(parser, XML_FALSE);
    }

    // Runs a delegate call; an exception must not unwind through expat.
    template <typename F>
    void call(F&& f) {
        if (!owner.delegate_ || ownCode != 0 || aborted) return;
        try {
            f(*owner.delegate_);
        } catch (...) {
            stopWith(kInternalError, "delegate callback threw an exception");
        }
    }

    // Hands over the text gathered since the last other event; `beforeTag`
    // when that event is a start or end tag.
    void flushText(bool beforeTag = false) {
        const bool dropsSpace = beforeTag && !owner.reportsSpaceBeforeTags_;
        if (text.empty()) {
            if (spaceLength == 0) return;
            const std::size_t n = spaceLength;
            spaceLength = 0;
            if (dropsSpace) return;
            text.assign(space, n);
        }
        if (!(dropsSpace && onlySpace(text))) call([&](XMLParserDelegate& d) { d.foundCharacters(owner, text); });
        text.clear();
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    static bool onlySpace(const std::string& t) {
        for (char c : t)
            if (!isSpace(c)) return false;
        return true;
    }

    static void onStart(void* user, const XML_Char* name, const XML_Char** attrs) {
        Impl& s = from(user);
        s.flushText(true);
        s.sawElement = true;
        if (++s.depth > s.owner.maxDepth_) {
            s.stopWith(kNestingTooDeepError, "elements nested deeper than " + std::to_string(s.owner.maxDepth_));
            return;
        }
        while (s.openNames.size() < s.depth) s.openNames.push_back(std::make_unique<std::string>());
        std::string& own = *s.openNames[s.depth - 1];
        own.assign(name);
        if (attrs[0]) {
            s.startWithAttributes(own, attrs);
            return;
        }
        static const Dictionary kNoAttributes;
        s.call([&](XMLParserDelegate& d) { d.didStartElement(s.owner, own, kNoAttributes); });
    }

    [[gnu::noinline]] void startWithAttributes(const std::string& name, const XML_Char** attrs) {
        Dictionary attributes;
        for (std::size_t i = 0; attrs[i] && attrs[i + 1]; i += 2) attributes.set(attrs[i], Value(attrs[i + 1]));
        call([&](XMLParserDelegate& d) { d.didStartElement(owner, name, attributes); });
    }

    static void onEnd(void* user, const XML_Char* name) {
        Impl& s = from(user);
        s.flushText(true);
        const std::string* own = &s.name;
        if (s.depth > 0 && s.depth <= s.openNames.size()) {
            own = s.openNames[--s.depth].get();
        } else {
            if (s.depth > 0) --s.depth;
            s.name.assign(name);
        }
        s.call([&](XMLParserDelegate& d) { d.didEndElement(s.owner, *own); });
    }

    static void onText(void* user, const XML_Char* text, int len) {
        Impl& s = from(user);
        const auto n = static_cast<std::size_t>(len);
        // Most runs are indentation between tags (expat hands over each line
        // end alone): copied aside while checked, without a call.
        if (s.text.empty() && !s.inCDATA && n <= sizeof s.space - s.spaceLength) {
            char* to = s.space + s.spaceLength;
            std::size_t i = 0;
            while (i < n && isSpace(text[i])) {
                to[i] = text[i];
                ++i;
            }
            if (i == n) {
                s.spaceLength += n;
                return;
            }
        }
        s.appendText(text, n);
    }

    // The rest of onText, kept out of line so that the common case above
    // needs no stack frame.
    [[gnu::noinline]] void appendText(const char* run, std::size_t n) {
        if (inCDATA) {
            cdata.append(run, n);
            return;
        }
        if (text.empty() && spaceLength > 0) {
            text.append(space, spaceLength);
            spaceLength = 0;
        }
        text.append(run, n);
    }

    static void onComment(void* user, const XML_Char* text) {
        Impl& s = from(user);
        s.flushText();
        std::string t(text);
        s.call([&](XMLParserDelegate& d) { d.foundComment(s.owner, t); });
    }

    static void onCDATAStart(void* user) {
        Impl& s = from(user);
        s.flushText();
        s.inCDATA = true;
        s.cdata.clear();
    }

    static void onCDATAEnd(void* user) {
        Impl& s = from(user);
        s.inCDATA = false;
        Bytes b(s.cdata.begin(), s.cdata.end());
        s.cdata.clear();
        s.call([&](XMLParserDelegate& d) { d.foundCDATA(s.owner, b); });
    }

    // Any entity declaration is refused: internal ones are the raw material
    // of exponential-expansion attacks, external ones reach outside the
    // document.
    static void onEntityDecl(void* user, const XML_Char* name, int, const XML_Char*, int, const XML_Char*,
                             const XML_Char*, const XML_Char*, const XML_Char*) {
        from(user).stopWith(kEntityRefLoopError, std::string("entity declaration refused: ") + name);
    }

    static int onExternalEntity(XML_Parser p, const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
        Impl& s = from(XML_GetUserData(p));
        s.stopWith(kExternalEntityError, "external entity refused");
        return XML_STATUS_ERROR;
    }
};

XMLParser::XMLParser(Bytes data)
    : data_(std::move(data)), doc_(reinterpret_cast<const char*>(data_.data()), data_.size()) {}
XMLParser::XMLParser(std::string_view text)
    : data_(text.begin(), text.end()), doc_(reinterpret_cast<const char*>(data_.data()), data_.size()) {}
XMLParser::XMLParser(std::string_view text, Borrow) : doc_(text) {}
XMLParser::~XMLParser() = default;

void XMLParser::abortParsing() {
    if (!impl_ || !impl_->parser || impl_->aborted) return;
    impl_->aborted = true;
    XML_StopParser(impl_->parser, XML_FALSE);
}

std::int64_t XMLParser::lineNumber() const {
    if (!impl_) return 0;
    if (impl_->parser && !error_) return static_cast<std::int64_t>(XML_GetCurrentLineNumber(impl_->parser));
    return impl_->line;
}

std::int64_t XMLParser::columnNumber() const {
    if (!impl_) return 0;
    if (impl_->parser && !error_) return static_cast<std::int64_t>(XML_GetCurrentColumnNumber(impl_->parser));
    return impl_->column;
}

namespace {

std::int64_t codeFor(XML_Error e, bool sawElement) {
    switch (e) {
    case XML_ERROR_NO_ELEMENTS:
        return sawElement ? XMLParser::kPrematureDocumentEndError : XMLParser::kEmptyDocumentError;
    case XML_ERROR_UNCLOSED_TOKEN:
    case XML_ERROR_UNCLOSED_CDATA_SECTION:
    case XML_ERROR_PARTIAL_CHAR: return XMLParser::kPrematureDocumentEndError;
    case XML_ERROR_TAG_MISMATCH: return XMLParser::kTagNameMismatchError;
    case XML_ERROR_INVALID_TOKEN:
    case XML_ERROR_BAD_CHAR_REF: return XMLParser::kInvalidCharacterError;
    case XML_ERROR_UNDEFINED_ENTITY: return XMLParser::kUndeclaredEntityError;
    case XML_ERROR_EXTERNAL_ENTITY_HANDLING: return XMLParser::kExternalEntityError;
    case XML_ERROR_RECURSIVE_ENTITY_REF:
    case XML_ERROR_AMPLIFICATION_LIMIT_BREACH: return XMLParser::kEntityRefLoopError;
    default: return XMLParser::kNotWellBalancedError;
    }
}

}  // namespace

bool XMLParser::parse() {
    if (started_) {
        error_ = Error::make(kErrorDomain, kInternalError,
                             Dictionary{{kErrorMessageKey, Value("parser already used")}});
        return false;
    }
    started_ = true;
    impl_ = std::make_unique<Impl>(*this);
    Impl& s = *impl_;
    s.parser = XML_ParserCreate(nullptr);  // honour the declared encoding (UTF-8, UTF-16, ISO-8859-1, ASCII)
    if (!s.parser) {
        error_ = Error::make(kErrorDomain, kInternalError, Dictionary{{kErrorMessageKey, Value("out of memory")}});
        return false;
    }
    XML_SetUserData(s.parser, &s);
    XML_SetElementHandler(s.parser, &Impl::onStart, &Impl::onEnd);
    XML_SetCharacterDataHandler(s.parser, &Impl::onText);
    XML_SetCommentHandler(s.parser, &Impl::onComment);
    XML_SetCdataSectionHandler(s.parser, &Impl::onCDATAStart, &Impl::onCDATAEnd);
    XML_SetEntityDeclHandler(s.parser, &Impl::onEntityDecl);
    XML_SetExternalEntityRefHandler(s.parser, &Impl::onExternalEntity);
    XML_SetParamEntityParsing(s.parser, XML_PARAM_ENTITY_PARSING_NEVER);

    if (delegate_) s.call([&](XMLParserDelegate& d) { d.parserDidStartDocument(*this); });

    bool ok = true;
    std::size_t offset = 0;
    do {
        std::size_t n = std::min<std::size_t>(doc_.size() - offset, INT_MAX / 2);
        bool last = offset + n == doc_.size();
        if (XML_Parse(s.parser, doc_.data() + offset, static_cast<int>(n),
                      last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            ok = false;
            break;
        }
        offset += n;
    } while (offset < doc_.size());

    // Text up to the end or the failure, as it would have been seen.
    s.flushText();
    if (ok && s.ownCode == 0 && !s.aborted) {
        // No position is taken here: without an error, lineNumber() and
        // columnNumber() ask expat, which counts lines only when asked (a
        // scan over the whole document).
        s.call([&](XMLParserDelegate& d) { d.parserDidEndDocument(*this); });
        return s.ownCode == 0;  // the end-document callback itself may have thrown
    }

    std::int64_t code;
    std::string message;
    if (s.aborted) {
        code = kDelegateAbortedParseError;
        message = "parsing aborted by the delegate";
        s.line = static_cast<std::int64_t>(XML_GetCurrentLineNumber(s.parser));
        s.column = static_cast<std::int64_t>(XML_GetCurrentColumnNumber(s.parser));
    } else if (s.ownCode != 0) {
        code = s.ownCode;
        message = s.ownMessage;
    } else {
        XML_Error e = XML_GetErrorCode(s.parser);
        code = codeFor(e, s.sawElement);
        message = XML_ErrorString(e);
        s.line = static_cast<std::int64_t>(XML_GetCurrentLineNumber(s.parser));
        s.column = static_cast<std::int64_t>(XML_GetCurrentColumnNumber(s.parser));
    }
    error_ = Error::make(kErrorDomain, code,
                         Dictionary{{kErrorLineNumberKey, Value(s.line)},
                                    {kErrorColumnKey, Value(s.column)},
                                    {kErrorMessageKey, Value(message)}});
    if (!s.aborted && delegate_) {
        try {
            delegate_->parseErrorOccurred(*this, error_);
        } catch (...) {
        }
    }
    return false;
}

}  // namespace pellix::platform
