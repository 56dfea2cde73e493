// Notification: what NotificationCenter delivers.
//
// `object` is the sender (or whatever the poster names); observers filter on
// its identity (`objectIdentity()`). A poster may hand a real shared pointer
// (receivers can `std::static_pointer_cast` it back) or only an identity
// pointer that receivers must not dereference unless they know its type and
// lifetime (`Notification::identity(p)`).
#pragma once

#include <memory>
#include <string>

#include "platform/Value.h"

namespace pellix::platform {

class Notification {
public:
    Notification() = default;
    Notification(std::string name, std::shared_ptr<void> object = nullptr, Dictionary userInfo = {})
        : name_(std::move(name)), object_(std::move(object)), userInfo_(std::move(userInfo)) {}

    // A non-owning "shared" pointer carrying only the address `p`.
    static std::shared_ptr<void> identity(const void* p) {
        return std::shared_ptr<void>(std::shared_ptr<void>(), const_cast<void*>(p));
    }

    const std::string& name() const { return name_; }
    const std::shared_ptr<void>& object() const { return object_; }
    const void* objectIdentity() const { return object_.get(); }
    const Dictionary& userInfo() const { return userInfo_; }

private:
    std::string name_;
    std::shared_ptr<void> object_;
    Dictionary userInfo_;
};

}  // namespace pellix::platform
