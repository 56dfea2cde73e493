// The Base64 JSON form in which upload-callback parameters travel
// ("x-hos-callback", "x-hos-callback-var"). Safe from any thread.
#pragma once

#include <string>

#include "platform/Value.h"

namespace pellix {

// Base64 (no line breaks) of the dictionary's compact JSON, "/" written plain
// rather than "\/". A dictionary that cannot be written as JSON gives "e30="
// (the Base64 of "{}"). The JSON text is also written to the platform log.
std::string base64JsonString(const platform::Dictionary& dictionary);

}  // namespace pellix
