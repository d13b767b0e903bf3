#include "platform/localaddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

bool isLocalAddress(std::uint32_t address)
{
    ifaddrs* adapters = nullptr;
    if (::getifaddrs(&adapters) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* entry = adapters; entry != nullptr && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        // ifa_addr points at a sockaddr_in for AF_INET entries.
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        found = ntohl(ipv4->sin_addr.s_addr) == address;
    }
    ::freeifaddrs(adapters);
    return found;
}

} // namespace platform
