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

} // namespace commissioning
