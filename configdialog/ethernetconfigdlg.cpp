#include "configdialog/ethernetconfigdlg.h"

#include "modules/ethernetconfigcheck.h"
#include "modules/moduletext.h"
#include "resources/resourceids.h"
#include "ui/appicon.h"
#include "ui/messagebox.h"

#include <QApplication>
#include <QByteArray>
#include <QLineEdit>
#include <QPalette>

namespace {

constexpr int kPasswordMaxChars = static_cast<int>(modules::kConfigTextMaxChars);
constexpr std::uint8_t kValid = 1;

QString FromFieldText(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void StoreFieldText(modules::ConfigText& field, const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    modules::storeConfigText(field, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

std::string_view View(const QByteArray& bytes)
{
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// A read-only edit takes the window's colour behind its text, as the
// platform draws one, so that it does not look as if it could be typed in.
void SetReadOnlyLook(QLineEdit* edit, bool readOnly)
{
    if (edit == nullptr)
        return;
    edit->setReadOnly(readOnly);
    QPalette palette = edit->palette();
    const QPalette normal = QApplication::palette(edit);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::Base,
            readOnly ? normal.color(group, QPalette::Window) : normal.color(group, QPalette::Base));
    edit->setPalette(palette);
}

// A reported value is shown; an unreported one leaves the control blank and
// disabled, so that it reads back as 0.
void ShowAddress(CIPAddressCtrl* control, std::uint8_t valid, std::uint32_t value)
{
    if (control == nullptr)
        return;
    if (valid == kValid) {
        control->SetAddress(value);
    } else {
        control->ClearAddress();
        control->setEnabled(false);
    }
}

std::uint32_t ReadAddress(const CIPAddressCtrl* control)
{
    std::uint32_t value = 0;
    if (control != nullptr)
        control->GetAddress(value);
    return value;
}

} // namespace

CEthernetConfigDlg::CEthernetConfigDlg(QWidget* parent)
    : CDialog(IDD_ETHERNET_CONFIG, parent)
{
    setWindowIcon(AppIcon());
    MapCommand(IDC_CHANGE_PASSWORD, [this] { OnChangePassword(); });
}

void CEthernetConfigDlg::DoDataExchange(DataExchange& dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_HOSTNAME, m_HostNameEdit);
    DDX_Control(dx, IDC_DNS2, m_Dns2Ctrl);
    DDX_Control(dx, IDC_DNS1, m_Dns1Ctrl);
    DDX_Control(dx, IDC_NEW_PASSWORD, m_NewPasswordEdit);
    DDX_Control(dx, IDC_PASSWORD, m_PasswordEdit);
    DDX_Control(dx, IDC_SUBNET_MASK, m_SubnetMaskCtrl);
    DDX_Control(dx, IDC_IPADDRESS, m_IpAddrCtrl);
    DDX_Control(dx, IDC_GATEWAY, m_GatewayCtrl);
    DDX_Text(dx, IDC_NEW_PASSWORD, NewPasswordText);
    DDV_MaxChars(dx, NewPasswordText, kPasswordMaxChars);
    DDX_Text(dx, IDC_PASSWORD, PasswordText);
    DDV_MaxChars(dx, PasswordText, kPasswordMaxChars);
    DDX_Radio(dx, IDC_DHCP_ON, DhcpChoice);
    DDX_Check(dx, IDC_CHANGE_PASSWORD, ChangePassword);
    DDX_Text(dx, IDC_HOSTNAME, HostNameText);
}

bool CEthernetConfigDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetWindowText(FromFieldText(Title));
    ShowHostName();
    ShowAddresses();
    if (PasswordProtected == 0)
        SetReadOnlyLook(m_PasswordEdit, true);
    // Writable only while "Change password" is checked.
    SetReadOnlyLook(m_NewPasswordEdit, true);
    return true;
}

void CEthernetConfigDlg::ShowHostName()
{
    if (m_HostNameEdit == nullptr)
        return;
    if (HostNameValid == kValid) {
        // Shown as UTF-8 when the module's bytes are UTF-8, else as
        // Windows-1252; left as it is, the name goes back as these bytes.
        m_ReportedHostName.assign(modules::configTextView(HostName));
        const std::string shown = modules::moduleTextToUtf8(m_ReportedHostName);
        m_HostNameEdit->setText(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
    } else {
        m_HostNameEdit->setEnabled(false);
    }
}

void CEthernetConfigDlg::ShowAddresses()
{
    ShowAddress(m_SubnetMaskCtrl, SubnetMaskValid, SubnetMask);
    ShowAddress(m_IpAddrCtrl, IpAddrValid, IpAddr);
    if (IpAddrValid == kValid)
        m_ShownIpAddr = IpAddr;
    ShowAddress(m_GatewayCtrl, GatewayValid, Gateway);
    ShowAddress(m_Dns1Ctrl, Dns1Valid, Dns1);
    ShowAddress(m_Dns2Ctrl, Dns2Valid, Dns2);
}

void CEthernetConfigDlg::OnChangePassword()
{
    UpdateData(true);
    SetReadOnlyLook(m_NewPasswordEdit, ChangePassword != 1);
}

bool CEthernetConfigDlg::HostNameLeftAsReported() const
{
    return HostNameValid == kValid && modules::showsBytes(View(HostNameText.toUtf8()), m_ReportedHostName);
}

void CEthernetConfigDlg::OnOK()
{
    UpdateData(true);
    // The rule is for a name the user types: a module's own name, left as
    // it is, never blocks a write (it may hold a hyphen, or any byte).
    const QByteArray hostName = HostNameText.toLatin1();
    if (!HostNameLeftAsReported() && !modules::isLegalHostName(View(hostName))) {
        AfxMessageBox(FromFieldText(modules::kIllegalHostNameMessage), MB_OK);
        return;
    }
    IpAddr = ReadAddress(m_IpAddrCtrl);
    // Likewise an address the dialog opened with: a module may sit on an
    // address ending .255 in a wider subnet, and a write that keeps it is
    // no typing error.
    if (IpAddr != m_ShownIpAddr && !modules::isAcceptableIpAddress(IpAddr)) {
        AfxMessageBox(FromFieldText(modules::kIpLastByte255Message), MB_OK);
        return;
    }
    CDialog::OnOK();
}

void CEthernetConfigDlg::OnDestroy()
{
    ReadBackAddresses();
    ReadBackTexts();
    CDialog::OnDestroy();
}

void CEthernetConfigDlg::ReadBackAddresses()
{
    SubnetMask = ReadAddress(m_SubnetMaskCtrl);
    IpAddr = ReadAddress(m_IpAddrCtrl);
    Gateway = ReadAddress(m_GatewayCtrl);
    Dns1 = ReadAddress(m_Dns1Ctrl);
    Dns2 = ReadAddress(m_Dns2Ctrl);
}

void CEthernetConfigDlg::ReadBackTexts()
{
    StoreFieldText(Password, PasswordText);
    StoreFieldText(NewPassword, NewPasswordText);
    if (HostNameLeftAsReported()) {
        modules::storeConfigText(HostName, m_ReportedHostName);
        return;
    }
    // A typed name passed the check, so it is ASCII: one byte a character.
    StoreFieldText(HostName, HostNameText);
}
