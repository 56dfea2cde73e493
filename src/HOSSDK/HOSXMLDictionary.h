// HOSXMLDictionary: entry points for parsing XML into dictionaries, and the
// readers of a parsed node (see HOSXMLDictionaryParser.h for the tree).
//
// The parse functions take a copy of HOSXMLDictionaryParser::sharedInstance(),
// so settings changed on the shared instance apply to every later parse and
// parses on different threads share no working state. Every function is
// thread-safe; nodes are plain values.
//
// "None" of the readers is std::nullopt.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"
#include "platform/XMLParser.h"

namespace pellix {

class HOSXMLDictionary {
public:
    HOSXMLDictionary() = delete;

    static std::optional<platform::Dictionary> hos_dictionaryWithXMLParser(platform::XMLParser& parser);
    static std::optional<platform::Dictionary> hos_dictionaryWithXMLData(const platform::Bytes& data);
    static std::optional<platform::Dictionary> hos_dictionaryWithXMLString(std::string_view text);
    static std::optional<platform::Dictionary> hos_dictionaryWithXMLFile(const std::string& path);

    // "__name" and "__comments" of a node.
    static std::optional<std::string> hos_nodeName(const platform::Dictionary& node);
    static std::optional<platform::Array> hos_comments(const platform::Dictionary& node);
    // "__attributes" when present and not empty; otherwise every "_"-prefixed
    // key other than the reserved ones, prefix removed; none when empty.
    static std::optional<platform::Dictionary> hos_attributes(const platform::Dictionary& node);
    // The node without reserved and "_"-prefixed keys; none when empty.
    static std::optional<platform::Dictionary> hos_childNodes(const platform::Dictionary& node);
    // "__text"; a list of runs is joined with "\n".
    static std::optional<std::string> hos_innerText(const platform::Dictionary& node);
    // Comments, child elements and text as XML, joined with "\n".
    static std::string hos_innerXML(const platform::Dictionary& node);
    // The node as XML under its "__name" ("root" without one); a wrapped root
    // (one entry, no "__name") gives its inner XML.
    static std::string hos_XMLString(const platform::Dictionary& node);

    // Values at a dotted key path ("ListBucketResult.Contents"); a list met on
    // the way applies the rest of the path to each element.
    // A value that is not a list comes back as a list of one.
    static std::optional<platform::Array> hos_arrayValueForKeyPath(const platform::Dictionary& node,
                                                                  std::string_view keyPath);
    // A list gives its first element; a node its inner text; other values
    // their text form.
    static std::optional<std::string> hos_stringValueForKeyPath(const platform::Dictionary& node,
                                                               std::string_view keyPath);
    // A list gives its first element; a text becomes {"__text": text}.
    static std::optional<platform::Dictionary> hos_dictionaryValueForKeyPath(const platform::Dictionary& node,
                                                                            std::string_view keyPath);

    // Escapes "&", "<", ">", '"' and "'" for XML text and attribute values.
    static std::string hos_XMLEncodedString(std::string_view text);
};

}  // namespace pellix
