#include "commissioning/adaptersubnets.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <memory>

namespace commissioning {
namespace {

std::uint32_t hostOrder(const sockaddr* address)
{
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

// The same filter as the adapters a scan goes out of.
bool usable(const ifaddrs& entry)
{
    const unsigned flags = entry.ifa_flags;
    return entry.ifa_addr != nullptr && entry.ifa_addr->sa_family == AF_INET && entry.ifa_netmask != nullptr
        && (flags & IFF_UP) != 0 && (flags & IFF_LOOPBACK) == 0 && (flags & IFF_BROADCAST) != 0;
}

// An address label such as "eth0:1" names its adapter before the colon.
unsigned adapterIndex(const std::string& label)
{
    return ::if_nametoindex(label.substr(0, label.find(':')).c_str());
}

} // namespace

std::vector<AdapterSubnet> computerAddresses()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
    std::vector<AdapterSubnet> addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET
            || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        addresses.push_back({entry->ifa_name, adapterIndex(entry->ifa_name), hostOrder(entry->ifa_addr),
            entry->ifa_netmask != nullptr ? hostOrder(entry->ifa_netmask) : 0xFFFFFFFFu});
    }
    return addresses;
}

std::vector<AdapterSubnet> usableAdapterSubnets()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
    std::vector<AdapterSubnet> subnets;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (!usable(*entry))
            continue;
        subnets.push_back({entry->ifa_name, adapterIndex(entry->ifa_name), hostOrder(entry->ifa_addr),
            hostOrder(entry->ifa_netmask)});
    }
    return subnets;
}

} // namespace commissioning
