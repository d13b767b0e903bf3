// The Advanced Settings dialog and the command that runs it: the box shows
// whether the recovery server runs, OK applies it, Cancel changes nothing,
// and a port held elsewhere is reported. The server binds port 67, so this
// runs in isolated namespaces.

#include "dhcp/advancedoptions.h"
#include "dhcp/advancedsettingsdlg.h"
#include "resources/resourceids.h"
#include "tests/dhcp/dhcpclientsocket.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

using namespace dhcptest;
using Change = DhcpServerControl::Change;

constexpr int kDialogWaitMs = 15000;
constexpr int kDialogPollMs = 10;

// What the user saw and did in one run of the dialog.
struct Visit {
    bool toggle = false;
    bool ok = true;
    bool seen = false;
    bool boxWasChecked = false;
    QString boxText = {}, title = {};
    QString leftOpen = {}; // a modal window that was not the dialog, closed by force
};

// Runs the command with the user played from inside its modal loop: once the
// Advanced Settings dialog is active, notes the box, then acts. Whatever
// other modal window is still open when the wait ends is closed and noted,
// so a fault that keeps a window open fails the test instead of hanging it.
Change Run(DhcpServerControl& control, Visit& visit)
{
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<CAdvancedSettingsDlg*>(modal);
        if (dialog == nullptr) {
            if (modal != nullptr && clock.elapsed() >= kDialogWaitMs) {
                visit.leftOpen = modal->windowTitle();
                modal->close();
            }
            return;
        }
        poll.stop();
        auto* box = dialog->GetDlgItemAs<QCheckBox>(IDC_ENABLE_DHCP_SERVER);
        visit.seen = box != nullptr;
        visit.title = dialog->windowTitle();
        if (box == nullptr)
            return dialog->EndDialog(IDCANCEL);
        visit.boxText = box->text();
        visit.boxWasChecked = box->isChecked();
        if (visit.toggle)
            box->click();
        dialog->GetDlgItemAs<QAbstractButton>(visit.ok ? IDOK : IDCANCEL)->click();
    });
    poll.start(kDialogPollMs);
    return RunAdvancedSettings(control);
}

} // namespace

class TestAdvancedSettingsDlg : public QObject {
    Q_OBJECT

    std::unique_ptr<DhcpServerControl> control;
    std::unique_ptr<MessageBoxRecorder> boxes;

private slots:
    void initTestCase() { QVERIFY2(InIsolatedNetwork(), "run through scripts/isolated-net"); }

    void init()
    {
        control = std::make_unique<DhcpServerControl>();
        boxes = std::make_unique<MessageBoxRecorder>();
    }

    void cleanup()
    {
        control.reset();
        boxes.reset();
        QVERIFY(ServerPortIsFree());
    }

    void runs_data()
    {
        QTest::addColumn<bool>("runningBefore");
        QTest::addColumn<bool>("toggle");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("change");
        QTest::newRow("stopped, check, OK starts") << false << true << true << int(Change::Started);
        QTest::newRow("running, uncheck, OK stops") << true << true << true << int(Change::Stopped);
        QTest::newRow("running, OK keeps it") << true << false << true << int(Change::None);
        QTest::newRow("stopped, OK keeps it stopped") << false << false << true << int(Change::None);
        QTest::newRow("stopped, check, Cancel") << false << true << false << int(Change::None);
        QTest::newRow("running, uncheck, Cancel") << true << true << false << int(Change::None);
    }

    void runs()
    {
        QFETCH(bool, runningBefore);
        QFETCH(bool, toggle);
        QFETCH(bool, ok);
        QFETCH(int, change);
        if (runningBefore)
            QVERIFY(control->Start());
        Visit visit{.toggle = toggle, .ok = ok};
        QCOMPARE(int(Run(*control, visit)), change);
        QCOMPARE(visit.leftOpen, QString());
        QVERIFY(visit.seen);
        QCOMPARE(visit.title, QStringLiteral("Advanced Settings"));
        QCOMPARE(visit.boxText, QStringLiteral("Enable internal DHCP server"));
        QCOMPARE(visit.boxWasChecked, runningBefore);
        const bool runningAfter = ok && toggle ? !runningBefore : runningBefore;
        QCOMPARE(control->IsRunning(), runningAfter);
        QCOMPARE(ServerPortIsFree(), !runningAfter);
        QCOMPARE(boxes->Count(), 0);
    }

    // A port held by another program: the user is told, the server is
    // marked running without a socket, the next dialog shows the box
    // checked, and unchecking it stops cleanly.
    void heldPortIsReportedAndStopsCleanlyLater()
    {
        auto holder = std::make_unique<platform::UdpSocket>();
        QVERIFY(holder->open() && holder->bind(CDhcpServer::kServerPort));
        Visit first{.toggle = true};
        QCOMPARE(Run(*control, first), Change::StartFailed);
        QCOMPARE(boxes->Count(), 1);
        const MessageBoxRequest& box = boxes->Records().front();
        QCOMPARE(box.text, QString("DHCP server init failed"));
        QCOMPARE(box.Buttons(), MB_OK);
        QCOMPARE(box.Icon(), 0u);
        QCOMPARE(box.caption, QString(kDefaultMessageBoxCaption));
        QVERIFY(control->IsRunning());

        Visit second{.toggle = true};
        QCOMPARE(Run(*control, second), Change::Stopped);
        QVERIFY(second.boxWasChecked);
        QVERIFY(!control->IsRunning());
        QCOMPARE(boxes->Count(), 1);

        holder.reset();
        Visit third{.toggle = true};
        QCOMPARE(Run(*control, third), Change::Started);
        QVERIFY(!ServerPortIsFree());
    }
};

QTEST_MAIN(TestAdvancedSettingsDlg)
#include "tst_advancedsettingsdlg.moc"
