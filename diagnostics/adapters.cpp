#include "diagnostics/adapters.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace diagnostics {
namespace {

AdapterReport& reportFor(std::vector<AdapterReport>& reports, const ifaddrs& entry)
{
    const auto found = std::find_if(
        reports.begin(), reports.end(), [&entry](const AdapterReport& r) { return r.name == entry.ifa_name; });
    if (found != reports.end())
        return *found;
    AdapterReport report;
    report.name = entry.ifa_name;
    report.up = (entry.ifa_flags & IFF_UP) != 0;
    report.loopback = (entry.ifa_flags & IFF_LOOPBACK) != 0;
    report.broadcast = (entry.ifa_flags & IFF_BROADCAST) != 0;
    reports.push_back(report);
    return reports.back();
}

} // namespace

std::vector<AdapterReport> adapterReports()
{
    std::vector<AdapterReport> reports;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return reports;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        AdapterReport& report = reportFor(reports, *entry);
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            sockaddr_in address{};
            std::copy_n(
                reinterpret_cast<const char*>(entry->ifa_addr), sizeof address, reinterpret_cast<char*>(&address));
            report.ipv4.push_back(ntohl(address.sin_addr.s_addr));
        }
    }
    ::freeifaddrs(list);
    for (AdapterReport& report : reports)
        report.usedByScan = report.up && !report.loopback && report.broadcast && !report.ipv4.empty();
    return reports;
}

bool anyAdapterUsedByScan(const std::vector<AdapterReport>& adapters)
{
    return std::any_of(adapters.begin(), adapters.end(), [](const AdapterReport& a) { return a.usedByScan; });
}

} // namespace diagnostics
