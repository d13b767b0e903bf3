#ifndef COMMISSIONING_ADAPTERSUBNETS_H
#define COMMISSIONING_ADAPTERSUBNETS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace commissioning {

// One IPv4 address of a usable adapter (up, not loopback, able to
// broadcast) with its mask. An adapter with several addresses appears once
// per address: each of its subnets is reachable from here.
struct AdapterSubnet {
    std::string adapter;
    unsigned index = 0;
    std::uint32_t address = 0; // a<<24 | b<<16 | c<<8 | d, as in the records
    std::uint32_t mask = 0;

    bool holds(std::uint32_t ip) const { return (ip & mask) == (address & mask); }
    bool operator==(const AdapterSubnet&) const = default;
};

// The subnets of this computer's usable adapters now (empty when they
// cannot be read).
std::vector<AdapterSubnet> usableAdapterSubnets();

// The first subnet that holds ip: the adapter through which it is reached.
std::optional<AdapterSubnet> subnetHolding(const std::vector<AdapterSubnet>& subnets, std::uint32_t ip);

} // namespace commissioning

#endif
