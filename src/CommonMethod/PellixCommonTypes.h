// PellixCommonTypes: the device's model name, AES over strings and data,
// MD5 hex digests and hex / Base64 conversion.
//
// Every operation reports failure through its result (std::nullopt) and
// nothing else: nothing is logged or thrown. Keys and IVs shorter than the
// cipher needs are refused, never read past; a cipher failure gives
// std::nullopt, never a zero-filled buffer. Stateless; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace pellix {

class PellixCommonTypes {
public:
    // Operation, mode, algorithm and padding numbers of commonOperation(),
    // as the platform's cipher interface numbers them.
    static constexpr std::uint32_t kCCEncrypt = 0;
    static constexpr std::uint32_t kCCDecrypt = 1;
    static constexpr std::uint32_t kCCAlgorithmAES = 0;
    static constexpr std::uint32_t kCCModeCBC = 2;
    static constexpr std::uint32_t kCCModeCFB = 3;
    static constexpr std::uint32_t ccNoPadding = 0;
    static constexpr std::uint32_t ccPKCS7Padding = 1;

    // The hardware model code the host set on the platform Device (on Linux
    // `uname -m` unless the host says otherwise).
    static std::string gainDeviceVersion();
    // The model's name from the device table; an unknown code comes back as is.
    static std::string gainPlatformString();

    // AES-128-CBC of the UTF-8 text followed by 1-16 zero bytes, as standard
    // Base64. Key and IV: the first 16 bytes of each text; std::nullopt when
    // either is shorter than 16 bytes.
    static std::optional<std::string> AES128EncryptWithString(std::string_view text, std::string_view key,
                                                              std::string_view iv);
    // AES-CBC (no padding) of the Base64 text (characters outside the
    // alphabet skipped). A 16-byte key selects AES-128, 32 bytes AES-256;
    // another length fails. The IV is up to 16 bytes of its text, zero-padded.
    // The plain text with every U+0000 and U+0008 removed, or std::nullopt
    // on a cipher failure or bytes that are not UTF-8.
    static std::optional<std::string> AES128DecryptWithString(std::string_view base64, std::string_view key,
                                                              std::string_view iv);

    // 32 lower-case hex characters of the MD5 digest; the string form digests
    // the bytes before the first NUL.
    static std::string md5Crypt16WithString(std::string_view text);
    static std::string md5Crypt16WithData(const platform::Bytes& data);

    // One AES operation with hex-text key and IV. std::nullopt for an empty
    // key, a key that is not 16 or 32 bytes, an IV that is not 16 bytes (an
    // empty IV means none: zero bytes), an algorithm, mode or padding the
    // library does not use, or a cipher failure.
    static std::optional<platform::Bytes> commonOperation(std::uint32_t operation, std::uint32_t mode,
                                                          std::uint32_t algorithm, std::uint32_t padding,
                                                          std::string_view ivHex, std::string_view keyHex,
                                                          const platform::Bytes& inputData);
    // AES in 128-bit cipher feedback, output as long as the input.
    static std::optional<platform::Bytes> encryptDataAES128CFBNoPadding(const platform::Bytes& data,
                                                                       std::string_view ivHex,
                                                                       std::string_view keyHex);
    static std::optional<platform::Bytes> decryptDataAES128CFBNoPadding(const platform::Bytes& data,
                                                                       std::string_view ivHex,
                                                                       std::string_view keyHex);

    // Two characters at a time from the start; a final odd character is
    // ignored; a pair that is not hex reads as its leading hex digit, or 0.
    static platform::Bytes hexToData(std::string_view hex);
    // Standard Base64 with padding (PellixBase64); std::nullopt for no data.
    static std::optional<std::string> stringByEncodingData(const platform::Bytes& data);
    static std::optional<platform::Bytes> dataByDecodingString(std::string_view base64);
};

}  // namespace pellix
