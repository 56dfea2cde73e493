// PropertyList: XML and binary property lists ⇄ Value, over libplist.
//
// Mapping: dictionary ⇄ Dictionary (key order kept), array ⇄ Array, string ⇄
// String, data ⇄ Bytes, boolean ⇄ Bool, integer ⇄ Int (UInt above
// INT64_MAX), real ⇄ Double. A date reads as a Double of seconds since
// 1970-01-01 UTC. Null has no property-list form: writing a Value that holds
// null fails (KeyedArchive has its own marker for it).
//
// Binary lists are read and written by BinaryPropertyList (exact integers,
// checked input); XML goes through libplist, whose 2.2 release keeps one
// 64-bit pattern for both signs: XML integers read as signed, and the XML
// writer refuses UInt above INT64_MAX rather than print it negative.
//
// Failure: reading damaged, truncated or non-plist bytes yields std::nullopt
// and, when `error` is given, an Error in "NSCocoaErrorDomain" code 3840;
// writing a Value with null, a non-finite double or invalid UTF-8 text yields
// std::nullopt and code 3852. Binary input has every offset, length and
// reference checked before use, so bad input is refused rather than trusted.
//
// Thread-safety: stateless; any function may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix::platform {

class PropertyList {
public:
    enum class Format { XML, Binary };

    static constexpr std::int64_t kErrorCodeRead = 3840;
    static constexpr std::int64_t kErrorCodeWrite = 3852;
    // Containers nested deeper than this are refused (reading and writing).
    static constexpr std::size_t kMaxDepth = 512;

    // Reads either format (told apart by the "bplist00" magic); `format`, when
    // given, receives the one found.
    static std::optional<Value> read(const Bytes& data, Format* format = nullptr, ErrorPtr* error = nullptr);
    static std::optional<Bytes> write(const Value& value, Format format, ErrorPtr* error = nullptr);
};

}  // namespace pellix::platform
