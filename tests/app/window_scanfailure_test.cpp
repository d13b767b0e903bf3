// A scan that cannot be sent, with the real library in the isolated
// network. In the usual network this program's library binds UDP 3250 as
// it loads; a second copy then opens the window, whose library finds the
// port taken, and must name this process - as must `sorvinda doctor`. A
// second registration runs the window under "isolated-net run --networks 0",
// where it must say that no adapter is up.
#include "app/moduleconfigdlg.h"
#include "resources/resourceids.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/qtgtest.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

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
