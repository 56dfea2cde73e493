#include "Wifi/PXGateway.h"

#include <cstdlib>
#include <cstring>

#include "platform/Reachability.h"

namespace pellix {

namespace {

// The wireless default routes that have a gateway, in the kernel's order.
std::vector<in_addr> wirelessGateways() {
    std::vector<in_addr> out;
    auto routes = platform::Reachability::ipv4DefaultRoutes();
    if (!routes) return out;
    for (const auto& r : *routes)
        if (r.wireless && r.gateway && r.gateway->s_addr != 0) out.push_back(*r.gateway);
    return out;
}

}  // namespace

extern "C" unsigned char* px_getdefaultgateway(in_addr_t*) {
    // Zero-filled, so a missing route never hands back whatever the heap held.
    auto* result = static_cast<unsigned char*>(std::calloc(4, 1));
    if (!result) return nullptr;
    auto gateways = wirelessGateways();
    if (!gateways.empty()) std::memcpy(result, &gateways.front().s_addr, 4);
    return result;
}

extern "C" int px_getLocalIP(in_addr_t* addr) {
    if (!addr) return -1;
    auto gateways = wirelessGateways();
    if (gateways.empty()) return -1;
    *addr = gateways.back().s_addr;
    return 0;
}

}  // namespace pellix
