#include "TVNetworking/TVJSONResponseSerializer.h"

#include "platform/JSON.h"

namespace pellix {

using platform::ErrorPtr;

std::shared_ptr<TVJSONResponseSerializer> TVJSONResponseSerializer::serializer() { return serializerWithReadingOptions(0); }

std::shared_ptr<TVJSONResponseSerializer> TVJSONResponseSerializer::serializerWithReadingOptions(unsigned readingOptions) {
    auto s = std::make_shared<TVJSONResponseSerializer>();
    s->readingOptions_ = readingOptions;
    return s;
}

TVJSONResponseSerializer::TVJSONResponseSerializer() {
    setAcceptableContentTypes(std::set<std::string>{"application/json", "text/json", "text/javascript"});
}

std::shared_ptr<TVHTTPResponseSerializer> TVJSONResponseSerializer::copy() const {
    auto c = std::make_shared<TVJSONResponseSerializer>();
    copyInto(*c);
    c->readingOptions_ = readingOptions_;
    c->removesKeysWithNullValues_ = removesKeysWithNullValues_;
    return c;
}

TVResponseObject TVJSONResponseSerializer::responseObject(const TVResponse& response, const TVResponseData& data,
                                                          ErrorPtr* error) const {
    if (!passesDecodingGate(response, data, error)) return {};
    // Some servers answer "head :ok" with a single space.
    if (!data || data->empty() || (data->size() == 1 && (*data)[0] == ' ')) return {};
    ErrorPtr parseError;
    auto value = platform::JSON::parse(*data, readingOptions_, &parseError);
    if (!value) {
        if (error) *error = TVErrorWithUnderlyingError(parseError, *error);
        return {};
    }
    if (removesKeysWithNullValues_) return TVResponseObject(TVJSONObjectByRemovingKeysWithNullValues(*value, readingOptions_));
    return TVResponseObject(std::move(*value));
}

void TVJSONResponseSerializer::encodeWithCoder(platform::Dictionary& coder) const {
    TVHTTPResponseSerializer::encodeWithCoder(coder);
    coder.set("readingOptions", platform::Value(readingOptions_));
    coder.set("removesKeysWithNullValues", platform::Value(removesKeysWithNullValues_));
}

void TVJSONResponseSerializer::initWithCoder(const platform::Dictionary& coder) {
    TVHTTPResponseSerializer::initWithCoder(coder);
    const platform::Value* readingOptions = coder.find("readingOptions");
    readingOptions_ = readingOptions && readingOptions->isNumber() ? static_cast<unsigned>(readingOptions->uintValue()) : 0;
    const platform::Value* removesKeysWithNullValues = coder.find("removesKeysWithNullValues");
    removesKeysWithNullValues_ = removesKeysWithNullValues && removesKeysWithNullValues->isNumber() && removesKeysWithNullValues->boolValue();
}

}  // namespace pellix
