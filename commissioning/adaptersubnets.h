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

// Every IPv4 address of this computer: every adapter, up or down, able to
// broadcast or not, secondary addresses and /32s alike (loopback's
// excepted). None of them may be given to a module. Empty when they cannot
// be read.
std::vector<AdapterSubnet> computerAddresses();

// The adapter that holds ip as an address of its own, in subnets or in
// computer (subnets first); nothing when none does.
std::optional<std::string> adapterWithAddress(
    const std::vector<AdapterSubnet>& subnets, const std::vector<AdapterSubnet>& computer, std::uint32_t ip);

// The first subnet that holds ip: the adapter through which it is reached.
std::optional<AdapterSubnet> subnetHolding(const std::vector<AdapterSubnet>& subnets, std::uint32_t ip);

} // namespace commissioning

#endif
