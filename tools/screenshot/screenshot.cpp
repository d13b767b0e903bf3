#include "tools/screenshot/screenshot.h"

#include "app/moduleconfigdlg.h"
#include "devicelist/devicelistctrl.h"
#include "plandialog/plandialog.h"
#include "resources/resourceids.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

constexpr int kPollIntervalMs = 100;
// The list counts as complete when its row count has not changed for this
// long; replies of simulated modules come within a few tens of ms.
constexpr int kQuietMs = 1000;
constexpr int kGiveUpMs = 15000;
// A DHCP client asks again after a pause of a few seconds; a plan run waits
// for its answers and rescans.
constexpr int kLeaseGiveUpMs = 60000;
constexpr int kPlanGiveUpMs = 60000;
constexpr int kSortColumn = 0; // IP
constexpr const char* kLeaseGiven = " given to ";

struct Capture {
    QString file;
    ScreenshotView view;
    QString plan;
    int lastCount = -1;
    int quietMs = 0;
    int elapsedMs = 0;
};

void Fail(const char* why)
{
    std::fprintf(stderr, "sorvinda-screenshot: %s\n", why);
    static_cast<void>(std::fflush(stderr)); // nowhere left to report a failure
    QCoreApplication::exit(1);
    std::exit(1); // NOLINT(concurrency-mt-unsafe): the aid ends here; no other thread calls exit
}

void Save(QWidget& widget, const QString& file, const char* what)
{
    widget.repaint();
    if (!widget.grab().save(file, "PNG"))
        Fail("cannot write the picture");
    std::printf("sorvinda-screenshot: %s saved to %s\n", what, qPrintable(file));
    static_cast<void>(std::fflush(stdout)); // a progress line; the picture is already saved
}

// Waits on the event loop until `done` holds; false after `limitMs`.
bool WaitUntil(const std::function<bool()>& done, int limitMs)
{
    for (int waited = 0; !done(); waited += kPollIntervalMs) {
        if (waited > limitMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(kPollIntervalMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Advanced Settings, played as a user: the box checked, OK.
void SwitchOnRecoveryServer(CModuleConfigDlg& window)
{
    QTimer::singleShot(kPollIntervalMs, &window, [] {
        auto* settings = qobject_cast<TemplateDialog*>(QApplication::activeModalWidget());
        if (settings == nullptr || settings->GetDlgItemAs<QAbstractButton>(IDC_ENABLE_DHCP_SERVER) == nullptr)
            Fail("Advanced Settings did not open");
        settings->GetDlgItemAs<QAbstractButton>(IDC_ENABLE_DHCP_SERVER)->click();
        settings->GetDlgItemAs<QAbstractButton>(IDOK)->click();
    });
    window.OnAdvancedOptions();
    if (!WaitUntil([&] { return window.SummaryLineText().contains(QLatin1String(kLeaseGiven)); }, kLeaseGiveUpMs))
        Fail("the recovery server gave no address");
}

// The plan dialog through Apply to its results, then its picture.
void RunPlan(CModuleConfigDlg& window, const Capture& capture)
{
    QTimer::singleShot(kPollIntervalMs, &window, [&capture] {
        auto* plan = qobject_cast<CPlanDialog*>(QApplication::activeModalWidget());
        if (plan == nullptr)
            Fail("the plan dialog did not open");
        if (!WaitUntil([plan] { return !plan->SummaryText().startsWith(QLatin1String("Checking")); }, kGiveUpMs))
            Fail("the plan was not checked");
        if (plan->IsApplyEnabled()) {
            plan->ApplyButton()->click();
            if (!WaitUntil([plan] { return !plan->IsRunning(); }, kPlanGiveUpMs))
                Fail("the plan run did not end");
        }
        Save(*plan, capture.file, "the plan dialog");
        plan->CancelButton()->click();
    });
    window.ApplyPlanFile(capture.plan);
}

void Poll(Capture& capture, QTimer& timer)
{
    capture.elapsedMs += kPollIntervalMs;
    auto* dlg = qobject_cast<CModuleConfigDlg*>(QApplication::activeModalWidget());
    if (dlg == nullptr || dlg->DeviceList() == nullptr) {
        if (capture.elapsedMs > kGiveUpMs)
            Fail("the main window did not open");
        return;
    }
    const int count = dlg->DeviceList()->GetItemCount();
    capture.quietMs = (count == capture.lastCount) ? capture.quietMs + kPollIntervalMs : 0;
    capture.lastCount = count;
    if (count == 0 || capture.quietMs < kQuietMs) {
        if (capture.elapsedMs > kGiveUpMs)
            Fail("no modules were listed");
        return;
    }
    timer.stop();
    dlg->DeviceList()->SortByColumn(kSortColumn, true);
    std::printf("sorvinda-screenshot: %d modules listed\n", count);
    switch (capture.view) {
    case ScreenshotView::Main:
        Save(*dlg, capture.file, "the main window");
        break;
    case ScreenshotView::Dhcp:
        SwitchOnRecoveryServer(*dlg);
        dlg->DeviceList()->SortByColumn(kSortColumn, true);
        Save(*dlg, capture.file, "the main window with the recovery server on");
        break;
    case ScreenshotView::Plan:
        RunPlan(*dlg, capture);
        break;
    }
    dlg->EndDialog(IDOK);
}

} // namespace

void ArmScreenshot(const QString& file, ScreenshotView view, const QString& plan)
{
    auto* capture = new Capture{file, view, plan};
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [capture, timer] { Poll(*capture, *timer); });
    QObject::connect(qApp, &QObject::destroyed, [capture] { delete capture; });
    timer->start(kPollIntervalMs);
}
