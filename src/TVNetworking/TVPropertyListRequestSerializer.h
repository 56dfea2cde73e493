// TVPropertyListRequestSerializer: parameters of body methods become a
// property-list body ("Content-Type" "application/x-plist" unless the request
// has one) in `format` (100 XML, 200 binary); GET, HEAD and DELETE behave as
// in TVHTTPRequestSerializer. An encoding failure (a null inside the
// parameters, an unsupported format) hands on the writer's error.
#pragma once

#include "TVNetworking/TVHTTPRequestSerializer.h"

namespace pellix {

// The platform's property-list format codes.
enum TVPropertyListFormat : unsigned {
    TVPropertyListOpenStepFormat = 1,
    TVPropertyListXMLFormat_v1_0 = 100,
    TVPropertyListBinaryFormat_v1_0 = 200,
};

class TVPropertyListRequestSerializer : public TVHTTPRequestSerializer {
public:
    static std::shared_ptr<TVPropertyListRequestSerializer> serializer();
    static std::shared_ptr<TVPropertyListRequestSerializer> serializerWithFormat(unsigned format, unsigned writeOptions);

    unsigned format() const { return format_; }
    void setFormat(unsigned format) { format_ = format; }
    unsigned writeOptions() const { return writeOptions_; }
    void setWriteOptions(unsigned options) { writeOptions_ = options; }

    std::shared_ptr<TVHTTPRequestSerializer> copy() const override;
    void encodeWithCoder(platform::Dictionary& coder) const override;
    void initWithCoder(const platform::Dictionary& coder) override;
    std::optional<platform::URLRequest> requestBySerializingRequest(const platform::URLRequest& request,
                                                                    const platform::Value& parameters,
                                                                    platform::ErrorPtr* error) override;

private:
    unsigned format_ = TVPropertyListXMLFormat_v1_0;
    unsigned writeOptions_ = 0;
};

}  // namespace pellix
