// MIME type of a file-name extension, from the system's type registry
// (/etc/mime.types, read once); "application/octet-stream" when the
// extension is empty or unknown. Extensions match without regard to case.
// Thread-safe.
#pragma once

#include <string>

namespace pellix {

std::string TVContentTypeForPathExtension(const std::string& extension);

}  // namespace pellix
