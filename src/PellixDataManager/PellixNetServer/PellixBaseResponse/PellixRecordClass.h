// PellixRecordClass: a record class as a value — what a response's
// `bodyType` names. It knows the class's name and makes new records of it.
// One object per class, compared by address; nullptr stands for "no class".
// Immutable; safe from any thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseModel.h"

namespace pellix {

class PellixRecordClass {
public:
    template <class T>
    static const PellixRecordClass* of() {
        static const PellixRecordClass cls(T::kClassName, [] { return std::shared_ptr<PellixBaseModel>(std::make_shared<T>()); });
        return &cls;
    }

    const std::string& name() const { return name_; }
    // A new, empty record of the class.
    std::shared_ptr<PellixBaseModel> alloc() const { return factory_(); }
    // A new record filled from the dictionary.
    std::shared_ptr<PellixBaseModel> create(const platform::Dictionary& dictionary) const {
        auto record = alloc();
        record->initWithDictionary(dictionary);
        return record;
    }

    PellixRecordClass(const PellixRecordClass&) = delete;
    PellixRecordClass& operator=(const PellixRecordClass&) = delete;

private:
    PellixRecordClass(std::string name, std::function<std::shared_ptr<PellixBaseModel>()> factory)
        : name_(std::move(name)), factory_(std::move(factory)) {}

    std::string name_;
    std::function<std::shared_ptr<PellixBaseModel>()> factory_;
};

using PellixBodyType = const PellixRecordClass*;

}  // namespace pellix
