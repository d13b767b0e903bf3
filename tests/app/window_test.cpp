// The main window over a stand-in library table that counts the calls and
// serves queues the test fills, so the window's own decisions are seen; and
// the files the program runs with: its own version resource and the libqort
// the loader bound. The program links libqort (its load-time set-up binds
// UDP 3250), so this runs in the isolated network.

#include "app/librarynotifyevent.h"
#include "app/libraryversion.h"
#include "app/moduleconfigdlg.h"
#include "app/qortapi.h"
#include "app/versionmessagebox.h"
#include "devicelist/devicelistctrl.h"
#include "protocol/qort.h"
#include "resources/resourceids.h"
#include "tests/devicelist/records.h"
#include "tests/support/qtgtest.h"
#include "ui/messagebox.h"
#include "versioninfo/cvfxversiondata.h"
#include "versioninfo/cvfxversioninfo.h"

#include <QAbstractButton>
#include <QLabel>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <filesystem>
#include <map>
#include <thread>

namespace {

using testrecords::Record;

struct FakeLibrary {
    std::vector<std::string> calls; // register, start, scan, configure, wink in order
    std::deque<QORT_ModuleScanResponseType> responses;
    std::deque<devicelist::MacAddress> invalidPasswords;
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
};

QORT_ModuleScanResponseType Module(std::uint8_t last, std::uint8_t major = 1, std::uint8_t minor = 10)
{
    return Record().Mac(last).Ip(0xC0A80000u | last).Protocol(major, minor);
}

devicelist::MacAddress MacOf(std::uint8_t last)
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
        return last < 0 ? devicelist::MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF} : MacOf(std::uint8_t(last));
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
        for (const MessageBoxRequest& box : shown.Records()) {
            EXPECT_EQ(box.text, QStringLiteral("Invalid password"));
            EXPECT_EQ(box.caption, QStringLiteral("Warning"));
            EXPECT_EQ(box.Icon(), MB_ICONEXCLAMATION);
        }
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
        g_fake.responses = {Module(1), Module(2)};
        std::thread([] { LibraryCallback(QORT_CB_RESPONSE), LibraryCallback(QORT_CB_RESPONSE); }).join();
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.DeviceList()->GetItemCount() == 2; }, testsupport::kGuiWaitMs));
        window.EndDialog(IDOK);
    }
    g_fake.responses = {Module(3)};
    std::thread([] { LibraryCallback(QORT_CB_RESPONSE); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(g_fake.responses.size(), 1u); // the closed window took nothing
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

} // namespace
