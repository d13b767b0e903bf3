#include "commissioning/addressinuse.h"

namespace commissioning {

NetworkBatchAsker batchAsker(const NetworkAsker&)
{
    return {};
}

std::vector<AddressUse> checkAddressesInUse(const std::vector<AddressTarget>&,
    const std::vector<QORT_ModuleScanResponseType>&, const std::vector<AdapterSubnet>&, const NetworkBatchAsker&,
    std::chrono::milliseconds)
{
    return {};
}

} // namespace commissioning
