// SAX parser on arbitrary bytes, with a delegate that touches every event.
#include <cstddef>
#include <cstdint>

#include "platform/XMLParser.h"

using namespace pellix::platform;

namespace {
struct Sink : XMLParserDelegate {
    std::size_t seen = 0;
    void didStartElement(XMLParser&, const std::string& name, const Dictionary& attributes) override {
        seen += name.size() + attributes.size();
    }
    void didEndElement(XMLParser&, const std::string& name) override { seen += name.size(); }
    void foundCharacters(XMLParser&, const std::string& text) override { seen += text.size(); }
    void foundComment(XMLParser&, const std::string& text) override { seen += text.size(); }
    void foundCDATA(XMLParser&, const Bytes& data) override { seen += data.size(); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XMLParser parser(Bytes(data, data + size));
    Sink sink;
    parser.setDelegate(&sink);
    if (!parser.parse() && !parser.parserError()) __builtin_trap();
    return 0;
}
