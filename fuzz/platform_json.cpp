// JSON reader on arbitrary bytes; what it accepts must write and read back equal.
#include <cstddef>
#include <cstdint>

#include "platform/JSON.h"

using namespace pellix::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ErrorPtr error;
    auto v = JSON::parse(std::string_view(reinterpret_cast<const char*>(data), size), JSON::kFragmentsAllowed, &error);
    if (!v) return 0;
    (void)v->description();
    auto text = JSON::write(*v, JSON::kWriteFragmentsAllowed);
    if (!text) return 0;  // e.g. nested deeper than the writer allows
    auto back = JSON::parse(*text, JSON::kFragmentsAllowed);
    if (!back || !(*back == *v)) __builtin_trap();
    return 0;
}
