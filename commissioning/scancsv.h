#ifndef COMMISSIONING_SCANCSV_H
#define COMMISSIONING_SCANCSV_H

#include "commissioning/scanwarnings.h"
#include "protocol/qort.h"

#include <map>
#include <string>
#include <vector>

// The scan as CSV, one dialect for both front ends: `sorvinda scan --format
// csv` writes it and so does the window's "Export list...", so that either
// file, edited, is a plan (commissioning/planfile.h reads it back).

namespace commissioning {

// RFC 4180 with a header row naming the same fields as the JSON members
// (mac, ip, mask, gateway, dhcp, password, hostname, dns1, dns2, type,
// version, protocol, warnings); a field the module left out is an empty
// cell, dhcp and password are on/off, texts have their control bytes
// escaped; the last column holds the warning codes joined by ";". Modules
// are written in the order given; a module missing from `warnings` has
// none.
std::string scanCsv(const std::vector<QORT_ModuleScanResponseType>& modules,
    const std::map<modules::MacAddress, WarningCodes>& warnings);

} // namespace commissioning

#endif
