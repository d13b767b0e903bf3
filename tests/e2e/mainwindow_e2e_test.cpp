// The windowed program's main window against simulated modules over real
// UDP, inside the isolated network: scan cycle, duplicates, rescans after a
// reconfiguration, rejected passwords and wink.

#include "app/moduleconfigdlg.h"
#include "app/qortapi.h"
#include "devicelist/devicelistctrl.h"
#include "protocol/qort.h"
#include "resources/resourceids.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <regex>

using namespace std::chrono_literals;

namespace {

// Generous: sanitizer builds on a shared two-core machine are slow.
constexpr int kWaitMs = 5000;
constexpr auto kSimulatorWait = 5000ms;

const char* const kWinkModule = "mac=00-30-11-00-00-01,protocol=1.10,ip=192.168.0.10";
const char* const kOldModule = "mac=00-30-11-00-00-02,protocol=1.9,ip=192.168.0.11";
const char* const kProtectedModule = "mac=00-30-11-00-00-03,protocol=1.10,ip=192.168.0.12,password=secret";
const devicelist::MacAddress kProtectedMac{0x00, 0x30, 0x11, 0x00, 0x00, 0x03};

// The linked library, with the replies the window took and the scans it
// sent counted, so a test knows when every reply has been handled.
std::atomic<int> g_responsesTaken{0};
std::atomic<int> g_scansSent{0};
std::atomic<int> g_winksSent{0};

const QortApi& CountingApi()
{
    static const QortApi api{
        QORT_RegisterCallBack,
        QORT_Start,
        [] { return ++g_scansSent, QORT_SendModuleScan(); },
        QORT_SendConfigure,
        [](const QORT_ConfigureRequestType* r) { ++g_winksSent, QORT_SendWink(r); },
        [](QORT_ModuleScanResponseType* r) {
            const int taken = QORT_GetResponse(r);
            g_responsesTaken += taken;
            return taken;
        },
        QORT_GetInvPswdMacId,
        QORT_RemoveFirstInvPswdMacId,
    };
    return api;
}

int RowOf(CDeviceListCtrl* list, const QString& mac)
{
    for (int row = 0; row < list->GetItemCount(); ++row) {
        if (list->GetItemText(row, 6) == mac)
            return row;
    }
    return -1;
}

QORT_ConfigureRequestType RequestFor(const devicelist::MacAddress& mac, const char* password)
{
    QORT_ConfigureRequestType request;
    std::memset(&request, 0, sizeof request);
    std::copy(mac.begin(), mac.end(), request.MacId);
    std::strncpy(request.Password, password, sizeof request.Password - 1);
    request.IpAddr = request.SubnetMask = request.Gateway = QORT_ADDR_NOT_GIVEN;
    request.Dns1 = request.Dns2 = QORT_ADDR_NOT_GIVEN;
    request.Dhcp = 2; // leave DHCP as it is
    return request;
}

bool Matches(const std::string& line, const char* pattern)
{
    return std::regex_search(line, std::regex(pattern));
}

} // namespace

class MainWindowE2eTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::requireIsolatedNetwork(); }
    // Notices of an earlier test's window were dropped with it, but their
    // entries stay queued in the library (one is taken per notice); a new
    // window would take those first.
    void init()
    {
        QORT_ModuleScanResponseType stale;
        while (QORT_GetResponse(&stale) == 1) { }
        std::uint8_t mac[QORT_MAC_SIZE];
        while (QORT_GetInvPswdMacId(mac) == 1) {
            QORT_RemoveFirstInvPswdMacId();
        }
        g_responsesTaken = 0;
        g_scansSent = 0;
    }

    void firstScanFillsTheList();
    void moduleAnsweringTwiceIsShownOnce();
    void scanClearsAndRefills();
    void reconfiguredReplyTriggersRescan();
    void twoInvalidPasswordNoticesGiveTwoBoxes();
    void winkOnProtocol110ModuleSendsTheWinkText();
    void winkOnProtocol19ModuleShowsTheMessage();
};

void MainWindowE2eTest::firstScanFillsTheList()
{
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kWinkModule, kOldModule, kProtectedModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    CModuleConfigDlg dlg(nullptr, CountingApi());
    dlg.Create();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.DeviceList()->GetItemCount(), 3, kWaitMs);
    QVERIFY(RowOf(dlg.DeviceList(), "00-30-11-00-00-01") >= 0);
    QVERIFY(RowOf(dlg.DeviceList(), "00-30-11-00-00-02") >= 0);
    QVERIFY(RowOf(dlg.DeviceList(), "00-30-11-00-00-03") >= 0);
    QVERIFY(simulator.waitForLine(std::regex("^recv .*\"Module Scan\\\\x00\""), kSimulatorWait));
}

void MainWindowE2eTest::moduleAnsweringTwiceIsShownOnce()
{
    std::vector<std::string> args = testsupport::moduleArgs({kWinkModule, kOldModule});
    args.emplace_back("--answer-twice");
    testsupport::SimulatorProcess simulator(args);
    QVERIFY2(simulator.start(), simulator.error().c_str());
    CModuleConfigDlg dlg(nullptr, CountingApi());
    dlg.Create();
    // Every one of the four replies has been taken and handed to the list.
    QTRY_COMPARE_WITH_TIMEOUT(g_responsesTaken.load(), 4, kWaitMs);
    QCOMPARE(dlg.DeviceList()->GetItemCount(), 2);
}

void MainWindowE2eTest::scanClearsAndRefills()
{
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kWinkModule, kOldModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    CModuleConfigDlg dlg(nullptr, CountingApi());
    dlg.Create();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.DeviceList()->GetItemCount(), 2, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(g_responsesTaken.load(), 2, kWaitMs);

    QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDC_SCAN), Qt::LeftButton);
    QCOMPARE(dlg.DeviceList()->GetItemCount(), 0);
    QCOMPARE(g_scansSent.load(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(g_responsesTaken.load(), 4, kWaitMs);
    QCOMPARE(dlg.DeviceList()->GetItemCount(), 2);
}

void MainWindowE2eTest::reconfiguredReplyTriggersRescan()
{
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kWinkModule, kProtectedModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    CModuleConfigDlg dlg(nullptr, CountingApi());
    dlg.Create();
    QTRY_COMPARE_WITH_TIMEOUT(g_responsesTaken.load(), 2, kWaitMs);
    QCOMPARE(g_scansSent.load(), 1);

    const auto request = RequestFor(kProtectedMac, "secret");
    QORT_SendConfigure(&request);
    QVERIFY(simulator.waitForLine(std::regex("^applied 00-30-11-00-00-03"), kSimulatorWait));
    // The rescan clears the list as it sends; the library's own Configure
    // request, heard back on its socket, counts as one more (MAC-less) reply,
    // so the rows tell when the modules' answers are in.
    QTRY_COMPARE_WITH_TIMEOUT(g_scansSent.load(), 2, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(dlg.DeviceList()->GetItemCount(), 2, kWaitMs);
    QVERIFY(simulator.waitForLines(
        [](const std::string& l) { return Matches(l, "^recv .*Module Scan"); }, 2, kSimulatorWait));
}

void MainWindowE2eTest::twoInvalidPasswordNoticesGiveTwoBoxes()
{
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kProtectedModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    MessageBoxRecorder boxes;
    CModuleConfigDlg dlg(nullptr, CountingApi());
    dlg.Create();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.DeviceList()->GetItemCount(), 1, kWaitMs);

    dlg.DeviceList()->SetLastConfiguredMac(kProtectedMac);
    const auto wrong = RequestFor(kProtectedMac, "wrong");
    QORT_SendConfigure(&wrong);
    QORT_SendConfigure(&wrong);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.Count(), 2, kWaitMs);
    for (const MessageBoxRequest& box : boxes.Records()) {
        QCOMPARE(box.text, QString("Invalid password"));
        QCOMPARE(box.caption, QString("Warning"));
        QCOMPARE(box.Icon(), MB_ICONEXCLAMATION);
    }
    std::uint8_t mac[QORT_MAC_SIZE];
    QCOMPARE(QORT_GetInvPswdMacId(mac), 0); // each box removed its entry
    QCOMPARE(simulator.linesMatching([](const std::string& l) { return Matches(l, "^invalid-password "); }).size(),
        std::size_t(2));
}

void MainWindowE2eTest::winkOnProtocol110ModuleSendsTheWinkText()
{
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kWinkModule, kOldModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    MessageBoxRecorder boxes;
    CModuleConfigDlg dlg(nullptr, CountingApi());
    dlg.Create();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.DeviceList()->GetItemCount(), 2, kWaitMs);

    const int row = RowOf(dlg.DeviceList(), "00-30-11-00-00-01");
    dlg.DeviceList()->setCurrentIndex(dlg.DeviceList()->model()->index(row, 0));
    const std::size_t from = simulator.lineCount();
    QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDC_WINK), Qt::LeftButton);
    QVERIFY(simulator.waitForLine(std::regex("^recv .*\"To: 00-30-11-00-00-01;WINK;\\\\x00\""), kSimulatorWait, from));
    QVERIFY(simulator.waitForLine(std::regex("^wink 00-30-11-00-00-01"), kSimulatorWait, from));
    QCOMPARE(boxes.Count(), 0);
}

void MainWindowE2eTest::winkOnProtocol19ModuleShowsTheMessage()
{
    testsupport::SimulatorProcess simulator(testsupport::moduleArgs({kWinkModule, kOldModule}));
    QVERIFY2(simulator.start(), simulator.error().c_str());
    MessageBoxRecorder boxes;
    CModuleConfigDlg dlg(nullptr, CountingApi());
    dlg.Create();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.DeviceList()->GetItemCount(), 2, kWaitMs);

    const int row = RowOf(dlg.DeviceList(), "00-30-11-00-00-02");
    dlg.DeviceList()->setCurrentIndex(dlg.DeviceList()->model()->index(row, 0));
    const int winksBefore = g_winksSent;
    const std::size_t from = simulator.lineCount();
    QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDC_WINK), Qt::LeftButton);
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Records()[0].text, QString("Device does not support wink."));
    QCOMPARE(boxes.Records()[0].caption, QString("SorvindaConfig"));
    QCOMPARE(g_winksSent.load(), winksBefore);
    // Nothing went out: a later scan is the next thing the modules hear.
    QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDC_SCAN), Qt::LeftButton);
    const auto next = simulator.waitForLine(std::regex("^recv "), kSimulatorWait, from);
    QVERIFY(next.has_value());
    QVERIFY2(next->find("Module Scan") != std::string::npos, next->c_str());
}

QTEST_MAIN(MainWindowE2eTest)
#include "mainwindow_e2e_test.moc"
