// JSON: text ⇄ Value, the platform's JSON reader and writer.
//
// Reading goes through a SAX handler straight into Value (no intermediate
// document), so nesting is bounded by a depth cap before any memory is spent
// on it. Integers stay integers: a number written without fraction or
// exponent is read as Int (or UInt above INT64_MAX), everything else as
// Double, and the writer prints them back the same way.
//
// Failure: every reading failure (invalid JSON, invalid UTF-8, trailing
// garbage, depth over the cap, a top-level fragment without kFragmentsAllowed)
// yields std::nullopt and, when `error` is given, an Error in domain
// "NSCocoaErrorDomain" with code 3840 whose user info holds
// "NSDebugDescription" (what went wrong and where). Writing failures (a
// non-finite double, bytes, a top-level fragment without kFragmentsAllowed,
// nesting over the cap) yield std::nullopt and an Error in "NSCocoaErrorDomain"
// with code 3852 (invalid value for the writer).
//
// Thread-safety: any function may be called from any thread. Each thread
// that reads keeps the reader's scratch stacks between calls (as large as its
// largest document needed, or nothing above 8 MiB): a loop of large answers
// then reuses their memory instead of faulting it in afresh.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix::platform {

class JSON {
public:
    // Reading options, bit values as the platform numbers them.
    enum ReadingOptions : unsigned {
        kMutableContainers = 1u << 0,  // no effect: every Value is mutable
        kMutableLeaves = 1u << 1,      // no effect: every Value is mutable
        kFragmentsAllowed = 1u << 2,   // a bare number, string, boolean or null at top level
    };
    // Writing options, bit values as the platform numbers them.
    enum WritingOptions : unsigned {
        kPrettyPrinted = 1u << 0,  // two-space indent, "key" : value, one member per line
        kWriteFragmentsAllowed = 1u << 2,
    };

    // Containers nested deeper than this make reading and writing fail.
    static constexpr std::size_t kMaxDepth = 512;

    static constexpr std::int64_t kErrorCodeRead = 3840;
    static constexpr std::int64_t kErrorCodeWrite = 3852;

    // Parses UTF-8 JSON text. A leading UTF-8 byte-order mark is skipped;
    // whitespace may surround the value; anything else after it is an error.
    static std::optional<Value> parse(std::string_view text, unsigned options = 0, ErrorPtr* error = nullptr,
                                      std::size_t maxDepth = kMaxDepth);
    static std::optional<Value> parse(const Bytes& data, unsigned options = 0, ErrorPtr* error = nullptr,
                                      std::size_t maxDepth = kMaxDepth);

    // Compact text (no spaces) unless kPrettyPrinted. Keys in insertion order;
    // "/" written as "\/", control characters as \n, \t, ... or \u00XX,
    // non-ASCII characters as UTF-8 (invalid UTF-8 in a string is an error).
    // Integers in decimal; doubles in their shortest round-trip form, with
    // ".0" added to integral ones ("3.0") so they read back as doubles.
    static std::optional<std::string> write(const Value& value, unsigned options = 0, ErrorPtr* error = nullptr);

    // True when write() would accept the value with the given options: top
    // level an array or dictionary (or anything with kWriteFragmentsAllowed),
    // only null, booleans, numbers (finite), strings, arrays and dictionaries
    // inside, within the depth cap.
    static bool isValidJSONObject(const Value& value, unsigned options = 0);
};

}  // namespace pellix::platform
