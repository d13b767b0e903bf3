#ifndef TOOLS_MODULESIM_MODULESPEC_H
#define TOOLS_MODULESIM_MODULESPEC_H

#include "tools/modulesim/simulatedmodule.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace modulesim {

// A module written as "key=value,key=value,-key,...":
//   mac=00-30-11-00-00-01   required
//   protocol=1.10  fb=Modbus TCP  version=2.01.7
//   ip=  sn=  gw=  dns1=  dns2=   dotted quads
//   dhcp=on|off  pswd=on|off  hn=NAME  password=SECRET
//   keep=on       answers "Reconfigured" but changes nothing
//   answer=off    ignores Configure requests: no answer, nothing changed
//   -KEY   leaves that field out of the scan reply (e.g. -dns1)
// Values cannot contain ',' or ';'. Fields not named keep the defaults of
// SimulatedModule; pswd follows the password unless given.
// On failure returns nothing and says why in `error`.
std::optional<SimulatedModule> parseModuleSpec(std::string_view spec, std::string& error);

// One module per line in the same form; blank lines and lines starting
// with '#' are skipped. Errors name the file and line.
std::optional<std::vector<SimulatedModule>> readModuleFile(const std::string& path, std::string& error);

// `count` modules numbered 1..count: MAC 00-30-11-xx-xx-xx (the number),
// IP 192.168.(10 + (n-1)/250).((n-1)%250 + 1) with mask 255.255.0.0, all
// other fields at their defaults.
std::vector<SimulatedModule> generateModules(int count);

} // namespace modulesim

#endif
