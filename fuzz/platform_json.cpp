// JSON reader on arbitrary bytes: it accepts exactly what nlohmann's DOM
// reader accepts, with the same values, and what it accepts must write and
// read back equal.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/JSON.h"
#include "../tests/support/JsonReference.h"

using namespace pellix::platform;

using pellix::test::fromReference;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ErrorPtr error;
    auto v = JSON::parse(input, JSON::kFragmentsAllowed, &error);
    // A raw NUL ends the reference reader's input, while ours calls what
    // follows garbage; and only ours caps the nesting (an input shorter than
    // the cap cannot reach it).
    if (input.find('\0') == std::string_view::npos && input.size() < JSON::kMaxDepth) {
        const auto reference = nlohmann::json::parse(input, nullptr, false);
        if (v.has_value() == reference.is_discarded()) __builtin_trap();
        if (v && !(*v == fromReference(reference))) __builtin_trap();
    }
    if (!v) return 0;
    (void)v->description();
    auto text = JSON::write(*v, JSON::kWriteFragmentsAllowed);
    if (!text) return 0;  // e.g. nested deeper than the writer allows
    auto back = JSON::parse(*text, JSON::kFragmentsAllowed);
    if (!back || !(*back == *v)) __builtin_trap();
    return 0;
}
