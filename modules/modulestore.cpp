#include "modules/modulestore.h"

#include <algorithm>

namespace devicelist {
namespace {

bool HasMac(const QORT_ModuleScanResponseType& record, const MacAddress& mac)
{
    return MacOfRecord(record) == mac;
}

} // namespace

bool ModuleStore::Contains(const MacAddress& mac) const
{
    return std::any_of(records_.begin(), records_.end(),
        [&mac](const QORT_ModuleScanResponseType& record) { return HasMac(record, mac); });
}

void ModuleStore::Append(const QORT_ModuleScanResponseType& record)
{
    records_.push_back(record);
}

std::optional<QORT_ModuleScanResponseType> ModuleStore::FindModule(const MacAddress& mac) const
{
    const auto found = std::find_if(records_.begin(), records_.end(),
        [&mac](const QORT_ModuleScanResponseType& record) { return HasMac(record, mac); });
    if (found == records_.end()) {
        return std::nullopt;
    }
    return *found;
}

void ModuleStore::Clear()
{
    records_.clear();
}

} // namespace devicelist
