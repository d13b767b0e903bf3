#include "diagnostics/adapters.h"

#include <algorithm>

namespace diagnostics {
namespace {

bool sameInterface(const platform::InterfaceRecord& a, const platform::InterfaceRecord& b)
{
    return a.index != 0 ? a.index == b.index : a.name == b.name;
}

} // namespace

std::vector<AdapterReport> adapterReports()
{
    return adapterReports(platform::NetworkAdapters::records());
}

std::vector<AdapterReport> adapterReports(const std::vector<platform::InterfaceRecord>& records)
{
    // The same records and the same filter the library sends by, so that
    // "a scan uses it" is what the library does.
    const std::vector<platform::NetworkAdapter> usable = platform::NetworkAdapters::filter(records);
    std::vector<platform::InterfaceRecord> firstRecords; // of each report, in step with reports
    std::vector<AdapterReport> reports;
    for (const platform::InterfaceRecord& record : records) {
        const auto first = std::find_if(firstRecords.begin(), firstRecords.end(),
            [&record](const platform::InterfaceRecord& f) { return sameInterface(f, record); });
        AdapterReport* report = nullptr;
        if (first == firstRecords.end()) {
            AdapterReport added;
            added.name = record.name;
            added.up = record.up;
            added.loopback = record.loopback;
            added.broadcast = record.broadcast;
            added.usedByScan = record.index != 0
                && std::any_of(usable.begin(), usable.end(),
                    [&record](const platform::NetworkAdapter& a) { return a.index == record.index; });
            firstRecords.push_back(record);
            reports.push_back(added);
            report = &reports.back();
        } else {
            report = &reports[static_cast<std::size_t>(first - firstRecords.begin())];
        }
        if (record.hasIpv4)
            report->ipv4.push_back(record.ipv4);
    }
    return reports;
}

bool anyAdapterUsedByScan(const std::vector<AdapterReport>& adapters)
{
    return std::any_of(adapters.begin(), adapters.end(), [](const AdapterReport& a) { return a.usedByScan; });
}

} // namespace diagnostics
