// Windows: the subnets of the adapters, the ARP probe and the neighbour
// table are not asked yet. With no subnet known, a scan gives no
// other-subnet warning, and an address is checked only against the other
// modules of the scan; the answer's problem says why the network was not
// asked, which the front ends print.
#include "commissioning/adaptersubnets.h"
#include "commissioning/addressinuse.h"

namespace commissioning {
namespace {

constexpr const char* kNotAskedHere = "this computer's network is not asked on Windows yet";

std::vector<NetworkAnswer> notAsked(const std::vector<AddressQuestion>& questions)
{
    return std::vector<NetworkAnswer>(questions.size(), NetworkAnswer{std::nullopt, kNotAskedHere});
}

} // namespace

std::vector<AdapterSubnet> usableAdapterSubnets()
{
    return {};
}

std::vector<AdapterSubnet> computerAddresses()
{
    return {};
}

std::optional<modules::MacAddress> adapterMac(const std::string&)
{
    return std::nullopt;
}

NetworkAnswer askByArpProbe(const AdapterSubnet&, std::uint32_t, std::chrono::milliseconds)
{
    return {std::nullopt, kNotAskedHere};
}

NetworkAnswer askNeighbourTable(const AdapterSubnet&, std::uint32_t, std::chrono::milliseconds)
{
    return {std::nullopt, kNotAskedHere};
}

NetworkAnswer askNetwork(const AdapterSubnet&, std::uint32_t, std::chrono::milliseconds)
{
    return {std::nullopt, kNotAskedHere};
}

std::vector<NetworkAnswer> askAllByArpProbe(const std::vector<AddressQuestion>& questions, std::chrono::milliseconds)
{
    return notAsked(questions);
}

std::vector<NetworkAnswer> askAllNeighbourTable(
    const std::vector<AddressQuestion>& questions, std::chrono::milliseconds)
{
    return notAsked(questions);
}

std::vector<NetworkAnswer> askAllNetwork(const std::vector<AddressQuestion>& questions, std::chrono::milliseconds)
{
    return notAsked(questions);
}

} // namespace commissioning
