#include "HOSSDK/NSDictionary+HOS.h"

#include "platform/Crypto.h"
#include "platform/JSON.h"
#include "platform/Log.h"

namespace pellix {

std::string base64JsonString(const platform::Dictionary& dictionary) {
    std::optional<std::string> json = platform::JSON::write(platform::Value(dictionary));
    if (!json) return "e30=";
    std::string text;
    text.reserve(json->size());
    for (std::size_t i = 0; i < json->size(); ++i) {
        // "\/" is the writer's escape of "/"; an escaped backslash ("\\")
        // followed by "/" must stay as it is.
        if ((*json)[i] == '\\' && i + 1 < json->size()) {
            if ((*json)[i + 1] == '/') {
                text += '/';
            } else {
                text += (*json)[i];
                text += (*json)[i + 1];
            }
            ++i;
            continue;
        }
        text += (*json)[i];
    }
    platform::Log::write("callback json - " + text);
    return platform::crypto::base64Encode(text);
}

}  // namespace pellix
