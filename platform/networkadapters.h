#ifndef PLATFORM_NETWORKADAPTERS_H
#define PLATFORM_NETWORKADAPTERS_H

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One address of one network interface, as the system lists them (an
// interface with several addresses appears once per address; one without
// an IPv4 address appears with hasIpv4 false).
struct InterfaceRecord {
    std::string name;
    unsigned index = 0;
    bool up = false;
    bool loopback = false;
    bool broadcast = false;
    bool hasIpv4 = false;
    // Host order (a.b.c.d is a<<24 | ... | d); meaningful with hasIpv4.
    std::uint32_t ipv4 = 0;
};

// An adapter a limited broadcast can go out of.
struct NetworkAdapter {
    std::string name;
    unsigned index = 0;
    // Its first IPv4 address, the source of what is sent out of it.
    std::uint32_t ipv4 = 0;

    bool operator==(const NetworkAdapter&) const = default;
};

// The adapters a limited broadcast can be sent out of.
class NetworkAdapters {
public:
    // The usable adapters as the system has them now, looked up afresh at
    // every call, so that an adapter plugged in meanwhile is included.
    static std::vector<NetworkAdapter> usable();

    // The filter itself, over given records: up, not loopback, able to
    // broadcast, with an IPv4 address; each adapter once, with its first
    // IPv4 address, in the order of the records.
    static std::vector<NetworkAdapter> filter(const std::vector<InterfaceRecord>& records);

    // The system's interface records (empty when they cannot be read).
    static std::vector<InterfaceRecord> records();
};

} // namespace platform

#endif
