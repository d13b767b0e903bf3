#include "dhcp/advancedoptions.h"

#include "dhcp/advancedsettingsdlg.h"
#include "ui/messagebox.h"

DhcpServerControl::Change RunAdvancedSettings(DhcpServerControl& control)
{
    CAdvancedSettingsDlg dialog;
    dialog.EnableDhcpServer = control.IsRunning() ? 1 : 0;
    // The result is not needed: Cancel does not store the box, so the field
    // keeps the current state and nothing changes below.
    dialog.DoModal();
    const DhcpServerControl::Change change = control.Apply(dialog.EnableDhcpServer != 0);
    if (change == DhcpServerControl::Change::StartFailed)
        AfxMessageBox("DHCP server init failed", MB_OK);
    return change;
}
