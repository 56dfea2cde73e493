// JSON reader on arbitrary bytes: it accepts exactly what nlohmann's DOM
// reader accepts, with the same values, and what it accepts must write and
// read back equal.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/JSON.h"

using namespace pellix::platform;

namespace {

Value fromReference(const nlohmann::json& j) {
    switch (j.type()) {
    case nlohmann::json::value_t::boolean: return Value(j.get<bool>());
    case nlohmann::json::value_t::number_integer: return Value(j.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned: return Value(j.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float: return Value(j.get<double>());
    case nlohmann::json::value_t::string: return Value(j.get<std::string>());
    case nlohmann::json::value_t::array: {
        Array a;
        for (const auto& e : j) a.push_back(fromReference(e));
        return a;
    }
    case nlohmann::json::value_t::object: {
        Dictionary d;
        for (const auto& [k, v] : j.items()) d.set(k, fromReference(v));
        return d;
    }
    default: return Value();
    }
}

}  // namespace

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
