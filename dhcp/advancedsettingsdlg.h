#ifndef DHCP_ADVANCEDSETTINGSDLG_H
#define DHCP_ADVANCEDSETTINGSDLG_H

#include "ui/templatedialog.h"

#include <QString>

class QLabel;

// "Advanced Settings" (template 134): its only setting is the check box
// "Enable internal DHCP server". The caller sets EnableDhcpServer before
// the modal run and reads it afterwards; OK stores the box into it, Cancel
// leaves it as it was. Under the buttons one line says whom the recovery
// server answers and which address it gives.
class CAdvancedSettingsDlg : public CDialog {
    Q_OBJECT

public:
    explicit CAdvancedSettingsDlg(QWidget* parent = nullptr);

    // 1 = checked, 0 = unchecked.
    int EnableDhcpServer = 0;

    // "Answers only modules whose MAC begins 00-30-11-...: each gets
    // 10.200.1.x, x the MAC's last byte (...)".
    static QString AnswersText();
    QString ShownAnswersText() const;

protected:
    void DoDataExchange(DataExchange& dx) override;
    bool OnInitDialog() override;

private:
    QLabel* m_answers = nullptr;
};

#endif
