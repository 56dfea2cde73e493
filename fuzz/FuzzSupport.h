// What every fuzz target shares.
#pragma once

#include <string_view>

#include "platform/Log.h"

namespace pellix::fuzz {

// The inputs are garbage by design: the log lines they provoke would only
// slow the run and bury a crash report.
inline void silencePlatformLog() {
    static const bool silenced = [] {
        platform::Log::setSink([](std::string_view) {});
        return true;
    }();
    (void)silenced;
}

}  // namespace pellix::fuzz
