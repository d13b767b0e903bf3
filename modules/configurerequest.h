#ifndef DEVICELIST_CONFIGUREREQUEST_H
#define DEVICELIST_CONFIGUREREQUEST_H

#include "modules/ethernetconfigfields.h"
#include "protocol/qort.h"

// From a module's scan reply to the Ethernet configuration dialog's fields,
// and from the confirmed fields to the Configure request. Plain code: the
// window's configure flow and the command line's "configure" share it.

namespace devicelist {

// The dialog's inputs from what the module reported. Values whose Valid byte
// is not 1 are left as they are (their controls are cleared and disabled).
// The host name is cut to 29 characters; DHCP is preselected "On" whenever
// the module reported any non-zero DHCP value, "Off" otherwise.
void PrefillConfigFields(const QORT_ModuleScanResponseType& found, EthernetConfigFields& fields);

// The request after "Set". Addresses are copied as the dialog hands them
// back, so a control the module did not report sends 0. NewPassword is sent
// only when "Change password" was checked and stays zero otherwise.
QORT_ConfigureRequestType BuildConfigureRequest(
    const QORT_ModuleScanResponseType& found, const EthernetConfigFields& fields);

} // namespace devicelist

#endif
