#ifndef COMMISSIONING_SCANWARNINGS_H
#define COMMISSIONING_SCANWARNINGS_H

#include "commissioning/adaptersubnets.h"
#include "modules/macaddress.h"
#include "protocol/qort.h"

#include <map>
#include <string>
#include <vector>

// What one scan shows about the modules' addresses without sending anything
// more. The command line writes the codes (JSON "warnings", CSV
// "warnings"); the window shows warningText as a row's tooltip.

namespace commissioning {

// Another module of the same scan reports the same IP (0.0.0.0 excepted).
inline constexpr const char* kWarningDuplicateIp = "duplicate-ip";
// The IP lies in no subnet of this computer's usable adapters: the module
// is found by broadcast scans but cannot be reached by IP from here. Not
// for 0.0.0.0 or a module with DHCP on.
inline constexpr const char* kWarningOtherSubnet = "other-subnet";

using WarningCodes = std::vector<std::string>;

// The codes of every module of the scan, in the order above; a module
// without a warning maps to an empty list. A module that answered twice is
// one module: only another MAC makes a duplicate.
std::map<modules::MacAddress, WarningCodes> scanWarnings(
    const std::vector<QORT_ModuleScanResponseType>& scan, const std::vector<AdapterSubnet>& subnets);

// One sentence for a code (for a tooltip); the code itself when unknown.
std::string warningText(const std::string& code);

} // namespace commissioning

#endif
