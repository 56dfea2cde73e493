#include "TVNetworking/TVCompoundResponseSerializer.h"

#include "TVNetworking/TVImageResponseSerializer.h"
#include "TVNetworking/TVJSONResponseSerializer.h"
#include "TVNetworking/TVPropertyListResponseSerializer.h"
#include "TVNetworking/TVXMLParserResponseSerializer.h"

namespace pellix {

std::shared_ptr<TVHTTPResponseSerializer> TVHTTPResponseSerializer::serializerWithCoder(const platform::Dictionary& coder) {
    const platform::Value* name = coder.find("class");
    if (!name || !name->isString()) return nullptr;
    const std::string& n = name->asString();
    std::shared_ptr<TVHTTPResponseSerializer> s;
    if (n == "TVHTTPResponseSerializer") s = std::make_shared<TVHTTPResponseSerializer>();
    else if (n == "TVJSONResponseSerializer") s = std::make_shared<TVJSONResponseSerializer>();
    else if (n == "TVXMLParserResponseSerializer") s = std::make_shared<TVXMLParserResponseSerializer>();
    else if (n == "TVPropertyListResponseSerializer") s = std::make_shared<TVPropertyListResponseSerializer>();
    else if (n == "TVImageResponseSerializer") s = std::make_shared<TVImageResponseSerializer>();
    else if (n == "TVCompoundResponseSerializer") s = std::make_shared<TVCompoundResponseSerializer>();
    if (s) s->initWithCoder(coder);
    return s;
}

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

void TVCompoundResponseSerializer::encodeWithCoder(platform::Dictionary& coder) const {
    TVHTTPResponseSerializer::encodeWithCoder(coder);
    platform::Array members;
    for (const auto& member : responseSerializers_) {
        if (auto serializer = std::dynamic_pointer_cast<TVHTTPResponseSerializer>(member)) {
            platform::Dictionary archive;
            serializer->encodeWithCoder(archive);
            members.emplace_back(std::move(archive));
        }
    }
    coder.set("responseSerializers", platform::Value(std::move(members)));
}

void TVCompoundResponseSerializer::initWithCoder(const platform::Dictionary& coder) {
    TVHTTPResponseSerializer::initWithCoder(coder);
    responseSerializers_.clear();
    if (const platform::Value* members = coder.find("responseSerializers"); members && members->isArray()) {
        for (const platform::Value& member : members->asArray()) {
            if (!member.isDictionary()) continue;
            if (auto serializer = TVHTTPResponseSerializer::serializerWithCoder(member.asDictionary()))
                responseSerializers_.push_back(std::move(serializer));
        }
    }
}

}  // namespace pellix
