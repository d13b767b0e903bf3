// libFuzzer target for the plan reader: a plan is a file from a spreadsheet
// or a person's editor. Built and run by scripts/fuzz (clang, ASan+UBSan).
#include "commissioning/planexport.h"
#include "commissioning/planfile.h"

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
    for (const commissioning::PlanRow& row : reading.plan.rows) {
        // Rows in file order, after the header, each module named once.
        // (Addresses depend on the modules: planSteps checks them.)
        if (row.line <= lastLine || !macs.insert(row.mac).second)
            std::abort();
        lastLine = row.line;
    }
    // Every note names an unused column of the header line.
    for (const std::string& note : reading.notes)
        if (note.rfind("f:1: column ", 0) != 0)
            std::abort();
    // Both exports name the same rows, and Kea's is JSON whatever the names hold.
    const auto kea = nlohmann::json::parse(commissioning::keaReservations(reading.plan));
    const std::string dnsmasq = commissioning::dnsmasqHosts(reading.plan);
    if (kea.at("reservations").size() != static_cast<std::size_t>(std::count(dnsmasq.begin(), dnsmasq.end(), '\n')))
        std::abort();
    return 0;
}
