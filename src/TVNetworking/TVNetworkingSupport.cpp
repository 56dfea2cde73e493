#include "TVNetworking/TVNetworkingSupport.h"

#include "platform/Error.h"

namespace pellix {

std::string TVNetworkingLocalizedString(const std::string& key) { return key; }

void TVParameterAssert(bool condition, const char* conditionText) {
    if (condition) return;
    throw platform::Exception(platform::Exception::kInternalInconsistencyException,
                              std::string("Invalid parameter not satisfying: ") + conditionText);
}

}  // namespace pellix
