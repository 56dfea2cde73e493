#include "TVNetworking/TVJSONRequestSerializer.h"

#include "TVNetworking/TVNetworkingSupport.h"
#include "platform/JSON.h"

namespace pellix {

using platform::ErrorPtr;
using platform::URLRequest;
using platform::Value;

std::shared_ptr<TVJSONRequestSerializer> TVJSONRequestSerializer::serializer() { return serializerWithWritingOptions(0); }

std::shared_ptr<TVJSONRequestSerializer> TVJSONRequestSerializer::serializerWithWritingOptions(unsigned writingOptions) {
    auto s = std::make_shared<TVJSONRequestSerializer>();
    s->writingOptions_ = writingOptions;
    return s;
}

std::shared_ptr<TVHTTPRequestSerializer> TVJSONRequestSerializer::copy() const {
    auto c = std::make_shared<TVJSONRequestSerializer>();
    copyInto(*c);
    c->writingOptions_ = writingOptions_;
    return c;
}

std::optional<URLRequest> TVJSONRequestSerializer::requestBySerializingRequest(const URLRequest& request,
                                                                               const Value& parameters,
                                                                               ErrorPtr* error) {
    if (encodesParametersInURI(request.httpMethod()))
        return TVHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    URLRequest mutableRequest = request;
    applyDefaultHeaders(mutableRequest, request);
    if (parameters.isNull()) return mutableRequest;
    if (!mutableRequest.valueForHTTPHeaderField("Content-Type"))
        mutableRequest.setValue("application/json", "Content-Type");
    if (!platform::JSON::isValidJSONObject(parameters)) {
        if (error) {
            *error = platform::Error::make(
                TVURLRequestSerializationErrorDomain, -1016,
                platform::Dictionary{{platform::Error::kLocalizedFailureReasonErrorKey,
                                      Value(TVNetworkingLocalizedString("The `parameters` argument is not valid JSON."))}});
        }
        return std::nullopt;
    }
    auto body = platform::JSON::write(parameters, writingOptions_, error);
    if (!body) return std::nullopt;
    mutableRequest.setHTTPBody(platform::Bytes(body->begin(), body->end()));
    return mutableRequest;
}

void TVJSONRequestSerializer::encodeWithCoder(platform::Dictionary& coder) const {
    TVHTTPRequestSerializer::encodeWithCoder(coder);
    coder.set("writingOptions", Value(writingOptions_));
}

void TVJSONRequestSerializer::initWithCoder(const platform::Dictionary& coder) {
    TVHTTPRequestSerializer::initWithCoder(coder);
    const Value* writingOptions = coder.find("writingOptions");
    writingOptions_ = writingOptions && writingOptions->isNumber() ? static_cast<unsigned>(writingOptions->uintValue()) : 0;
}

}  // namespace pellix
