#include "commissioning/adaptersubnets.h"

#include <algorithm>

namespace commissioning {

std::optional<AdapterSubnet> subnetHolding(const std::vector<AdapterSubnet>& subnets, std::uint32_t ip)
{
    const auto found =
        std::find_if(subnets.begin(), subnets.end(), [ip](const AdapterSubnet& subnet) { return subnet.holds(ip); });
    if (found == subnets.end())
        return std::nullopt;
    return *found;
}

std::optional<std::string> adapterWithAddress(
    const std::vector<AdapterSubnet>& subnets, const std::vector<AdapterSubnet>& computer, std::uint32_t ip)
{
    for (const std::vector<AdapterSubnet>* list : {&subnets, &computer})
        for (const AdapterSubnet& subnet : *list)
            if (subnet.address == ip)
                return subnet.adapter;
    return std::nullopt;
}

} // namespace commissioning
