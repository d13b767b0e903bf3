#ifndef DHCP_ADVANCEDSETTINGSDLG_H
#define DHCP_ADVANCEDSETTINGSDLG_H

#include "ui/templatedialog.h"

// "Advanced Settings" (template 134): its only setting is the check box
// "Enable internal DHCP server". The caller sets EnableDhcpServer before
// the modal run and reads it afterwards; OK stores the box into it, Cancel
// leaves it as it was.
class CAdvancedSettingsDlg : public CDialog {
    Q_OBJECT

public:
    explicit CAdvancedSettingsDlg(QWidget* parent = nullptr);

    // 1 = checked, 0 = unchecked.
    int EnableDhcpServer = 0;

protected:
    void DoDataExchange(DataExchange& dx) override;
};

#endif
