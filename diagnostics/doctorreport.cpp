#include "diagnostics/doctorreport.h"

#include "diagnostics/privileges.h"
#include "modules/columntexts.h"
#include "platform/textescape.h"

namespace diagnostics {
namespace {

std::string adapterState(const AdapterReport& adapter)
{
    std::string state = adapter.up ? "up" : "down";
    if (adapter.loopback)
        state += ", loopback";
    if (adapter.broadcast)
        state += ", broadcast";
    return state;
}

std::string whyNotUsed(const AdapterReport& adapter)
{
    if (adapter.usedByScan)
        return "a scan uses it";
    if (!adapter.up)
        return "not used: down";
    if (adapter.loopback)
        return "not used: loopback";
    if (!adapter.broadcast)
        return "not used: cannot broadcast";
    return "not used: no IPv4 address";
}

std::string addressList(const std::vector<std::uint32_t>& addresses)
{
    std::string text;
    for (const std::uint32_t address : addresses)
        text += (text.empty() ? "" : ", ") + modules::formatDottedAddress(address);
    return text.empty() ? "no IPv4 address" : text;
}

std::string portLine(std::uint16_t port, const UdpPortUse& use)
{
    std::string line = "UDP " + std::to_string(port) + ": ";
    if (!use.heldByOthers && !use.heldByThisProcess)
        return line + "free\n";
    if (!use.otherHolders.empty())
        return line + "held by " + describeProcesses(use.otherHolders) + "\n";
    if (use.heldByOthers)
        return line + "in use by a process this user may not see\n";
    return line + "held by this program\n";
}

std::string bindRightText(PortBindRight right)
{
    switch (right) {
    case PortBindRight::kPrivileged:
        return "allowed (root or cap_net_bind_service)";
    case PortBindRight::kUnprivilegedPort:
        return "allowed (net.ipv4.ip_unprivileged_port_start lets any user bind it)";
    case PortBindRight::kNone:
        break;
    }
    return "not allowed (neither root nor cap_net_bind_service, and below net.ipv4.ip_unprivileged_port_start)";
}

std::string firewallLines(const std::vector<FirewallListing>& listings)
{
    std::string text = "Firewall rules for UDP " + std::to_string(kScanPort) + ", " + std::to_string(kDhcpServerPort)
        + " and " + std::to_string(kDhcpClientPort) + ":\n";
    for (const FirewallListing& listing : listings) {
        if (!listing.read) {
            text += "  " + listing.tool + ": not installed, or its rules may not be read by this user\n";
        } else if (listing.rules.empty()) {
            text += "  " + listing.tool + ": none\n";
        }
        for (const std::string& rule : listing.rules)
            text += "  " + listing.tool + ": " + platform::escapeControlBytes(rule) + "\n";
    }
    return text;
}

} // namespace

DoctorFindings examineSystem()
{
    DoctorFindings findings;
    findings.adapters = adapterReports();
    findings.scanPort = udpPortUse(kScanPort);
    findings.dhcpPort = udpPortUse(kDhcpServerPort);
    findings.dhcpPortRight = portBindRight(kDhcpServerPort);
    findings.firewall = firewallRulesFor({kScanPort, kDhcpServerPort, kDhcpClientPort});
    findings.scanBlocker = scanBlocker(findings.scanPort, findings.adapters);
    return findings;
}

std::string formatFindings(const DoctorFindings& findings)
{
    std::string text = "Adapters:\n";
    for (const AdapterReport& adapter : findings.adapters) {
        text += "  " + platform::escapeControlBytes(adapter.name) + " (" + adapterState(adapter)
            + "): " + addressList(adapter.ipv4) + "; " + whyNotUsed(adapter) + "\n";
    }
    text += portLine(kScanPort, findings.scanPort);
    text += portLine(kDhcpServerPort, findings.dhcpPort);
    text += std::string("Binding UDP ") + std::to_string(kDhcpServerPort) + ": " + bindRightText(findings.dhcpPortRight)
        + "\n";
    text += firewallLines(findings.firewall);
    text += findings.scanBlocker ? scanFailureText(*findings.scanBlocker) + "\n" : "A scan could be sent.\n";
    return text;
}

} // namespace diagnostics
