// TVXMLParserResponseSerializer: hands back an XML (SAX) parser over the
// body, not yet run: the caller sets its delegate and parses. Accepts
// "application/xml" and "text/xml". No body yields nothing.
#pragma once

#include "TVNetworking/TVHTTPResponseSerializer.h"

namespace pellix {

class TVXMLParserResponseSerializer : public TVHTTPResponseSerializer {
public:
    static std::shared_ptr<TVXMLParserResponseSerializer> serializer();
    TVXMLParserResponseSerializer();

    std::shared_ptr<TVHTTPResponseSerializer> copy() const override;
    const char* className() const override { return "TVXMLParserResponseSerializer"; }
    void encodeWithCoder(platform::Dictionary& coder) const override;
    void initWithCoder(const platform::Dictionary& coder) override;
    TVResponseObject responseObject(const TVResponse& response, const TVResponseData& data,
                                    platform::ErrorPtr* error) const override;
};

}  // namespace pellix
