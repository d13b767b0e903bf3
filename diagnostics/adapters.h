#ifndef DIAGNOSTICS_ADAPTERS_H
#define DIAGNOSTICS_ADAPTERS_H

#include <cstdint>
#include <string>
#include <vector>

namespace diagnostics {

// One network interface with all its IPv4 addresses (host order).
struct AdapterReport {
    std::string name;
    bool up = false;
    bool loopback = false;
    bool broadcast = false;
    std::vector<std::uint32_t> ipv4;
    // A scan goes out of it: up, not loopback, able to broadcast, with an
    // IPv4 address.
    bool usedByScan = false;
};

// Every interface of this network namespace, in the system's order, from
// platform::NetworkAdapters (the list and filter the library sends by).
std::vector<AdapterReport> adapterReports();

bool anyAdapterUsedByScan(const std::vector<AdapterReport>& adapters);

} // namespace diagnostics

#endif
