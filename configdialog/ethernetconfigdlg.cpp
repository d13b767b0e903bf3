#include "configdialog/ethernetconfigdlg.h"

#include "modules/ethernetconfigcheck.h"
#include "resources/resourceids.h"
#include "ui/appicon.h"
#include "ui/messagebox.h"

#include <QByteArray>
#include <QLineEdit>

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
    if (m_PasswordEdit != nullptr && PasswordProtected == 0)
        m_PasswordEdit->setReadOnly(true);
    // Writable only while "Change password" is checked.
    if (m_NewPasswordEdit != nullptr)
        m_NewPasswordEdit->setReadOnly(true);
    return true;
}

void CEthernetConfigDlg::ShowHostName()
{
    if (m_HostNameEdit == nullptr)
        return;
    if (HostNameValid == kValid) {
        m_HostNameEdit->setText(FromFieldText(modules::configTextView(HostName)));
    } else {
        m_HostNameEdit->setEnabled(false);
    }
}

void CEthernetConfigDlg::ShowAddresses()
{
    ShowAddress(m_SubnetMaskCtrl, SubnetMaskValid, SubnetMask);
    ShowAddress(m_IpAddrCtrl, IpAddrValid, IpAddr);
    ShowAddress(m_GatewayCtrl, GatewayValid, Gateway);
    ShowAddress(m_Dns1Ctrl, Dns1Valid, Dns1);
    ShowAddress(m_Dns2Ctrl, Dns2Valid, Dns2);
}

void CEthernetConfigDlg::OnChangePassword()
{
    UpdateData(true);
    if (m_NewPasswordEdit != nullptr)
        m_NewPasswordEdit->setReadOnly(ChangePassword != 1);
}

void CEthernetConfigDlg::OnOK()
{
    UpdateData(true);
    const QByteArray hostName = HostNameText.toLatin1();
    if (!modules::isLegalHostName(std::string_view(hostName.constData(), static_cast<std::size_t>(hostName.size())))) {
        AfxMessageBox(FromFieldText(modules::kIllegalHostNameMessage), MB_OK);
        return;
    }
    IpAddr = ReadAddress(m_IpAddrCtrl);
    if (!modules::isAcceptableIpAddress(IpAddr)) {
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
    StoreFieldText(HostName, HostNameText);
}
