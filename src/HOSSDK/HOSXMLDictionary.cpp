#include "HOSSDK/HOSXMLDictionary.h"

#include "HOSSDK/HOSXMLDictionaryParser.h"

namespace pellix {

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

bool isReserved(std::string_view k) {
    return k == HOSXMLDictionaryCommentsKey || k == HOSXMLDictionaryTextKey || k == HOSXMLDictionaryNodeNameKey;
}

// Key-path walk; a list met on the way maps the rest of the path over its
// elements (a missing value stands as null in the mapped list).
std::optional<Value> valueForKeyPath(const Value& v, std::string_view path) {
    if (path.empty()) return v;
    const auto dot = path.find('.');
    const std::string_view key = path.substr(0, dot);
    const std::string_view rest = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
    if (const Dictionary* d = v.dictionaryIf()) {
        const Value* child = d->find(key);
        if (!child) return std::nullopt;
        if (dot == std::string_view::npos) return *child;
        return valueForKeyPath(*child, rest);
    }
    if (const Array* list = v.arrayIf()) {
        Array out;
        for (const auto& item : *list) {
            auto r = valueForKeyPath(item, path);
            out.push_back(r ? std::move(*r) : Value());
        }
        return Value(std::move(out));
    }
    return std::nullopt;
}

std::optional<Value> valueForKeyPath(const Dictionary& d, std::string_view path) {
    if (path.empty()) return Value(d);
    const auto dot = path.find('.');
    const Value* child = d.find(path.substr(0, dot));
    if (!child) return std::nullopt;
    if (dot == std::string_view::npos) return *child;
    return valueForKeyPath(*child, path.substr(dot + 1));
}

}  // namespace

std::optional<Dictionary> HOSXMLDictionary::hos_dictionaryWithXMLParser(platform::XMLParser& parser) {
    HOSXMLDictionaryParser copy(HOSXMLDictionaryParser::sharedInstance());
    return copy.dictionaryWithParser(parser);
}

std::optional<Dictionary> HOSXMLDictionary::hos_dictionaryWithXMLData(const platform::Bytes& data) {
    HOSXMLDictionaryParser copy(HOSXMLDictionaryParser::sharedInstance());
    return copy.dictionaryWithData(data);
}

std::optional<Dictionary> HOSXMLDictionary::hos_dictionaryWithXMLString(std::string_view text) {
    HOSXMLDictionaryParser copy(HOSXMLDictionaryParser::sharedInstance());
    return copy.dictionaryWithString(text);
}

std::optional<Dictionary> HOSXMLDictionary::hos_dictionaryWithXMLFile(const std::string& path) {
    HOSXMLDictionaryParser copy(HOSXMLDictionaryParser::sharedInstance());
    return copy.dictionaryWithFile(path);
}

std::optional<std::string> HOSXMLDictionary::hos_nodeName(const Dictionary& node) {
    const Value* v = node.find(HOSXMLDictionaryNodeNameKey);
    if (!v || !v->isString()) return std::nullopt;
    return v->asString();
}

std::optional<Array> HOSXMLDictionary::hos_comments(const Dictionary& node) {
    const Value* v = node.find(HOSXMLDictionaryCommentsKey);
    if (!v || !v->isArray()) return std::nullopt;
    return v->asArray();
}

std::optional<Dictionary> HOSXMLDictionary::hos_attributes(const Dictionary& node) {
    if (const Value* a = node.find(HOSXMLDictionaryAttributesKey)) {
        const Dictionary* d = a->dictionaryIf();
        if (d && !d->empty()) return *d;
        return std::nullopt;
    }
    Dictionary out;
    for (const auto& [k, v] : node)
        if (!k.empty() && k[0] == '_' && !isReserved(k)) out.set(k.substr(1), v);
    if (out.empty()) return std::nullopt;
    return out;
}

std::optional<Dictionary> HOSXMLDictionary::hos_childNodes(const Dictionary& node) {
    Dictionary out;
    for (const auto& [k, v] : node)
        if (k.empty() || k[0] != '_') out.set(k, v);
    if (out.empty()) return std::nullopt;
    return out;
}

std::optional<std::string> HOSXMLDictionary::hos_innerText(const Dictionary& node) {
    const Value* v = node.find(HOSXMLDictionaryTextKey);
    if (!v) return std::nullopt;
    if (const Array* runs = v->arrayIf()) {
        std::string out;
        for (std::size_t i = 0; i < runs->size(); ++i) {
            if (i) out += "\n";
            out += (*runs)[i].description();
        }
        return out;
    }
    return v->description();
}

std::string HOSXMLDictionary::hos_innerXML(const Dictionary& node) {
    std::vector<std::string> pieces;
    if (auto comments = hos_comments(node))
        for (const auto& c : *comments) pieces.push_back("<!--" + hos_XMLEncodedString(c.description()) + "-->");
    if (auto children = hos_childNodes(node))
        for (const auto& [k, v] : *children) pieces.push_back(HOSXMLDictionaryParser::XMLStringForNode(v, k));
    if (auto text = hos_innerText(node)) pieces.push_back(hos_XMLEncodedString(*text));
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i) out += "\n";
        out += pieces[i];
    }
    return out;
}

std::string HOSXMLDictionary::hos_XMLString(const Dictionary& node) {
    const auto name = hos_nodeName(node);
    if (node.size() == 1 && !name) return hos_innerXML(node);
    return HOSXMLDictionaryParser::XMLStringForNode(Value(node), name ? *name : "root");
}

std::optional<Array> HOSXMLDictionary::hos_arrayValueForKeyPath(const Dictionary& node, std::string_view keyPath) {
    auto v = valueForKeyPath(node, keyPath);
    if (!v) return std::nullopt;
    if (v->isArray()) return std::move(v->asArray());
    return platform::arrayOf(std::move(*v));
}

std::optional<std::string> HOSXMLDictionary::hos_stringValueForKeyPath(const Dictionary& node,
                                                                      std::string_view keyPath) {
    auto v = valueForKeyPath(node, keyPath);
    if (!v) return std::nullopt;
    const Value* item = &*v;
    if (const Array* list = v->arrayIf()) {
        if (list->empty()) return std::nullopt;
        item = &list->front();
    }
    if (const Dictionary* d = item->dictionaryIf()) return hos_innerText(*d);
    if (item->isNull()) return std::nullopt;
    return item->description();
}

std::optional<Dictionary> HOSXMLDictionary::hos_dictionaryValueForKeyPath(const Dictionary& node,
                                                                         std::string_view keyPath) {
    auto v = valueForKeyPath(node, keyPath);
    if (!v) return std::nullopt;
    const Value* item = &*v;
    if (const Array* list = v->arrayIf()) {
        if (list->empty()) return std::nullopt;
        item = &list->front();
    }
    if (item->isString()) return Dictionary{{HOSXMLDictionaryTextKey, *item}};
    if (const Dictionary* d = item->dictionaryIf()) return *d;
    return std::nullopt;
}

std::string HOSXMLDictionary::hos_XMLEncodedString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace pellix
