// NSStringTools: helpers on strings: query percent-encoding, SHA-1 hex,
// Base64, Base32 and hex to text. Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pellix {

class NSStringTools {
public:
    // Percent-encodes every byte outside the URL-query-allowed set
    // (letters, digits and "!$&'()*+,-./:;=?@_~") as "%XX"; std::nullopt for
    // an empty string.
    static std::optional<std::string> px_utf8EncodingString(std::string_view string);
    // 40 lower-case hex characters of the SHA-1 digest of all the bytes.
    static std::string px_SHA1(std::string_view string);
    static std::string px_base64EncodedString(std::string_view string);
    // The decoded bytes as text; std::nullopt when the text is not ASCII or
    // the bytes are not UTF-8.
    static std::optional<std::string> px_stringWithBase64EncodedString(std::string_view string);
    static std::optional<std::string> base32String(std::string_view string);
    // std::nullopt when the Base32 text is not ASCII or its bytes are not UTF-8.
    static std::optional<std::string> stringFromBase32String(std::string_view string);
    // The bytes the hex pairs give, read as text up to the first NUL byte and
    // written to the system log while the SDK's log switch is on (PellixLog).
    // "" for fewer than two characters; a final
    // odd character is ignored; std::nullopt when the bytes are not UTF-8.
    static std::optional<std::string> stringFromHexString(std::string_view string);
};

}  // namespace pellix
