// NSDataTools: helpers on data: a second, simple Base64 codec (always the
// standard alphabet with "=" padding) and Base32 through PXBase32Codec.
// Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <cstdint>
#include <vector>

namespace pellix {

class NSDataTools {
public:
    // Padded standard Base64; "" for empty data.
    static std::string px_base64EncodedString(const std::vector<std::uint8_t>& data);
    // Reads Base64 text four characters at a time after dropping the trailing
    // "="s; std::nullopt for text that is not ASCII. A character outside the
    // standard alphabet counts as "A" (value 0): the reader is not a
    // validator, callers hand it clean text.
    static std::optional<std::vector<std::uint8_t>> px_dataWithBase64EncodedString(std::string_view string);
    static std::optional<std::vector<std::uint8_t>> dataWithBase32String(std::string_view string);
    static std::optional<std::string> base32String(const std::vector<std::uint8_t>& data);

    // The standard alphabet, and the reader's table: 0-63 for the alphabet,
    // -1 for tab, LF, FF, CR and space, -2 for every other byte.
    static const char px_Base64EncodingTable[65];
    static const std::int16_t* const px_Base64DecodingTable;
};

}  // namespace pellix
