// Configuring a simulated module through the program, as a user would:
// double-click its row, edit the dialog, press Set. The simulator logs every
// datagram it receives, so the exact Configure text is checked on the wire;
// its "Reconfigured:" answer must make the window rescan and show the new
// address. Runs inside scripts/isolated-net (the program links libqort).

#include "app/moduleconfigdlg.h"
#include "app/qortapi.h"
#include "configdialog/ethernetconfigdlg.h"
#include "devicelist/columntexts.h"
#include "devicelist/devicelistctrl.h"
#include "protocol/qort.h"
#include "resources/resourceids.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <regex>
#include <string>

using namespace std::chrono_literals;

namespace {

// Generous: sanitizer builds on a shared two-core machine are slow.
constexpr int kWaitMs = 5000;
constexpr auto kSimulatorWait = 5000ms;
constexpr int kGiveUpMs = 20000;

constexpr const char* kPlainMac = "00-30-11-00-00-21";
constexpr const char* kPlainModule =
    "mac=00-30-11-00-00-21,fb=Modbus TCP,ip=192.168.0.10,sn=255.255.255.0,gw=192.168.0.1,"
    "dhcp=off,pswd=off,hn=PLC1,-dns1,-dns2";
constexpr const char* kProtectedMac = "00-30-11-00-00-22";
constexpr const char* kProtectedModule =
    "mac=00-30-11-00-00-22,fb=PROFINET,ip=192.168.0.11,sn=255.255.255.0,gw=192.168.0.1,"
    "dhcp=off,hn=PLC2,dns1=192.168.0.2,-dns2,password=secret";

std::atomic<int> g_scansSent{0};

// The linked library with the scans counted, so a test can tell a rescan.
const QortApi& CountingApi()
{
    static const QortApi api{
        QORT_RegisterCallBack,
        QORT_Start,
        [] { return ++g_scansSent, QORT_SendModuleScan(); },
        QORT_SendConfigure,
        QORT_SendWink,
        QORT_GetResponse,
        QORT_GetInvPswdMacId,
        QORT_RemoveFirstInvPswdMacId,
    };
    return api;
}

int RowOf(CDeviceListCtrl* list, const char* mac)
{
    for (int row = 0; row < list->GetItemCount(); ++row) {
        if (list->GetItemText(row, devicelist::kColumnMac) == QLatin1String(mac))
            return row;
    }
    return -1;
}

QString IpOf(CDeviceListCtrl* list, const char* mac)
{
    const int row = RowOf(list, mac);
    return row < 0 ? QString() : list->GetItemText(row, devicelist::kColumnIp);
}

// Datagrams the simulator received (from the program) whose bytes begin
// with prefix, from line index `from` on.
std::vector<std::string> ReceivedStartingWith(
    const testsupport::SimulatorProcess& simulator, const std::string& prefix, std::size_t from = 0)
{
    std::vector<std::string> found;
    for (const std::string& line : simulator.lines()) {
        if (from > 0) {
            --from;
            continue;
        }
        const auto datagram = testsupport::parseDatagramLine(line);
        if (datagram && datagram->direction == "recv" && datagram->bytes.rfind(prefix, 0) == 0) {
            found.push_back(datagram->bytes);
        }
    }
    return found;
}

// The dialog the double-click opens, scripted from inside its modal loop.
// A dialog still open after kGiveUpMs is cancelled, so nothing can hang.
void WhenDialogShows(QObject* context, std::function<void(CEthernetConfigDlg&)> script)
{
    QTimer::singleShot(0, context, [script = std::move(script)] {
        CEthernetConfigDlg* dialog = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] {
                dialog = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget());
                return dialog != nullptr && dialog->isVisible();
            },
            kWaitMs);
        QVERIFY2(shown, "the configuration dialog did not come up");
        // Keys go to the active window: make sure it is the dialog, not the
        // main window behind it.
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        script(*dialog);
    });
    QTimer::singleShot(kGiveUpMs, context, [] {
        if (auto* dialog = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget()))
            dialog->EndDialog(IDCANCEL);
    });
}

// Types an address into the control one key at a time, as a user would.
void TypeAddress(CEthernetConfigDlg& d, int id, const QString& dotted)
{
    auto* control = d.GetDlgItemAs<IpAddressEdit>(id);
    QVERIFY(control != nullptr);
    control->ClearAddress();
    control->SetFieldFocus(0);
    for (const QChar c : dotted) {
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus != nullptr && control->isAncestorOf(focus));
        QTest::keyClick(focus, c.toLatin1());
    }
}

void TypeText(CEthernetConfigDlg& d, int id, const QString& text)
{
    auto* edit = d.GetDlgItemAs<QLineEdit>(id);
    QVERIFY(edit != nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void Click(CEthernetConfigDlg& d, int id)
{
    auto* button = d.GetDlgItemAs<QAbstractButton>(id);
    QVERIFY(button != nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class ConfigureE2eTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::requireIsolatedNetwork(); }
    void init();
    void cleanup();

    void setNewIpSendsConfigureAndListShowsItAfterRescan();
    void wrongPasswordIsReportedThenRightPasswordReconfigures();
    void cancelSendsNothing();

private:
    // Shows the main window and waits until the module with mac is listed.
    bool OpenWindowWith(CModuleConfigDlg& window, const char* mac);
    void DoubleClickTypeColumn(CModuleConfigDlg& window, const char* mac);

    QObject* m_timers = nullptr;
};

void ConfigureE2eTest::init()
{
    // A previous test's window is gone, but entries it did not take stay
    // queued in the library; the next window would take those first.
    QORT_ModuleScanResponseType stale;
    while (QORT_GetResponse(&stale) == 1) { }
    std::uint8_t mac[QORT_MAC_SIZE];
    while (QORT_GetInvPswdMacId(mac) == 1)
        QORT_RemoveFirstInvPswdMacId();
    g_scansSent = 0;
    m_timers = new QObject;
}

void ConfigureE2eTest::cleanup()
{
    delete m_timers;
    m_timers = nullptr;
}

bool ConfigureE2eTest::OpenWindowWith(CModuleConfigDlg& window, const char* mac)
{
    window.Create();
    return QTest::qWaitForWindowExposed(&window)
        && QTest::qWaitFor([&] { return RowOf(window.DeviceList(), mac) >= 0; }, kWaitMs);
}

void ConfigureE2eTest::DoubleClickTypeColumn(CModuleConfigDlg& window, const char* mac)
{
    CDeviceListCtrl* list = window.DeviceList();
    const int row = RowOf(list, mac);
    QVERIFY(row >= 0);
    const QRect cell = list->visualRect(list->model()->index(row, devicelist::kColumnType));
    QVERIFY(list->viewport()->rect().contains(cell.center()));
    // Runs the whole modal dialog; returns when it has closed.
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

void ConfigureE2eTest::setNewIpSendsConfigureAndListShowsItAfterRescan()
{
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kPlainModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    CModuleConfigDlg window(nullptr, CountingApi());
    QVERIFY(OpenWindowWith(window, kPlainMac));
    QCOMPARE(IpOf(window.DeviceList(), kPlainMac), QStringLiteral("192.168.0.10"));
    const int scansBefore = g_scansSent;

    QString title;
    WhenDialogShows(m_timers, [&](CEthernetConfigDlg& d) {
        title = d.windowTitle();
        TypeAddress(d, IDC_IPADDRESS, QStringLiteral("192.168.0.42"));
        Click(d, IDOK);
    });
    DoubleClickTypeColumn(window, kPlainMac);
    QCOMPARE(title, QStringLiteral("Configure: 00-30-11-00-00-21"));

    // Unreported DNS servers go out as 0.0.0.0; the host name as it was shown.
    const std::string expected =
        std::string("Configure: 00-30-11-00-00-21;IP = 192.168.0.42;SN = 255.255.255.0;GW = 192.168.0.1;"
                    "DHCP = OFF;HN = PLC1;DNS1 = 0.0.0.0;DNS2 = 0.0.0.0;")
        + '\0';
    QVERIFY(simulator.waitForLine(std::regex("^applied 00-30-11-00-00-21 ip=192\\.168\\.0\\.42"), kSimulatorWait));
    const std::vector<std::string> sent = ReceivedStartingWith(simulator, "Configure:");
    QCOMPARE(sent.size(), std::size_t{1});
    QCOMPARE(QByteArray::fromStdString(sent.front()), QByteArray::fromStdString(expected));

    // "Reconfigured:" makes the window clear the list and scan again.
    QTRY_VERIFY_WITH_TIMEOUT(g_scansSent > scansBefore, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(IpOf(window.DeviceList(), kPlainMac), QStringLiteral("192.168.0.42"), kWaitMs);
}

void ConfigureE2eTest::wrongPasswordIsReportedThenRightPasswordReconfigures()
{
    MessageBoxRecorder boxes;
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kPlainModule, kProtectedModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    CModuleConfigDlg window(nullptr, CountingApi());
    QVERIFY(OpenWindowWith(window, kProtectedMac));
    QVERIFY(QTest::qWaitFor([&] { return RowOf(window.DeviceList(), kPlainMac) >= 0; }, kWaitMs));
    const int scansBefore = g_scansSent;

    bool passwordWritable = false;
    WhenDialogShows(m_timers, [&](CEthernetConfigDlg& d) {
        passwordWritable = !d.GetDlgItemAs<QLineEdit>(IDC_PASSWORD)->isReadOnly();
        TypeText(d, IDC_PASSWORD, QStringLiteral("nope"));
        TypeAddress(d, IDC_IPADDRESS, QStringLiteral("10.1.2.3"));
        Click(d, IDOK);
    });
    DoubleClickTypeColumn(window, kProtectedMac);
    QVERIFY(passwordWritable);

    QTRY_COMPARE_WITH_TIMEOUT(boxes.Count(), 1, kWaitMs);
    QCOMPARE(boxes.Records().front().text, QStringLiteral("Invalid password"));
    QCOMPARE(boxes.Records().front().caption, QStringLiteral("Warning"));
    QCOMPARE(boxes.Records().front().Icon(), MB_ICONEXCLAMATION);
    QVERIFY(simulator.waitForLine(std::regex("^invalid-password 00-30-11-00-00-22 password=wrong"), kSimulatorWait));
    const std::string refused =
        std::string("Configure: 00-30-11-00-00-22;Password: nope;IP = 10.1.2.3;SN = 255.255.255.0;GW = 192.168.0.1;"
                    "DHCP = OFF;HN = PLC2;DNS1 = 192.168.0.2;DNS2 = 0.0.0.0;")
        + '\0';
    std::vector<std::string> sent = ReceivedStartingWith(simulator, "Configure:");
    QCOMPARE(sent.size(), std::size_t{1});
    QCOMPARE(QByteArray::fromStdString(sent.front()), QByteArray::fromStdString(refused));
    // Refused: no rescan, the module keeps its address.
    QCOMPARE(g_scansSent.load(), scansBefore);
    QCOMPARE(IpOf(window.DeviceList(), kProtectedMac), QStringLiteral("192.168.0.11"));

    WhenDialogShows(m_timers, [&](CEthernetConfigDlg& d) {
        TypeText(d, IDC_PASSWORD, QStringLiteral("secret"));
        TypeAddress(d, IDC_IPADDRESS, QStringLiteral("10.1.2.3"));
        Click(d, IDOK);
    });
    DoubleClickTypeColumn(window, kProtectedMac);
    QVERIFY(simulator.waitForLine(std::regex("^applied 00-30-11-00-00-22 ip=10\\.1\\.2\\.3"), kSimulatorWait));
    QTRY_COMPARE_WITH_TIMEOUT(IpOf(window.DeviceList(), kProtectedMac), QStringLiteral("10.1.2.3"), kWaitMs);
    QVERIFY(g_scansSent > scansBefore);
    QCOMPARE(boxes.Count(), 1);
    // The other module was not touched.
    QCOMPARE(IpOf(window.DeviceList(), kPlainMac), QStringLiteral("192.168.0.10"));
}

void ConfigureE2eTest::cancelSendsNothing()
{
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kPlainModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    CModuleConfigDlg window(nullptr, CountingApi());
    QVERIFY(OpenWindowWith(window, kPlainMac));
    const std::size_t linesBefore = simulator.lineCount();

    bool ran = false;
    WhenDialogShows(m_timers, [&](CEthernetConfigDlg& d) {
        ran = true;
        TypeAddress(d, IDC_IPADDRESS, QStringLiteral("192.168.0.77"));
        Click(d, IDCANCEL);
    });
    DoubleClickTypeColumn(window, kPlainMac);
    QVERIFY(ran);

    // A scan sent after the Cancel is a marker: once the simulator has it,
    // anything the Cancel had sent would have arrived before it.
    window.OnScan();
    QVERIFY(simulator.waitForLine(std::regex("^recv .*\"Module Scan"), kSimulatorWait, linesBefore));
    QVERIFY(ReceivedStartingWith(simulator, "Configure:").empty());
    QVERIFY(!window.DeviceList()->GetLastConfiguredMac().has_value());
    QTRY_COMPARE_WITH_TIMEOUT(IpOf(window.DeviceList(), kPlainMac), QStringLiteral("192.168.0.10"), kWaitMs);
}

QTEST_MAIN(ConfigureE2eTest)
#include "configure_e2e_test.moc"
