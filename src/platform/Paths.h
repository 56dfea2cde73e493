// Paths: the application's folders.
//
// Everything lives under an application home folder the host sets
// (`setHomeDirectory`): "<home>/Documents", "<home>/Library",
// "<home>/Library/Caches" and "<home>/tmp". Until the host sets one, the home
// is "$XDG_DATA_HOME/pellix" (~/.local/share/pellix), the caches folder
// "$XDG_CACHE_HOME/pellix" (~/.cache/pellix) and the temporary folder
// "$TMPDIR/pellix-<uid>" (/tmp). Tests point the home at a temporary folder.
// Each accessor creates its folder (mode 0700) when missing; creation failure
// is not fatal (the path is still returned and the first file operation will
// report it).
//
// Thread-safety: all members from any thread.
#pragma once

#include <string>

namespace pellix::platform {

class Paths {
public:
    static std::string homeDirectory();
    // Empty resets to the defaults.
    static void setHomeDirectory(std::string path);

    static std::string documentsDirectory();
    static std::string libraryDirectory();
    static std::string cachesDirectory();
    // With a trailing "/" as the platform's temporary-folder call gives it.
    static std::string temporaryDirectory();
};

}  // namespace pellix::platform
