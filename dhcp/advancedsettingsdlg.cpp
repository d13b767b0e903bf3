#include "dhcp/advancedsettingsdlg.h"

#include "resources/resourceids.h"

CAdvancedSettingsDlg::CAdvancedSettingsDlg(QWidget* parent)
    : CDialog(IDD_ADVANCED_SETTINGS, parent)
{
}

void CAdvancedSettingsDlg::DoDataExchange(DataExchange& dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Check(dx, IDC_ENABLE_DHCP_SERVER, EnableDhcpServer);
}
