#pragma once

#include "modules/ethernetconfigfields.h"
#include "ui/ipaddressedit.h"
#include "ui/templatedialog.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

class QLineEdit;

// The modal "Ethernet configuration" dialog (template 103) for one module.
//
// The caller sets Title, PasswordProtected, DhcpChoice, the six Valid bytes
// and the values they cover, runs DoModal once and, after IDOK, reads the
// outputs. Whatever ended the run, the outputs are filled when DoModal
// returns: the addresses as the controls showed them (0 for a cleared,
// disabled control) and the three texts from the last saving data exchange
// ("Set" or a click on "Change password"), cut to 29 characters.
//
// A module's host name shows as UTF-8 when its bytes are UTF-8, otherwise
// as Windows-1252 (modules/moduletext.h); a name left as it is goes back as
// the module's own bytes, and is not held to the rule for typed names. The
// passwords cross as Latin-1, one byte per character, so "29 characters"
// is also 29 bytes. Read-only edits look read-only.
//
// The dialog never talks to the protocol library.
class CEthernetConfigDlg : public CDialog, public modules::EthernetConfigFields {
    Q_OBJECT

public:
    explicit CEthernetConfigDlg(QWidget* parent = nullptr);

protected:
    void DoDataExchange(DataExchange& dx) override;
    bool OnInitDialog() override;
    void OnOK() override;
    void OnDestroy() override;

public:
    // The host name edit shows exactly the name the module reported.
    bool HostNameLeftAsReported() const;

private:
    void OnChangePassword();
    void ShowHostName();
    void ShowAddresses();
    void ReadBackAddresses();
    void ReadBackTexts();

    // Control objects, bound by the data exchange; owned by the dialog base.
    QLineEdit* m_HostNameEdit = nullptr;
    CIPAddressCtrl* m_Dns2Ctrl = nullptr;
    CIPAddressCtrl* m_Dns1Ctrl = nullptr;
    QLineEdit* m_NewPasswordEdit = nullptr;
    QLineEdit* m_PasswordEdit = nullptr;
    CIPAddressCtrl* m_SubnetMaskCtrl = nullptr;
    CIPAddressCtrl* m_IpAddrCtrl = nullptr;
    CIPAddressCtrl* m_GatewayCtrl = nullptr;

    // Bound to the three edits by the data exchange.
    QString NewPasswordText;
    QString PasswordText;
    QString HostNameText;
    std::string m_ReportedHostName;             // the module's bytes, as they came
    std::optional<std::uint32_t> m_ShownIpAddr; // the IP the dialog opened with, when it showed one
};
