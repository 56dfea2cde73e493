// PXBase32Codec: RFC 4648 Base32 (alphabet A-Z, 2-7, "=" padding).
//
// Encoding always pads to whole groups of eight characters. Decoding is
// lenient the way one-time-PIN secrets are typed: every "=" is dropped,
// letters of either case are accepted, and any other ASCII character is
// skipped as a separator. Text holding non-ASCII characters is refused
// (std::nullopt). Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <cstdint>
#include <vector>

namespace pellix {

class PXBase32Codec {
public:
    static std::optional<std::string> base32StringFromData(const std::vector<std::uint8_t>& data);
    static std::optional<std::vector<std::uint8_t>> dataFromBase32String(std::string_view string);
};

}  // namespace pellix
