// The window's word on a scan that could not be sent, with the real library
// in the isolated network. Registered twice:
//  - in the usual network this process's library binds UDP 3250 as it
//    loads; a second copy of the program then opens the window, whose
//    library finds the port taken, and must name this process;
//  - under "isolated-net run --lo-only" the window runs here and must say
//    that no adapter is up.

#include "app/moduleconfigdlg.h"
#include "devicelist/devicelistctrl.h"
#include "resources/resourceids.h"
#include "tests/support/isolatednetwork.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

constexpr int kWaitMs = 20000; // sanitizer builds on a loaded machine
// Set for the side that opens the window: the text its box must contain.
constexpr const char* kExpectedTextVariable = "SORVINDA_EXPECTED_SCAN_FAILURE";

QString OwnCommandName()
{
    QFile comm(QStringLiteral("/proc/self/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
}

} // namespace

// Runs where the window's scan fails.
class ScanFailureWindowTest : public QObject {
    Q_OBJECT

private slots:
    void oneBoxPerScanNamesTheCause()
    {
        const QString expected = qEnvironmentVariable(kExpectedTextVariable);
        MessageBoxRecorder boxes;
        CModuleConfigDlg dlg(nullptr);
        dlg.Create();
        for (int scans = 1; scans <= 2; ++scans) {
            QTRY_COMPARE_WITH_TIMEOUT(boxes.Count(), scans, kWaitMs);
            QCoreApplication::processEvents();
            QCOMPARE(boxes.Count(), scans);
            const MessageBoxRequest& box = boxes.Records().back();
            QCOMPARE(box.caption, QStringLiteral("Warning"));
            QCOMPARE(box.type, MB_OK | MB_ICONEXCLAMATION);
            QVERIFY2(box.text.contains(expected), qPrintable(box.text + " lacks " + expected));
            QTest::mouseClick(dlg.GetDlgItemAs<QAbstractButton>(IDC_SCAN), Qt::LeftButton);
        }
        dlg.EndDialog(IDOK);
    }
};

// Holds UDP 3250 through its own library and runs the window in a second
// process.
class ScanFailureTest : public QObject {
    Q_OBJECT

private slots:
    void windowOfASecondCopyNamesTheHolder()
    {
        const QString holder = QStringLiteral("UDP port 3250 is held by %1 (process ID %2)")
                                   .arg(OwnCommandName())
                                   .arg(QCoreApplication::applicationPid());
        QProcess window;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kExpectedTextVariable, holder);
        window.setProcessEnvironment(environment);
        window.setProcessChannelMode(QProcess::ForwardedChannels);
        window.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(window.waitForFinished(3 * kWaitMs));
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 0);
    }
};

int main(int argc, char** argv)
{
    testsupport::requireIsolatedNetwork();
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kExpectedTextVariable)) {
        ScanFailureWindowTest test;
        return QTest::qExec(&test, argc, argv);
    }
    ScanFailureTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "scanfailure_test.moc"
