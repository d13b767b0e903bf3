#include "platform/networkadapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace platform {

namespace {

InterfaceRecord toRecord(const ifaddrs& entry)
{
    InterfaceRecord record;
    record.name = entry.ifa_name != nullptr ? entry.ifa_name : "";
    record.index = ::if_nametoindex(record.name.c_str());
    record.up = (entry.ifa_flags & IFF_UP) != 0;
    record.loopback = (entry.ifa_flags & IFF_LOOPBACK) != 0;
    record.broadcast = (entry.ifa_flags & IFF_BROADCAST) != 0;
    if (entry.ifa_addr != nullptr && entry.ifa_addr->sa_family == AF_INET) {
        record.hasIpv4 = true;
        record.ipv4 = ntohl(reinterpret_cast<const sockaddr_in*>(entry.ifa_addr)->sin_addr.s_addr);
    }
    return record;
}

} // namespace

std::vector<InterfaceRecord> NetworkAdapters::records()
{
    std::vector<InterfaceRecord> records;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return records;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next)
        records.push_back(toRecord(*entry));
    ::freeifaddrs(list);
    return records;
}

} // namespace platform
