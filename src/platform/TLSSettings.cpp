#include "platform/TLSSettings.h"

#include <cstring>

namespace pellix::platform {

std::optional<std::string> TLSSettings::refusal() const {
    static const char* const levels[] = {kLevelNone, kLevelSSLv2, kLevelSSLv3, kLevelTLSv1, kLevelNegotiatedSSL};
    bool known = false;
    for (const char* l : levels) known = known || level == l;
    if (!known) return "unknown security level \"" + level + "\"";
    if (certificates && !certificates->empty()) {
        const auto* identity = std::get_if<std::shared_ptr<const TLSIdentity>>(&certificates->front());
        if (!identity || !*identity) return std::string("the first certificates element is no identity");
        for (std::size_t i = 1; i < certificates->size(); ++i) {
            if (!std::holds_alternative<Bytes>((*certificates)[i])) {
                return std::string("only the first certificates element may be an identity");
            }
        }
    }
    return std::nullopt;
}

}  // namespace pellix::platform
