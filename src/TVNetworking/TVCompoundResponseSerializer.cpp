#include "TVNetworking/TVCompoundResponseSerializer.h"

namespace pellix {

std::shared_ptr<TVCompoundResponseSerializer> TVCompoundResponseSerializer::serializer() {
    return std::make_shared<TVCompoundResponseSerializer>();
}

std::shared_ptr<TVCompoundResponseSerializer> TVCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
    Serializers serializers) {
    auto s = std::make_shared<TVCompoundResponseSerializer>();
    s->responseSerializers_ = std::move(serializers);
    return s;
}

std::shared_ptr<TVHTTPResponseSerializer> TVCompoundResponseSerializer::copy() const {
    auto c = std::make_shared<TVCompoundResponseSerializer>();
    copyInto(*c);
    c->responseSerializers_ = responseSerializers_;
    return c;
}

TVResponseObject TVCompoundResponseSerializer::responseObject(const TVResponse& response, const TVResponseData& data,
                                                              platform::ErrorPtr* error) const {
    for (const auto& member : responseSerializers_) {
        auto serializer = std::dynamic_pointer_cast<TVHTTPResponseSerializer>(member);
        if (!serializer) continue;
        platform::ErrorPtr serializerError;
        TVResponseObject object = serializer->responseObject(response, data, &serializerError);
        if (object) {
            if (error) *error = TVErrorWithUnderlyingError(serializerError, *error);
            return object;
        }
    }
    return TVHTTPResponseSerializer::responseObject(response, data, error);
}

}  // namespace pellix
