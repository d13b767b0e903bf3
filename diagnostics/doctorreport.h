#ifndef DIAGNOSTICS_DOCTORREPORT_H
#define DIAGNOSTICS_DOCTORREPORT_H

#include "diagnostics/adapters.h"
#include "diagnostics/firewallrules.h"
#include "diagnostics/portholders.h"
#include "diagnostics/privileges.h"
#include "diagnostics/scanfailure.h"

#include <optional>
#include <string>
#include <vector>

namespace diagnostics {

// The DHCP ports: the recovery server binds the first, clients answer on
// the second.
inline constexpr std::uint16_t kDhcpServerPort = 67;
inline constexpr std::uint16_t kDhcpClientPort = 68;

// What a technician needs to know before a scan or the recovery server.
struct DoctorFindings {
    std::vector<AdapterReport> adapters;
    UdpPortUse scanPort;
    UdpPortUse dhcpPort;
    PortBindRight dhcpPortRight = PortBindRight::kNone;
    std::vector<FirewallListing> firewall;
    std::optional<ScanFailure> scanBlocker; // nothing: a scan could be sent
};

// Looks at this computer (this network namespace) now.
DoctorFindings examineSystem();

// The findings as lines of text for a terminal. Names and rule lines from
// the system are shown with their control bytes escaped: a local user may
// choose them, and they must not forge a line or drive the terminal.
std::string formatFindings(const DoctorFindings& findings);

} // namespace diagnostics

#endif
