// HOS_PROPERTY: one property of a storage record or setting: a member
// `name_`, the getter `name()` and the setter, as the records of the storage
// client are plain data holders.
#pragma once

#include <utility>

#define HOS_PROPERTY(Type, name, setter)         \
private:                                         \
    Type name##_{};                              \
                                                 \
public:                                          \
    const Type& name() const { return name##_; } \
    void setter(Type value) { name##_ = std::move(value); }
