// The main window. First over a stand-in library table that counts the
// calls and serves queues the test fills, so the window's own decisions are
// seen; then end to end over the real libqort against the module
// simulator, and with a scan that cannot be sent; and the files the program
// runs with: its own version resource and the libqort the loader bound.
// The program links libqort (its load-time set-up binds UDP 3250), so this
// runs in the isolated network.

#include "app/librarynotifyevent.h"
#include "app/libraryversion.h"
#include "app/moduleconfigdlg.h"
#include "app/qortapi.h"
#include "app/versionmessagebox.h"
#include "commissioning/scanwarnings.h"
#include "configdialog/ethernetconfigdlg.h"
#include "devicelist/devicelistctrl.h"
#include "modules/columntexts.h"
#include "plandialog/plandialog.h"
#include "protocol/qort.h"
#include "resources/resourceids.h"
#include "tests/modules/records.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/qtgtest.h"
#include "tests/support/simulatorprocess.h"
#include "ui/ipaddressedit.h"
#include "ui/messagebox.h"
#include "versioninfo/cvfxversiondata.h"
#include "versioninfo/cvfxversioninfo.h"

#include <QAbstractButton>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <thread>

namespace {

using testrecords::Record;

struct FakeLibrary {
    std::vector<std::string> calls; // register, start, scan, configure, wink in order
    std::deque<QORT_ModuleScanResponseType> responses;
    std::deque<modules::MacAddress> invalidPasswords;
    std::deque<modules::MacAddress> reconfigured; // the modules that answered "Reconfigured:"
    std::uint32_t lostReplies = 0;
    int Count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }
};
FakeLibrary g_fake;

const QortApi kFakeApi{
    [](QORT_CallBackType) { g_fake.calls.push_back("register"); },
    [] { return g_fake.calls.push_back("start"), 1; },
    [] { return g_fake.calls.push_back("scan"), 1; },
    [](const QORT_ConfigureRequestType*) { g_fake.calls.push_back("configure"); },
    [](const QORT_ConfigureRequestType*) { g_fake.calls.push_back("wink"); },
    [](QORT_ModuleScanResponseType* r) {
        if (g_fake.responses.empty())
            return 0;
        *r = g_fake.responses.front();
        g_fake.responses.pop_front();
        return 1;
    },
    [](std::uint8_t* mac) {
        if (g_fake.invalidPasswords.empty())
            return 0;
        std::memcpy(mac, g_fake.invalidPasswords.front().data(), QORT_MAC_SIZE);
        return 1;
    },
    [] {
        if (!g_fake.invalidPasswords.empty())
            g_fake.invalidPasswords.pop_front();
    },
    [] { return g_fake.lostReplies; },
    [](std::uint8_t* mac) {
        if (g_fake.reconfigured.empty())
            return 0;
        std::memcpy(mac, g_fake.reconfigured.front().data(), QORT_MAC_SIZE);
        return 1;
    },
    [] {
        if (!g_fake.reconfigured.empty())
            g_fake.reconfigured.pop_front();
    },
};

// Every write the tests make goes to an audit log in a folder of their own,
// never into the user's.
class StateFolder : public ::testing::Environment {
public:
    void SetUp() override
    {
        folder.emplace();
        ASSERT_TRUE(folder->isValid());
        qputenv("XDG_STATE_HOME", folder->path().toLocal8Bit());
    }
    void TearDown() override { folder.reset(); }
    static std::string AuditText()
    {
        std::ifstream file(qEnvironmentVariable("XDG_STATE_HOME").toStdString() + "/sorvinda/audit.jsonl");
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    // The result of every line, oldest first.
    static std::vector<std::string> AuditResults()
    {
        const std::string text = AuditText();
        const std::regex result("\"result\":\"([a-z-]+)\"");
        std::vector<std::string> results;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), result); it != std::sregex_iterator(); ++it)
            results.push_back((*it)[1]);
        return results;
    }

private:
    std::optional<QTemporaryDir> folder;
};
[[maybe_unused]] ::testing::Environment* const g_stateFolder = ::testing::AddGlobalTestEnvironment(new StateFolder);

QORT_ModuleScanResponseType Module(std::uint8_t last, std::uint8_t major = 1, std::uint8_t minor = 10)
{
    return Record().Mac(last).Ip(0xC0A80000u | last).Protocol(major, minor);
}

modules::MacAddress MacOf(std::uint8_t last)
{
    return {0x00, 0x30, 0x11, 0x00, 0x00, last};
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fake = FakeLibrary{};
        window.Create();
    }
    QAbstractButton* Button(int id) { return window.GetDlgItemAs<QAbstractButton>(id); }
    void Notify(int code, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            window.OnLibraryNotify(code);
    }
    CModuleConfigDlg window{nullptr, kFakeApi};
    MessageBoxRecorder boxes;
};

TEST_F(WindowTest, StartsTheLibraryThenScansAndShowsItsButtons)
{
    // The callback is in place before the library starts, and the library
    // runs before the first scan goes out; Scan scans again, nothing more.
    EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"register", "start", "scan"}));
    QTest::mouseClick(Button(IDC_SCAN), Qt::LeftButton);
    EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"register", "start", "scan", "scan"}));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Sorvinda Config v1.3.1"));
    const struct {
        int id;
        const char* text;
        bool visible;
    } buttons[] = {{IDC_SCAN, "Scan", true}, {IDOK, "Exit", true}, {IDC_ADVANCED_OPTIONS, "Advanced Options", true},
        {IDC_WINK, "Wink", true}, {IDC_FILE, "File", false}};
    for (const auto& b : buttons) {
        EXPECT_EQ(Button(b.id)->text(), QString(b.text));
        EXPECT_EQ(Button(b.id)->isVisible(), b.visible) << b.text;
    }
    // The list the tests read is the one the user sees.
    EXPECT_EQ(window.GetDlgItem(IDC_DEVICE_LIST), static_cast<QWidget*>(window.DeviceList()));
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::keyClick(window.DeviceList(), Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible()) << "Escape must not close the main window";
    window.EndDialog(IDOK);
}

TEST(Window, ExitAndTheCloseBoxEndTheRunWithIdok)
{
    for (bool closeBox : {false, true}) {
        CModuleConfigDlg window(nullptr, kFakeApi);
        QTimer::singleShot(0, &window, [&] {
            if (closeBox)
                window.close();
            else
                QTest::mouseClick(window.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
        });
        EXPECT_EQ(window.DoModal(), IDOK);
        EXPECT_FALSE(window.isVisible());
    }
}

TEST_F(WindowTest, AboutShowsTheProgramsOwnVersion)
{
    QString shown;
    testsupport::WhenModal<TemplateDialog>([&](TemplateDialog& about) {
        shown = about.GetDlgItemAs<QLabel>(IDC_VERSION)->text();
        about.EndDialog(IDOK);
    });
    window.OnSysCommand(IDM_ABOUTBOX | 0x2); // the low four bits carry flags
    EXPECT_EQ(shown, QStringLiteral("Version: 1.3.1.0"));
    EXPECT_TRUE(window.isVisible());
}

// The check must refuse a libqort whose version resource says 1.2, before
// any library call; a check that accepts it leaves the window open, and the
// watchdog fails the test instead of letting it hang.
TEST(Window, ALibraryWithAnotherVersionIsRefusedWithoutAnyCall)
{
    g_fake = FakeLibrary{};
    MessageBoxRecorder boxes;
    const std::string file = qEnvironmentVariable("SORVINDA_LIB_DIR").toStdString() + "/libfakeqort12.so";
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    CModuleConfigDlg window(nullptr, kFakeApi, file);
    EXPECT_EQ(window.DoModal(), IDCANCEL);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Records()[0].text, QStringLiteral("Incorrect DLL version"));
    EXPECT_EQ(boxes.Records()[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(boxes.Records()[0].Icon(), MB_ICONEXCLAMATION);
    EXPECT_TRUE(g_fake.calls.empty());
}

TEST_F(WindowTest, ResizingMovesTheControlsAndKeepsAMinimum)
{
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QSize initial = window.size();
    const int ids[] = {IDC_DEVICE_LIST, IDC_ADVANCED_OPTIONS, IDC_WINK, IDC_SCAN, IDOK};
    std::map<int, QRect> before;
    for (int id : ids)
        before[id] = window.GetDlgItem(id)->geometry();
    window.resize(initial + QSize(100, 50));
    QCoreApplication::processEvents();
    EXPECT_EQ(window.GetDlgItem(IDC_DEVICE_LIST)->geometry(), before[IDC_DEVICE_LIST].adjusted(0, 0, 100, 50));
    EXPECT_EQ(window.GetDlgItem(IDC_ADVANCED_OPTIONS)->geometry(), before[IDC_ADVANCED_OPTIONS].translated(0, 50));
    for (int id : {IDC_WINK, IDC_SCAN, IDOK})
        EXPECT_EQ(window.GetDlgItem(id)->geometry(), before[id].translated(100, 50)) << id;
    window.resize(10, 10);
    QCoreApplication::processEvents();
    EXPECT_GE(window.frameGeometry().width(), 194);
    EXPECT_GE(window.frameGeometry().height(), 130);
}

// One "Invalid password" box per notice whose rejection names the module
// configured last. Queues list MAC last bytes; -1 stands for a malformed
// reply, which the library queues as FF-FF-FF-FF-FF-FF.
TEST(Window, InvalidPasswordNoticesReportTheLastConfiguredModule)
{
    const struct {
        const char* name;
        int lastConfigured; // -1: nothing configured yet
        std::vector<int> queued;
        int notices;
        int boxes;
        std::vector<int> remaining;
    } cases[] = {
        {"one box per matching notice", 7, {7, 7}, 2, 2, {}},
        {"nothing configured: dropped", -1, {7}, 1, 0, {}},
        {"entry behind the match waits", 8, {8, 7}, 1, 1, {7}},
        // Regression: a stray entry (another module's, or malformed) stayed
        // at the head for good, and no later rejection was ever reported.
        {"strays ahead of the match", 8, {-1, 7, 8}, 3, 1, {}},
    };
    const auto macOf = [](int last) {
        return last < 0 ? modules::MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF} : MacOf(std::uint8_t(last));
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_fake = FakeLibrary{};
        CModuleConfigDlg window(nullptr, kFakeApi);
        window.Create();
        MessageBoxRecorder shown;
        if (c.lastConfigured >= 0)
            window.DeviceList()->SetLastConfiguredMac(MacOf(std::uint8_t(c.lastConfigured)));
        for (int last : c.queued)
            g_fake.invalidPasswords.push_back(macOf(last));
        for (int i = 0; i < c.notices; ++i)
            EXPECT_EQ(window.OnLibraryNotify(QORT_CB_INVALID_PASSWORD), 1);
        ASSERT_EQ(shown.Count(), c.boxes);
        for (const MessageBoxRequest& box : shown.Records()) // its text: the end-to-end test
            EXPECT_EQ(box.Icon(), MB_ICONEXCLAMATION);
        ASSERT_EQ(g_fake.invalidPasswords.size(), c.remaining.size());
        for (std::size_t i = 0; i < c.remaining.size(); ++i)
            EXPECT_TRUE(g_fake.invalidPasswords[i] == macOf(c.remaining[i]));
    }
}

TEST_F(WindowTest, ReconfiguredRescansAndDropsTheMatchingPasswordEntry)
{
    g_fake.responses = {Module(1)};
    Notify(QORT_CB_RESPONSE);
    ASSERT_EQ(window.DeviceList()->GetItemCount(), 1);
    Notify(QORT_CB_RECONFIGURED); // nothing queued: still rescans, list cleared
    EXPECT_EQ(g_fake.Count("scan"), 2);
    EXPECT_EQ(window.DeviceList()->GetItemCount(), 0);
    window.DeviceList()->SetLastConfiguredMac(MacOf(3));
    g_fake.invalidPasswords = {MacOf(3), MacOf(4)};
    Notify(QORT_CB_RECONFIGURED);
    EXPECT_EQ(g_fake.invalidPasswords.size(), 1u);
    Notify(QORT_CB_RECONFIGURED); // the oldest is now 4: it stays
    EXPECT_EQ(g_fake.invalidPasswords.size(), 1u);
    EXPECT_EQ(g_fake.Count("scan"), 4);
    EXPECT_EQ(boxes.Count(), 0);
}

TEST(Window, NoticesFromTheLibraryThreadReachTheLiveWindowOnly)
{
    g_fake = FakeLibrary{};
    {
        CModuleConfigDlg window(nullptr, kFakeApi);
        window.Create();
        // A burst: each module answers twice, and every reply is announced.
        constexpr int kModules = 600;
        for (int i = 0; i < 2 * kModules; ++i) {
            const int module = i % kModules;
            g_fake.responses.push_back(Record().Mac(0, 0x30, 0x11, 0, std::uint8_t(module >> 8), std::uint8_t(module)));
        }
        std::thread([] {
            for (int i = 0; i < 2 * kModules; ++i)
                LibraryCallback(QORT_CB_RESPONSE);
        }).join();
        EXPECT_TRUE(QTest::qWaitFor([&] { return g_fake.responses.empty(); }, testsupport::kGuiWaitMs));
        QCoreApplication::processEvents();
        std::set<QString> macs;
        for (int row = 0; row < window.DeviceList()->GetItemCount(); ++row)
            macs.insert(window.DeviceList()->GetItemText(row, modules::kColumnMac));
        EXPECT_EQ(window.DeviceList()->GetItemCount(), kModules);
        EXPECT_EQ(macs.size(), std::size_t(kModules)) << "every module listed once";
        window.EndDialog(IDOK);
    }
    g_fake.responses = {Module(3)};
    std::thread([] { LibraryCallback(QORT_CB_RESPONSE); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(g_fake.responses.size(), 1u); // the closed window took nothing
}

// After a scan, the line under the list tells how many of its replies the
// library lost; a library too old to count them leaves it hidden, and the
// next scan starts afresh.
TEST(Window, LostRepliesAreToldUnderTheList)
{
    const char* const cause =
        " lost: the computer was too busy or its receive buffer too small; scan again, or see README";
    const struct {
        std::uint32_t lost;
        bool counted;
        std::string text;
    } rows[] = {{0, true, ""}, {1, true, std::string("1 reply was") + cause},
        {4000, true, std::string("4000 replies were") + cause}, {7, false, ""}};
    for (const auto& r : rows) {
        g_fake = FakeLibrary{};
        QortApi api = kFakeApi;
        if (!r.counted)
            api.GetLostReplyCount = nullptr;
        CModuleConfigDlg window(nullptr, api);
        window.Create();
        g_fake.lostReplies = r.lost;
        g_fake.responses = {Module(1)};
        window.OnLibraryNotify(QORT_CB_RESPONSE);
        EXPECT_EQ(window.StatusLineText().toStdString(), r.text);
        g_fake.lostReplies = 0;
        window.OnScan();
        EXPECT_EQ(window.StatusLineText(), QString());
        window.EndDialog(IDOK);
    }
}

// Regression: the version record's Show(false) printed to a console nobody
// sees; it must open the program's information box with the default caption.
TEST(Window, VersionRecordShowOpensAnInformationBox)
{
    InstallVersionInfoMessageBox();
    MessageBoxRecorder boxes;
    CVFXVersionData().Show(false);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Records()[0].text, QStringLiteral("No version information is available"));
    EXPECT_EQ(boxes.Records()[0].caption, QStringLiteral("SorvindaConfig"));
    EXPECT_EQ(boxes.Records()[0].Icon(), MB_ICONINFORMATION);
    CVFXVersionData::SetMessageBoxHook(nullptr);
}

// Regression: the configure flow was connected to the list twice, so one
// double-click ran the dialog twice and could send two requests.
TEST_F(WindowTest, ADoubleClickOpensOneDialogAndSendsOneRequest)
{
    g_fake.responses = {Module(7)};
    Notify(QORT_CB_RESPONSE);
    int dialogs = 0;
    QTimer acceptor;
    QObject::connect(&acceptor, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<TemplateDialog*>(QApplication::activeModalWidget());
        if (modal != nullptr && modal != &window)
            ++dialogs, modal->GetDlgItemAs<QAbstractButton>(IDOK)->click();
    });
    acceptor.start(10);
    emit window.DeviceList()->RowDoubleClicked(0); // returns when every dialog it opened has closed
    acceptor.stop();
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(g_fake.Count("configure"), 1);
}

// Every write of the window is journalled before it leaves and ends in an
// audit line with its result; a
// module whose reply to the rescan does not show what was sent gets its row
// marked. Queued rejections and replies play the library.
TEST(Window, EveryWriteIsLoggedWithItsResultAndAnUnverifiedOneMarksItsRow)
{
    const auto full = [](std::uint32_t ip) {
        return QORT_ModuleScanResponseType(Record()
                                               .Mac(7)
                                               .Ip(ip)
                                               .Mask(0xFFFFFF00u)
                                               .Gateway(0xC0A80001u)
                                               .Dhcp(0)
                                               .Pswd(0)
                                               .HostName("plc")
                                               .Protocol(1, 10));
    };
    constexpr std::uint32_t kSent = 0xC0A80063u; // 192.168.0.99
    const struct {
        const char* name;
        std::vector<int> notices;
        std::optional<std::uint32_t> rescanIp; // the module's reply to the rescan
        std::string result;
        QString note;
    } cases[] = {
        {"verified", {QORT_CB_RECONFIGURED, QORT_CB_RESPONSE}, kSent, "verified", ""},
        {"values unchanged", {QORT_CB_RECONFIGURED, QORT_CB_RESPONSE}, 0xC0A80007u, "not-verified",
            "Sent IP 192.168.0.99; the module still reports 192.168.0.7"},
        {"password refused", {QORT_CB_INVALID_PASSWORD}, std::nullopt, "invalid-password", ""},
        // Another module's answer (another tool's write) is not this write's.
        {"another module answered", {QORT_CB_RECONFIGURED, QORT_CB_RESPONSE}, kSent, "no-answer", ""},
        {"window closed unanswered", {}, std::nullopt, "no-answer", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_fake = FakeLibrary{};
        MessageBoxRecorder shown;
        const std::size_t logged = StateFolder::AuditResults().size();
        {
            CModuleConfigDlg window(nullptr, kFakeApi);
            window.Create();
            g_fake.responses = {full(0xC0A80007u)};
            window.OnLibraryNotify(QORT_CB_RESPONSE);
            testsupport::WhenModal<CEthernetConfigDlg>([&](CEthernetConfigDlg& d) {
                d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->SetAddress(kSent);
                QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
            });
            emit window.DeviceList()->RowDoubleClicked(0);
            ASSERT_EQ(g_fake.Count("configure"), 1);
            // What went out, in the dry run's words.
            EXPECT_TRUE(window.SummaryLineText().contains(
                QStringLiteral("Configure sent to 00-30-11-00-00-07: ip 192.168.0.7 -> 192.168.0.99")))
                << window.SummaryLineText().toStdString();
            if (c.rescanIp)
                g_fake.responses = {full(*c.rescanIp)};
            g_fake.invalidPasswords = {MacOf(7)};
            g_fake.reconfigured = {MacOf(c.result == "no-answer" ? 8 : 7)};
            for (int notice : c.notices)
                window.OnLibraryNotify(notice);
            if (c.rescanIp) { // the row may also warn of its subnet: the isolated network's is another
                ASSERT_EQ(window.DeviceList()->GetItemCount(), 1);
                const QString note = window.DeviceList()->RowNote(0);
                EXPECT_EQ(note.contains("Sent IP"), !c.note.isEmpty()) << note.toStdString();
                EXPECT_TRUE(note.contains(c.note)) << note.toStdString();
            }
            window.EndDialog(IDOK);
        }
        const std::vector<std::string> results = StateFolder::AuditResults();
        ASSERT_EQ(results.size(), logged + 2); // `sent` before the request left, then the outcome
        EXPECT_EQ(results[results.size() - 2], "sent");
        EXPECT_EQ(results.back(), c.result);
    }
    EXPECT_NE(StateFolder::AuditText().find("\"program\":\"SorvindaConfig\""), std::string::npos);
}

// A log that cannot be written is said in a box, and the write goes on.
TEST_F(WindowTest, AnAuditLogThatCannotBeWrittenIsShownAndTheWriteGoesOn)
{
    const QByteArray kept = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/proc/no-such-folder");
    g_fake.responses = {Module(7)};
    Notify(QORT_CB_RESPONSE);
    testsupport::WhenModal<CEthernetConfigDlg>(
        [](CEthernetConfigDlg& d) { QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton); });
    emit window.DeviceList()->RowDoubleClicked(0);
    g_fake.invalidPasswords = {MacOf(7)};
    Notify(QORT_CB_INVALID_PASSWORD);
    qputenv("XDG_STATE_HOME", kept);
    EXPECT_EQ(g_fake.Count("configure"), 1);
    ASSERT_EQ(boxes.Count(), 2); // the log's failure, then the rejection
    EXPECT_EQ(boxes.Records()[0].caption, QStringLiteral("Warning"));
    EXPECT_TRUE(boxes.Records()[0].text.contains("/proc/no-such-folder")) << boxes.Records()[0].text.toStdString();
    EXPECT_EQ(boxes.Records()[1].text, QStringLiteral("Invalid password"));
}

// A plan file written for the test; its path.
// Runs `script` on every configure dialog that opens once `ready` holds,
// each one once: for the dialogs the window opens again by itself (after No
// to a question, after a refused password), which no caller waits for.
class LaterDialogs {
public:
    LaterDialogs(std::function<bool()> ready, std::function<void(CEthernetConfigDlg&)> script)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this, ready = std::move(ready), script = std::move(script)] {
            auto* d = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget());
            if (d == nullptr || !d->isVisible() || d->property("later").toBool() || !ready())
                return;
            d->setProperty("later", true);
            ++count;
            script(*d);
        });
        timer_.start(10);
    }
    int count = 0;

private:
    QTimer timer_;
};

QORT_ModuleScanResponseType FullModule(std::uint8_t last, std::uint32_t ip)
{
    return Record()
        .Mac(last)
        .Ip(ip)
        .Mask(0xFFFFFF00u)
        .Gateway(0xC0A80001u)
        .Dhcp(0)
        .Pswd(0)
        .HostName("plc")
        .Protocol(1, 10);
}

// Configures the row to `ip` as the user would: double-click, Set.
void SetIpOfRow(CModuleConfigDlg& window, int row, std::uint32_t ip)
{
    testsupport::WhenModal<CEthernetConfigDlg>([ip](CEthernetConfigDlg& d) {
        d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->SetAddress(ip);
        QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
    });
    emit window.DeviceList()->RowDoubleClicked(row);
}

// A signal while a write is out (the session ends, a kill) records it
// `interrupted` before the window ends, as on the command line. The signal
// is raised in a child forked with the write out, which it ends.
TEST(WindowDeathTest, ASignalWhileAWriteIsOutRecordsItInterrupted)
{
    g_fake = FakeLibrary{};
    CModuleConfigDlg window(nullptr, kFakeApi);
    window.Create();
    g_fake.responses = {FullModule(7, 0xC0A80007u)};
    window.OnLibraryNotify(QORT_CB_RESPONSE);
    const std::size_t logged = StateFolder::AuditResults().size();
    SetIpOfRow(window, 0, 0xC0A80063u);
    ASSERT_EQ(g_fake.Count("configure"), 1);
    EXPECT_EXIT(::raise(SIGTERM), ::testing::KilledBySignal(SIGTERM), "");
    const std::vector<std::string> results = StateFolder::AuditResults();
    EXPECT_EQ(std::vector<std::string>(results.begin() + std::ptrdiff_t(logged), results.end()),
        (std::vector<std::string>{"sent", "interrupted"}));
    window.EndDialog(IDOK);
}

// A write whose rescan shows other values leaves an error mark that a
// rescan does not wipe, says so at once, and goes when a later write of that
// module is verified; the summary line counts it.
TEST(Window, AFailedWriteIsToldAndMarkedUntilAWriteOfItsModuleIsVerified)
{
    g_fake = FakeLibrary{};
    MessageBoxRecorder shown;
    CModuleConfigDlg window(nullptr, kFakeApi);
    window.Create();
    constexpr std::uint32_t kOld = 0xC0A80007u, kSent = 0xC0A80063u; // 192.168.0.7, 192.168.0.99
    const auto scanned = [&](std::uint32_t ip) {
        g_fake.responses = {FullModule(7, ip)};
        window.OnLibraryNotify(QORT_CB_RESPONSE);
        QCoreApplication::processEvents(); // the notes of the burst, the message
    };
    scanned(kOld);
    const struct {
        const char* step;
        bool write;           // set the IP to kSent first, and the module answers
        std::uint32_t rescan; // what the module reports after it
        bool failed;
        int messages;
    } steps[] = {{"write kept the old IP", true, kOld, true, 1}, {"plain rescan", false, kOld, true, 1},
        {"write verified", true, kSent, false, 1}, {"later rescan", false, kSent, false, 1}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        if (step.write) {
            SetIpOfRow(window, 0, kSent);
            g_fake.reconfigured = {MacOf(7)};
            window.OnLibraryNotify(QORT_CB_RECONFIGURED); // clears the list and rescans
        } else {
            window.OnScan();
        }
        scanned(step.rescan);
        ASSERT_EQ(window.DeviceList()->GetItemCount(), 1);
        EXPECT_EQ(window.DeviceList()->RowNoteKind(0) == commissioning::NoteKind::Failure, step.failed);
        EXPECT_EQ(
            window.DeviceList()->RowNote(0).contains("Sent IP 192.168.0.99; the module still reports 192.168.0.7"),
            step.failed);
        EXPECT_EQ(window.SummaryLineText().contains(step.failed ? "1 failure," : "0 failures,"), true)
            << window.SummaryLineText().toStdString();
        ASSERT_EQ(shown.Count(), step.messages);
    }
    EXPECT_EQ(shown.Records()[0].text,
        QStringLiteral("The write to 00-30-11-00-00-07 did not take:\nSent IP 192.168.0.99; the module still "
                       "reports 192.168.0.7"));
    EXPECT_EQ(shown.Records()[0].Icon(), MB_ICONERROR);
    window.EndDialog(IDOK);
}

// Configure from the keyboard: the menu key and Shift+F10 open the row's
// menu with "Configure..." first and the default; F2 configures at once;
// Enter stays Scan. Nothing is selected: the entry is disabled.
TEST_F(WindowTest, ConfigureFromTheMenuKeyShiftF10AndF2WhileEnterScans)
{
    g_fake.responses = {Module(7), Module(8)};
    Notify(QORT_CB_RESPONSE);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window)); // window shortcuts need the active window
    QStringList firstEntries, defaults;
    QList<bool> enabled;
    int dialogs = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            firstEntries << menu->actions().value(0)->text();
            defaults << (menu->defaultAction() != nullptr ? menu->defaultAction()->text() : QString());
            enabled << menu->actions().value(0)->isEnabled();
            if (menu->actions().value(0)->isEnabled())
                menu->setActiveAction(menu->actions().value(0));
            QTest::keyClick(menu, menu->actions().value(0)->isEnabled() ? Qt::Key_Return : Qt::Key_Escape);
            return;
        }
        if (auto* d = qobject_cast<CEthernetConfigDlg*>(QApplication::activeModalWidget()); d && d->isVisible()) {
            ++dialogs;
            EXPECT_EQ(d->windowTitle(), QStringLiteral("Configure: 00-30-11-00-00-08"));
            d->EndDialog(IDCANCEL);
        }
    });
    user.start(10);
    QTest::keyClick(window.DeviceList(), Qt::Key_F10, Qt::ShiftModifier); // nothing selected yet
    window.DeviceList()->setFocus();
    window.DeviceList()->setCurrentIndex(window.DeviceList()->model()->index(1, 0));
    int expected = 0;
    for (const auto& [key, modifiers] : {std::pair{Qt::Key_Menu, Qt::NoModifier},
             std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_F2, Qt::NoModifier}}) {
        window.activateWindow(); // the dialog before had it; the window manager gives it back
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(window.DeviceList(), key, modifiers);
        ++expected;
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialogs == expected; }, testsupport::kGuiWaitMs)) << key;
    }
    user.stop();
    EXPECT_EQ(firstEntries, QStringList(3, QStringLiteral("Configure...")));
    EXPECT_EQ(defaults, QStringList(3, QStringLiteral("Configure...")));
    EXPECT_EQ(enabled, (QList<bool>{false, true, true}));
    EXPECT_EQ(g_fake.Count("configure"), 0); // every dialog was cancelled
    const int scans = g_fake.Count("scan");
    QTest::keyClick(window.DeviceList(), Qt::Key_Return);
    EXPECT_EQ(g_fake.Count("scan"), scans + 1) << "Enter stays Scan";
}

// Ctrl+F shows the filter under the list; what is typed filters the rows,
// the summary says how many show; Esc ends it and the window looks as
// before.
TEST_F(WindowTest, CtrlFFiltersTheListAndEscEndsIt)
{
    g_fake.responses = {Module(7), Module(8), Record().Mac(9).Ip(0x0A000001u).Type("PROFINET").HostName("press-1")};
    Notify(QORT_CB_RESPONSE);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window)); // window shortcuts need the active window
    const QRect before = window.DeviceList()->geometry();
    EXPECT_FALSE(window.FilterEdit()->isVisible());
    QTest::keyClick(window.DeviceList(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(window.FilterEdit()->isVisible());
    EXPECT_TRUE(window.FilterEdit()->hasFocus());
    EXPECT_LT(window.DeviceList()->geometry().height(), before.height());
    const struct {
        const char* typed;
        int shown;
    } rows[] = {{"00-08", 1}, {"192.168", 2}, {"PRESS", 1}, {"profinet", 1}, {"nothing like it", 0}};
    for (const auto& r : rows) {
        window.FilterEdit()->clear();
        QTest::keyClicks(window.FilterEdit(), r.typed);
        EXPECT_EQ(window.DeviceList()->VisibleRowCount(), r.shown) << r.typed;
        EXPECT_TRUE(window.SummaryLineText().startsWith(QStringLiteral("3 modules (%1 shown)").arg(r.shown)))
            << window.SummaryLineText().toStdString();
    }
    QTest::keyClick(window.FilterEdit(), Qt::Key_Escape);
    EXPECT_FALSE(window.FilterEdit()->isVisible());
    EXPECT_EQ(window.DeviceList()->VisibleRowCount(), 3);
    EXPECT_EQ(window.DeviceList()->geometry(), before);
    EXPECT_TRUE(window.isVisible()) << "Esc in the filter ends the filter, not the window";
    EXPECT_TRUE(window.SummaryLineText().startsWith(QStringLiteral("3 modules:")));
}

// The summary line: modules and notes per kind, this computer's adapters,
// the recovery server; Wink says there for a moment that it was sent.
TEST_F(WindowTest, TheSummaryLineTellsTheStateAndWhatWinkDid)
{
    g_fake.responses = {Module(7), Module(8)};
    Notify(QORT_CB_RESPONSE);
    QCoreApplication::processEvents();
    const QStringList lines = window.SummaryLineText().split('\n');
    ASSERT_EQ(lines.size(), 2) << window.SummaryLineText().toStdString();
    EXPECT_TRUE(lines[0].startsWith("2 modules: 0 failures, 0 warnings, ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("This computer: ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("Recovery DHCP server off"))) << lines[1].toStdString();
    window.DeviceList()->setCurrentIndex(window.DeviceList()->model()->index(0, 0));
    QTest::mouseClick(Button(IDC_WINK), Qt::LeftButton);
    EXPECT_EQ(g_fake.Count("wink"), 1);
    EXPECT_TRUE(window.SummaryLineText().split('\n')[0].endsWith(QStringLiteral("Wink sent to 00-30-11-00-00-07")))
        << window.SummaryLineText().toStdString();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !window.SummaryLineText().contains("Wink"); }, 3 * testsupport::kGuiWaitMs));
}

// The plan dialog says what it does: a Status column as wide as its texts,
// a table of at least half the dialog under a long list of problems, no
// busy bar with nothing to write, declined rows "skipped (not confirmed)",
// Cancel that says what it stopped, and "Stop waiting" once every write
// is out.
TEST(PlanDialog, SaysWhatItDoes)
{
    const auto step = [](std::uint8_t last, commissioning::StepKind kind) {
        commissioning::PlanStep s;
        s.row.mac = MacOf(last);
        s.kind = kind;
        s.changes = {{"ip", "192.168.0.7", "192.168.0.99"}};
        s.holder = "module 00-30-11-00-00-09";
        return s;
    };
    const auto result = [](std::uint8_t last, const char* outcome, const std::string& why) {
        return commissioning::PlanRun::RowResult{
            {0, MacOf(last), {}}, outcome, modules::formatMac(MacOf(last)) + " " + outcome + why, std::nullopt};
    };
    const auto statusOf = [](CPlanDialog& d, int row) {
        return d.Table()->item(row, CPlanDialog::kColumnStatus)->text();
    };
    {
        SCOPED_TRACE("declined and failed, then the results");
        CPlanDialog d(QStringLiteral("plan.csv"));
        d.resize(640, 400);
        d.show();
        d.ShowSteps({step(1, commissioning::StepKind::Change), step(2, commissioning::StepKind::Conflict)});
        d.SetConflictsConfirmed(false);
        d.ShowRunning(0);
        EXPECT_FALSE(d.IsProgressBarShown()) << "nothing to write: no busy bar";
        EXPECT_EQ(d.ProgressText(), QStringLiteral("Nothing to write"));
        d.ShowResults({result(1, "failed", ": not verified: IP is 192.168.0.7, sent 192.168.0.99 after a long wait"),
                          result(2, "failed", ": address 192.168.0.99 is in use by module 00-30-11-00-00-09")},
            "0 changed, 0 unchanged, 0 missing, 2 failed");
        EXPECT_EQ(statusOf(d, 0),
            QStringLiteral("failed: not verified: IP is 192.168.0.7, sent 192.168.0.99 after a long wait"));
        EXPECT_EQ(statusOf(d, 1), QStringLiteral("skipped (not confirmed)"));
        const int needed =
            static_cast<const QAbstractItemView*>(d.Table())->sizeHintForColumn(CPlanDialog::kColumnStatus);
        EXPECT_GE(d.Table()->horizontalHeader()->sectionSize(CPlanDialog::kColumnStatus), needed);
        EXPECT_TRUE(d.SummaryText().contains("1 of the failed skipped, not confirmed"))
            << d.SummaryText().toStdString();
        EXPECT_EQ(d.CancelButton()->text(), QStringLiteral("Close"));
    }
    {
        SCOPED_TRACE("Cancel with writes still to go, then with every write out");
        for (const int written : {1, 3}) {
            CPlanDialog d(QStringLiteral("plan.csv"));
            QSignalSpy cancels(&d, &CPlanDialog::CancelRequested);
            d.ShowSteps({step(1, commissioning::StepKind::Change)});
            d.ShowRunning(3);
            EXPECT_TRUE(d.IsProgressBarShown());
            d.ShowProgress(written, 0);
            EXPECT_EQ(
                d.CancelButton()->text(), written == 3 ? QStringLiteral("Stop waiting") : QStringLiteral("Cancel"));
            d.CancelButton()->click();
            EXPECT_EQ(cancels.count(), 1);
            EXPECT_TRUE(d.ProgressText().startsWith(
                written == 3 ? QStringLiteral("Stopped waiting") : QStringLiteral("Cancelled: 2 writes not sent")))
                << d.ProgressText().toStdString();
            d.ShowResults({result(1, "cancelled", "")}, "0 changed, 0 unchanged, 0 missing, 0 failed, 1 cancelled");
            EXPECT_EQ(d.SummaryText().contains("Cancel stopped 2 writes"), written == 1)
                << d.SummaryText().toStdString();
        }
    }
    {
        SCOPED_TRACE("many problems");
        CPlanDialog d(QStringLiteral("plan.csv"));
        d.resize(640, 400);
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        std::vector<commissioning::PlanStep> steps;
        std::vector<std::string> problems;
        for (std::uint8_t i = 1; i <= 40; ++i) {
            steps.push_back(step(i, commissioning::StepKind::Change));
            problems.push_back("plan.csv:" + std::to_string(i + 1) + ": something is wrong with this row");
        }
        d.ShowSteps(steps);
        d.ShowProblems(problems);
        for (const int height : {400, 700}) {
            d.resize(640, height);
            QCoreApplication::processEvents();
            EXPECT_GE(2 * d.Table()->height(), d.height()) << d.Table()->height() << " of " << d.height();
            EXPECT_GT(d.Problems().size(), 30);
        }
    }
}

QString WritePlan(const QTemporaryDir& folder, const char* text)
{
    const QString path = folder.filePath(QStringLiteral("plan.csv"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

// The plan dialog's view of one run: the dry run's summary, then, after
// Apply with the password when it may be pressed, each module's status.
struct PlanView {
    QString summary;
    QStringList problems;
    bool applicable = false;
    std::map<QString, QString> status; // by MAC text
};

PlanView RunPlanDialog(CModuleConfigDlg& window, const QString& path, const QString& password,
    const std::function<void(CPlanDialog&)>& beforeApply = {})
{
    PlanView view;
    testsupport::WhenModal<CPlanDialog>([&](CPlanDialog& d) {
        const auto checked = [&] { return !d.SummaryText().startsWith(QStringLiteral("Checking")); };
        EXPECT_TRUE(QTest::qWaitFor(checked, testsupport::kGuiWaitMs));
        view = {d.SummaryText(), d.Problems(), d.IsApplyEnabled(), {}};
        if (view.applicable) {
            QTest::keyClicks(d.PasswordEdit(), password);
            if (beforeApply)
                beforeApply(d);
            d.ApplyButton()->click();
            EXPECT_TRUE(QTest::qWaitFor([&] { return !d.IsRunning(); }, 3 * testsupport::kGuiWaitMs));
            view.summary = d.SummaryText();
        }
        for (int row = 0; row < d.Table()->rowCount(); ++row)
            view.status[d.Table()->item(row, CPlanDialog::kColumnMac)->text()] =
                d.Table()->item(row, CPlanDialog::kColumnStatus)->text();
        d.CancelButton()->click();
    });
    window.ApplyPlanFile(path);
    return view;
}

// A plan that cannot be applied lists its problems, one that changes
// nothing shows so; Apply stays disabled and nothing is sent.
TEST_F(WindowTest, APlanThatIsBadOrChangesNothingCannotBeApplied)
{
    g_fake.responses = {Module(7)};
    Notify(QORT_CB_RESPONSE);
    QTemporaryDir folder;
    const struct {
        const char* name;
        const char* plan; // nullptr: no such file
        QString summary;
        int problems;
    } cases[] = {
        {"bad rows", "mac,ip\nzz,10.0.0.1\n00-30-11-00-00-07,10.0.0.256\n",
            "The plan cannot be applied; nothing will be sent:", 2},
        {"no such file", nullptr, "The plan cannot be applied; nothing will be sent:", 1},
        {"unchanged and missing", "mac,ip\n00-30-11-00-00-07,192.168.0.7\n00-30-11-00-00-08,\n",
            "0 to change, 1 unchanged, 1 missing, 0 conflicts", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = c.plan ? WritePlan(folder, c.plan) : folder.filePath("none.csv");
        const PlanView view = RunPlanDialog(window, path, QString());
        EXPECT_EQ(view.summary, c.summary);
        ASSERT_EQ(view.problems.size(), c.problems) << view.problems.join('\n').toStdString();
        for (const QString& problem : view.problems)
            EXPECT_TRUE(problem.startsWith(path + ":")) << problem.toStdString();
        EXPECT_FALSE(view.applicable);
    }
    EXPECT_EQ(g_fake.Count("configure"), 0);
}

TEST(ProgramFiles, TheBuiltProgramCarriesItsVersionAndTheLoadedLibqortPassesTheCheck)
{
    // The file itself, not a stand-in from the same declaration: catches a
    // build that forgot to stamp the program.
    const std::string program = qEnvironmentVariable("SORVINDA_BIN_DIR").toStdString() + "/SorvindaConfig";
    CVFXVersionData data;
    CVFXVersionInfo reader(CVFXVersionInfo::kCodePageUnicode, CVFXVersionInfo::kLanguageEnglishUs);
    ASSERT_TRUE(reader.Read(data, program.c_str())) << program;
    EXPECT_EQ(data.m_wFileVersion, (std::array<std::uint16_t, 4>{1, 3, 1, 0}));
    EXPECT_EQ(data.m_strProductVersion, "1, 3, 1, 0");
    EXPECT_EQ(data.m_strProductName, "SorvindaConfig");

    // "qort.dll" names the file the dynamic loader bound, and it passes.
    DLLVERSIONINFO info{};
    ASSERT_EQ(DllGetVersion(&info), 0);
    EXPECT_EQ(
        std::vector<std::uint32_t>({info.dwMajorVersion, info.dwMinorVersion}), std::vector<std::uint32_t>({1, 1}));
    EXPECT_EQ(std::filesystem::path(CLibraryVersion::ResolveFileName(CLibraryVersion::kLibraryFileName)),
        std::filesystem::canonical(qEnvironmentVariable("SORVINDA_LIB_DIR").toStdString() + "/libqort.so"));
    int major = 0, minor = 0, build = 0;
    EXPECT_TRUE(CLibraryVersion().ReadVersionNumbers(CLibraryVersion::kLibraryFileName, major, minor, build));
    EXPECT_EQ(std::vector<int>({major, minor, build}), std::vector<int>({1, 1, 2}));
    EXPECT_TRUE(CLibraryVersion().IsAcceptedLibrary());
}

// The window against simulated modules over real UDP, as a user sees it:
// the list after a scan, wink, and configuring a module by double-click,
// with a wrong and then the right password. Wire details belong to the
// library's own tests, the dialog's values in the request to the configure
// flow's (tests/configdialog); here the simulator's log says only what the
// module did.

constexpr auto kSimulatorWait = std::chrono::milliseconds(5000);
using testsupport::kGuiWaitMs;

std::atomic<int> g_scans{0};
std::atomic<int> g_responses{0};
std::function<void()> g_afterConfigure; // the user's click between two writes

// The linked library with scans and taken replies counted, so a test knows
// when a rescan went out and every reply was handled.
const QortApi& CountingApi()
{
    static const QortApi api{QORT_RegisterCallBack, QORT_Start, [] { return ++g_scans, QORT_SendModuleScan(); },
        [](const QORT_ConfigureRequestType* request) {
            QORT_SendConfigure(request);
            if (g_afterConfigure)
                g_afterConfigure();
        },
        QORT_SendWink,
        [](QORT_ModuleScanResponseType* r) {
            const int taken = QORT_GetResponse(r);
            return g_responses += taken, taken;
        },
        QORT_GetInvPswdMacId, QORT_RemoveFirstInvPswdMacId, LinkedQortApi().GetLostReplyCount,
        QORT_GetReconfiguredMacId, QORT_RemoveFirstReconfiguredMacId};
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
            if (List()->GetItemText(row, modules::kColumnMac) == mac)
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
        const QRect cell = List()->visualRect(List()->model()->index(RowOf(mac), modules::kColumnType));
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
const char* const kThird = "mac=00-30-11-00-00-24,ip=192.168.0.13,sn=255.255.255.0,dhcp=off,hn=PLC3";
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
    EXPECT_EQ(Text("00-30-11-00-00-21", modules::kColumnIp), QStringLiteral("192.168.0.10"));
    EXPECT_EQ(List()->GetItemText(0, modules::kColumnIp), QStringLiteral("192.168.0.10")); // sorted by IP
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
    const std::size_t logged = StateFolder::AuditResults().size();
    ASSERT_TRUE(Open(testsupport::moduleArgs({kPlain, kProtected}), 2));
    const QString mac = QStringLiteral("00-30-11-00-00-23");
    // After the box the dialog opens again with the user's edits, for the
    // password to be typed again.
    int scansWhenReopened = -1;
    QString ipWhenReopened;
    std::uint32_t shownAgain = 0;
    LaterDialogs reopened([&] { return boxes.Count() == 1; },
        [&](CEthernetConfigDlg& d) {
            scansWhenReopened = g_scans;
            ipWhenReopened = Text(mac, modules::kColumnIp);
            d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->GetAddress(shownAgain);
            TypePasswordAndSet(d, QStringLiteral("secret"));
        });
    Configure(mac, [&](CEthernetConfigDlg& d) {
        EXPECT_FALSE(d.GetDlgItemAs<QLineEdit>(IDC_PASSWORD)->isReadOnly());
        TypePasswordAndSet(d, QStringLiteral("nope"));
    });
    EXPECT_TRUE(Logged("^invalid-password 00-30-11-00-00-23"));
    ASSERT_TRUE(WaitFor([&] { return boxes.Count() == 1; }));
    EXPECT_EQ(boxes.Records()[0].text, QStringLiteral("Invalid password"));
    EXPECT_EQ(boxes.Records()[0].caption, QStringLiteral("Warning"));
    ASSERT_TRUE(WaitFor([&] { return reopened.count == 1; }));
    EXPECT_EQ(scansWhenReopened, 1); // refused: no rescan, the module keeps its address
    EXPECT_EQ(ipWhenReopened, QStringLiteral("192.168.0.12"));
    EXPECT_EQ(shownAgain, 0x0A010203u) << "the dialog opens again with the address the user typed";
    EXPECT_TRUE(Logged("^applied 00-30-11-00-00-23 ip=10\\.1\\.2\\.3"));
    EXPECT_TRUE(WaitFor([&] { return Text(mac, modules::kColumnIp) == "10.1.2.3"; }));
    EXPECT_EQ(Text("00-30-11-00-00-21", modules::kColumnIp), QStringLiteral("192.168.0.10")); // untouched
    EXPECT_EQ(boxes.Count(), 1);
    ASSERT_TRUE(WaitFor([&] { return StateFolder::AuditResults().size() == logged + 4; }));
    const std::vector<std::string> results = StateFolder::AuditResults();
    EXPECT_EQ(std::vector<std::string>(results.begin() + std::ptrdiff_t(logged), results.end()),
        (std::vector<std::string>{"sent", "invalid-password", "sent", "verified"}));
    for (const char* password : {"nope", "secret"})
        EXPECT_EQ(StateFolder::AuditText().find(password), std::string::npos) << password;
}

// Setting a module to another module's address asks first: No sends
// nothing (logged as refused), Yes writes; both rows then warn, and "Undo
// last change" puts the module back.
TEST_F(WindowE2eTest, ASetToAnAddressInUseAsksBothRowsThenWarnAndUndoPutsItBack)
{
    ASSERT_TRUE(Open(testsupport::moduleArgs({kPlain, kProtected}), 2));
    const QString mac = QStringLiteral("00-30-11-00-00-21");
    const auto setTaken = [](CEthernetConfigDlg& d) {
        d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->PasteText(QStringLiteral("192.168.0.12"));
        QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
    };
    const QString question =
        QStringLiteral("The address 192.168.0.12 is already used by module 00-30-11-00-00-23. Set it anyway?");
    boxes.SetAnswer(IDNO);
    const std::size_t logged = StateFolder::AuditResults().size();
    {
        // No opens the dialog again with the edit; Cancel it.
        LaterDialogs again([&] { return boxes.Count() == 1; },
            [](CEthernetConfigDlg& d) {
                std::uint32_t shown = 0;
                d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->GetAddress(shown);
                EXPECT_EQ(shown, 0xC0A8000Cu);
                QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDCANCEL), Qt::LeftButton);
            });
        Configure(mac, setTaken);
        EXPECT_EQ(again.count, 1);
    }
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Records()[0].text, question);
    EXPECT_EQ(StateFolder::AuditResults().back(), "refused");
    EXPECT_EQ(StateFolder::AuditResults().size(), logged + 1);
    EXPECT_FALSE(window.UndoValuesOfRow(RowOf(mac)).has_value()) << "a refused write leaves nothing to undo";
    boxes.SetAnswer(IDYES);
    Configure(mac, setTaken);
    EXPECT_TRUE(Logged("^applied 00-30-11-00-00-21 ip=192\\.168\\.0\\.12"));
    EXPECT_EQ(simulator->linesMatching([](const std::string& l) { return l.rfind("applied ", 0) == 0; }).size(), 1u);
    ASSERT_TRUE(WaitFor([&] { return StateFolder::AuditResults().size() == logged + 3; })); // sent, verified
    EXPECT_EQ(StateFolder::AuditResults().back(), "verified");
    EXPECT_TRUE(WaitFor([&] {
        return List()->RowNote(RowOf(mac)).contains("Shares 192.168.0.12 with 00-30-11-00-00-23");
    })) << List()->RowNote(RowOf(mac)).toStdString();
    EXPECT_TRUE(List()->RowNote(RowOf("00-30-11-00-00-23")).contains("Shares 192.168.0.12 with 00-30-11-00-00-21"));
    EXPECT_EQ(List()->RowNoteKind(RowOf(mac)), commissioning::NoteKind::Warning);

    // Undo opens the dialog with the logged values; Set writes them back.
    const std::size_t from = simulator->lineCount();
    testsupport::WhenModal<CEthernetConfigDlg>([](CEthernetConfigDlg& d) {
        std::uint32_t shown = 0;
        d.GetDlgItemAs<IpAddressEdit>(IDC_IPADDRESS)->GetAddress(shown);
        EXPECT_EQ(shown, 0xC0A8000Au);
        QTest::mouseClick(d.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton);
    });
    window.OnUndoLastChange(RowOf(mac));
    EXPECT_TRUE(Logged("^applied 00-30-11-00-00-21 ip=192\\.168\\.0\\.10", from));
    EXPECT_TRUE(WaitFor([&] { return Text(mac, modules::kColumnIp) == "192.168.0.10"; }));
    ASSERT_TRUE(WaitFor([&] { return StateFolder::AuditResults().size() == logged + 5; }));
    EXPECT_EQ(StateFolder::AuditResults().back(), "verified");
}

// A plan applied in the window, run after run on the same modules: its
// writes verified, Cancel after the first write, a wrong password, and a
// second run of a plan already applied, which sends nothing.
TEST_F(WindowE2eTest, APlanIsAppliedVerifiedAndLoggedAndAgainSendsNothing)
{
    ASSERT_TRUE(Open(testsupport::moduleArgs({kPlain, kProtected, kThird}), 3));
    QTemporaryDir folder;
    const char* const forward = "mac,ip,hostname\n00-30-11-00-00-21,192.168.0.30,\n00-30-11-00-00-23,,LINE2\n"
                                "00-30-11-00-00-24,192.168.0.32,LINE3\n";
    const char* const back = "mac,ip,hostname\n00-30-11-00-00-21,192.168.0.10,\n00-30-11-00-00-23,,PLC2\n"
                             "00-30-11-00-00-24,192.168.0.13,PLC3\n";
    const struct {
        const char* name;
        const char* plan;
        const char* password;
        bool cancelAfterFirst;
        std::vector<QString> status; // of ..-21, ..-23, ..-24 as far as the plan names them
        std::vector<std::string> audit;
        std::size_t configures;
        bool asks = false; // whether to set a conflict's address anyway (No, as the recorder answers)
    } cases[] = {
        // A `sent` record before each write leaves, the outcomes after the wave.
        {"whole plan", forward, "secret", false, {"changed", "changed", "changed"},
            {"sent", "sent", "sent", "verified", "verified", "verified"}, 3},
        {"again", forward, "secret", false, {"unchanged", "unchanged", "unchanged"}, {}, 0},
        {"cancel after the first write", back, "secret", true, {"changed", "cancelled", "cancelled"},
            {"sent", "verified"}, 1},
        {"wrong password", back, "nope", false, {"unchanged", "failed: invalid password", "changed"},
            {"sent", "sent", "invalid-password", "verified"}, 2},
        {"conflict refused", "mac,ip\n00-30-11-00-00-21,192.168.0.12\n", "", false, {"skipped (not confirmed)"},
            {"refused"}, 0, true},
    };
    const auto isConfigure = [](const std::string& l) {
        return l.rfind("recv ", 0) == 0 && l.find("\"Configure: ") != std::string::npos;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t from = simulator->lineCount();
        const std::size_t logged = StateFolder::AuditResults().size();
        const PlanView view = RunPlanDialog(window, WritePlan(folder, c.plan), c.password, [&](CPlanDialog& d) {
            if (c.cancelAfterFirst)
                g_afterConfigure = [&d] { d.CancelButton()->click(); };
        });
        g_afterConfigure = nullptr;
        EXPECT_EQ(view.applicable, c.configures > 0 || c.asks) << view.summary.toStdString();
        EXPECT_EQ(boxes.Count(), c.asks ? 1 : 0);
        boxes.Clear();
        const QString macs[] = {"00-30-11-00-00-21", "00-30-11-00-00-23", "00-30-11-00-00-24"};
        for (std::size_t i = 0; i < c.status.size(); ++i)
            EXPECT_EQ(view.status.at(macs[i]), c.status[i]) << macs[i].toStdString();
        const std::vector<std::string> results = StateFolder::AuditResults();
        EXPECT_EQ(std::vector<std::string>(results.begin() + std::ptrdiff_t(logged), results.end()), c.audit);
        const std::size_t scanFrom = simulator->lineCount();
        Click(IDC_SCAN); // logged after every Configure the run sent
        EXPECT_TRUE(Logged("^recv .*Module Scan", scanFrom));
        ASSERT_TRUE(WaitFor([&] { return List()->GetItemCount() == 3; })); // the next dry run's modules
        EXPECT_EQ(simulator->linesMatching(isConfigure, from).size(), c.configures);
    }
}

// Starting the recovery server looks for another DHCP server in the
// background and warns of it; ours keeps running. busybox udhcpd plays the
// other server among the modules (its ARP check cut to 100 ms, within the
// probe's wait).
TEST_F(WindowE2eTest, StartingTheDhcpServerWarnsOfAnotherOne)
{
    ASSERT_TRUE(Open(testsupport::moduleArgs({kPlain}), 1));
    const QString ns = qEnvironmentVariable("SORVINDA_NETNS_MODULES");
    QTemporaryDir folder;
    QFile config(folder.filePath("udhcpd.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(
        QStringLiteral("interface %1\nstart 10.213.0.100\nend 10.213.0.110\nlease_file %2\npidfile /dev/null\n")
            .arg(qEnvironmentVariable("SORVINDA_MODULES_IF"), folder.filePath("leases"))
            .toLocal8Bit());
    config.close();
    QProcess other;
    other.start("ip", {"netns", "exec", ns, "busybox", "udhcpd", "-f", "-a", "100", config.fileName()});
    ASSERT_TRUE(WaitFor([&] {
        QProcess ss;
        ss.start("ip", {"netns", "exec", ns, "ss", "-lun"});
        return ss.waitForFinished(kGuiWaitMs) && ss.readAllStandardOutput().contains(":67 ");
    }));
    testsupport::WhenModal<TemplateDialog>([](TemplateDialog& d) {
        d.GetDlgItemAs<QAbstractButton>(IDC_ENABLE_DHCP_SERVER)->click();
        d.GetDlgItemAs<QAbstractButton>(IDOK)->click();
    });
    window.OnAdvancedOptions();
    EXPECT_TRUE(window.IsDhcpServerRunning());
    ASSERT_TRUE(WaitFor([&] { return boxes.Count() == 1; }));
    const QStringList lines = boxes.Records()[0].text.split('\n');
    ASSERT_EQ(lines.size(), 2) << boxes.Records()[0].text.toStdString(); // ours is not listed
    EXPECT_TRUE(lines[1].startsWith("DHCP server 10.213.0.2 on " + qEnvironmentVariable("SORVINDA_HOST_IF")))
        << lines[1].toStdString();
    EXPECT_TRUE(window.IsDhcpServerRunning());
    other.terminate();
    other.waitForFinished(kGuiWaitMs);
}

// The recovery server's work shows in the summary line: on, its adapters,
// and the address a real DHCP client (busybox udhcpc in the modules'
// namespace, with a module's MAC) was given.
TEST_F(WindowE2eTest, TheSummaryLineShowsTheRecoveryServerAndTheAddressesItGave)
{
    ASSERT_TRUE(Open(testsupport::moduleArgs({kPlain}), 1));
    const std::string ns = qEnvironmentVariable("SORVINDA_NETNS_MODULES").toStdString();
    const std::string dev = qEnvironmentVariable("SORVINDA_MODULES_IF").toStdString();
    const std::string script =
        qEnvironmentVariable("SORVINDA_SOURCE_DIR").toStdString() + "/tests/dhcp/udhcpc-lease.sh";
    const auto shell = [](const std::string& command) {
        QProcess p;
        p.start("sh", {"-c", QString::fromStdString(command)});
        p.waitForFinished(-1);
        return QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
    };
    const QString macBefore = shell("cat /sys/class/net/" + dev + "/address 2>/dev/null || ip netns exec '" + ns
        + "' cat /sys/class/net/" + dev + "/address")
                                  .trimmed();
    ASSERT_EQ(shell("ip -n '" + ns + "' link set dev '" + dev + "' address 00:30:11:00:00:42"), QString());
    testsupport::WhenModal<TemplateDialog>([](TemplateDialog& d) {
        d.GetDlgItemAs<QAbstractButton>(IDC_ENABLE_DHCP_SERVER)->click();
        d.GetDlgItemAs<QAbstractButton>(IDOK)->click();
    });
    window.OnAdvancedOptions();
    ASSERT_TRUE(window.IsDhcpServerRunning());
    const QString hostIf = qEnvironmentVariable("SORVINDA_HOST_IF");
    EXPECT_TRUE(window.SummaryLineText().contains("Recovery DHCP server on (" + hostIf))
        << window.SummaryLineText().toStdString();
    EXPECT_TRUE(window.SummaryLineText().contains("no address given yet"));
    EXPECT_EQ(window.SummaryLineText().count('\n'), 2) << "the server's line is a line of its own";
    // The client runs beside the window's event loop, which takes the lease.
    QProcess client;
    client.start("ip",
        {"netns", "exec", QString::fromStdString(ns), "timeout", "30", "busybox", "udhcpc", "-f", "-q", "-n", "-t", "3",
            "-T", "1", "-i", QString::fromStdString(dev), "-s", QString::fromStdString(script)});
    ASSERT_TRUE(WaitFor([&] { return client.state() == QProcess::NotRunning; }) || client.waitForFinished(30000));
    EXPECT_TRUE(client.readAllStandardOutput().contains("LEASE 10.200.1.66"));
    const QRegularExpression given(
        QStringLiteral("10\\.200\\.1\\.66 given to 00-30-11-00-00-42 at \\d\\d:\\d\\d:\\d\\d"));
    EXPECT_TRUE(WaitFor([&] { return given.match(window.SummaryLineText()).hasMatch(); }))
        << window.SummaryLineText().toStdString();
    testsupport::WhenModal<TemplateDialog>([](TemplateDialog& d) {
        d.GetDlgItemAs<QAbstractButton>(IDC_ENABLE_DHCP_SERVER)->click();
        d.GetDlgItemAs<QAbstractButton>(IDOK)->click();
    });
    window.OnAdvancedOptions();
    EXPECT_TRUE(window.SummaryLineText().endsWith("Recovery DHCP server off"))
        << window.SummaryLineText().toStdString();
    if (!macBefore.isEmpty())
        shell("ip -n '" + ns + "' link set dev '" + dev + "' address " + macBefore.toStdString());
}

// A scan that cannot be sent, with the real library in the isolated
// network. In the usual network this program's library binds UDP 3250 as
// it loads; a second copy then opens the window, whose library finds the
// port taken, and must name this process - as must `sorvinda doctor`. A
// second registration runs the window under "isolated-net run --networks 0",
// where it must say that no adapter is up.

// Set for the copy that opens the window: the text its box must contain.
constexpr const char* kExpectedTextVariable = "SORVINDA_EXPECTED_SCAN_FAILURE";
constexpr int kProcessWaitMs = 6 * testsupport::kGuiWaitMs;
constexpr int kDoctorScanBlocked = 1;

QString OwnCommandName()
{
    QFile comm(QStringLiteral("/proc/self/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
}

TEST(ScanFailureTest, WindowShowsOneBoxPerScanNamingTheCause)
{
    if (!qEnvironmentVariableIsSet(kExpectedTextVariable))
        GTEST_SKIP() << "runs only where the scan fails (started by the tests below)";
    testsupport::requireIsolatedNetwork();
    const QString expected = qEnvironmentVariable(kExpectedTextVariable);
    MessageBoxRecorder boxes;
    CModuleConfigDlg dlg(nullptr);
    dlg.Create();
    for (int scans = 1; scans <= 2; ++scans) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Count() >= scans; }, testsupport::kGuiWaitMs));
        QCoreApplication::processEvents();
        ASSERT_EQ(boxes.Count(), scans);
        const MessageBoxRequest& box = boxes.Records().back();
        EXPECT_EQ(box.caption, QStringLiteral("Warning"));
        EXPECT_EQ(box.type, MB_OK | MB_ICONEXCLAMATION);
        EXPECT_TRUE(box.text.contains(expected)) << box.text.toStdString() << " lacks " << expected.toStdString();
        QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDC_SCAN), Qt::LeftButton);
    }
    dlg.EndDialog(IDOK);
}

TEST(ScanFailureTest, SecondCopyAndDoctorNameTheHolderOfThePort)
{
    if (qEnvironmentVariableIsSet(kExpectedTextVariable))
        GTEST_SKIP() << "this copy is the one whose scan fails";
    testsupport::requireIsolatedNetwork();
    const QString holder =
        QStringLiteral("held by %1 (process ID %2)").arg(OwnCommandName()).arg(QCoreApplication::applicationPid());

    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kExpectedTextVariable, "UDP port 3250 is " + holder);
    window.setProcessEnvironment(environment);
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(QCoreApplication::applicationFilePath(),
        {QStringLiteral("--gtest_filter=ScanFailureTest.WindowShowsOneBoxPerScanNamingTheCause")});
    ASSERT_TRUE(window.waitForFinished(kProcessWaitMs));
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 0);

    QProcess doctor;
    doctor.start(QString::fromStdString(testsupport::binaryDirectory() + "/sorvinda"), {QStringLiteral("doctor")});
    ASSERT_TRUE(doctor.waitForFinished(kProcessWaitMs));
    const QString report = QString::fromUtf8(doctor.readAllStandardOutput());
    EXPECT_TRUE(report.contains("UDP 3250: " + holder)) << report.toStdString();
    EXPECT_EQ(doctor.exitCode(), kDoctorScanBlocked) << report.toStdString();
}

} // namespace
