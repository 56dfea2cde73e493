// TVPropertyListResponseSerializer: decodes XML or binary property lists.
// Accepts "application/x-plist". No body yields nothing; an empty or damaged
// body yields nothing and the reader's error (any status error underneath).
#pragma once

#include "TVNetworking/TVHTTPResponseSerializer.h"

namespace pellix {

class TVPropertyListResponseSerializer : public TVHTTPResponseSerializer {
public:
    static std::shared_ptr<TVPropertyListResponseSerializer> serializer();
    static std::shared_ptr<TVPropertyListResponseSerializer> serializerWithFormat(unsigned format, unsigned readOptions);
    TVPropertyListResponseSerializer();

    // Kept and copied; reading detects the format itself.
    unsigned format() const { return format_; }
    void setFormat(unsigned format) { format_ = format; }
    // Kept and copied; Values are always mutable, so no option changes reading.
    unsigned readOptions() const { return readOptions_; }
    void setReadOptions(unsigned options) { readOptions_ = options; }

    std::shared_ptr<TVHTTPResponseSerializer> copy() const override;
    const char* className() const override { return "TVPropertyListResponseSerializer"; }
    void encodeWithCoder(platform::Dictionary& coder) const override;
    void initWithCoder(const platform::Dictionary& coder) override;
    TVResponseObject responseObject(const TVResponse& response, const TVResponseData& data,
                                    platform::ErrorPtr* error) const override;

private:
    unsigned format_ = 100;
    unsigned readOptions_ = 0;
};

}  // namespace pellix
