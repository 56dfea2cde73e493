// The "Date" header of every storage reply goes through hos_dateFromString.
// Whatever the text, parsing must not crash, and any date it accepts must
// format to a text that parses back to the same instant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "HOSSDK/NSDate+HOS.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto date = pellix::hos_dateFromString(text);
    if (!date) return 0;
    // Offsets can move a date out of the years the four-digit form holds.
    if (*date < -62135596800.0 || *date > 253402300799.0) return 0;
    const auto again = pellix::hos_dateFromString(pellix::hos_asStringValue(*date));
    if (!again || *again != *date) std::abort();
    return 0;
}
