// BinaryPropertyList: the "bplist00" format ⇄ Value, read and written here
// rather than through libplist, whose 2.2 release cannot store unsigned
// integers above INT64_MAX (it writes them as negative numbers) and expands
// shared references without limit (a few hundred bytes can demand gigabytes).
//
// Reading checks every offset, length and reference against the file before
// using it, refuses reference cycles, nesting deeper than the cap and
// expansions far larger than the input; every failure is an Error, never a
// crash. Used by PropertyList and KeyedArchive; stateless and thread-safe.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/Error.h"
#include "platform/Value.h"

namespace pellix::platform {

class BinaryPropertyList {
public:
    struct Options {
        // Store Value null as the format's null object (0x00) instead of
        // failing; reading always accepts it.
        bool allowNull = false;
        std::size_t maxDepth = 512;
    };

    // std::nullopt with an Error in "NSCocoaErrorDomain" code 3840 on any
    // damage. Integers keep their exact value: 1-, 2- and 4-byte integers are
    // unsigned, 8-byte ones signed, 16-byte ones unsigned (UInt above
    // INT64_MAX). Dates become Doubles of seconds since 1970; UIDs become
    // {"CF$UID": n}; sets become arrays.
    static std::optional<Value> read(const Bytes& data, ErrorPtr* error, const Options& options);
    static std::optional<Value> read(const Bytes& data, ErrorPtr* error = nullptr) { return read(data, error, Options{}); }

    // std::nullopt with code 3852 for values the format cannot hold (null
    // unless allowed, non-finite doubles, invalid UTF-8, nesting over the cap).
    static std::optional<Bytes> write(const Value& value, ErrorPtr* error, const Options& options);
    static std::optional<Bytes> write(const Value& value, ErrorPtr* error = nullptr) { return write(value, error, Options{}); }
};

}  // namespace pellix::platform
