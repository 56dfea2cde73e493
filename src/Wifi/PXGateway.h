// The Wi-Fi default gateway, read from the kernel's routing table through
// platform::Reachability (the library's one reader of routes).
//
// "The gateway" is the gateway of an IPv4 default route that leaves through
// a wireless (802.11) interface; routes through wired or mobile interfaces
// are never taken for it, so the door request cannot go to some other
// network's router. Both functions may be called from any thread.
#pragma once

#include <netinet/in.h>

namespace pellix {

extern "C" {

// A newly allocated 4-byte buffer (malloc; the caller frees it with free())
// holding the gateway address in network byte order: that of the first
// wireless default route with a gateway. All four bytes are 0 when there is
// none or the routing table cannot be read; nullptr only when memory runs
// out. `addr` is not used.
unsigned char* px_getdefaultgateway(in_addr_t* addr);

// Stores the gateway of the last wireless default route with a gateway in
// `*addr` (network byte order) and returns 0; -1 when there is none or the
// table cannot be read (then `*addr` is left alone). A null `addr` gives -1.
int px_getLocalIP(in_addr_t* addr);

}

}  // namespace pellix
