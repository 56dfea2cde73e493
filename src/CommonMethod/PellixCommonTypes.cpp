#include "CommonMethod/PellixCommonTypes.h"

#include <algorithm>
#include <array>

#include "CommonMethod/PXTextScan.h"
#include "CommonMethod/PellixBase64.h"
#include "platform/Crypto.h"
#include "platform/Device.h"

namespace pellix {

namespace crypto = platform::crypto;

namespace {

struct ModelRow {
    const char* code;
    const char* name;
};

// Codes are tested in this order; the names keep their irregular spacing and
// case because the server and the SIP user agent receive them as they are.
constexpr ModelRow kModels[] = {
    {"iPhone1,1", "iPhone 1"},     {"iPhone1,2", "iPhone 3"},       {"iPhone2,1", "iPhone 3GS"},
    {"iPhone3,1", "iPhone 4"},     {"iPhone3,2", "iPhone 4"},       {"iPhone3,3", "iPhone 4"},
    {"iPhone4,1", "iPhone 4s"},    {"iPhone5,1", "iPhone 5"},       {"iPhone5,2", "iPhone 5"},
    {"iPhone5,3", "iPhone 5C"},    {"iPhone5,4", "iPhone 5C"},      {"iPhone6,1", "iPhone 5S"},
    {"iPhone6,2", "iPhone 5S"},    {"iPhone7,2", "iPhone6"},        {"iPhone7,1", "iPhone6Plus"},
    {"iPhone8,1", "iPhone6s"},     {"iPhone8,2", "iPhone6sPlus"},   {"iPhone8,3", "iPhoneSE"},
    {"iPhone8,4", "iPhoneSE"},     {"iPhone9,1", "iPhone7"},        {"iPhone9,2", "iPhone7Plus"},
    {"iPod1,1", "iPod Touch"},     {"iPod2,1", "iPod Touch 2"},     {"iPod3,1", "iPod Touch 3"},
    {"iPod4,1", "iPod Touch 4"},   {"iPod5,1", "iPod Touch 5"},     {"iPad1,1", "iPad"},
    {"iPad2,1", "iPad 2"},         {"iPad2,2", "iPad 2"},           {"iPad2,3", "iPad 2"},
    {"iPad2,4", "iPad 2"},         {"iPad2,5", "iPad Mini 1"},      {"iPad2,6", "iPad Mini 1"},
    {"iPad2,7", "iPad Mini 1"},    {"iPad3,1", "iPad 3"},           {"iPad3,2", "iPad 3"},
    {"iPad3,3", "iPad 3"},         {"iPad3,4", "iPad 4"},           {"iPad3,5", "iPad 4"},
    {"iPad3,6", "iPad 4"},         {"iPad4,1", "iPad air"},         {"iPad4,2", "iPad air"},
    {"iPad4,3", "iPad air"},       {"iPad4,4", "iPad mini 2"},      {"iPad4,5", "iPad mini 2"},
    {"iPad4,6", "iPad mini 2"},    {"iPad4,7", "iPad mini 3"},      {"iPad4,8", "iPad mini 3"},
    {"iPad4,9", "iPad mini 3"},    {"iPad5,3", "iPad air 2"},       {"iPad5,4", "iPad air 2"},
    {"iPhone Simulator", "iPhone Simulator"},                       {"x86_64", "iPhone Simulator"},
};

std::optional<crypto::CipherMode> cipherMode(std::uint32_t mode) {
    switch (mode) {
        case PellixCommonTypes::kCCModeCBC: return crypto::CipherMode::CBC;
        case PellixCommonTypes::kCCModeCFB: return crypto::CipherMode::CFB128;
        default: return std::nullopt;
    }
}

std::optional<crypto::Padding> cipherPadding(std::uint32_t padding) {
    switch (padding) {
        case PellixCommonTypes::ccNoPadding: return crypto::Padding::None;
        case PellixCommonTypes::ccPKCS7Padding: return crypto::Padding::PKCS7;
        default: return std::nullopt;
    }
}

}  // namespace

std::string PellixCommonTypes::gainDeviceVersion() { return platform::Device::currentDevice().model(); }

std::string PellixCommonTypes::gainPlatformString() {
    std::string code = gainDeviceVersion();
    for (const ModelRow& row : kModels) {
        if (code == row.code) return row.name;
    }
    return code;
}

std::optional<std::string> PellixCommonTypes::AES128EncryptWithString(std::string_view text, std::string_view key,
                                                                      std::string_view iv) {
    // Key and IV are the first 16 bytes of their texts; shorter ones would
    // have the cipher read past them.
    if (key.size() < 16 || iv.size() < 16) return std::nullopt;
    platform::Bytes plain(text.begin(), text.end());
    // 1 to 16 zero bytes: a whole block when the text already fills its last one.
    plain.resize(plain.size() + (16 - plain.size() % 16), 0);
    auto cipher = crypto::aesEncrypt(crypto::CipherMode::CBC, crypto::Padding::None, key.substr(0, 16),
                                     iv.substr(0, 16), plain);
    if (!cipher) return std::nullopt;
    return crypto::base64Encode(*cipher);
}

std::optional<std::string> PellixCommonTypes::AES128DecryptWithString(std::string_view base64, std::string_view key,
                                                                      std::string_view iv) {
    if (key.size() != 16 && key.size() != 32) return std::nullopt;
    std::array<std::uint8_t, 16> ivBytes{};  // a shorter IV is padded with zero bytes
    std::copy_n(iv.begin(), std::min<std::size_t>(iv.size(), 16), ivBytes.begin());
    auto cipherText = crypto::base64Decode(base64, crypto::Base64Decoding::IgnoreUnknownCharacters);
    if (!cipherText) return std::nullopt;
    auto plain = crypto::aesDecrypt(crypto::CipherMode::CBC, crypto::Padding::None, key,
                                    crypto::ByteView(ivBytes.data(), ivBytes.size()), *cipherText);
    if (!plain) return std::nullopt;
    std::string text(plain->begin(), plain->end());
    if (!pxtext::isValidUTF8(text)) return std::nullopt;
    // The sender pads with NUL or backspace characters; they are dropped wherever they are.
    std::erase_if(text, [](char c) { return c == '\0' || c == '\b'; });
    return text;
}

std::string PellixCommonTypes::md5Crypt16WithString(std::string_view text) {
    if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    auto digest = crypto::md5(text);
    return digest ? crypto::hex(*digest) : std::string();
}

std::string PellixCommonTypes::md5Crypt16WithData(const platform::Bytes& data) {
    auto digest = crypto::md5(data);
    return digest ? crypto::hex(*digest) : std::string();
}

std::optional<platform::Bytes> PellixCommonTypes::commonOperation(std::uint32_t operation, std::uint32_t mode,
                                                                  std::uint32_t algorithm, std::uint32_t padding,
                                                                  std::string_view ivHex, std::string_view keyHex,
                                                                  const platform::Bytes& inputData) {
    if (keyHex.empty()) return std::nullopt;
    if (algorithm != kCCAlgorithmAES || (operation != kCCEncrypt && operation != kCCDecrypt)) return std::nullopt;
    auto cipherModeValue = cipherMode(mode);
    auto paddingValue = cipherPadding(padding);
    if (!cipherModeValue || !paddingValue) return std::nullopt;
    const platform::Bytes key = hexToData(keyHex);
    if (key.size() != 16 && key.size() != 32) return std::nullopt;
    platform::Bytes iv;
    if (!ivHex.empty()) {
        iv = hexToData(ivHex);
        // A short IV would have the cipher read past it.
        if (iv.size() != 16) return std::nullopt;
    }
    return operation == kCCEncrypt ? crypto::aesEncrypt(*cipherModeValue, *paddingValue, key, iv, inputData)
                                   : crypto::aesDecrypt(*cipherModeValue, *paddingValue, key, iv, inputData);
}

std::optional<platform::Bytes> PellixCommonTypes::encryptDataAES128CFBNoPadding(const platform::Bytes& data,
                                                                               std::string_view ivHex,
                                                                               std::string_view keyHex) {
    return commonOperation(kCCEncrypt, kCCModeCFB, kCCAlgorithmAES, ccNoPadding, ivHex, keyHex, data);
}

std::optional<platform::Bytes> PellixCommonTypes::decryptDataAES128CFBNoPadding(const platform::Bytes& data,
                                                                               std::string_view ivHex,
                                                                               std::string_view keyHex) {
    return commonOperation(kCCDecrypt, kCCModeCFB, kCCAlgorithmAES, ccNoPadding, ivHex, keyHex, data);
}

platform::Bytes PellixCommonTypes::hexToData(std::string_view hex) {
    platform::Bytes out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 2 <= hex.size(); i += 2) out.push_back(pxtext::hexPairValue(hex[i], hex[i + 1]));
    return out;
}

std::optional<std::string> PellixCommonTypes::stringByEncodingData(const platform::Bytes& data) {
    return PellixBase64::stringByEncodingData(data);
}

std::optional<platform::Bytes> PellixCommonTypes::dataByDecodingString(std::string_view base64) {
    return PellixBase64::decodeString(base64);
}

}  // namespace pellix
