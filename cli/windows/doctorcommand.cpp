// doctor in the Windows build: its checks - the capability to bind UDP 67,
// the nft/iptables rules, the holders of the ports from /proc - are facts
// of Linux, and their Windows counterparts (the firewall's rule set, the
// right to bind) are not examined yet. A scan that cannot be sent still
// explains itself (adapters, holder of UDP 3250, broadcast route).
#include "cli/commands.h"

namespace cli {

int RunDoctor()
{
    Complain("doctor examines Linux systems only; it is not part of the Windows build");
    return kExitUsage;
}

} // namespace cli
