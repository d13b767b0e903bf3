// doctor: what stands between this computer and a scan or the recovery
// server - adapters, holders of UDP 3250 and 67, the right to bind 67,
// firewall rules - from the same diagnosis the window uses when a scan
// cannot be sent, and any other DHCP server that answers on the segment. It
// loads no libqort, so it never holds UDP 3250 itself.
#include "cli/commands.h"
#include "commissioning/dhcpprobe.h"
#include "diagnostics/doctorreport.h"

#include <cstdio>

namespace cli {
namespace {

// One DISCOVER per usable adapter: modules with DHCP on may take another
// server's offer instead of the recovery server's.
std::string OtherDhcpServers()
{
    const commissioning::DhcpProbe probe = commissioning::probeDhcpServers(platform::NetworkAdapters::usable());
    if (!probe.skipped.empty())
        return "Other DHCP servers: check " + probe.skipped + "\n";
    if (probe.offers.empty())
        return "Other DHCP servers: none offered within " + std::to_string(commissioning::kDhcpOfferWait.count())
            + " ms\n";
    std::string text = "Other DHCP servers:\n";
    for (const commissioning::DhcpOffer& offer : probe.offers)
        text += "  " + commissioning::offerLine(offer) + "\n";
    return text;
}

} // namespace

int RunDoctor()
{
    const diagnostics::DoctorFindings findings = diagnostics::examineSystem();
    std::fputs(diagnostics::formatFindings(findings).c_str(), stdout);
    std::fputs(OtherDhcpServers().c_str(), stdout);
    if (std::fflush(stdout) != 0)
        return kExitFailed;
    return findings.scanBlocker ? kExitFailed : kExitOk;
}

} // namespace cli
