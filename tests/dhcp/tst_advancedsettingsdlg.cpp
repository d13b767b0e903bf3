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

using dhcptest::InIsolatedNetwork;
using dhcptest::ServerPortIsFree;
using Change = DhcpServerControl::Change;

constexpr int kDialogWaitMs = 5000;
constexpr int kDialogPollMs = 10;

enum class Action { KeepAndOk, ToggleAndOk, ToggleAndCancel, KeepAndCancel };

// What the user saw and did in one run of the dialog.
struct Visit {
    bool seen = false;
    bool boxWasChecked = false;
};

// Plays the user while `poll` runs: once the Advanced Settings dialog is
// the active modal window, records the box, then acts. Gives up (and leaves
// `seen` false) when no dialog appears in time.
void ActOnDialog(QTimer& poll, QElapsedTimer& clock, Action action, Visit& visit)
{
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, [&poll, &clock, action, &visit] {
        auto* dialog = qobject_cast<CAdvancedSettingsDlg*>(QApplication::activeModalWidget());
        if (dialog == nullptr && clock.elapsed() < kDialogWaitMs)
            return;
        poll.stop();
        if (dialog == nullptr)
            return;
        auto* box = dialog->GetDlgItemAs<QCheckBox>(IDC_ENABLE_DHCP_SERVER);
        visit.seen = box != nullptr;
        if (box == nullptr) {
            dialog->EndDialog(IDCANCEL);
            return;
        }
        visit.boxWasChecked = box->isChecked();
        if (action == Action::ToggleAndOk || action == Action::ToggleAndCancel)
            box->click();
        const bool ok = action == Action::KeepAndOk || action == Action::ToggleAndOk;
        auto* button = dialog->GetDlgItemAs<QAbstractButton>(ok ? IDOK : IDCANCEL);
        if (button != nullptr)
            button->click();
        else
            dialog->EndDialog(IDCANCEL);
    });
    poll.start(kDialogPollMs);
}

} // namespace

class TestAdvancedSettingsDlg : public QObject {
    Q_OBJECT

private:
    // One run of the command, with the user's part played from inside its
    // modal loop; the poller ends with this call.
    Change Run(Action action, Visit& visit)
    {
        QTimer poll;
        QElapsedTimer clock;
        ActOnDialog(poll, clock, action, visit);
        return RunAdvancedSettings(*control);
    }

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
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("boxShown");
        QTest::addColumn<int>("change");
        QTest::addColumn<bool>("runningAfter");

        QTest::newRow("stopped, check, OK starts")
            << false << int(Action::ToggleAndOk) << false << int(Change::Started) << true;
        QTest::newRow("running, uncheck, OK stops")
            << true << int(Action::ToggleAndOk) << true << int(Change::Stopped) << false;
        QTest::newRow("running, OK without change keeps it")
            << true << int(Action::KeepAndOk) << true << int(Change::None) << true;
        QTest::newRow("stopped, OK without change keeps it stopped")
            << false << int(Action::KeepAndOk) << false << int(Change::None) << false;
        QTest::newRow("stopped, check, Cancel changes nothing")
            << false << int(Action::ToggleAndCancel) << false << int(Change::None) << false;
        QTest::newRow("running, uncheck, Cancel changes nothing")
            << true << int(Action::ToggleAndCancel) << true << int(Change::None) << true;
        QTest::newRow("running, Cancel changes nothing")
            << true << int(Action::KeepAndCancel) << true << int(Change::None) << true;
    }

    void runs()
    {
        QFETCH(bool, runningBefore);
        QFETCH(int, action);
        QFETCH(bool, boxShown);
        QFETCH(int, change);
        QFETCH(bool, runningAfter);

        if (runningBefore)
            QVERIFY(control->Start());
        Visit visit;
        QCOMPARE(int(Run(Action(action), visit)), change);
        QVERIFY(visit.seen);
        QCOMPARE(visit.boxWasChecked, boxShown);
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

        Visit first;
        QCOMPARE(Run(Action::ToggleAndOk, first), Change::StartFailed);
        QVERIFY(first.seen);
        QCOMPARE(boxes->Count(), 1);
        const MessageBoxRequest& box = boxes->Records().front();
        QCOMPARE(box.text, QString("DHCP server init failed"));
        QCOMPARE(box.Buttons(), MB_OK);
        QCOMPARE(box.Icon(), 0u);
        QCOMPARE(box.caption, QString(kDefaultMessageBoxCaption));
        QVERIFY(control->IsRunning());

        Visit second;
        QCOMPARE(Run(Action::ToggleAndOk, second), Change::Stopped);
        QVERIFY(second.boxWasChecked);
        QVERIFY(!control->IsRunning());
        QCOMPARE(boxes->Count(), 1);

        holder.reset();
        Visit third;
        QCOMPARE(Run(Action::ToggleAndOk, third), Change::Started);
        QVERIFY(!ServerPortIsFree());
    }
};

QTEST_MAIN(TestAdvancedSettingsDlg)
#include "tst_advancedsettingsdlg.moc"
