// Fuzz target: XML dictionary parsing under every setting, then reading the
// tree back and writing it as XML.
#include <cstddef>
#include <cstdint>

#include "HOSSDK/HOSXMLDictionary.h"
#include "HOSSDK/HOSXMLDictionaryParser.h"
#include "FuzzSupport.h"

using namespace pellix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silencePlatformLog();
    if (size < 1) return 0;
    // The first byte picks the settings; the rest is the document.
    const std::uint8_t flags = data[0];
    HOSXMLDictionaryParser parser;
    parser.setCollapseTextNodes(flags & 1);
    parser.setStripEmptyNodes(flags & 2);
    parser.setTrimWhiteSpace(flags & 4);
    parser.setAlwaysUseArrays(flags & 8);
    parser.setPreserveComments(flags & 16);
    parser.setWrapRootNode(flags & 32);
    parser.setAttributesMode((flags >> 6) & 3);
    parser.setNodeNameMode((flags >> 5) % 3);
    platform::Bytes doc(data + 1, data + size);
    auto tree = parser.dictionaryWithData(doc);
    if (!tree) return 0;
    const std::string xml = HOSXMLDictionary::hos_XMLString(*tree);
    HOSXMLDictionary::hos_attributes(*tree);
    HOSXMLDictionary::hos_childNodes(*tree);
    HOSXMLDictionary::hos_innerText(*tree);
    HOSXMLDictionary::hos_stringValueForKeyPath(*tree, "a.b");
    HOSXMLDictionary::hos_arrayValueForKeyPath(*tree, "a");
    HOSXMLDictionary::hos_dictionaryValueForKeyPath(*tree, "a.b.c");
    // What we write must parse again.
    HOSXMLDictionaryParser again;
    again.dictionaryWithString(xml);
    return 0;
}
