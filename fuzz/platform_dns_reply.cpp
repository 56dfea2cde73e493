// NAT64 prefix discovery reads DNS replies off the network. Whatever the
// bytes, reading must not crash or read past them, and every address it
// accepts must be sixteen bytes of the reply itself, at most one per record
// the header announces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/DNSResolver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> reply(data, size);
    const auto addresses = pellix::platform::DNSResolver::parseAAAAReply(reply);
    if (!addresses) return 0;
    const std::size_t announced = size >= 8 ? static_cast<std::size_t>((data[6] << 8) | data[7]) : 0;
    if (addresses->size() > announced) std::abort();
    for (const auto& a : *addresses)
        if (std::search(reply.begin(), reply.end(), a.begin(), a.end()) == reply.end()) std::abort();
    return 0;
}
