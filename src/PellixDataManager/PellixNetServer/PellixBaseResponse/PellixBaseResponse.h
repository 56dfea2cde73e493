// PellixBaseResponse: the platform's response envelope and the base of every
// response record.
//
// The envelope is a JSON object with "code" (number), "message" (text) and
// "data" (an object or an array of objects). initWithDictionary(dict, type)
// stores the body type first, then assigns the keys: "code" keeps a number's
// integer value (any other value gives -1), "message" is kept as text, and
// "data" becomes `body`, one record of the body type per object; every other
// key goes to the record's own fields. A response whose body type is null
// ignores "data" and keeps `body` unset.
//
// `body` holds records (std::shared_ptr<PellixBaseModel>); an answer that is
// not JSON (an image) is carried by a record class of the pipeline's own.
// Not synchronised.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseModel.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRecordClass.h"

namespace pellix {

class PellixBaseResponse : public PellixBaseModel {
    PELLIX_RECORD(PellixBaseResponse, PellixBaseModel)

public:
    using Body = std::vector<std::shared_ptr<PellixBaseModel>>;
    static constexpr const char* kBadFormatMessage = "数据格式错误";

    using PellixBaseModel::initWithDictionary;
    // When `dictionary` is a dictionary: stores the body type, then assigns
    // its keys. Anything else (null, an array, text): code 500, message
    // "数据格式错误", everything else left empty.
    void initWithDictionary(const platform::Value& dictionary, PellixBodyType bodyType);

    template <class T = PellixBaseResponse>
    static std::shared_ptr<T> make(const platform::Value& dictionary, PellixBodyType bodyType) {
        auto record = std::make_shared<T>();
        record->initWithDictionary(dictionary, bodyType);
        return record;
    }
    using PellixBaseModel::make;

    PellixBodyType bodyType() const { return bodyType_; }
    void setBodyType(PellixBodyType type) { bodyType_ = type; }
    const std::optional<Body>& body() const { return body_; }
    std::optional<Body>& mutableBody() { return body_; }
    void setBody(std::optional<Body> body) { body_ = std::move(body); }

    // The body's records of type T (elements of other types skipped).
    template <class T>
    std::vector<std::shared_ptr<T>> bodyRecords() const {
        std::vector<std::shared_ptr<T>> out;
        if (body_) {
            for (const auto& r : *body_) {
                if (auto t = std::dynamic_pointer_cast<T>(r)) out.push_back(std::move(t));
            }
        }
        return out;
    }

    PELLIX_PROPERTY(std::int64_t, code, setCode)
    PELLIX_PROPERTY(PellixText, message, setMessage)

private:
    void assignData(const platform::Value& value);

    PellixBodyType bodyType_ = nullptr;
    std::optional<Body> body_;
};

}  // namespace pellix
