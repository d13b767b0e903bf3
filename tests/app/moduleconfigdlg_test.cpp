#include "app/librarynotifyevent.h"
#include "app/moduleconfigdlg.h"
#include "app/qortapi.h"
#include "app/versionmessagebox.h"
#include "devicelist/devicelistctrl.h"
#include "resources/dialogtemplate.h"
#include "resources/resourceids.h"
#include "ui/messagebox.h"
#include "ui/templatedialog.h"
#include "versioninfo/cvfxversiondata.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace {

// A stand-in for the protocol library: counts the calls and serves queues
// that the test fills, so the window's own decisions can be seen.
struct FakeLibrary {
    int registered = 0;
    int started = 0;
    int scans = 0;
    int winks = 0;
    int configures = 0;
    std::vector<std::string> calls; // the order of the start-up calls
    QORT_ConfigureRequestType lastWink{};
    std::deque<QORT_ModuleScanResponseType> responses;
    std::deque<devicelist::MacAddress> invalidPasswords;
};
FakeLibrary g_fake;

const QortApi kFakeApi{
    [](QORT_CallBackType) { ++g_fake.registered, g_fake.calls.push_back("register"); },
    [] { return ++g_fake.started, g_fake.calls.push_back("start"), 1; },
    [] { return ++g_fake.scans, g_fake.calls.push_back("scan"), 1; },
    [](const QORT_ConfigureRequestType*) { ++g_fake.configures; },
    [](const QORT_ConfigureRequestType* r) { ++g_fake.winks, g_fake.lastWink = *r; },
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

QORT_ModuleScanResponseType Module(std::uint8_t last, std::uint8_t protoMajor, std::uint8_t protoMinor)
{
    QORT_ModuleScanResponseType r;
    std::memset(&r, 0xFF, sizeof r);
    r.ProtocolVersionValid = 1;
    r.ProtocolVersionMajor = protoMajor;
    r.ProtocolVersionMinor = protoMinor;
    const std::uint8_t mac[QORT_MAC_SIZE] = {0x00, 0x30, 0x11, 0x00, 0x00, last};
    std::memcpy(r.MacId, mac, sizeof mac);
    r.MacIdValid = 1;
    r.IpAddr = 0xC0A80000u | last;
    r.IpAddrValid = 1;
    r.FbTypeValid = r.ModuleVersionValid = r.SubnetMaskValid = r.GatewayValid = 0;
    r.DhcpValid = r.PswdValid = r.HostNameValid = r.Dns1Valid = r.Dns2Valid = 0;
    return r;
}

devicelist::MacAddress MacOf(std::uint8_t last)
{
    return {0x00, 0x30, 0x11, 0x00, 0x00, last};
}

QString LibDir()
{
    return qEnvironmentVariable("SORVINDA_LIB_DIR");
}

} // namespace

class ModuleConfigDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init() { g_fake = FakeLibrary{}; }

    void controlsTextsAndGeometryFollowTemplate102();
    void startsLibraryAndScansOnce();
    void escapeKeepsTheWindowOpen();
    void exitEndsWithIdok();
    void closeButtonEndsLikeExit();
    void aboutShowsTheProgramVersion();
    void libraryWithAnotherVersionIsRefusedWithoutScanning();
    void resizeMovesControlsAndKeepsMinimum();
    void responseNoticesFillTheListOnce();
    void responseNoticeWithEmptyQueueReturnsZero();
    void invalidPasswordNotices_data();
    void invalidPasswordNotices();
    void reconfiguredRescansAndRemovesMatchingEntry();
    void winkFollowsProtocolVersion_data();
    void winkFollowsProtocolVersion();
    void winkWithoutSelectionDoesNothing();
    void noticeFromLibraryThreadIsHandledOnGuiThread();
    void noticeAfterWindowClosedIsDropped();
    void versionRecordShowUsesAnInformationBox();
    void doubleClickOpensOneDialogAndSendsOneRequest();
};

void ModuleConfigDlgTest::controlsTextsAndGeometryFollowTemplate102()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.windowTitle(), QString("Sorvinda Config v1.3.1"));

    const DialogTemplate* tpl = FindDialogTemplate(IDD_SORVINDACONFIG_DIALOG);
    QVERIFY(tpl != nullptr);
    QCOMPARE(dlg.size(), DialogUnitsToPixels(tpl->cx, tpl->cy, dlg.BaseUnits()));
    for (const ControlTemplate& c : tpl->controls) {
        QWidget* w = dlg.GetDlgItem(c.id);
        QVERIFY2(w != nullptr, qPrintable(QString::number(c.id)));
        QCOMPARE(w->geometry(), dlg.MapDialogRect(c.rect));
    }
    const struct {
        int id;
        const char* text;
    } buttons[] = {{IDC_SCAN, "Scan"}, {IDOK, "Exit"}, {IDC_ADVANCED_OPTIONS, "Advanced Options"}, {IDC_WINK, "Wink"},
        {IDC_FILE, "File"}};
    for (const auto& b : buttons) {
        auto* button = dlg.GetDlgItemAs<QAbstractButton>(b.id);
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), QString(b.text));
    }
    QVERIFY(dlg.GetDlgItem(IDC_FILE)->isHidden());
    QVERIFY(!dlg.GetDlgItem(IDC_FILE)->isEnabled());
    QCOMPARE(dlg.GetDlgItem(IDC_DEVICE_LIST), static_cast<QWidget*>(dlg.DeviceList()));
    QCOMPARE(dlg.DeviceList()->model()->columnCount(), 7);
    dlg.EndDialog(IDOK);
}

void ModuleConfigDlgTest::startsLibraryAndScansOnce()
{
    g_fake.calls.clear();
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    QCOMPARE(g_fake.registered, 1);
    QCOMPARE(g_fake.started, 1);
    QCOMPARE(g_fake.scans, 1);
    // The callback is in place before the library starts, and the library is
    // running before the first scan goes out.
    const std::vector<std::string> expected{"register", "start", "scan"};
    QVERIFY(g_fake.calls == expected);
    QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDC_SCAN), Qt::LeftButton);
    QCOMPARE(g_fake.scans, 2);
    QCOMPARE(g_fake.started, 1);
}

void ModuleConfigDlgTest::escapeKeepsTheWindowOpen()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QTest::keyClick(dlg.DeviceList(), Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
}

void ModuleConfigDlgTest::exitEndsWithIdok()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    QTimer::singleShot(0, &dlg, [&dlg] { QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDOK), Qt::LeftButton); });
    QCOMPARE(dlg.DoModal(), IDOK);
    QVERIFY(!dlg.isVisible());
}

void ModuleConfigDlgTest::closeButtonEndsLikeExit()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    QTimer::singleShot(0, &dlg, [&dlg] { dlg.close(); });
    QCOMPARE(dlg.DoModal(), IDOK);
}

void ModuleConfigDlgTest::aboutShowsTheProgramVersion()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    QString shown;
    bool found = false;
    QTimer::singleShot(0, &dlg, [&] {
        auto* about = qobject_cast<TemplateDialog*>(QApplication::activeModalWidget());
        if (about != nullptr && about != &dlg) {
            found = true;
            shown = about->GetDlgItemAs<QLabel>(IDC_VERSION)->text();
            about->EndDialog(IDOK);
        }
    });
    dlg.OnSysCommand(IDM_ABOUTBOX | 0x2); // the low four bits carry flags
    QVERIFY(found);
    QCOMPARE(shown, QString("Version: 1.3.1.0"));
    QVERIFY(dlg.isVisible());
}

void ModuleConfigDlgTest::libraryWithAnotherVersionIsRefusedWithoutScanning()
{
    MessageBoxRecorder boxes;
    const QString file = LibDir() + "/libfakeqort12.so";
    QVERIFY2(QFile::exists(file), qPrintable(file));
    CModuleConfigDlg dlg(nullptr, kFakeApi, file.toStdString());
    QCOMPARE(dlg.DoModal(), IDCANCEL);
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Records()[0].text, QString("Incorrect DLL version"));
    QCOMPARE(boxes.Records()[0].caption, QString("Warning"));
    QCOMPARE(boxes.Records()[0].Icon(), MB_ICONEXCLAMATION);
    QCOMPARE(boxes.Records()[0].Buttons(), MB_OK);
    QCOMPARE(g_fake.registered, 0);
    QCOMPARE(g_fake.started, 0);
    QCOMPARE(g_fake.scans, 0);
    QCOMPARE(dlg.DeviceList()->model()->columnCount(), 0);
}

void ModuleConfigDlgTest::resizeMovesControlsAndKeepsMinimum()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QSize initial = dlg.size();
    QMap<int, QRect> before;
    for (int id : {IDC_DEVICE_LIST, IDC_ADVANCED_OPTIONS, IDC_WINK, IDC_FILE, IDC_SCAN, IDOK}) {
        before[id] = dlg.GetDlgItem(id)->geometry();
    }
    dlg.resize(initial + QSize(100, 50));
    QCoreApplication::processEvents();
    QCOMPARE(dlg.GetDlgItem(IDC_DEVICE_LIST)->geometry(), before[IDC_DEVICE_LIST].adjusted(0, 0, 100, 50));
    QCOMPARE(dlg.GetDlgItem(IDC_ADVANCED_OPTIONS)->geometry(), before[IDC_ADVANCED_OPTIONS].translated(0, 50));
    for (int id : {IDC_WINK, IDC_FILE, IDC_SCAN, IDOK}) {
        QCOMPARE(dlg.GetDlgItem(id)->geometry(), before[id].translated(100, 50));
    }
    dlg.resize(10, 10);
    QCoreApplication::processEvents();
    QVERIFY(dlg.frameGeometry().width() >= 194);
    QVERIFY(dlg.frameGeometry().height() >= 130);
    dlg.resize(initial);
    QCoreApplication::processEvents();
    for (auto it = before.begin(); it != before.end(); ++it) {
        QCOMPARE(dlg.GetDlgItem(it.key())->geometry(), it.value());
    }
}

void ModuleConfigDlgTest::responseNoticesFillTheListOnce()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    g_fake.responses = {Module(1, 1, 10), Module(2, 1, 9), Module(1, 1, 10)};
    for (int i = 0; i < 3; ++i)
        QCOMPARE(dlg.OnLibraryNotify(QORT_CB_RESPONSE), 1);
    QCOMPARE(dlg.DeviceList()->GetItemCount(), 2);
    QVERIFY(g_fake.responses.empty());
}

void ModuleConfigDlgTest::responseNoticeWithEmptyQueueReturnsZero()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    QCOMPARE(dlg.OnLibraryNotify(QORT_CB_RESPONSE), 0);
    QCOMPARE(dlg.OnLibraryNotify(99), 1);
    QCOMPARE(dlg.DeviceList()->GetItemCount(), 0);
}

// One "Invalid password" box per notice whose rejection names the module
// configured last. Queue and remainder list MAC last bytes; -1 stands for a
// malformed reply, which the library queues as FF-FF-FF-FF-FF-FF.
void ModuleConfigDlgTest::invalidPasswordNotices_data()
{
    QTest::addColumn<int>("lastConfigured"); // -1: nothing configured yet
    QTest::addColumn<QList<int>>("queued");
    QTest::addColumn<int>("notices");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QList<int>>("remaining");
    QTest::newRow("one box per matching notice") << 7 << QList<int>{7, 7} << 2 << 2 << QList<int>{};
    QTest::newRow("nothing configured: dropped") << -1 << QList<int>{7} << 1 << 0 << QList<int>{};
    QTest::newRow("entry behind the match waits") << 8 << QList<int>{8, 7} << 1 << 1 << QList<int>{7};
    // Regression: a stray entry (another module's, or malformed) stayed at
    // the head for good, and no later rejection was ever reported.
    QTest::newRow("strays ahead of the match") << 8 << QList<int>{-1, 7, 8} << 3 << 1 << QList<int>{};
}

void ModuleConfigDlgTest::invalidPasswordNotices()
{
    QFETCH(int, lastConfigured);
    QFETCH(QList<int>, queued);
    QFETCH(int, notices);
    QFETCH(int, boxes);
    QFETCH(QList<int>, remaining);
    const auto macOf = [](int last) {
        return last < 0 ? devicelist::MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF} : MacOf(std::uint8_t(last));
    };
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    MessageBoxRecorder shown;
    if (lastConfigured >= 0)
        dlg.DeviceList()->SetLastConfiguredMac(MacOf(std::uint8_t(lastConfigured)));
    for (int last : queued)
        g_fake.invalidPasswords.push_back(macOf(last));
    for (int i = 0; i < notices; ++i)
        QCOMPARE(dlg.OnLibraryNotify(QORT_CB_INVALID_PASSWORD), 1);
    QCOMPARE(shown.Count(), boxes);
    for (const MessageBoxRequest& box : shown.Records()) {
        QCOMPARE(box.text, QString("Invalid password"));
        QCOMPARE(box.caption, QString("Warning"));
        QCOMPARE(box.Icon(), MB_ICONEXCLAMATION);
    }
    QCOMPARE(g_fake.invalidPasswords.size(), std::size_t(remaining.size()));
    for (qsizetype i = 0; i < remaining.size(); ++i)
        QVERIFY(g_fake.invalidPasswords[std::size_t(i)] == macOf(remaining[i]));
}

void ModuleConfigDlgTest::reconfiguredRescansAndRemovesMatchingEntry()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    MessageBoxRecorder boxes;
    g_fake.responses = {Module(1, 1, 10)};
    dlg.OnLibraryNotify(QORT_CB_RESPONSE);
    QCOMPARE(dlg.DeviceList()->GetItemCount(), 1);
    const int scansBefore = g_fake.scans;

    dlg.OnLibraryNotify(QORT_CB_RECONFIGURED); // empty queue: still rescans
    QCOMPARE(g_fake.scans, scansBefore + 1);
    QCOMPARE(dlg.DeviceList()->GetItemCount(), 0);

    dlg.DeviceList()->SetLastConfiguredMac(MacOf(3));
    g_fake.invalidPasswords = {MacOf(3), MacOf(4)};
    dlg.OnLibraryNotify(QORT_CB_RECONFIGURED);
    QCOMPARE(g_fake.invalidPasswords.size(), std::size_t(1));
    dlg.OnLibraryNotify(QORT_CB_RECONFIGURED); // oldest is 4: stays
    QCOMPARE(g_fake.invalidPasswords.size(), std::size_t(1));
    QCOMPARE(g_fake.scans, scansBefore + 3);
    QCOMPARE(boxes.Count(), 0);
}

void ModuleConfigDlgTest::winkFollowsProtocolVersion_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("winks");
    QTest::newRow("1.9") << 1 << 9 << false;
    QTest::newRow("1.10") << 1 << 10 << true;
    QTest::newRow("1.255") << 1 << 255 << true;
    QTest::newRow("2.0") << 2 << 0 << true;
    QTest::newRow("0.200") << 0 << 200 << false;
    QTest::newRow("0xFF.0xFF") << 0xFF << 0xFF << true;
}

void ModuleConfigDlgTest::winkFollowsProtocolVersion()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, winks);
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    MessageBoxRecorder boxes;
    g_fake.responses = {Module(5, std::uint8_t(major), std::uint8_t(minor))};
    dlg.OnLibraryNotify(QORT_CB_RESPONSE);
    dlg.DeviceList()->setCurrentIndex(dlg.DeviceList()->model()->index(0, 0));
    QCOMPARE(dlg.DeviceList()->GetFirstSelectedRow(), 0);
    QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDC_WINK), Qt::LeftButton);
    QCOMPARE(g_fake.winks, winks ? 1 : 0);
    QCOMPARE(boxes.Count(), winks ? 0 : 1);
    if (winks) {
        const auto mac = MacOf(5);
        QVERIFY(std::equal(mac.begin(), mac.end(), g_fake.lastWink.MacId));
    } else {
        QCOMPARE(boxes.Records()[0].text, QString("Device does not support wink."));
        QCOMPARE(boxes.Records()[0].caption, QString("SorvindaConfig"));
        QCOMPARE(boxes.Records()[0].Buttons(), MB_OK);
        QCOMPARE(boxes.Records()[0].Icon(), 0u);
    }
}

void ModuleConfigDlgTest::winkWithoutSelectionDoesNothing()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    MessageBoxRecorder boxes;
    g_fake.responses = {Module(5, 1, 9)};
    dlg.OnLibraryNotify(QORT_CB_RESPONSE);
    dlg.OnWink();
    QCOMPARE(g_fake.winks, 0);
    QCOMPARE(boxes.Count(), 0);
}

void ModuleConfigDlgTest::noticeFromLibraryThreadIsHandledOnGuiThread()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    g_fake.responses = {Module(1, 1, 10), Module(2, 1, 10)};
    std::thread library([] {
        LibraryCallback(QORT_CB_RESPONSE);
        LibraryCallback(QORT_CB_RESPONSE);
    });
    library.join();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.DeviceList()->GetItemCount(), 2, 2000);
}

void ModuleConfigDlgTest::noticeAfterWindowClosedIsDropped()
{
    {
        CModuleConfigDlg dlg(nullptr, kFakeApi);
        dlg.Create();
        dlg.EndDialog(IDOK);
    }
    g_fake.responses = {Module(1, 1, 10)};
    std::thread library([] { LibraryCallback(QORT_CB_RESPONSE); });
    library.join();
    QCoreApplication::processEvents();
    QCOMPARE(g_fake.responses.size(), std::size_t(1)); // nobody took it
}

// The version record's box goes through the program's message boxes, with
// the information icon and the default caption.
void ModuleConfigDlgTest::versionRecordShowUsesAnInformationBox()
{
    InstallVersionInfoMessageBox();
    MessageBoxRecorder boxes;
    CVFXVersionData empty;
    empty.Show(false);
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Records()[0].text, QString("No version information is available"));
    QCOMPARE(boxes.Records()[0].caption, QString("SorvindaConfig"));
    QCOMPARE(boxes.Records()[0].Icon(), MB_ICONINFORMATION);
    QCOMPARE(boxes.Records()[0].Buttons(), MB_OK);
    CVFXVersionData::SetMessageBoxHook(nullptr);
}

// Regression: the configure flow was connected to the list twice, so one
// double-click ran the dialog twice and could send two requests.
void ModuleConfigDlgTest::doubleClickOpensOneDialogAndSendsOneRequest()
{
    CModuleConfigDlg dlg(nullptr, kFakeApi);
    dlg.Create();
    g_fake.responses = {Module(7, 1, 10)};
    QCOMPARE(dlg.OnLibraryNotify(QORT_CB_RESPONSE), 1);
    QCOMPARE(dlg.DeviceList()->GetItemCount(), 1);
    const int configuresBefore = g_fake.configures;

    int dialogsSeen = 0;
    QTimer acceptor;
    connect(&acceptor, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<TemplateDialog*>(QApplication::activeModalWidget());
        if (modal == nullptr || modal == &dlg)
            return;
        ++dialogsSeen;
        auto* set = qobject_cast<QAbstractButton*>(modal->GetDlgItem(IDOK));
        QVERIFY(set != nullptr);
        set->click();
    });
    acceptor.start(10);
    // Returns only after every modal run the double-click started has ended.
    emit dlg.DeviceList()->RowDoubleClicked(0);
    acceptor.stop();

    QCOMPARE(dialogsSeen, 1);
    QCOMPARE(g_fake.configures - configuresBefore, 1);
}

QTEST_MAIN(ModuleConfigDlgTest)
#include "moduleconfigdlg_test.moc"
