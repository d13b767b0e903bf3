#include "diagnostics/adapters.h"

#include "platform/networkadapters.h"

#include <algorithm>

namespace diagnostics {

std::vector<AdapterReport> adapterReports()
{
    // The same records and the same filter the library sends by, so that
    // "a scan uses it" is what the library does.
    const std::vector<platform::InterfaceRecord> records = platform::NetworkAdapters::records();
    const std::vector<platform::NetworkAdapter> usable = platform::NetworkAdapters::filter(records);
    std::vector<AdapterReport> reports;
    for (const platform::InterfaceRecord& record : records) {
        auto report = std::find_if(
            reports.begin(), reports.end(), [&record](const AdapterReport& r) { return r.name == record.name; });
        if (report == reports.end()) {
            AdapterReport added;
            added.name = record.name;
            added.up = record.up;
            added.loopback = record.loopback;
            added.broadcast = record.broadcast;
            added.usedByScan = std::any_of(usable.begin(), usable.end(),
                [&record](const platform::NetworkAdapter& a) { return a.name == record.name; });
            reports.push_back(added);
            report = reports.end() - 1;
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
