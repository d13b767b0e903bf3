// The configure flow on a real device list: a double-click anywhere across
// a row opens the dialog for that module, "Set" records the module as last
// configured and hands exactly one request to the sender, Cancel sends
// nothing. The sender is a recorder, so no libqort is loaded here.

#include "configdialog/ethernetconfigdlg.h"
#include "devicelist/columntexts.h"
#include "devicelist/configureflow.h"
#include "devicelist/devicelistctrl.h"
#include "resources/resourceids.h"
#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr const char* kColumnSpec = "IP,90;SN,90;GW,90;DHCP,50;Version,50;Type,114;MAC,115";
constexpr int kWaitMs = 2000;
constexpr int kGiveUpMs = 5000;

using devicelist::MacAddress;

QORT_ModuleScanResponseType Module(std::uint8_t macLast, std::uint32_t ip, const char* type)
{
    QORT_ModuleScanResponseType r;
    std::memset(&r, 0xFF, sizeof r);
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, 0x00, 0x00, macLast};
    std::memcpy(r.MacId, mac, sizeof mac);
    r.MacIdValid = 1;
    r.IpAddr = ip;
    r.IpAddrValid = 1;
    r.SubnetMask = 0xFFFFFF00u;
    r.SubnetMaskValid = 1;
    r.Gateway = ip & 0xFFFFFF00u;
    r.Gateway |= 1;
    r.GatewayValid = 1;
    r.Dns1Valid = 0; // no DNS servers reported
    r.Dns2Valid = 0;
    r.Dhcp = 1;
    r.DhcpValid = 1;
    r.Pswd = 0;
    r.PswdValid = 1;
    std::memset(r.FbType, 0, sizeof r.FbType);
    std::strncpy(r.FbType, type, sizeof r.FbType - 1);
    r.FbTypeValid = 1;
    std::memset(r.HostName, 0, sizeof r.HostName);
    std::strncpy(r.HostName, "plc", sizeof r.HostName - 1);
    r.HostNameValid = 1;
    r.ProtocolVersionValid = 0;
    r.ModuleVersionValid = 0;
    return r;
}

MacAddress MacOf(const QORT_ModuleScanResponseType& r)
{
    MacAddress mac;
    std::memcpy(mac.data(), r.MacId, mac.size());
    return mac;
}

MacAddress MacOf(const QORT_ConfigureRequestType& r)
{
    MacAddress mac;
    std::memcpy(mac.data(), r.MacId, mac.size());
    return mac;
}

// Runs script on the configuration dialog once it is the active modal
// window. A dialog still open after kGiveUpMs is cancelled, so a failing
// test cannot hang. The timers die with context, so none outlives its test.
void WhenDialogShows(QObject* context, std::function<void(CEthernetConfigDlg&)> script)
{
    QTimer::singleShot(0, context, [script = std::move(script)] {
        CEthernetConfigDlg* dialog = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] {
                dialog = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget());
                return dialog != nullptr;
            },
            kWaitMs);
        QVERIFY2(shown, "the configuration dialog did not come up");
        script(*dialog);
    });
    QTimer::singleShot(kGiveUpMs, context, [] {
        if (auto* dialog = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget()))
            dialog->EndDialog(IDCANCEL);
    });
}

// While it lives, cancels any configuration dialog that comes up and counts
// it: for the cases in which none may appear.
class DialogTrap {
public:
    DialogTrap()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget())) {
                ++opened_;
                dialog->EndDialog(IDCANCEL);
            }
        });
        timer_.start(kPollMs);
    }
    int Opened() const { return opened_; }

private:
    static constexpr int kPollMs = 10;
    QTimer timer_;
    int opened_ = 0;
};

void Click(CEthernetConfigDlg& d, int id)
{
    auto* button = d.GetDlgItemAs<QAbstractButton>(id);
    QVERIFY(button != nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class ConfigureFlowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void doubleClickInTypeColumnConfiguresThatRow();
    void doubleClickBelowLastRowDoesNothing();
    void rowWithoutModuleDoesNothing();
    void cancelSendsNothingAndKeepsLastMac();
    void lastMacIsThatOfTheLatestConfirmedRequest();
    void rescanWhileDialogOpenStillSendsTheFoundModule();

private:
    void DoubleClickCell(int row, int column);
    void WhenDialogShows(std::function<void(CEthernetConfigDlg&)> script)
    {
        ::WhenDialogShows(m_timers, std::move(script));
    }
    QORT_ConfigureRequestType LastSent() const { return m_sent.back(); }

    CDeviceListCtrl* m_list = nullptr;
    QObject* m_timers = nullptr;
    std::vector<QORT_ConfigureRequestType> m_sent;
    const QORT_ModuleScanResponseType m_first = Module(0x01, 0xC0A8000Au, "PROFIBUS"); // 192.168.0.10
    const QORT_ModuleScanResponseType m_second = Module(0x02, 0xC0A80014u, "CANopen"); // 192.168.0.20
};

void ConfigureFlowTest::init()
{
    m_sent.clear();
    m_timers = new QObject;
    m_list = new CDeviceListCtrl;
    m_list->resize(700, 300);
    m_list->InitColumns(kColumnSpec);
    m_list->AddModule(m_first);
    m_list->AddModule(m_second);
    devicelist::AttachConfigureFlow(*m_list, [this](const QORT_ConfigureRequestType& r) { m_sent.push_back(r); });
    m_list->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_list));
}

void ConfigureFlowTest::cleanup()
{
    delete m_timers;
    m_timers = nullptr;
    delete m_list;
    m_list = nullptr;
}

void ConfigureFlowTest::DoubleClickCell(int row, int column)
{
    const QModelIndex index = m_list->model()->index(row, column);
    const QPoint point = m_list->visualRect(index).center();
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, Qt::NoModifier, point);
}

void ConfigureFlowTest::doubleClickInTypeColumnConfiguresThatRow()
{
    // Rows are sorted by IP, so row 1 is the second module.
    QCOMPARE(m_list->GetItemText(1, devicelist::kColumnType), QStringLiteral("CANopen"));
    QString title;
    std::uint32_t shownIp = 0;
    bool dns1Enabled = true;
    bool dhcpOn = false;
    WhenDialogShows([&](CEthernetConfigDlg& d) {
        title = d.windowTitle();
        auto* ip = d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS);
        ip->GetAddress(shownIp);
        dns1Enabled = d.GetDlgItem(IDC_DNS1)->isEnabled();
        dhcpOn = d.GetDlgItemAs<QAbstractButton>(IDC_DHCP_ON)->isChecked();
        ip->SetAddress(0xC0A80063u); // 192.168.0.99
        Click(d, IDOK);
    });
    DoubleClickCell(1, devicelist::kColumnType);

    QCOMPARE(title, QStringLiteral("Configure: 00-30-11-00-00-02"));
    QCOMPARE(shownIp, 0xC0A80014u);
    QVERIFY(!dns1Enabled);
    QVERIFY(dhcpOn);
    QCOMPARE(m_sent.size(), std::size_t{1});
    const QORT_ConfigureRequestType sent = LastSent();
    QVERIFY(MacOf(sent) == MacOf(m_second));
    QCOMPARE(sent.IpAddr, 0xC0A80063u);
    QCOMPARE(sent.SubnetMask, 0xFFFFFF00u);
    QCOMPARE(sent.Gateway, 0xC0A80001u);
    QCOMPARE(sent.Dns1, 0u);
    QCOMPARE(sent.Dns2, 0u);
    QCOMPARE(sent.Dhcp, std::uint8_t{1});
    QCOMPARE(sent.ChangePassword, std::uint8_t{0});
    QCOMPARE(QByteArray(sent.Password), QByteArray());
    QCOMPARE(QByteArray(sent.HostName), QByteArray("plc"));
    QVERIFY(m_list->GetLastConfiguredMac() == MacOf(m_second));
    // The flow neither rescans nor changes the row.
    QCOMPARE(m_list->GetItemText(1, devicelist::kColumnIp), QStringLiteral("192.168.0.20"));
}

void ConfigureFlowTest::doubleClickBelowLastRowDoesNothing()
{
    DialogTrap trap;
    QTest::mouseDClick(
        m_list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(50, m_list->viewport()->height() - 5));
    QCOMPARE(trap.Opened(), 0);
    QVERIFY(m_sent.empty());
    QVERIFY(!m_list->GetLastConfiguredMac().has_value());
}

void ConfigureFlowTest::rowWithoutModuleDoesNothing()
{
    DialogTrap trap;
    const bool sent =
        devicelist::RunConfigureFlow(*m_list, 99, [this](const QORT_ConfigureRequestType& r) { m_sent.push_back(r); });
    QVERIFY(!sent);
    QCOMPARE(trap.Opened(), 0);
    QVERIFY(m_sent.empty());
}

void ConfigureFlowTest::cancelSendsNothingAndKeepsLastMac()
{
    WhenDialogShows([](CEthernetConfigDlg& d) { Click(d, IDOK); });
    DoubleClickCell(0, devicelist::kColumnMac);
    QCOMPARE(m_sent.size(), std::size_t{1});

    bool ran = false;
    WhenDialogShows([&ran](CEthernetConfigDlg& d) {
        ran = true;
        d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->SetAddress(0x0A000001u);
        Click(d, IDCANCEL);
    });
    DoubleClickCell(1, devicelist::kColumnIp);
    QVERIFY(ran);
    QCOMPARE(m_sent.size(), std::size_t{1});
    QVERIFY(m_list->GetLastConfiguredMac() == MacOf(m_first));
}

void ConfigureFlowTest::lastMacIsThatOfTheLatestConfirmedRequest()
{
    WhenDialogShows([](CEthernetConfigDlg& d) { Click(d, IDOK); });
    DoubleClickCell(0, devicelist::kColumnDhcp);
    WhenDialogShows([](CEthernetConfigDlg& d) { Click(d, IDOK); });
    DoubleClickCell(1, devicelist::kColumnDhcp);
    QCOMPARE(m_sent.size(), std::size_t{2});
    QVERIFY(MacOf(m_sent[0]) == MacOf(m_first));
    QVERIFY(MacOf(m_sent[1]) == MacOf(m_second));
    QVERIFY(m_list->GetLastConfiguredMac() == MacOf(m_second));
}

void ConfigureFlowTest::rescanWhileDialogOpenStillSendsTheFoundModule()
{
    const QORT_ModuleScanResponseType stranger = Module(0x03, 0x0A000001u, "Modbus");
    WhenDialogShows([&](CEthernetConfigDlg& d) {
        // What a "Reconfigured:" notice from another module does meanwhile.
        m_list->ClearModules();
        m_list->AddModule(stranger);
        Click(d, IDOK);
    });
    DoubleClickCell(0, devicelist::kColumnType);
    QCOMPARE(m_sent.size(), std::size_t{1});
    QVERIFY(MacOf(m_sent[0]) == MacOf(m_first));
    QCOMPARE(m_sent[0].IpAddr, 0xC0A8000Au);
    QVERIFY(m_list->GetLastConfiguredMac() == MacOf(m_first));
}

QTEST_MAIN(ConfigureFlowTest)
#include "tst_configureflow.moc"
