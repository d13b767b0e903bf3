// doctor: what stands between this computer and a scan or the recovery
// server - adapters, holders of UDP 3250 and 67, the right to bind 67,
// firewall rules - from the same diagnosis the window uses when a scan
// cannot be sent. It loads no libqort, so it never holds UDP 3250 itself.
#include "cli/commands.h"
#include "diagnostics/doctorreport.h"

#include <cstdio>

namespace cli {

int RunDoctor()
{
    const diagnostics::DoctorFindings findings = diagnostics::examineSystem();
    std::fputs(diagnostics::formatFindings(findings).c_str(), stdout);
    if (std::fflush(stdout) != 0)
        return kExitFailed;
    return findings.scanBlocker ? kExitFailed : kExitOk;
}

} // namespace cli
