#include "platform/networkadapters.h"

#include <algorithm>

namespace platform {

namespace {

bool isUsable(const InterfaceRecord& record)
{
    return record.up && !record.loopback && record.broadcast && record.hasIpv4;
}

} // namespace

std::vector<NetworkAdapter> NetworkAdapters::filter(const std::vector<InterfaceRecord>& records)
{
    std::vector<NetworkAdapter> adapters;
    for (const InterfaceRecord& record : records) {
        if (!isUsable(record) || record.index == 0)
            continue;
        const bool known = std::any_of(
            adapters.begin(), adapters.end(), [&](const NetworkAdapter& a) { return a.index == record.index; });
        if (!known)
            adapters.push_back({record.name, record.index, record.ipv4});
    }
    return adapters;
}

std::vector<NetworkAdapter> NetworkAdapters::usable()
{
    return filter(records());
}

} // namespace platform
