#ifndef DEVICELIST_CONFIGUREFLOW_H
#define DEVICELIST_CONFIGUREFLOW_H

#include <functional>
#include <string>
#include <string_view>

#include "configdialog/ethernetconfigfields.h"
#include "protocol/qort.h"

// Configuring one module: a double-click on its row opens the Ethernet
// configuration dialog filled from the module's scan reply, and "Set" sends
// the edited values as one Configure request. The flow waits for no answer;
// "Reconfigured:" and "Invalid Password:" come back later as library notices
// that the main window handles, matched to this request through the list's
// last configured MAC.

namespace devicelist {

inline constexpr std::string_view kConfigureTitlePrefix = "Configure: ";

// "Configure: " followed by the row's MAC column text.
std::string ConfigureDialogTitle(std::string_view macText);

// The dialog's inputs from what the module reported. Values whose Valid byte
// is not 1 are left as they are (their controls are cleared and disabled).
// The host name is cut to 29 characters; DHCP is preselected "On" whenever
// the module reported any non-zero DHCP value, "Off" otherwise.
void PrefillConfigFields(const QORT_ModuleScanResponseType& found, EthernetConfigFields& fields);

// The request after "Set". Addresses are copied as the dialog hands them
// back, so a control the module did not report sends 0. NewPassword is sent
// only when "Change password" was checked and stays zero otherwise.
QORT_ConfigureRequestType BuildConfigureRequest(const QORT_ModuleScanResponseType& found,
                                                const EthernetConfigFields& fields);

// Where a confirmed request goes; the program passes QORT_SendConfigure.
// Kept as a parameter so that the flow's own code does not tie the list to
// the protocol library.
using ConfigureSender = std::function<void(const QORT_ConfigureRequestType&)>;

}  // namespace devicelist

#endif
