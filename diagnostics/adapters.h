#ifndef DIAGNOSTICS_ADAPTERS_H
#define DIAGNOSTICS_ADAPTERS_H

#include "platform/networkadapters.h"

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

// The reports of these records: one per interface, matched by its index
// (a labelled address such as eth0:1 is a record of eth0 under another
// name), named as its first record; by name where the index is unknown.
std::vector<AdapterReport> adapterReports(const std::vector<platform::InterfaceRecord>& records);

bool anyAdapterUsedByScan(const std::vector<AdapterReport>& adapters);

} // namespace diagnostics

#endif
