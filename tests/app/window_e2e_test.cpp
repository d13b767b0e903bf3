// The window against simulated modules over real UDP, as a user sees it:
// the list after a scan, wink, and configuring a module by double-click,
// with a wrong and then the right password. Wire details belong to the
// library's own tests, the dialog's values in the request to the configure
// flow's (tests/configdialog); here the simulator's log says only what the
// module did. Runs inside scripts/isolated-net.

#include "app/moduleconfigdlg.h"
#include "app/qortapi.h"
#include "configdialog/ethernetconfigdlg.h"
#include "devicelist/columntexts.h"
#include "devicelist/devicelistctrl.h"
#include "protocol/qort.h"
#include "resources/resourceids.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/qtgtest.h"
#include "tests/support/simulatorprocess.h"
#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <atomic>
#include <regex>

using namespace std::chrono_literals;

namespace {

constexpr auto kSimulatorWait = 5000ms;
using testsupport::kGuiWaitMs;

std::atomic<int> g_scans{0};
std::atomic<int> g_responses{0};

// The linked library with scans and taken replies counted, so a test knows
// when a rescan went out and every reply was handled.
const QortApi& CountingApi()
{
    static const QortApi api{QORT_RegisterCallBack, QORT_Start, [] { return ++g_scans, QORT_SendModuleScan(); },
        QORT_SendConfigure, QORT_SendWink,
        [](QORT_ModuleScanResponseType* r) {
            const int taken = QORT_GetResponse(r);
            return g_responses += taken, taken;
        },
        QORT_GetInvPswdMacId, QORT_RemoveFirstInvPswdMacId};
    return api;
}

class WindowE2eTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testsupport::requireIsolatedNetwork(); }
    // A closed window's notices were dropped, but their entries stay queued
    // in the library; the next window would take those first.
    void SetUp() override
    {
        QORT_ModuleScanResponseType stale;
        while (QORT_GetResponse(&stale) == 1) { }
        std::uint8_t mac[QORT_MAC_SIZE];
        while (QORT_GetInvPswdMacId(mac) == 1)
            QORT_RemoveFirstInvPswdMacId();
        g_scans = 0;
        g_responses = 0;
    }
    // Starts the simulator and the window; true once `rows` modules are listed.
    bool Open(std::vector<std::string> args, int rows)
    {
        simulator = std::make_unique<testsupport::SimulatorProcess>(std::move(args));
        if (!simulator->start()) {
            ADD_FAILURE() << simulator->error();
            return false;
        }
        window.Create();
        return QTest::qWaitForWindowExposed(&window) && WaitFor([&] { return List()->GetItemCount() == rows; });
    }
    static bool WaitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, kGuiWaitMs); }
    CDeviceListCtrl* List() { return window.DeviceList(); }
    int RowOf(const QString& mac)
    {
        for (int row = 0; row < List()->GetItemCount(); ++row) {
            if (List()->GetItemText(row, devicelist::kColumnMac) == mac)
                return row;
        }
        return -1;
    }
    QString Text(const QString& mac, int column)
    {
        const int row = RowOf(mac);
        return row < 0 ? QString() : List()->GetItemText(row, column);
    }
    void Click(int id) { QTest::mouseClick(window.GetDlgItemAs<QAbstractButton>(id), Qt::LeftButton); }
    void Select(const QString& mac) { List()->setCurrentIndex(List()->model()->index(RowOf(mac), 0)); }
    bool Logged(const std::string& pattern, std::size_t from = 0)
    {
        return simulator->waitForLine(std::regex(pattern), kSimulatorWait, from).has_value();
    }
    // Double-clicks the module's Type cell; `script` plays the user in the
    // dialog. Returns when the dialog has closed.
    void Configure(const QString& mac, std::function<void(CEthernetConfigDlg&)> script)
    {
        const QRect cell = List()->visualRect(List()->model()->index(RowOf(mac), devicelist::kColumnType));
        ASSERT_TRUE(List()->viewport()->rect().contains(cell.center()));
        testsupport::WhenModal<CEthernetConfigDlg>(std::move(script));
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, cell.center());
    }
    std::unique_ptr<testsupport::SimulatorProcess> simulator;
    CModuleConfigDlg window{nullptr, CountingApi()};
    MessageBoxRecorder boxes;
};

void TypePasswordAndSet(CEthernetConfigDlg& d, const QString& password)
{
    auto* edit = d.GetDlgItemAs<QLineEdit>(IDC_PASSWORD);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, password);
    d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->PasteText(QStringLiteral("10.1.2.3"));
    QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
}

const char* const kPlain = "mac=00-30-11-00-00-21,fb=Modbus TCP,ip=192.168.0.10,sn=255.255.255.0,gw=192.168.0.1,"
                           "dhcp=off,pswd=off,hn=PLC1,-dns1,-dns2,protocol=1.10";
const char* const kOld = "mac=00-30-11-00-00-22,protocol=1.9,ip=192.168.0.11";
const char* const kProtected = "mac=00-30-11-00-00-23,fb=PROFINET,ip=192.168.0.12,sn=255.255.255.0,gw=192.168.0.1,"
                               "dhcp=off,hn=PLC2,dns1=192.168.0.2,-dns2,password=secret";

TEST_F(WindowE2eTest, TheListShowsEachModuleOnceAndScanRefillsIt)
{
    std::vector<std::string> args = testsupport::moduleArgs({kPlain, kOld, kProtected});
    args.emplace_back("--answer-twice");
    ASSERT_TRUE(Open(args, 3));
    EXPECT_TRUE(WaitFor([] { return g_responses == 6; })); // every reply taken, each module listed once
    EXPECT_EQ(List()->GetItemCount(), 3);
    EXPECT_EQ(Text("00-30-11-00-00-21", devicelist::kColumnIp), QStringLiteral("192.168.0.10"));
    EXPECT_EQ(Text("00-30-11-00-00-21", devicelist::kColumnType), QStringLiteral("Modbus TCP"));
    EXPECT_EQ(Text("00-30-11-00-00-21", devicelist::kColumnDhcp), QStringLiteral("Off"));
    EXPECT_EQ(List()->GetItemText(0, devicelist::kColumnIp), QStringLiteral("192.168.0.10")); // sorted by IP
    Click(IDC_SCAN);
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_TRUE(WaitFor([] { return g_responses == 12; }));
    EXPECT_EQ(List()->GetItemCount(), 3);
    EXPECT_EQ(g_scans, 2);
}

// Wink goes to the selected module only; nothing selected does nothing,
// and a module older than protocol 1.10 is refused with a box.
TEST_F(WindowE2eTest, WinkMakesTheSelectedModuleWink)
{
    ASSERT_TRUE(Open(testsupport::moduleArgs({kPlain, kOld}), 2));
    const std::size_t from = simulator->lineCount();
    Click(IDC_WINK);
    Select("00-30-11-00-00-22");
    Click(IDC_WINK);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Records()[0].text, QStringLiteral("Device does not support wink."));
    EXPECT_EQ(boxes.Records()[0].caption, QStringLiteral("SorvindaConfig"));
    EXPECT_EQ(boxes.Records()[0].Icon(), 0u);
    Select("00-30-11-00-00-21");
    Click(IDC_WINK);
    Click(IDC_SCAN); // logged after anything the clicks before it sent
    EXPECT_TRUE(Logged("^recv .*Module Scan", from));
    EXPECT_EQ(simulator->linesMatching([](const std::string& l) { return l.rfind("wink ", 0) == 0; }, from),
        std::vector<std::string>{"wink 00-30-11-00-00-21"});
    EXPECT_EQ(boxes.Count(), 1);
}

TEST_F(WindowE2eTest, AWrongPasswordIsReportedOnceAndTheRightOneReconfigures)
{
    ASSERT_TRUE(Open(testsupport::moduleArgs({kPlain, kProtected}), 2));
    const QString mac = QStringLiteral("00-30-11-00-00-23");
    bool passwordWritable = false;
    Configure(mac, [&](CEthernetConfigDlg& d) {
        passwordWritable = !d.GetDlgItemAs<QLineEdit>(IDC_PASSWORD)->isReadOnly();
        TypePasswordAndSet(d, QStringLiteral("nope"));
    });
    EXPECT_TRUE(passwordWritable);
    EXPECT_TRUE(Logged("^invalid-password 00-30-11-00-00-23"));
    ASSERT_TRUE(WaitFor([&] { return boxes.Count() == 1; }));
    EXPECT_EQ(boxes.Records()[0].text, QStringLiteral("Invalid password"));
    EXPECT_EQ(boxes.Records()[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(g_scans, 1); // refused: no rescan, the module keeps its address
    EXPECT_EQ(Text(mac, devicelist::kColumnIp), QStringLiteral("192.168.0.12"));

    Configure(mac, [&](CEthernetConfigDlg& d) { TypePasswordAndSet(d, QStringLiteral("secret")); });
    EXPECT_TRUE(Logged("^applied 00-30-11-00-00-23 ip=10\\.1\\.2\\.3"));
    EXPECT_TRUE(WaitFor([&] { return Text(mac, devicelist::kColumnIp) == "10.1.2.3"; }));
    EXPECT_EQ(Text("00-30-11-00-00-21", devicelist::kColumnIp), QStringLiteral("192.168.0.10")); // untouched
    EXPECT_EQ(boxes.Count(), 1);
}

} // namespace
