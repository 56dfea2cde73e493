#include "CommonMethod/NSDataTools.h"

#include <algorithm>
#include <array>

#include "CommonMethod/PXBase32Codec.h"

namespace pellix {

namespace {

constexpr std::array<std::int16_t, 256> makeDecodingTable() {
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<std::int16_t, 256> table{};
    for (auto& v : table) v = -2;
    for (int c : {9, 10, 12, 13, 32}) table[c] = -1;
    for (std::int16_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}
constexpr auto kDecodingTable = makeDecodingTable();

}  // namespace

const char NSDataTools::px_Base64EncodingTable[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const std::int16_t* const NSDataTools::px_Base64DecodingTable = kDecodingTable.data();

std::string NSDataTools::px_base64EncodedString(const std::vector<std::uint8_t>& data) {
    std::string out;
    if (data.empty()) return out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(data[i]) << 16;
        if (n > 1) group |= static_cast<std::uint32_t>(data[i + 1]) << 8;
        if (n > 2) group |= data[i + 2];
        out.push_back(px_Base64EncodingTable[(group >> 18) & 0x3F]);
        out.push_back(px_Base64EncodingTable[(group >> 12) & 0x3F]);
        out.push_back(n > 1 ? px_Base64EncodingTable[(group >> 6) & 0x3F] : '=');
        out.push_back(n > 2 ? px_Base64EncodingTable[group & 0x3F] : '=');
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> NSDataTools::px_dataWithBase64EncodedString(std::string_view string) {
    for (char c : string) {
        if (static_cast<unsigned char>(c) > 0x7F) return std::nullopt;
    }
    // The text is read as a C string: it ends at a NUL.
    if (auto nul = string.find('\0'); nul != std::string_view::npos) string = string.substr(0, nul);
    while (!string.empty() && string.back() == '=') string.remove_suffix(1);

    const std::size_t outLength = string.size() / 4 * 3 + (string.size() % 4) * 3 / 4;
    std::vector<std::uint8_t> out;
    out.reserve(outLength);
    auto value = [&](std::size_t i) -> std::uint32_t {
        if (i >= string.size()) return 0;  // a missing third or fourth character counts as "A"
        const std::int16_t v = kDecodingTable[static_cast<unsigned char>(string[i])];
        return v < 0 ? 0u : static_cast<std::uint32_t>(v);
    };
    for (std::size_t i = 0; i < string.size() && out.size() < outLength; i += 4) {
        const std::uint32_t a = value(i), b = value(i + 1), c = value(i + 2), d = value(i + 3);
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>((a << 2) | (b >> 4)),
                                       static_cast<std::uint8_t>(((b << 4) | (c >> 2)) & 0xFF),
                                       static_cast<std::uint8_t>(((c << 6) | d) & 0xFF)};
        for (std::uint8_t byte : bytes) {
            if (out.size() < outLength) out.push_back(byte);
        }
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> NSDataTools::dataWithBase32String(std::string_view string) {
    return PXBase32Codec::dataFromBase32String(string);
}

std::optional<std::string> NSDataTools::base32String(const std::vector<std::uint8_t>& data) {
    return PXBase32Codec::base32StringFromData(data);
}

}  // namespace pellix
