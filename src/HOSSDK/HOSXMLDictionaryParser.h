// HOSXMLDictionaryParser: turns an XML document into nested dictionaries.
//
// Storage replies are XML; this parser, driven by the platform's event-based
// XML parser (expat underneath: no external entities, no entity declarations,
// nesting capped at kMaxDepth), builds a tree of platform::Value:
// - an element is a Dictionary (a node); its children sit under their element
//   names, a name that occurs more than once under one parent holds a list in
//   document order;
// - reserved keys: "__name" (element name), "__text" (text, or a list of runs
//   when text is interrupted by child elements), "__attributes" (attribute
//   mode Dictionary), "__comments" (with preserveComments); attribute mode
//   Prefixed stores each attribute under "_" + its name;
// - an element that holds only text collapses to that text in its parent, an
//   empty one is removed (the defaults).
// See HOSXMLDictionary.h for reading a node back and writing it as XML.
//
// Failure: malformed XML stops the parse; the tree built up to the error is
// returned all the same. A document in which no element began gives
// std::nullopt. Nothing is thrown. Every parse writes "dictionaryWithParser
// YES" or "... NO" (the platform parser's success) to the system log.
//
// Threads: a parser object runs one parse at a time; its working state exists
// only during dictionaryWithParser(). Settings may be read and changed from
// any thread (they are atomics), so copying the shared instance while another
// thread changes it is safe; the category entry points parse with copies.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Value.h"
#include "platform/XMLParser.h"

namespace pellix {

// Reserved keys of a parsed node.
inline constexpr const char* HOSXMLDictionaryNodeNameKey = "__name";
inline constexpr const char* HOSXMLDictionaryTextKey = "__text";
inline constexpr const char* HOSXMLDictionaryAttributesKey = "__attributes";
inline constexpr const char* HOSXMLDictionaryCommentsKey = "__comments";
inline constexpr const char* HOSXMLDictionaryAttributePrefix = "_";

// attributesMode values; any other value drops attributes too.
enum HOSXMLDictionaryAttributesMode : std::int64_t {
    HOSXMLDictionaryAttributesModePrefixed = 0,
    HOSXMLDictionaryAttributesModeDictionary = 1,
    HOSXMLDictionaryAttributesModeUnprefixed = 2,
    HOSXMLDictionaryAttributesModeDiscard = 3,
};

// nodeNameMode values; any other value means never.
enum HOSXMLDictionaryNodeNameMode : std::int64_t {
    HOSXMLDictionaryNodeNameModeRootOnly = 0,
    HOSXMLDictionaryNodeNameModeAlways = 1,
    HOSXMLDictionaryNodeNameModeNever = 2,
};

class HOSXMLDictionaryParser : private platform::XMLParserDelegate {
public:
    // Deepest element nesting accepted (deeper documents fail at that point).
    static constexpr std::size_t kMaxDepth = 256;

    HOSXMLDictionaryParser() = default;
    // Copies the eight settings, never the working state.
    HOSXMLDictionaryParser(const HOSXMLDictionaryParser& other);
    HOSXMLDictionaryParser& operator=(const HOSXMLDictionaryParser&) = delete;

    // One process-wide parser with the default settings; it never parses
    // itself (the category entry points parse with copies of it).
    static HOSXMLDictionaryParser& sharedInstance();

    std::optional<platform::Dictionary> dictionaryWithParser(platform::XMLParser& parser);
    std::optional<platform::Dictionary> dictionaryWithData(const platform::Bytes& data);
    std::optional<platform::Dictionary> dictionaryWithString(std::string_view text);
    // An unreadable file gives no bytes, so std::nullopt.
    std::optional<platform::Dictionary> dictionaryWithFile(const std::string& path);

    // XML text of a value written as an element called `name`.
    static std::string XMLStringForNode(const platform::Value& node, const std::string& name);

    bool collapseTextNodes() const { return collapseTextNodes_.load(std::memory_order_relaxed); }
    void setCollapseTextNodes(bool v) { collapseTextNodes_.store(v, std::memory_order_relaxed); }
    bool stripEmptyNodes() const { return stripEmptyNodes_.load(std::memory_order_relaxed); }
    void setStripEmptyNodes(bool v) { stripEmptyNodes_.store(v, std::memory_order_relaxed); }
    bool trimWhiteSpace() const { return trimWhiteSpace_.load(std::memory_order_relaxed); }
    void setTrimWhiteSpace(bool v) { trimWhiteSpace_.store(v, std::memory_order_relaxed); }
    bool alwaysUseArrays() const { return alwaysUseArrays_.load(std::memory_order_relaxed); }
    void setAlwaysUseArrays(bool v) { alwaysUseArrays_.store(v, std::memory_order_relaxed); }
    bool preserveComments() const { return preserveComments_.load(std::memory_order_relaxed); }
    void setPreserveComments(bool v) { preserveComments_.store(v, std::memory_order_relaxed); }
    bool wrapRootNode() const { return wrapRootNode_.load(std::memory_order_relaxed); }
    void setWrapRootNode(bool v) { wrapRootNode_.store(v, std::memory_order_relaxed); }
    std::int64_t attributesMode() const { return attributesMode_.load(std::memory_order_relaxed); }
    void setAttributesMode(std::int64_t v) { attributesMode_.store(v, std::memory_order_relaxed); }
    std::int64_t nodeNameMode() const { return nodeNameMode_.load(std::memory_order_relaxed); }
    void setNodeNameMode(std::int64_t v) { nodeNameMode_.store(v, std::memory_order_relaxed); }

private:
    void didStartElement(platform::XMLParser&, const std::string& name, const platform::Dictionary& attributes) override;
    void didEndElement(platform::XMLParser&, const std::string& name) override;
    void foundCharacters(platform::XMLParser&, const std::string& text) override;
    void foundCDATA(platform::XMLParser&, const platform::Bytes& data) override;
    void foundComment(platform::XMLParser&, const std::string& comment) override;

    void addText(std::string_view text);
    // Stores the text gathered since the last tag, if any.
    void endText() {
        if (!text_.empty()) storeText();
    }
    void storeText();
    bool endPlainLeaf();
    const std::string& nameForNode(const platform::Dictionary& node, const std::string& storedKey) const;

    std::atomic<bool> collapseTextNodes_{true};
    std::atomic<bool> stripEmptyNodes_{true};
    std::atomic<bool> trimWhiteSpace_{true};
    std::atomic<bool> alwaysUseArrays_{false};
    std::atomic<bool> preserveComments_{false};
    std::atomic<bool> wrapRootNode_{false};
    std::atomic<std::int64_t> attributesMode_{HOSXMLDictionaryAttributesModePrefixed};
    std::atomic<std::int64_t> nodeNameMode_{HOSXMLDictionaryNodeNameModeRootOnly};

    // Working state of one parse. Open nodes are held by their dictionaries.
    // Those stay put while they are open: children are only ever added to
    // the innermost open node, so what grows and moves around an open node
    // is closed siblings, never the node or its ancestors. Each remembers
    // the key it is stored under in its parent: the element name the parser
    // keeps until the element ends.
    //
    // An element without stored attributes starts as a pending leaf (no
    // node yet, its text runs kept aside). Most elements of a reply hold only
    // text, and such a leaf ends as that text in its parent without ever
    // becoming a node. A child element, a kept comment, or an ending that
    // keeps the node turns it into the node it stands for, placed where it
    // would have been placed at its start.
    struct Open {
        platform::Dictionary* node;  // null while a pending leaf
        const std::string* key;
        // Text runs of a pending leaf: the first, then any further ones.
        bool hasRun = false;
        std::string run;
        std::vector<std::string> moreRuns;
        // Where this node's entry count is remembered for the next node of
        // its name (null for a pending leaf).
        std::size_t* sizeHint = nullptr;
        // The sizeHints_ entry last looked up from this slot and the name it
        // is for: the same depth mostly opens nodes of the same name, so the
        // hash look-up is skipped while the name repeats.
        std::string hintKey;
        std::size_t* hintForKey = nullptr;
    };
    platform::Value* attach(platform::Dictionary& parent, const std::string& name, platform::Value&& value);
    void materialize(std::size_t index);
    // Open entries are reused from element to element (their strings keep
    // their buffers); the first depth_ of stack_ are the open elements.
    Open& push(platform::Dictionary* node, const std::string& key);
    Open& top() { return stack_[depth_ - 1]; }
    // Room for as many entries as the last node of this element name ended
    // with: the nodes of a reply repeat the same shape, so each is allocated
    // once at its size instead of growing one entry at a time.
    void reserveLikeLast(Open& open, platform::Dictionary& node);
    std::optional<platform::Value> root_;
    std::vector<Open> stack_;
    std::size_t depth_ = 0;
    std::string text_;
    std::unordered_map<std::string, std::size_t> sizeHints_;
};

}  // namespace pellix
