// libFuzzer target for the plan reader: a plan is a file from a spreadsheet
// or a person's editor. Built and run by scripts/fuzz (clang, ASan+UBSan).
#include "commissioning/planexport.h"
#include "commissioning/planfile.h"
#include "modules/ethernetconfigcheck.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const commissioning::PlanReading reading = commissioning::readPlan(text, "f");
    for (const std::string& problem : reading.problems)
        if (problem.rfind("f:", 0) != 0)
            std::abort();
    int lastLine = 1;
    std::set<modules::MacAddress> macs;
    std::set<std::uint32_t> ips;
    for (const commissioning::PlanRow& row : reading.plan.rows) {
        // Rows in file order, after the header; a plan without problems
        // names each module once and gives each address to one of them.
        if (row.line <= lastLine)
            std::abort();
        lastLine = row.line;
        const auto ip = row.settings.ip;
        if (!macs.insert(row.mac).second || (ip && *ip != 0 && !ips.insert(*ip).second)
            || (ip && !modules::isAcceptableIpAddress(*ip)))
            std::abort();
    }
    // Both exports name the same rows, and Kea's is JSON whatever the names hold.
    const auto kea = nlohmann::json::parse(commissioning::keaReservations(reading.plan));
    const std::string dnsmasq = commissioning::dnsmasqHosts(reading.plan);
    if (kea.at("reservations").size() != static_cast<std::size_t>(std::count(dnsmasq.begin(), dnsmasq.end(), '\n')))
        std::abort();
    return 0;
}
