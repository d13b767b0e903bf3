// The Advanced Settings dialog and the command that runs it: the box shows
// whether the recovery server runs, OK applies it, Cancel changes nothing,
// and a port held elsewhere is reported. The server binds port 67, so this
// runs in isolated namespaces.

#include "dhcp/advancedoptions.h"
#include "dhcp/advancedsettingsdlg.h"
#include "resources/resourceids.h"
#include "tests/dhcp/dhcpclientsocket.h"
#include "tests/support/qtgtest.h"
#include "ui/messagebox.h"

#include <QAbstractButton>
#include <QCheckBox>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace dhcptest;
using Change = DhcpServerControl::Change;

// What the user saw in one run of the dialog; empty texts: it never showed.
struct Visit {
    QString title, boxText, answersText;
    bool boxWasChecked = false;
};

// Runs the command with the user played inside its modal loop: notes the
// dialog, clicks the box when `toggle`, then OK or Cancel. A window left
// open is closed by the watchdog, which fails the test.
Change RunAsUser(DhcpServerControl& control, bool toggle, bool ok = true, Visit* visit = nullptr)
{
    testsupport::WhenModal<CAdvancedSettingsDlg>([=](CAdvancedSettingsDlg& dialog) {
        auto* box = dialog.GetDlgItemAs<QCheckBox>(IDC_ENABLE_DHCP_SERVER);
        if (box == nullptr)
            return dialog.EndDialog(IDCANCEL);
        if (visit != nullptr)
            *visit = {dialog.windowTitle(), box->text(), dialog.ShownAnswersText(), box->isChecked()};
        if (toggle)
            box->click();
        dialog.GetDlgItemAs<QAbstractButton>(ok ? IDOK : IDCANCEL)->click();
    });
    return RunAdvancedSettings(control);
}

class AdvancedSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InIsolatedNetwork()) << "run through scripts/isolated-net"; }
    void TearDown() override
    {
        control.reset();
        EXPECT_TRUE(ServerPortIsFree());
    }
    MessageBoxRecorder boxes;
    std::unique_ptr<DhcpServerControl> control = std::make_unique<DhcpServerControl>();
};

TEST_F(AdvancedSettingsTest, TheBoxShowsTheServerAndOnlyOkSwitchesIt)
{
    const struct {
        const char* name;
        bool runningBefore, toggle, ok;
        Change change;
    } rows[] = {{"stopped, check, OK starts", false, true, true, Change::Started},
        {"running, uncheck, OK stops", true, true, true, Change::Stopped},
        {"running, OK keeps it", true, false, true, Change::None},
        {"stopped, OK keeps it stopped", false, false, true, Change::None},
        {"stopped, check, Cancel", false, true, false, Change::None},
        {"running, uncheck, Cancel", true, true, false, Change::None}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        control = std::make_unique<DhcpServerControl>();
        if (r.runningBefore) {
            ASSERT_TRUE(control->Start());
        }
        Visit visit;
        EXPECT_EQ(RunAsUser(*control, r.toggle, r.ok, &visit), r.change);
        EXPECT_EQ(visit.title, QStringLiteral("Advanced Settings"));
        EXPECT_EQ(visit.boxText, QStringLiteral("Enable internal DHCP server"));
        // One line under the buttons says whom the server answers and what it gives.
        EXPECT_EQ(visit.answersText,
            QStringLiteral("Answers only modules whose MAC begins 00-30-11-...: each gets 10.200.1.x, x the MAC's "
                           "last byte (00 gets 10.200.1.1, FF gets 10.200.1.254), mask 255.255.255.0."));
        EXPECT_EQ(visit.boxWasChecked, r.runningBefore);
        const bool runningAfter = r.ok && r.toggle ? !r.runningBefore : r.runningBefore;
        EXPECT_EQ(control->IsRunning(), runningAfter);
        EXPECT_EQ(ServerPortIsFree(), !runningAfter);
        control.reset();
        EXPECT_TRUE(ServerPortIsFree());
    }
    EXPECT_EQ(boxes.Count(), 0);
}

// A port held by another program: the user is told, and the server counts
// as running (the control's own tests follow it on to the stop).
TEST_F(AdvancedSettingsTest, AHeldPortIsReported)
{
    auto holder = std::make_unique<platform::UdpSocket>();
    ASSERT_TRUE(holder->open() && holder->bind(CDhcpServer::kServerPort));
    EXPECT_EQ(RunAsUser(*control, true), Change::StartFailed);
    ASSERT_EQ(boxes.Count(), 1);
    const MessageBoxRequest& box = boxes.Records().front();
    EXPECT_EQ(box.text, QStringLiteral("DHCP server init failed"));
    EXPECT_EQ(box.type, MB_OK);
    EXPECT_EQ(box.caption, QString(kDefaultMessageBoxCaption));
    Visit next;
    EXPECT_EQ(RunAsUser(*control, true, true, &next), Change::Stopped);
    EXPECT_TRUE(next.boxWasChecked);
}

} // namespace
