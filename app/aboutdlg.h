#pragma once

#include "ui/templatedialog.h"

#include <QString>

// The About box (template 100): the application icon and the version line,
// read from the program's own version resource each time the box opens.
class CAboutDlg : public CDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    // Exchanged with control IDC_VERSION; empty when the program's version
    // resource could not be read.
    QString m_strVersion;

protected:
    bool OnInitDialog() override;
    void DoDataExchange(DataExchange& dx) override;
};
