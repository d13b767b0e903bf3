#ifndef DEVICELIST_CONFIGUREFLOW_H
#define DEVICELIST_CONFIGUREFLOW_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "commissioning/addressinuse.h"
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

// Who holds an address, asked before a Set that changes the module's IP:
// commissioning::checkAddressInUse over the list's modules and this
// computer's adapters in the program (it waits up to
// commissioning::kAddressAnswerBound on the GUI thread: the user has just
// pressed Set and waits for the answer anyway); a stand-in in tests, which
// must not ask the network.
using AddressCheck = std::function<commissioning::AddressUse(
    std::uint32_t ip, const modules::MacAddress& module, const std::vector<QORT_ModuleScanResponseType>& scan)>;

// Told of a write with the record it started from and the request: a Set
// the user withdrew after hearing that the address is in use (nothing was
// sent), or one about to be sent.
using WriteNote = std::function<void(const QORT_ModuleScanResponseType&, const QORT_ConfigureRequestType&)>;

struct ConfigureHooks {
    ConfigureSender send;
    AddressCheck checkAddress; // empty: no check
    WriteNote refused;         // may be empty
    WriteNote sending;         // may be empty; called just before send
};

// "The address A is already used by M. Set it anyway?"
std::string AddressInUseQuestion(std::uint32_t ip, const commissioning::AddressUse& use);

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
//
// What is asked and checked comes from the change the request makes to the
// module's record (commissioning::changeOf), as on the command line: a
// reported name the request would carry shortened asks first; the address
// the change sets (commissioning::addressToAsk) is checked (hooks.checkAddress,
// over the modules listed when Set was pressed), and an address in use asks
// "Set it anyway?" (No the default). No sends nothing (hooks.refused hears
// of a refused address) and opens the dialog again with the user's edits.
// hooks.sending hears of every request before it goes out.
bool RunConfigureFlow(CDeviceListCtrl& list, int row, const ConfigureHooks& hooks);
bool RunConfigureFlow(CDeviceListCtrl& list, int row, const ConfigureSender& send);

// Undoing the last change of the row's module: the same flow, its dialog
// filled with values (commissioning::AuditLog::undoValues) in place of the
// ones the module reported, so that the user sees what will be set and gives
// the password as for any write; the same checks follow Set.
bool RunUndoFlow(
    CDeviceListCtrl& list, int row, const QORT_ModuleScanResponseType& values, const ConfigureHooks& hooks);

// Makes a double-click on a row of list run the flow with hooks.
// The connection lives as long as the list.
void AttachConfigureFlow(CDeviceListCtrl& list, ConfigureHooks hooks);
void AttachConfigureFlow(CDeviceListCtrl& list, ConfigureSender send);

} // namespace devicelist

#endif
