#include "HOSSDK/HOSXMLDictionaryParser.h"

#include <fstream>
#include <iterator>

#include "HOSSDK/HOSXMLDictionary.h"
#include "platform/Log.h"

namespace pellix {

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

// The same for the characters of two or three bytes, `s[i]` >= 0xc2.
std::size_t wideSpaceAt(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    auto b = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0; };
    if (c == 0xc2 && (b(1) == 0x85 || b(1) == 0xa0)) return 2;
    if (c == 0xe1 && b(1) == 0x9a && b(2) == 0x80) return 3;  // U+1680
    if (c == 0xe2 && b(1) == 0x80 && ((b(2) >= 0x80 && b(2) <= 0x8a) || b(2) == 0xa8 || b(2) == 0xa9 || b(2) == 0xaf))
        return 3;  // U+2000..200A, U+2028, U+2029, U+202F
    if (c == 0xe2 && b(1) == 0x81 && b(2) == 0x9f) return 3;  // U+205F
    if (c == 0xe3 && b(1) == 0x80 && b(2) == 0x80) return 3;  // U+3000
    return 0;
}

// Length in bytes of a whitespace or line-break character at `s[i]`
// (Unicode White_Space), 0 when there is none.
inline std::size_t spaceAt(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0d)) return 1;
    if (c < 0xc2) return 0;
    return wideSpaceAt(s, i);
}

// The key of the slot that holds the root, which has no parent.
const std::string kNoKey;

bool isReserved(std::string_view k) {
    return k == HOSXMLDictionaryCommentsKey || k == HOSXMLDictionaryTextKey || k == HOSXMLDictionaryNodeNameKey;
}

// The tests of hos_attributes / hos_childNodes / hos_comments without
// building their results.
bool hasAttributes(const Dictionary& node) {
    if (const Value* a = node.find(HOSXMLDictionaryAttributesKey)) {
        const Dictionary* d = a->dictionaryIf();
        return d && !d->empty();
    }
    for (const auto& [k, v] : node)
        if (!k.empty() && k[0] == '_' && !isReserved(k)) return true;
    return false;
}

bool hasChildNodes(const Dictionary& node) {
    for (const auto& [k, v] : node)
        if (k.empty() || k[0] != '_') return true;
    return false;
}

bool hasComments(const Dictionary& node) {
    const Value* c = node.find(HOSXMLDictionaryCommentsKey);
    return c && c->isArray();
}

// Bytes of whitespace at the start of s.
std::size_t leadingSpace(std::string_view s) {
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t n = spaceAt(s, start);
        if (!n) break;
        start += n;
    }
    return start;
}

// Length in bytes of a whitespace character that ends s, 0 when there is none.
inline std::size_t trailingSpaceAt(std::string_view s) {
    if (s.empty()) return 0;
    std::size_t last = s.size() - 1;
    while (last > 0 && (static_cast<unsigned char>(s[last]) & 0xc0) == 0x80) --last;
    const std::size_t n = spaceAt(s, last);
    return last + n == s.size() ? n : 0;
}

std::string_view trim(std::string_view s) {
    s.remove_prefix(leadingSpace(s));
    // Trailing: step back over the last character until it is not a space.
    while (std::size_t n = trailingSpaceAt(s)) s.remove_suffix(n);
    return s;
}

}  // namespace

HOSXMLDictionaryParser::HOSXMLDictionaryParser(const HOSXMLDictionaryParser& o)
    : platform::XMLParserDelegate(),
      collapseTextNodes_(o.collapseTextNodes()),
      stripEmptyNodes_(o.stripEmptyNodes()),
      trimWhiteSpace_(o.trimWhiteSpace()),
      alwaysUseArrays_(o.alwaysUseArrays()),
      preserveComments_(o.preserveComments()),
      wrapRootNode_(o.wrapRootNode()),
      attributesMode_(o.attributesMode()),
      nodeNameMode_(o.nodeNameMode()) {}

HOSXMLDictionaryParser& HOSXMLDictionaryParser::sharedInstance() {
    static auto* shared = new HOSXMLDictionaryParser();
    return *shared;
}

std::optional<Dictionary> HOSXMLDictionaryParser::dictionaryWithParser(platform::XMLParser& parser) {
    parser.setDelegate(this);
    parser.setMaxDepth(kMaxDepth);
    // Space that ends at a tag is either leading (skipped by addText) or
    // trailing (trimmed by endText) once trimming is on: no need to see it.
    const bool reportedSpace = parser.reportsSpaceBeforeTags();
    if (trimWhiteSpace()) parser.setReportsSpaceBeforeTags(false);
    const bool ok = parser.parse();
    parser.setDelegate(nullptr);
    parser.setReportsSpaceBeforeTags(reportedSpace);
    platform::Log::writef("dictionaryWithParser %s", ok ? "YES" : "NO");
    std::optional<Dictionary> result;
    if (root_) result = std::move(root_->asDictionary());
    root_.reset();
    depth_ = 0;
    text_.clear();
    sizeHints_.clear();
    for (Open& o : stack_) o.hintForKey = nullptr;
    return result;
}

// The caller's bytes outlive the parse, so the parser reads them in place.
std::optional<Dictionary> HOSXMLDictionaryParser::dictionaryWithData(const platform::Bytes& data) {
    platform::XMLParser parser(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                               platform::XMLParser::kBorrow);
    return dictionaryWithParser(parser);
}

std::optional<Dictionary> HOSXMLDictionaryParser::dictionaryWithString(std::string_view text) {
    platform::XMLParser parser(text, platform::XMLParser::kBorrow);
    return dictionaryWithParser(parser);
}

std::optional<Dictionary> HOSXMLDictionaryParser::dictionaryWithFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    platform::Bytes bytes;
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return dictionaryWithData(bytes);
}

// ---- events -----------------------------------------------------------------

HOSXMLDictionaryParser::Open& HOSXMLDictionaryParser::push(Dictionary* node, const std::string& key) {
    if (depth_ == stack_.size()) stack_.emplace_back();
    Open& o = stack_[depth_++];
    o.node = node;
    o.key = &key;
    o.hasRun = false;
    o.run.clear();
    o.moreRuns.clear();
    o.sizeHint = nullptr;
    return o;
}

void HOSXMLDictionaryParser::reserveLikeLast(Open& open, Dictionary& node) {
    // Capped, so one odd node cannot make every later one of its name large.
    constexpr std::size_t kMaxHint = 64;
    if (!open.hintForKey || open.hintKey != *open.key) {
        open.hintForKey = &sizeHints_.try_emplace(*open.key, 0).first->second;
        open.hintKey.assign(*open.key);
    }
    std::size_t& hint = *open.hintForKey;
    if (hint > node.size()) node.reserve(std::min(hint, kMaxHint));
    open.sizeHint = &hint;
}

void HOSXMLDictionaryParser::addText(std::string_view text) {
    // Whitespace before any other text of a run would be trimmed away at its
    // end: the runs between elements never need storing.
    if (text_.empty() && trimWhiteSpace()) text.remove_prefix(leadingSpace(text));
    text_.append(text);
}

void HOSXMLDictionaryParser::storeText() {
    std::string_view t = text_;
    if (trimWhiteSpace()) t = trim(t);
    if (!t.empty() && depth_ > 0) {
        Open& o = top();
        if (!o.node) {
            if (!o.hasRun) {
                // Most leaves hold one run, already whole in text_: hand its
                // buffer over instead of copying it.
                if (t.size() == text_.size())
                    o.run = std::move(text_);
                else
                    o.run.assign(t);
                o.hasRun = true;
            } else {
                o.moreRuns.emplace_back(t);
            }
        } else {
            Value* existing = o.node->find(HOSXMLDictionaryTextKey);
            if (!existing)
                o.node->set(HOSXMLDictionaryTextKey, Value(t));
            else if (existing->isArray())
                existing->asArray().emplace_back(t);
            else
                *existing = Value(platform::arrayOf(std::move(*existing), Value(t)));
        }
    }
    text_.clear();
}

// Stores a child under `name` in its parent: a list there gets it appended,
// another value becomes a list of that value and the child, otherwise the
// child itself (a list of one with alwaysUseArrays). Returns where it went.
Value* HOSXMLDictionaryParser::attach(Dictionary& parent, const std::string& name, Value&& value) {
    // Tree values are never null, so a null slot is a new key.
    if (Value* slot = parent.find(name); slot && !slot->isNull()) {
        if (slot->isArray()) {
            slot->asArray().push_back(std::move(value));
            return &slot->asArray().back();
        }
        *slot = Value(platform::arrayOf(std::move(*slot), std::move(value)));
        return &slot->asArray().back();
    } else if (slot) {
        *slot = alwaysUseArrays() ? Value(platform::arrayOf(std::move(value))) : std::move(value);
        return slot->isArray() ? &slot->asArray().back() : slot;
    }
    if (alwaysUseArrays()) return &parent.emplace(name, platform::arrayOf(std::move(value))).asArray().back();
    return &parent.emplace(name, std::move(value));
}

void HOSXMLDictionaryParser::materialize(std::size_t index) {
    Open& o = stack_[index];
    if (o.node) return;
    Dictionary node;
    if (o.hasRun && o.moreRuns.empty()) {
        node.set(HOSXMLDictionaryTextKey, Value(std::move(o.run)));
    } else if (o.hasRun) {
        Array runs = platform::arrayOf(std::move(o.run));
        for (auto& r : o.moreRuns) runs.emplace_back(std::move(r));
        node.set(HOSXMLDictionaryTextKey, Value(std::move(runs)));
    }
    o.hasRun = false;
    o.moreRuns.clear();
    Value* placed = attach(*stack_[index - 1].node, *o.key, Value(std::move(node)));
    o.node = &placed->asDictionary();
    reserveLikeLast(o, *o.node);
}

void HOSXMLDictionaryParser::didStartElement(platform::XMLParser& parser, const std::string& name,
                                             const Dictionary& attributes) {
    endText();
    if (root_ && depth_ == 0) {
        // A second top-level element; the platform parser reports the error,
        // and nothing is attached.
        parser.abortParsing();
        return;
    }
    if (root_ && !top().node) materialize(depth_ - 1);  // it has a child now

    const auto nameMode = nodeNameMode();
    const auto attrMode = attributesMode();
    const bool storesAttributes = !attributes.empty() && attrMode >= HOSXMLDictionaryAttributesModePrefixed &&
                                  attrMode <= HOSXMLDictionaryAttributesModeUnprefixed;
    if (root_ && !storesAttributes && nameMode != HOSXMLDictionaryNodeNameModeAlways) {
        push(nullptr, name);
        return;
    }

    Dictionary node;
    if (nameMode == HOSXMLDictionaryNodeNameModeAlways || (nameMode == HOSXMLDictionaryNodeNameModeRootOnly && !root_))
        node.set(HOSXMLDictionaryNodeNameKey, name);
    if (storesAttributes) {
        switch (attrMode) {
            case HOSXMLDictionaryAttributesModePrefixed:
                for (const auto& [k, v] : attributes) node.set(HOSXMLDictionaryAttributePrefix + k, v);
                break;
            case HOSXMLDictionaryAttributesModeDictionary:
                node.set(HOSXMLDictionaryAttributesKey, attributes);
                break;
            default:
                for (const auto& [k, v] : attributes) node.set(k, v);
                break;
        }
    }

    if (root_) {
        Value* placed = attach(*top().node, name, Value(std::move(node)));
        Open& o = push(&placed->asDictionary(), name);
        reserveLikeLast(o, *o.node);
    } else if (wrapRootNode()) {
        root_ = Value(Dictionary{{name, Value(std::move(node))}});
        depth_ = 0;
        push(&root_->asDictionary(), kNoKey);
        push(&root_->asDictionary().find(name)->asDictionary(), name);
    } else {
        root_ = Value(std::move(node));
        depth_ = 0;
        push(&root_->asDictionary(), kNoKey);
    }
}

const std::string& HOSXMLDictionaryParser::nameForNode(const Dictionary& node, const std::string& storedKey) const {
    if (const Value* name = node.find(HOSXMLDictionaryNodeNameKey); name && name->isString()) return name->asString();
    // The key the node was stored under is the one whose value is this node
    // (or a list holding it): nothing else can hold it.
    return storedKey;
}

// Most elements of a reply are leaves with one text, the first of their
// name in their parent: such a text goes straight from the buffer into the
// parent. True when it did.
bool HOSXMLDictionaryParser::endPlainLeaf() {
    if (depth_ < 2 || text_.empty() || !collapseTextNodes() || alwaysUseArrays()) return false;
    Open& leaf = top();
    if (leaf.node || leaf.hasRun) return false;
    // With trimming on, addText has already left out the leading space.
    if (trimWhiteSpace() && trailingSpaceAt(text_) != 0) return false;
    Dictionary& parent = *stack_[depth_ - 2].node;
    if (parent.find(*leaf.key)) return false;
    parent.emplace(*leaf.key, std::move(text_));
    text_.clear();
    --depth_;
    return true;
}

void HOSXMLDictionaryParser::didEndElement(platform::XMLParser&, const std::string&) {
    if (endPlainLeaf()) return;
    endText();
    if (depth_ == 0) return;
    if (!top().node) {
        // A pending leaf: the same outcome as placing a node at its start and
        // simplifying it now, without the node.
        Open& leaf = top();
        Dictionary& parent = *stack_[depth_ - 2].node;
        if (leaf.hasRun && collapseTextNodes()) {
            for (const auto& r : leaf.moreRuns) {
                leaf.run += '\n';
                leaf.run += r;
            }
            // Most leaves are the first of their name: stored straight away,
            // without the moves through attach(), under the key the entry is
            // done with.
            if (!alwaysUseArrays() && !parent.find(*leaf.key))
                parent.emplace(*leaf.key, std::move(leaf.run));
            else
                attach(parent, *leaf.key, Value(std::move(leaf.run)));
            --depth_;
            return;
        }
        if (!leaf.hasRun && stripEmptyNodes()) {
            // Placed and then removed: a value already there is left in a
            // list; a list of one made for it is left empty.
            if (Value* slot = parent.find(*leaf.key)) {
                if (!slot->isArray()) *slot = Value(platform::arrayOf(std::move(*slot)));
            } else if (alwaysUseArrays()) {
                parent.set(*leaf.key, Value(Array{}));
            }
            --depth_;
            return;
        }
        materialize(depth_ - 1);  // the node stays: make it
    }
    // The entry stays untouched until the next push, so it can be read after
    // the pop.
    Open& closed = stack_[--depth_];
    Dictionary* node = closed.node;
    if (closed.sizeHint) *closed.sizeHint = node->size();
    if (hasAttributes(*node) || hasChildNodes(*node) || hasComments(*node)) return;
    if (depth_ == 0) return;  // the root stays a node
    Dictionary& parent = *top().node;
    // A copy: the name may live in `node`, which the changes below may free.
    const std::string key = nameForNode(*node, *closed.key);
    Value* slot = parent.find(key);
    Value* ownText = node->find(HOSXMLDictionaryTextKey);
    const bool hasText = ownText != nullptr;
    // `node` may be freed by the changes below; it is not used again.
    if (hasText && collapseTextNodes()) {
        // A single run moves over as it is; several are joined.
        Value text = ownText->isString() ? std::move(*ownText) : Value(*HOSXMLDictionary::hos_innerText(*node));
        if (slot && slot->isArray() && !slot->asArray().empty())
            slot->asArray().back() = std::move(text);
        else if (slot)
            *slot = std::move(text);
        else
            parent.set(key, std::move(text));
    } else if (!hasText && stripEmptyNodes()) {
        if (slot && slot->isArray()) {
            if (!slot->asArray().empty()) slot->asArray().pop_back();
        } else {
            parent.erase(key);
        }
    } else if (!hasText && !collapseTextNodes()) {
        node->set(HOSXMLDictionaryTextKey, Value(""));
    }
}

void HOSXMLDictionaryParser::foundCharacters(platform::XMLParser&, const std::string& text) { addText(text); }

void HOSXMLDictionaryParser::foundCDATA(platform::XMLParser&, const platform::Bytes& data) {
    addText(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

void HOSXMLDictionaryParser::foundComment(platform::XMLParser&, const std::string& comment) {
    if (!preserveComments() || depth_ == 0) return;
    if (!top().node) materialize(depth_ - 1);
    Dictionary& node = *top().node;
    Value* list = node.find(HOSXMLDictionaryCommentsKey);
    if (list && list->isArray())
        list->asArray().emplace_back(comment);
    else
        node.set(HOSXMLDictionaryCommentsKey, Value(Array{Value(comment)}));
}

// ---- writing ----------------------------------------------------------------

std::string HOSXMLDictionaryParser::XMLStringForNode(const Value& node, const std::string& name) {
    if (const Array* list = node.arrayIf()) {
        std::string out;
        for (std::size_t i = 0; i < list->size(); ++i) {
            if (i) out += "\n";
            out += XMLStringForNode((*list)[i], name);
        }
        return out;
    }
    if (const Dictionary* d = node.dictionaryIf()) {
        std::string attrs;
        if (auto a = HOSXMLDictionary::hos_attributes(*d))
            for (const auto& [k, v] : *a)
                attrs += " " + HOSXMLDictionary::hos_XMLEncodedString(k) + "=\"" +
                         HOSXMLDictionary::hos_XMLEncodedString(v.description()) + "\"";
        const std::string inner = HOSXMLDictionary::hos_innerXML(*d);
        if (inner.empty()) return "<" + name + attrs + "/>";
        return "<" + name + attrs + ">" + inner + "</" + name + ">";
    }
    return "<" + name + ">" + HOSXMLDictionary::hos_XMLEncodedString(node.description()) + "</" + name + ">";
}

}  // namespace pellix
