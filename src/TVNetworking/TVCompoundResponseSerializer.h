// TVCompoundResponseSerializer: tries its member serializers in order and
// returns the first object one produces (its error chained onto the caller's
// slot); when none does, validates with its own settings (default: 200..299,
// any type) and returns the raw body.
#pragma once

#include <vector>

#include "TVNetworking/TVHTTPResponseSerializer.h"

namespace pellix {

class TVCompoundResponseSerializer : public TVHTTPResponseSerializer {
public:
    using Serializers = std::vector<std::shared_ptr<TVURLResponseSerialization>>;

    static std::shared_ptr<TVCompoundResponseSerializer> serializer();
    static std::shared_ptr<TVCompoundResponseSerializer> compoundSerializerWithResponseSerializers(Serializers serializers);

    // Members that are not TVHTTPResponseSerializer are skipped.
    const Serializers& responseSerializers() const { return responseSerializers_; }
    void setResponseSerializers(Serializers serializers) { responseSerializers_ = std::move(serializers); }

    std::shared_ptr<TVHTTPResponseSerializer> copy() const override;
    const char* className() const override { return "TVCompoundResponseSerializer"; }
    void encodeWithCoder(platform::Dictionary& coder) const override;
    void initWithCoder(const platform::Dictionary& coder) override;
    TVResponseObject responseObject(const TVResponse& response, const TVResponseData& data,
                                    platform::ErrorPtr* error) const override;

private:
    Serializers responseSerializers_;
};

}  // namespace pellix
