#ifndef COMMISSIONING_PLANEXPORT_H
#define COMMISSIONING_PLANEXPORT_H

#include "commissioning/planfile.h"

#include <string>
#include <vector>

// A plan handed to the site's DHCP server, for modules that run with DHCP
// on: each MAC gets its address from the server instead of from a write.
// Exported are the rows that give an IP other than 0.0.0.0 and do not turn
// DHCP off (dhcp on, or empty: the module's own choice, which the plan
// cannot know before a scan). The host name goes with it when the row
// gives one that the configure dialog takes (letters and digits): any
// other is left out, and exportProblems names it. MACs are written lower-case with colons, as both servers
// print them. Read the plan with readPlan first: a plan with problems is
// exported as it was read.

namespace commissioning {

// "FILE:LINE: hostname "a-b": Illegal hostname! ..." for each exported row
// whose host name is left out. Not empty: the command line says so and
// exits 2 without writing an export.
std::vector<std::string> exportProblems(const Plan& plan);

// {"reservations":[{"hw-address":"00:30:11:00:00:01","ip-address":"192.168.0.10","hostname":"a"}]}
// followed by a newline: a fragment to paste into a subnet4 of a kea-dhcp4
// configuration (its "reservations" member) or to include there.
std::string keaReservations(const Plan& plan);

// One "dhcp-host=00:30:11:00:00:01,192.168.0.10[,NAME]" line per row, each
// ended by a newline, for a dnsmasq configuration file.
std::string dnsmasqHosts(const Plan& plan);

} // namespace commissioning

#endif
