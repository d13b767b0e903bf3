#ifndef COMMISSIONING_VERIFICATION_H
#define COMMISSIONING_VERIFICATION_H

#include "protocol/qort.h"

#include <string>
#include <vector>

// Whether a module shows what a Configure request sent it, read from a scan
// record taken after the module answered "Reconfigured:".

namespace commissioning {

// One line per field that differs, in the order IP, mask, gateway, DNS 1,
// DNS 2, host name, DHCP: "not verified: IP is 192.168.0.20, sent
// 192.168.0.30"; host names are quoted and escaped (not verified: host
// name is "plc-1", sent "plc-2"). A field the module does not report
// reads "not reported".
// Compared are the fields the request carries: an address other than
// QORT_ADDR_NOT_GIVEN (0.0.0.0 is a value and is compared), DHCP when it is
// 0 or 1, the host name always (an empty one sets an empty name; it
// matches a module that reports no host name). When the
// request turns DHCP on, the DHCP server hands out IP, mask and gateway, so
// those are not compared. Empty: the write is verified.
std::vector<std::string> unverifiedFields(
    const QORT_ConfigureRequestType& sent, const QORT_ModuleScanResponseType& seen);

} // namespace commissioning

#endif
