#include "PellixDataManager/PellixNetServer/DataService/PXJSONResponseSerializer.h"

#include "CommonMethod/PellixCommonTypes.h"
#include "PellixProxyInfo/PellixProxyInfo.h"
#include "platform/JSON.h"

namespace pellix {

using platform::ErrorPtr;

std::shared_ptr<PXJSONResponseSerializer> PXJSONResponseSerializer::serializer() {
    return std::make_shared<PXJSONResponseSerializer>();
}

PXJSONResponseSerializer::PXJSONResponseSerializer()
    : PXJSONResponseSerializer(PellixProxyInfo::sharedInstance()->deviceUUID()) {}

PXJSONResponseSerializer::PXJSONResponseSerializer(const std::string& deviceUUID)
    : key_(PellixCommonTypes::md5Crypt16WithString(deviceUUID)) {
    setAcceptableContentTypes(std::set<std::string>{"application/json", "text/json", "text/javascript", "text/html"});
}

std::shared_ptr<TVHTTPResponseSerializer> PXJSONResponseSerializer::copy() const {
    auto c = std::make_shared<PXJSONResponseSerializer>(std::string());
    copyInto(*c);
    c->setReadingOptions(readingOptions());
    c->setRemovesKeysWithNullValues(removesKeysWithNullValues());
    c->key_ = key_;
    return c;
}

std::optional<std::string> PXJSONResponseSerializer::decrypt(std::string_view body) const {
    return PellixCommonTypes::AES128DecryptWithString(body, key_, kResponseIV);
}

TVResponseObject PXJSONResponseSerializer::responseObject(const TVResponse& response, const TVResponseData& data,
                                                          ErrorPtr* error) const {
    if (!passesDecodingGate(response, data, error)) return {};
    if (!data || data->empty() || (data->size() == 1 && (*data)[0] == ' ')) return {};

    const std::string_view body(reinterpret_cast<const char*>(data->data()), data->size());
    const bool bodyIsText = platform::isValidUTF8(body);
    std::optional<std::string> plain;
    if (bodyIsText) plain = decrypt(body);

    std::string_view chosen;
    if (plain && !plain->empty()) {
        chosen = *plain;
    } else if (bodyIsText && body.front() == '{') {
        chosen = body;
    }
    if (chosen.empty()) return {};

    ErrorPtr parseError;
    auto value = platform::JSON::parse(chosen, kReadingOptions, &parseError);
    if (!value) {
        if (error) *error = TVErrorWithUnderlyingError(parseError, *error);
        return {};
    }
    if (removesKeysWithNullValues()) {
        return TVResponseObject(TVJSONObjectByRemovingKeysWithNullValues(*value, readingOptions()));
    }
    return TVResponseObject(std::move(*value));
}

}  // namespace pellix
