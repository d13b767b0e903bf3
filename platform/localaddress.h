#ifndef PLATFORM_LOCALADDRESS_H
#define PLATFORM_LOCALADDRESS_H

#include <cstdint>

namespace platform {

// True when the IPv4 address (host order, a.b.c.d is a<<24 | b<<16 | c<<8 | d)
// is assigned to one of this computer's network adapters, loopback
// included, whether the adapter is up or not. Read afresh on every call, so
// an address added or removed while the program runs counts at once. False
// when the adapters cannot be listed.
bool isLocalAddress(std::uint32_t address);

} // namespace platform

#endif
