#include "commissioning/planexport.h"

#include "modules/columntexts.h"
#include "modules/ethernetconfigcheck.h"
#include "platform/textescape.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace commissioning {
namespace {

constexpr std::size_t kColonMacSize = 18; // "00:30:11:0a:bc:0f" and its NUL

bool exported(const PlanRow& row)
{
    return row.settings.ip && *row.settings.ip != 0 && row.settings.dhcp != false;
}

std::string colonMac(const modules::MacAddress& mac)
{
    char text[kColonMacSize];
    // The buffer holds every value: the result says nothing new.
    static_cast<void>(std::snprintf(
        text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]));
    return text;
}

// A name outside the dialog's letters and digits could break a dnsmasq
// line apart (a comma, a newline): it never goes out.
bool hasHostName(const PlanRow& row)
{
    return row.settings.hostName && !row.settings.hostName->empty() && modules::isLegalHostName(*row.settings.hostName);
}

} // namespace

std::vector<std::string> exportProblems(const Plan& plan)
{
    std::vector<std::string> problems;
    for (const PlanRow& row : plan.rows)
        if (exported(row) && row.settings.hostName && !modules::isLegalHostName(*row.settings.hostName))
            problems.push_back(plan.file + ":" + std::to_string(row.line) + ": hostname \""
                + platform::escapeBytes(*row.settings.hostName)
                + "\": " + std::string(modules::kIllegalHostNameMessage));
    return problems;
}

std::string keaReservations(const Plan& plan)
{
    nlohmann::ordered_json reservations = nlohmann::ordered_json::array();
    for (const PlanRow& row : plan.rows) {
        if (!exported(row))
            continue;
        nlohmann::ordered_json reservation = {
            {"hw-address", colonMac(row.mac)}, {"ip-address", modules::formatDottedAddress(*row.settings.ip)}};
        if (hasHostName(row))
            reservation["hostname"] = *row.settings.hostName;
        reservations.push_back(std::move(reservation));
    }
    // A host name from a file may hold any byte: replaced, never thrown on.
    return nlohmann::ordered_json{{"reservations", reservations}}.dump(
               2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
        + "\n";
}

std::string dnsmasqHosts(const Plan& plan)
{
    std::string lines;
    for (const PlanRow& row : plan.rows) {
        if (!exported(row))
            continue;
        lines += "dhcp-host=" + colonMac(row.mac) + "," + modules::formatDottedAddress(*row.settings.ip);
        if (hasHostName(row))
            lines += "," + *row.settings.hostName;
        lines += "\n";
    }
    return lines;
}

} // namespace commissioning
