#include "TVNetworking/TVXMLParserResponseSerializer.h"

namespace pellix {

std::shared_ptr<TVXMLParserResponseSerializer> TVXMLParserResponseSerializer::serializer() {
    return std::make_shared<TVXMLParserResponseSerializer>();
}

TVXMLParserResponseSerializer::TVXMLParserResponseSerializer() {
    setAcceptableContentTypes(std::set<std::string>{"application/xml", "text/xml"});
}

std::shared_ptr<TVHTTPResponseSerializer> TVXMLParserResponseSerializer::copy() const {
    auto c = std::make_shared<TVXMLParserResponseSerializer>();
    copyInto(*c);
    return c;
}

TVResponseObject TVXMLParserResponseSerializer::responseObject(const TVResponse& response, const TVResponseData& data,
                                                               platform::ErrorPtr* error) const {
    if (!passesDecodingGate(response, data, error)) return {};
    if (!data) return {};
    return TVResponseObject(std::make_shared<platform::XMLParser>(*data));
}

void TVXMLParserResponseSerializer::encodeWithCoder(platform::Dictionary& coder) const {
    TVHTTPResponseSerializer::encodeWithCoder(coder);
}

void TVXMLParserResponseSerializer::initWithCoder(const platform::Dictionary& coder) {
    TVHTTPResponseSerializer::initWithCoder(coder);

}

}  // namespace pellix
