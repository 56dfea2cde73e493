// PellixBase64: table-driven Base64 (RFC 4648) with the standard and the
// URL-safe alphabet, optional padding and strict validation.
//
// Encoders answer std::nullopt for empty input (nothing to encode). Decoders
// answer std::nullopt for empty, invalid or non-ASCII input: a character
// outside the alphabet (other than whitespace), a misplaced "=", trailing
// garbage after the padding, or a last character that carries bits beyond
// the data. Whitespace (tab, LF, VT, FF, CR, space, 0xA0, 0xFF) is skipped
// anywhere; a NUL byte ends the input. Every length is checked before a byte
// is read or written, so no input can make the decoder read or write outside
// its buffers. Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellix {

class PellixBase64 {
public:
    // The same type as platform::Bytes; the codecs need nothing else of the platform.
    using Bytes = std::vector<std::uint8_t>;

    static const char kBase64EncodeChars[65];
    static const char kWebSafeBase64EncodeChars[65];
    // 256 entries: the 6-bit value of each alphabet character, kInvalidChar else.
    static const std::uint8_t* const kBase64DecodeChars;
    static const std::uint8_t* const kWebSafeBase64DecodeChars;
    static constexpr std::uint8_t kInvalidChar = 99;

    // Standard alphabet, padding written / required.
    static std::optional<Bytes> encodeData(const Bytes& data);
    static std::optional<Bytes> decodeData(const Bytes& data);
    static std::optional<Bytes> encodeBytes(const void* bytes, std::size_t length);
    static std::optional<Bytes> decodeBytes(const void* bytes, std::size_t length);
    static std::optional<std::string> stringByEncodingData(const Bytes& data);
    static std::optional<std::string> stringByEncodingBytes(const void* bytes, std::size_t length);
    static std::optional<Bytes> decodeString(std::string_view string);

    // URL-safe alphabet, padding by argument / optional when decoding.
    static std::optional<Bytes> webSafeEncodeData(const Bytes& data, bool padded);
    static std::optional<Bytes> webSafeDecodeData(const Bytes& data);
    static std::optional<Bytes> webSafeEncodeBytes(const void* bytes, std::size_t length, bool padded);
    static std::optional<Bytes> webSafeDecodeBytes(const void* bytes, std::size_t length);
    static std::optional<std::string> stringByWebSafeEncodingData(const Bytes& data, bool padded);
    static std::optional<std::string> stringByWebSafeEncodingBytes(const void* bytes, std::size_t length, bool padded);
    static std::optional<Bytes> webSafeDecodeString(std::string_view string);

    // Given alphabet (64 characters) or decoding table (256 entries).
    static std::optional<Bytes> baseEncode(const void* bytes, std::size_t length, const char* charset, bool padded);
    static std::optional<Bytes> baseDecode(const void* bytes, std::size_t length, const std::uint8_t* charset,
                                           bool requirePadding);

    // Raw coders over caller buffers: the count written, 0 on failure (missing
    // or empty input, too little room, invalid input).
    static std::size_t baseEncode(const std::uint8_t* srcBytes, std::size_t srcLen, char* destBytes,
                                  std::size_t destLen, const char* charset, bool padded);
    static std::size_t baseDecode(const char* srcBytes, std::size_t srcLen, std::uint8_t* destBytes,
                                  std::size_t destLen, const std::uint8_t* charset, bool requirePadding);

    // Room the coders need: encoded characters for `length` bytes, and the
    // most bytes `length` characters can decode to. 0 when it would overflow.
    static std::size_t guessEncodedLength(std::size_t length, bool padded);
    static std::size_t guessDecodedLength(std::size_t length);
};

}  // namespace pellix
