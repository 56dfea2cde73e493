// A JSON document as a Value, from nlohmann's own DOM reader: the reference
// our reader is held to, in the tests and in the fuzz target.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Value.h"

namespace pellix::test {

inline platform::Value fromReference(const nlohmann::json& j) {
    using platform::Value;
    switch (j.type()) {
    case nlohmann::json::value_t::null: return Value();
    case nlohmann::json::value_t::boolean: return Value(j.get<bool>());
    case nlohmann::json::value_t::number_integer: return Value(j.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned: return Value(j.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float: return Value(j.get<double>());
    case nlohmann::json::value_t::string: return Value(j.get<std::string>());
    case nlohmann::json::value_t::array: {
        platform::Array a;
        for (const auto& e : j) a.push_back(fromReference(e));
        return a;
    }
    case nlohmann::json::value_t::object: {
        platform::Dictionary d;
        for (const auto& [k, v] : j.items()) d.set(k, fromReference(v));
        return d;
    }
    default: return Value("unexpected");
    }
}

}  // namespace pellix::test
