#include "dhcp/advancedsettingsdlg.h"

#include "dhcp/dhcpserver.h"
#include "resources/resourceids.h"

#include <QLabel>

namespace {

// The line sits under the buttons, with the template's own margin.
constexpr int kAnswersMarginDu = 5;

QString HexByte(std::uint8_t byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

CAdvancedSettingsDlg::CAdvancedSettingsDlg(QWidget* parent)
    : CDialog(IDD_ADVANCED_SETTINGS, parent)
{
}

void CAdvancedSettingsDlg::DoDataExchange(DataExchange& dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Check(dx, IDC_ENABLE_DHCP_SERVER, EnableDhcpServer);
}

QString CAdvancedSettingsDlg::AnswersText()
{
    const auto& prefix = CDhcpServer::kSupportedMacPrefix;
    const auto& net = CDhcpServer::kOfferedNetwork;
    const auto& mask = CDhcpServer::kOfferedSubnetMask;
    const QString network = QStringLiteral("%1.%2.%3").arg(net[0]).arg(net[1]).arg(net[2]);
    return QStringLiteral("Answers only modules whose MAC begins %1-%2-%3-...: each gets %4.x, x the MAC's last "
                          "byte (00 gets %4.%5, FF gets %4.%6), mask %7.%8.%9.%10.")
        .arg(HexByte(prefix[0]), HexByte(prefix[1]), HexByte(prefix[2]), network)
        .arg(CDhcpServer::kNetworkSubstitute)
        .arg(CDhcpServer::kBroadcastSubstitute)
        .arg(mask[0])
        .arg(mask[1])
        .arg(mask[2])
        .arg(mask[3]);
}

QString CAdvancedSettingsDlg::ShownAnswersText() const
{
    return m_answers != nullptr && m_answers->isVisibleTo(this) ? m_answers->text() : QString();
}

bool CAdvancedSettingsDlg::OnInitDialog()
{
    const bool result = CDialog::OnInitDialog();
    m_answers = new QLabel(AnswersText(), this);
    m_answers->setWordWrap(true);
    const QRect client = rect();
    const QRect margin = MapDialogRect({0, 0, kAnswersMarginDu, kAnswersMarginDu});
    const int width = client.width() - 2 * margin.width();
    const int height = m_answers->heightForWidth(width);
    m_answers->setGeometry(margin.width(), client.height(), width, height);
    const QSize grown(client.width(), client.height() + height + margin.height());
    if (minimumSize() == maximumSize())
        setFixedSize(grown);
    else
        resize(grown);
    m_answers->show();
    return result;
}
