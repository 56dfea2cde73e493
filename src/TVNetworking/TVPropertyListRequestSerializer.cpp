#include "TVNetworking/TVPropertyListRequestSerializer.h"

#include "platform/PropertyList.h"

namespace pellix {

using platform::ErrorPtr;
using platform::URLRequest;
using platform::Value;

std::shared_ptr<TVPropertyListRequestSerializer> TVPropertyListRequestSerializer::serializer() {
    return serializerWithFormat(TVPropertyListXMLFormat_v1_0, 0);
}

std::shared_ptr<TVPropertyListRequestSerializer> TVPropertyListRequestSerializer::serializerWithFormat(
    unsigned format, unsigned writeOptions) {
    auto s = std::make_shared<TVPropertyListRequestSerializer>();
    s->format_ = format;
    s->writeOptions_ = writeOptions;
    return s;
}

std::shared_ptr<TVHTTPRequestSerializer> TVPropertyListRequestSerializer::copy() const {
    auto c = std::make_shared<TVPropertyListRequestSerializer>();
    copyInto(*c);
    c->format_ = format_;
    c->writeOptions_ = writeOptions_;
    return c;
}

std::optional<URLRequest> TVPropertyListRequestSerializer::requestBySerializingRequest(const URLRequest& request,
                                                                                       const Value& parameters,
                                                                                       ErrorPtr* error) {
    if (encodesParametersInURI(request.httpMethod()))
        return TVHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    URLRequest mutableRequest = request;
    applyDefaultHeaders(mutableRequest, request);
    if (parameters.isNull()) return mutableRequest;
    if (!mutableRequest.valueForHTTPHeaderField("Content-Type"))
        mutableRequest.setValue("application/x-plist", "Content-Type");
    if (format_ != TVPropertyListXMLFormat_v1_0 && format_ != TVPropertyListBinaryFormat_v1_0) {
        // The platform writes no OpenStep property lists.
        if (error)
            *error = platform::Error::make("NSCocoaErrorDomain", platform::PropertyList::kErrorCodeWrite,
                                           platform::Dictionary{{"NSDebugDescription", Value("Unsupported property list format")}});
        return std::nullopt;
    }
    auto body = platform::PropertyList::write(parameters,
                                              format_ == TVPropertyListXMLFormat_v1_0 ? platform::PropertyList::Format::XML
                                                                                      : platform::PropertyList::Format::Binary,
                                              error);
    if (!body) return std::nullopt;
    mutableRequest.setHTTPBody(std::move(*body));
    return mutableRequest;
}

void TVPropertyListRequestSerializer::encodeWithCoder(platform::Dictionary& coder) const {
    TVHTTPRequestSerializer::encodeWithCoder(coder);
    coder.set("format", Value(format_));
    coder.set("writeOptions", Value(writeOptions_));
}

void TVPropertyListRequestSerializer::initWithCoder(const platform::Dictionary& coder) {
    TVHTTPRequestSerializer::initWithCoder(coder);
    const Value* format = coder.find("format");
    format_ = format && format->isNumber() ? static_cast<unsigned>(format->uintValue()) : 0;
    const Value* writeOptions = coder.find("writeOptions");
    writeOptions_ = writeOptions && writeOptions->isNumber() ? static_cast<unsigned>(writeOptions->uintValue()) : 0;
}

}  // namespace pellix
