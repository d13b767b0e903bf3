#include "platform/windows/adapteraddresses.h"

#include "platform/localaddress.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <string>

namespace platform {

namespace windows {

namespace {

// GetAdaptersAddresses asks for a buffer it then fills; 15 KiB is
// Microsoft's advice for the first try, and the call says when it needs more.
constexpr ULONG kFirstBufferBytes = 15 * 1024;
constexpr int kBufferAttempts = 3;
constexpr ULONG kListFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;

std::string nameOf(const IP_ADAPTER_ADDRESSES& adapter)
{
    // FriendlyName is UTF-16; AdapterName is the ASCII GUID name.
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, adapter.FriendlyName, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return adapter.AdapterName != nullptr ? adapter.AdapterName : "";
    std::string name(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, adapter.FriendlyName, -1, name.data(), bytes, nullptr, nullptr);
    name.resize(static_cast<std::size_t>(bytes - 1));
    return name;
}

InterfaceRecord recordOf(const IP_ADAPTER_ADDRESSES& adapter)
{
    InterfaceRecord record;
    record.name = nameOf(adapter);
    record.index = adapter.IfIndex;
    record.up = adapter.OperStatus == IfOperStatusUp;
    record.loopback = adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    // Every Windows IPv4 adapter but loopback and point-to-point links can
    // broadcast; the list has no flag for it.
    record.broadcast = !record.loopback && adapter.IfType != IF_TYPE_PPP && adapter.IfType != IF_TYPE_TUNNEL;
    return record;
}

} // namespace

std::vector<InterfaceRecord> adapterRecords()
{
    std::vector<InterfaceRecord> records;
    std::vector<unsigned char> buffer(kFirstBufferBytes);
    ULONG size = kFirstBufferBytes;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < kBufferAttempts && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        status = ::GetAdaptersAddresses(
            AF_INET, kListFlags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (status != NO_ERROR)
        return records;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        const InterfaceRecord base = recordOf(*adapter);
        bool any = false;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET)
                continue;
            InterfaceRecord record = base;
            record.hasIpv4 = true;
            record.ipv4 = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
            records.push_back(record);
            any = true;
        }
        if (!any)
            records.push_back(base);
    }
    return records;
}

} // namespace windows

std::vector<InterfaceRecord> NetworkAdapters::records()
{
    return windows::adapterRecords();
}

bool isLocalAddress(std::uint32_t address)
{
    for (const InterfaceRecord& record : windows::adapterRecords())
        if (record.hasIpv4 && record.ipv4 == address)
            return true;
    return false;
}

} // namespace platform
