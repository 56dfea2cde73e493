// PellixBaseModel: base of every record filled from JSON.
//
// A record is filled key by key from a dictionary: each key goes to
// setValue(), which finds the field declared under that key in the record's
// table (PellixRecordFields.h) and stores the value by the field's rule; a
// key no field declares goes to setValueForUndefinedKey(), which drops it and
// writes a verbose log line. Records are shared, never duplicated: copy()
// answers the same object. Records live in std::shared_ptr (make<T>()).
//
// Archiving: encodeWithCoder() writes nothing and initWithCoder() reads
// nothing here; records that must survive archiving encode their own fields.
//
// Thread safety: a record is a plain value holder with one owner at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "PellixDataManager/PellixNetServer/PellixRecordFields.h"
#include "platform/Value.h"

namespace pellix {

class PellixBaseModel : public std::enable_shared_from_this<PellixBaseModel> {
public:
    using FieldBase = PellixBaseModel;
    static constexpr const char* kClassName = "PellixBaseModel";

    PellixBaseModel() = default;
    virtual ~PellixBaseModel() = default;
    PellixBaseModel(const PellixBaseModel&) = delete;
    PellixBaseModel& operator=(const PellixBaseModel&) = delete;

    // A new T filled from the dictionary (alloc + initWithDictionary:).
    template <class T>
    static std::shared_ptr<T> make(const platform::Dictionary& dictionary) {
        auto record = std::make_shared<T>();
        record->initWithDictionary(dictionary);
        return record;
    }

    // Assigns every key of the dictionary through setValue(), in order. A
    // value that is not a dictionary assigns nothing.
    void initWithDictionary(const platform::Dictionary& dictionary);
    void initWithDictionary(const platform::Value& dictionary);

    // Stores the value in the field declared for the key; subclasses override
    // it to map keys of their own and pass the rest on.
    virtual void setValue(const platform::Value& value, const std::string& key);
    // Ignores the value; with logging on writes "Undefined Key:<key> in <class>".
    virtual void setValueForUndefinedKey(const platform::Value& value, const std::string& key);

    // Archive form: property name → value. Nothing here.
    virtual platform::Dictionary encodeWithCoder() const { return {}; }
    virtual void initWithCoder(const platform::Dictionary&) {}

    // The same object: records are shared.
    std::shared_ptr<PellixBaseModel> copy() { return shared_from_this(); }

    virtual const char* className() const { return kClassName; }
    static const PellixFieldTable<PellixBaseModel>& fields();
    virtual const PellixFieldTable<PellixBaseModel>& fieldTable() const { return fields(); }
};

}  // namespace pellix
