// TVJSONResponseSerializer: decodes the body with the platform JSON reader.
// Accepts "application/json", "text/json" and "text/javascript". An empty
// body or a single space yields nothing and no error; invalid JSON yields
// nothing and the reader's error (with any status error as its underlying
// error).
#pragma once

#include "TVNetworking/TVHTTPResponseSerializer.h"

namespace pellix {

class TVJSONResponseSerializer : public TVHTTPResponseSerializer {
public:
    static std::shared_ptr<TVJSONResponseSerializer> serializer();
    static std::shared_ptr<TVJSONResponseSerializer> serializerWithReadingOptions(unsigned readingOptions);
    TVJSONResponseSerializer();

    // platform::JSON reading options.
    unsigned readingOptions() const { return readingOptions_; }
    void setReadingOptions(unsigned options) { readingOptions_ = options; }
    bool removesKeysWithNullValues() const { return removesKeysWithNullValues_; }
    void setRemovesKeysWithNullValues(bool v) { removesKeysWithNullValues_ = v; }

    std::shared_ptr<TVHTTPResponseSerializer> copy() const override;
    const char* className() const override { return "TVJSONResponseSerializer"; }
    void encodeWithCoder(platform::Dictionary& coder) const override;
    void initWithCoder(const platform::Dictionary& coder) override;
    TVResponseObject responseObject(const TVResponse& response, const TVResponseData& data,
                                    platform::ErrorPtr* error) const override;

private:
    unsigned readingOptions_ = 0;
    bool removesKeysWithNullValues_ = false;
};

}  // namespace pellix
