#include "TVNetworking/TVPropertyListResponseSerializer.h"

#include "platform/PropertyList.h"

namespace pellix {

std::shared_ptr<TVPropertyListResponseSerializer> TVPropertyListResponseSerializer::serializer() {
    return serializerWithFormat(100, 0);
}

std::shared_ptr<TVPropertyListResponseSerializer> TVPropertyListResponseSerializer::serializerWithFormat(
    unsigned format, unsigned readOptions) {
    auto s = std::make_shared<TVPropertyListResponseSerializer>();
    s->format_ = format;
    s->readOptions_ = readOptions;
    return s;
}

TVPropertyListResponseSerializer::TVPropertyListResponseSerializer() {
    setAcceptableContentTypes(std::set<std::string>{"application/x-plist"});
}

std::shared_ptr<TVHTTPResponseSerializer> TVPropertyListResponseSerializer::copy() const {
    auto c = std::make_shared<TVPropertyListResponseSerializer>();
    copyInto(*c);
    c->format_ = format_;
    c->readOptions_ = readOptions_;
    return c;
}

TVResponseObject TVPropertyListResponseSerializer::responseObject(const TVResponse& response,
                                                                  const TVResponseData& data,
                                                                  platform::ErrorPtr* error) const {
    if (!passesDecodingGate(response, data, error)) return {};
    if (!data) return {};
    platform::ErrorPtr parseError;
    auto value = platform::PropertyList::read(*data, nullptr, &parseError);
    if (!value) {
        if (error) *error = TVErrorWithUnderlyingError(parseError, *error);
        return {};
    }
    return TVResponseObject(std::move(*value));
}

void TVPropertyListResponseSerializer::encodeWithCoder(platform::Dictionary& coder) const {
    TVHTTPResponseSerializer::encodeWithCoder(coder);
    coder.set("format", platform::Value(format_));
    coder.set("readOptions", platform::Value(readOptions_));
}

void TVPropertyListResponseSerializer::initWithCoder(const platform::Dictionary& coder) {
    TVHTTPResponseSerializer::initWithCoder(coder);
    const platform::Value* format = coder.find("format");
    format_ = format && format->isNumber() ? static_cast<unsigned>(format->uintValue()) : 0;
    const platform::Value* readOptions = coder.find("readOptions");
    readOptions_ = readOptions && readOptions->isNumber() ? static_cast<unsigned>(readOptions->uintValue()) : 0;
}

}  // namespace pellix
