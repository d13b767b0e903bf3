#ifndef DEVICELIST_CONFIGUREFLOW_H
#define DEVICELIST_CONFIGUREFLOW_H

#include <functional>
#include <string>
#include <string_view>

#include "modules/configurerequest.h"
#include "modules/ethernetconfigfields.h"
#include "protocol/qort.h"

class CDeviceListCtrl;

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

// Where a confirmed request goes; the program passes the library's
// QORT_SendConfigure. A parameter rather than a direct call, so that the
// flow can be driven in tests without loading libqort (whose load-time
// set-up binds UDP port 3250).
using ConfigureSender = std::function<void(const QORT_ConfigureRequestType&)>;

// The flow for one row of the list, on the GUI thread: opens the dialog
// titled "Configure: " and the row's MAC text, filled from the module's
// stored scan reply, and after "Set" records the module as the list's last
// configured MAC and hands the request to send. Nothing happens for a row
// whose MAC cannot be read or is not in the module store; Cancel sends
// nothing and leaves the last configured MAC as it was. Returns whether a
// request was sent.
//
// The list may be cleared and refilled while the dialog is open (a rescan
// after another module's "Reconfigured:"): the flow works on its own copy of
// the record and sends that record's MAC.
bool RunConfigureFlow(CDeviceListCtrl& list, int row, const ConfigureSender& send);

// Makes a double-click on a row of list run the flow, sending through send.
// The connection lives as long as the list.
void AttachConfigureFlow(CDeviceListCtrl& list, ConfigureSender send);

} // namespace devicelist

#endif
