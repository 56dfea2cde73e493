#include "CommonMethod/PXBase32Codec.h"

#include <algorithm>
#include <array>
#include <exception>
#include <vector>

#include "platform/Log.h"

namespace pellix {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr std::uint8_t kSkip = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = kSkip;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = static_cast<std::uint8_t>(c - 'A');
    for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<std::uint8_t>(c - 'a');
    for (int c = '2'; c <= '7'; ++c) table[c] = static_cast<std::uint8_t>(c - '2' + 26);
    return table;
}
constexpr auto kDecode = makeDecodeTable();

// Padding characters by input length modulo 5.
constexpr int kPadding[5] = {0, 6, 4, 3, 1};
// Bytes added by a final incomplete group of 0-7 characters.
constexpr int kLengthAdjustment[8] = {0, 1, 1, 1, 2, 3, 3, 4};

}  // namespace

std::optional<std::string> PXBase32Codec::base32StringFromData(const std::vector<std::uint8_t>& data) {
    try {
        std::string out;
        out.reserve((data.size() + 4) / 5 * 8);
        std::size_t i = 0;
        while (i < data.size()) {
            const std::size_t n = std::min<std::size_t>(5, data.size() - i);
            std::uint64_t group = 0;
            for (std::size_t k = 0; k < 5; ++k) group = (group << 8) | (k < n ? data[i + k] : 0);
            // Characters that carry data: 8 for a full group, else ceil(8n/5).
            const std::size_t chars = (n * 8 + 4) / 5;
            for (std::size_t k = 0; k < chars; ++k) out.push_back(kAlphabet[(group >> (35 - 5 * k)) & 0x1F]);
            if (n < 5) out.append(static_cast<std::size_t>(kPadding[n]), '=');
            i += n;
        }
        return out;
    } catch (const std::exception& e) {
        platform::Log::writef("WARNING: error occured while tring to encode base 32 data: %s", e.what());
        return std::nullopt;
    }
}

std::optional<std::vector<std::uint8_t>> PXBase32Codec::dataFromBase32String(std::string_view string) {
    try {
        std::vector<std::uint8_t> values;
        values.reserve(string.size());
        for (char ch : string) {
            const auto c = static_cast<unsigned char>(ch);
            if (c > 0x7F) return std::nullopt;  // not ASCII text
            if (c == '=') continue;
            const std::uint8_t v = kDecode[c];
            if (v != kSkip) values.push_back(v);
        }
        std::vector<std::uint8_t> out;
        out.reserve(values.size() / 8 * 5 + 4);
        std::size_t i = 0;
        for (; i + 8 <= values.size(); i += 8) {
            std::uint64_t group = 0;
            for (std::size_t k = 0; k < 8; ++k) group = (group << 5) | values[i + k];
            for (int k = 4; k >= 0; --k) out.push_back(static_cast<std::uint8_t>(group >> (8 * k)));
        }
        const std::size_t rest = values.size() - i;
        if (rest > 0) {
            std::uint64_t group = 0;
            for (std::size_t k = 0; k < 8; ++k) group = (group << 5) | (k < rest ? values[i + k] : 0);
            // A lone last character carries 5 bits; it still yields one byte
            // (its bits, zero-filled), as the length table says.
            for (int k = 0; k < kLengthAdjustment[rest]; ++k) {
                out.push_back(static_cast<std::uint8_t>(group >> (32 - 8 * k)));
            }
        }
        return out;
    } catch (const std::exception& e) {
        platform::Log::writef("WARNING: error occured while decoding base 32 string: %s", e.what());
        return std::nullopt;
    }
}

}  // namespace pellix
