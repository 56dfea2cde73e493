#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"

namespace pellix {

namespace {

void codeRule(std::int64_t& code, const platform::Value& value) {
    code = value.isNumber() ? value.intValue() : -1;
}

}  // namespace

PELLIX_FIELDS(PellixBaseResponse,
              pellixField("code", &Self::code_).rule(codeRule),
              pellixField("message", &Self::message_),
              pellixKey<PellixBaseResponse>("data",
                                            [](PellixBaseResponse& r, const platform::Value& v) { r.assignData(v); }))

void PellixBaseResponse::initWithDictionary(const platform::Value& dictionary, PellixBodyType bodyType) {
    const platform::Dictionary* d = dictionary.dictionaryIf();
    if (!d) {
        code_ = 500;
        message_ = kBadFormatMessage;
        return;
    }
    bodyType_ = bodyType;
    PellixBaseModel::initWithDictionary(*d);
}

void PellixBaseResponse::assignData(const platform::Value& value) {
    if (!bodyType_) return;
    body_.emplace();
    if (const platform::Array* items = value.arrayIf()) {
        // Records are built from objects only; other elements are skipped.
        for (const platform::Value& item : *items) {
            if (const platform::Dictionary* d = item.dictionaryIf()) body_->push_back(bodyType_->create(*d));
        }
    } else if (const platform::Dictionary* d = value.dictionaryIf()) {
        body_->push_back(bodyType_->create(*d));
    }
}

}  // namespace pellix
