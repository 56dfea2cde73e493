// TVJSONRequestSerializer: parameters of body methods become a JSON body
// ("Content-Type" "application/json" unless the request has one); GET, HEAD
// and DELETE behave as in TVHTTPRequestSerializer. Parameters that are no
// valid JSON object fail with code -1016 in TVURLRequestSerializationErrorDomain.
#pragma once

#include "TVNetworking/TVHTTPRequestSerializer.h"

namespace pellix {

class TVJSONRequestSerializer : public TVHTTPRequestSerializer {
public:
    static std::shared_ptr<TVJSONRequestSerializer> serializer();
    // The platform JSON writer's options (0: compact text).
    static std::shared_ptr<TVJSONRequestSerializer> serializerWithWritingOptions(unsigned writingOptions);

    unsigned writingOptions() const { return writingOptions_; }
    void setWritingOptions(unsigned options) { writingOptions_ = options; }

    std::shared_ptr<TVHTTPRequestSerializer> copy() const override;
    void encodeWithCoder(platform::Dictionary& coder) const override;
    void initWithCoder(const platform::Dictionary& coder) override;
    std::optional<platform::URLRequest> requestBySerializingRequest(const platform::URLRequest& request,
                                                                    const platform::Value& parameters,
                                                                    platform::ErrorPtr* error) override;

private:
    unsigned writingOptions_ = 0;
};

}  // namespace pellix
