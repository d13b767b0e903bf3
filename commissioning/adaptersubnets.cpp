#include "commissioning/adaptersubnets.h"

#include <algorithm>

namespace commissioning {

std::optional<AdapterSubnet> SubnetHolding(const std::vector<AdapterSubnet>& subnets, std::uint32_t ip)
{
    const auto found =
        std::find_if(subnets.begin(), subnets.end(), [ip](const AdapterSubnet& subnet) { return subnet.Holds(ip); });
    if (found == subnets.end())
        return std::nullopt;
    return *found;
}

} // namespace commissioning
