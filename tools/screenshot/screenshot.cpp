#include "tools/screenshot/screenshot.h"

#include "app/moduleconfigdlg.h"
#include "devicelist/devicelistctrl.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kPollIntervalMs = 100;
// The list counts as complete when its row count has not changed for this
// long; replies of simulated modules come within a few tens of ms.
constexpr int kQuietMs = 1000;
constexpr int kGiveUpMs = 15000;
constexpr int kSortColumn = 0; // IP

struct Capture {
    QString file;
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
    dlg->repaint();
    if (!dlg->grab().save(capture.file, "PNG"))
        Fail("cannot write the picture");
    std::printf("sorvinda-screenshot: %d modules listed, window saved to %s\n", count, qPrintable(capture.file));
    static_cast<void>(std::fflush(stdout)); // a progress line; the picture is already saved
    dlg->EndDialog(IDOK);
}

} // namespace

void ArmScreenshot(const QString& file)
{
    auto* capture = new Capture{file};
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [capture, timer] { Poll(*capture, *timer); });
    QObject::connect(qApp, &QObject::destroyed, [capture] { delete capture; });
    timer->start(kPollIntervalMs);
}
