#include "platform/Error.h"

namespace pellix::platform {

std::string Error::localizedDescription() const {
    if (const Value* d = userInfo_.find(kLocalizedDescriptionKey); d && d->isString()) return d->asString();
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::string Error::description() const {
    return "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" + localizedDescription() + "\"";
}

}  // namespace pellix::platform
