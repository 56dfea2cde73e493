// Query-string encoding: a parameter dictionary, possibly nested, becomes the
// text of a URL query or of an "application/x-www-form-urlencoded" body.
//
// Escaping keeps ASCII letters and digits, "-", ".", "_", "~", "/" and "?";
// every other byte of the UTF-8 text becomes %XX (upper-case hex), so a space
// is %20 and "+" is %2B. Flattening sorts dictionary keys by their UTF-16
// order (case-sensitive: "B" < "a" < "b"), keeps array order and formats
// nested keys as "outer[inner]" and "outer[]".
//
// All functions are pure and may run on any thread at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"

namespace pellix {

// One flattened field/value pair.
class TVQueryStringPair {
public:
    TVQueryStringPair(std::string field, platform::Value value) : field_(std::move(field)), value_(std::move(value)) {}

    const std::string& field() const { return field_; }
    const platform::Value& value() const { return value_; }

    // "field=value", both escaped; the escaped field alone when the value is
    // null.
    std::string URLEncodedStringValue() const;

private:
    std::string field_;
    platform::Value value_;
};

// Characters escaped although a query could carry them unescaped.
inline constexpr std::string_view kTVCharactersGeneralDelimitersToEncode = ":#[]@";
inline constexpr std::string_view kTVCharactersSubDelimitersToEncode = "!$&'()*+,;=";
// Escaping works through the text in batches of this many UTF-16 units,
// widened so that no composed character sequence is split.
inline constexpr std::size_t kTVPercentEscapeBatchSize = 50;

std::string TVPercentEscapedStringFromString(std::string_view string);

// The UTF-16 lengths of the batches TVPercentEscapedStringFromString works in
// (exposed so the batching can be checked).
std::vector<std::size_t> TVPercentEscapeBatchLengths(std::string_view string);

// Flattens `value` under `key` (empty: no key). A dictionary's keys are
// sorted, an array keeps its order, anything else is one pair. A top-level
// value that is not a dictionary gives pairs under the empty key.
std::vector<TVQueryStringPair> TVQueryStringPairsFromKeyAndValue(const std::string& key, const platform::Value& value);
std::vector<TVQueryStringPair> TVQueryStringPairsFromDictionary(const platform::Value& dictionary);

// The whole query (no leading "?"): the pairs' texts joined with "&".
std::string TVQueryStringFromParameters(const platform::Value& parameters);

}  // namespace pellix
