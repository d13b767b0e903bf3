#include "modules/modulestore.h"

#include <cstdint>
#include <functional>

namespace modules {

std::size_t MacAddressHash::operator()(const MacAddress& mac) const
{
    std::uint64_t value = 0;
    for (const std::uint8_t byte : mac) {
        value = (value << 8U) | byte;
    }
    return std::hash<std::uint64_t>{}(value);
}

bool ModuleStore::Contains(const MacAddress& mac) const
{
    return oldestIndex_.find(mac) != oldestIndex_.end();
}

void ModuleStore::Append(const QORT_ModuleScanResponseType& record)
{
    // emplace keeps an existing entry: a later record with the same MAC
    // never hides the oldest one.
    oldestIndex_.emplace(macOfRecord(record), records_.size());
    records_.push_back(record);
}

std::optional<QORT_ModuleScanResponseType> ModuleStore::FindModule(const MacAddress& mac) const
{
    const auto found = oldestIndex_.find(mac);
    if (found == oldestIndex_.end()) {
        return std::nullopt;
    }
    return records_[found->second];
}

void ModuleStore::Clear()
{
    records_.clear();
    oldestIndex_.clear();
}

} // namespace modules
