// How fast the main window lists a scan's replies and sorts them, and how it
// copes with a flood of replies:
// - for 250 and 1000 simulated modules, the time from the last reply
//   leaving the simulator until the last row is in the list, and one
//   column-click sort of 1000 rows. Targets: 1000 modules listed within 1 s
//   of the replies arriving, a 1000-row sort under 50 ms.
// - a flood: N modules with distinct MACs answer each scan spread at random
//   over MS milliseconds. Halfway through, Scan is clicked (the scan goes
//   out again and the flood starts over); the figures are the time until the
//   click was answered, the longest time the window's thread answered no
//   event, the time from the last reply of the flood until the list
//   settled, the rows listed, and the memory (resident set before, peak).
//   Then a third flood, with Exit clicked halfway. Targets: clicks answered
//   within 1 s, settled within 1 s of the flood's end, every module listed.
//
// Usage: bench_app_list [--busy-cpu] [--flood N MS]
//   no --flood: the listing figures, then a flood of 10000 over 3000 ms
//   --flood N MS: only the flood
//   --busy-cpu: a thread spins on CPU 0 for the whole run, as another
//               program keeping one core busy would
//
// Sends datagrams: run only inside scripts/isolated-net, e.g.
//   scripts/isolated-net run -- build/bin/bench_app_list
#include "app/moduleconfigdlg.h"
#include "app/qortapi.h"
#include "devicelist/devicelistctrl.h"
#include "resources/resourceids.h"
#include "tests/support/isolatednetwork.h"
#include "tests/support/simulatorprocess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr int kListTargetMs = 1000;
constexpr double kSortTargetMs = 50.0;
constexpr int kGiveUpMs = 30000;

constexpr int kFloodModules = 10000;
constexpr int kFloodMs = 3000;
constexpr double kClickTargetMs = 1000.0;
constexpr double kSettleTargetMs = 1000.0;
// The simulator's --count goes this far; larger floods come from a file.
constexpr int kMaxCountOption = 10000;
// The list counts as settled once no row changed for this long after the
// flood's end was due.
constexpr int kQuietMs = 3000;
constexpr int kFloodGiveUpMs = 300000;
constexpr int kReadyTimeoutMs = 10000;
constexpr int kPollMs = 10;
// The window's thread is asked to answer this often; the worst lateness is
// the longest it answered nothing.
constexpr int kHeartbeatMs = 20;
constexpr int kBusyCpu = 0;

std::int64_t ClockNs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t MonotonicNs()
{
    return ClockNs(CLOCK_MONOTONIC);
}

double Ms(std::int64_t ns)
{
    return double(ns) / 1e6;
}

// Last "send" timestamp of the simulator (its replies), in ns.
std::int64_t LastReplySentNs(const testsupport::SimulatorProcess& simulator)
{
    std::int64_t last = 0;
    for (const std::string& line : simulator.lines()) {
        if (auto d = testsupport::parseDatagramLine(line); d && d->direction == "send")
            last = d->timestampNs;
    }
    return last;
}

bool ListModules(int count)
{
    testsupport::SimulatorProcess simulator({"--count", std::to_string(count), "--burst"});
    if (!simulator.start()) {
        std::fprintf(stderr, "simulator: %s\n", simulator.error().c_str());
        return false;
    }
    CModuleConfigDlg dlg;
    QElapsedTimer timer;
    timer.start();
    dlg.Create();
    while (dlg.DeviceList()->GetItemCount() < count && timer.elapsed() < kGiveUpMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const std::int64_t listedNs = MonotonicNs();
    const int rows = dlg.DeviceList()->GetItemCount();
    // The burst is logged once it has been sent; wait for its lines.
    simulator.waitForLines([](const std::string& l) { return l.rfind("send ", 0) == 0; }, std::size_t(count),
        std::chrono::milliseconds(kGiveUpMs));
    const double afterRepliesMs = double(listedNs - LastReplySentNs(simulator)) / 1e6;
    std::printf("%5d modules: %d rows; listed %.1f ms after the last reply was sent, %lld ms after the window opened"
                " (target %d ms)\n",
        count, rows, afterRepliesMs, static_cast<long long>(timer.elapsed()), kListTargetMs);
    bool ok = rows == count && afterRepliesMs < kListTargetMs;

    if (count == 1000) {
        const int column = 6; // MAC: the rows arrive sorted by IP
        QElapsedTimer sortTimer;
        sortTimer.start();
        dlg.DeviceList()->SortByColumn(column, true);
        QCoreApplication::processEvents();
        const double sortMs = double(sortTimer.nsecsElapsed()) / 1e6;
        std::printf("%5d rows: one column sort %.2f ms (target %.0f ms)\n", rows, sortMs, kSortTargetMs);
        ok = ok && sortMs < kSortTargetMs;
    }
    dlg.EndDialog(IDOK);
    return ok;
}

// --- the flood ---------------------------------------------------------

std::atomic<std::int64_t> g_lastScanNs{0};

// The linked library, with the moment of each scan noted: a click on Scan
// is answered when the window sends its scan.
const QortApi& TimedApi()
{
    static const QortApi api = [] {
        QortApi timed = LinkedQortApi();
        timed.SendModuleScan = [] {
            g_lastScanNs = MonotonicNs();
            return LinkedQortApi().SendModuleScan();
        };
        return timed;
    }();
    return api;
}

// A status line of /proc/self/status in KiB ("VmRSS", "VmHWM").
long StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

// Makes VmHWM start again from the current resident set.
void ResetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The simulator writes its log to a file rather than to a pipe that this
// process reads: a reader thread and the lines it keeps would compete with
// the window for the CPU and show up in the memory figures.
class FloodingSimulator {
public:
    bool Start(int modules, int floodMs)
    {
        const auto network = testsupport::IsolatedNetwork::fromEnvironment();
        if (!network || !m_dir.isValid())
            return false;
        QStringList arguments{"netns", "exec", QString::fromStdString(network->modulesNamespace),
            QString::fromStdString(testsupport::binaryDirectory() + "/sorvinda-modulesim"), "--jitter",
            QString::number(floodMs)};
        if (modules <= kMaxCountOption) {
            arguments << "--count" << QString::number(modules);
        } else {
            arguments << "--file" << WriteModuleFile(modules);
        }
        m_process.setStandardOutputFile(LogPath());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("ip", arguments);
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kReadyTimeoutMs) {
            if (LogText().contains("\nready ") || LogText().startsWith("ready "))
                return true;
            QThread::msleep(kPollMs);
        }
        return false;
    }
    ~FloodingSimulator()
    {
        m_process.terminate();
        m_process.waitForFinished();
    }
    // The replies sent so far and the moment the last of them left.
    std::pair<int, std::int64_t> Sent() const
    {
        int sent = 0;
        std::int64_t last = 0;
        std::ifstream log(LogPath().toStdString());
        std::string line;
        while (std::getline(log, line)) {
            if (line.rfind("send ", 0) != 0)
                continue;
            if (auto d = testsupport::parseDatagramLine(line)) {
                ++sent;
                last = std::max(last, d->timestampNs);
            }
        }
        return {sent, last};
    }

private:
    QString LogPath() const { return m_dir.filePath("simulator.log"); }
    QByteArray LogText() const
    {
        QFile file(LogPath());
        return file.open(QIODevice::ReadOnly) ? file.read(1 << 16) : QByteArray();
    }
    QString WriteModuleFile(int modules) const
    {
        const QString path = m_dir.filePath("modules.txt");
        std::ofstream file(path.toStdString());
        for (int i = 0; i < modules; ++i) {
            char spec[96];
            std::snprintf(spec, sizeof spec, "mac=02-00-00-%02X-%02X-%02X,ip=10.%d.%d.%d\n", (i >> 16) & 0xFF,
                (i >> 8) & 0xFF, i & 0xFF, (i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF);
            file << spec;
        }
        return path;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
};

struct FloodFigures {
    double clickMs = -1;     // a click posted -> its command ran
    double worstStallMs = 0; // longest time the window's thread answered nothing
    std::int64_t worstStallEndNs = 0;
    double worstStallCpuMs = 0; // of which the window's thread ran (the rest it waited for a CPU)
    double settledMs = -1;      // the flood's last reply -> the list's last change
    int rows = 0;
    int sent = 0;
};

// Runs the event loop until `done` is true or `giveUpMs` passed; meanwhile
// measures how late a frequent timer fires.
void RunLoopUntil(const std::function<bool()>& done, int giveUpMs, FloodFigures& figures)
{
    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    std::int64_t lastBeatNs = MonotonicNs();
    std::int64_t lastBeatCpuNs = ClockNs(CLOCK_THREAD_CPUTIME_ID);
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const std::int64_t now = MonotonicNs();
        const std::int64_t cpuNow = ClockNs(CLOCK_THREAD_CPUTIME_ID);
        if (Ms(now - lastBeatNs) - kHeartbeatMs > figures.worstStallMs) {
            figures.worstStallMs = Ms(now - lastBeatNs) - kHeartbeatMs;
            figures.worstStallEndNs = now;
            figures.worstStallCpuMs = Ms(cpuNow - lastBeatCpuNs);
        }
        lastBeatNs = now;
        lastBeatCpuNs = cpuNow;
        if (done() || elapsed.elapsed() > giveUpMs)
            loop.quit();
    });
    heartbeat.start(kHeartbeatMs);
    loop.exec();
}

// Posts a click on the button, queued behind whatever the window has still
// to do, as a click of the user waits; returns the moment it was posted.
std::int64_t PostClick(CModuleConfigDlg& dlg, int id)
{
    QAbstractButton* button = dlg.GetDlgItemAs<QAbstractButton>(id);
    QMetaObject::invokeMethod(
        button, [button] { button->click(); }, Qt::QueuedConnection);
    return MonotonicNs();
}

bool Flood(int modules, int floodMs)
{
    FloodingSimulator simulator;
    if (!simulator.Start(modules, floodMs)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return false;
    }
    const long rssBeforeKiB = StatusKiB("VmRSS");
    ResetPeakRss();

    CModuleConfigDlg dlg(nullptr, TimedApi());
    std::int64_t lastChangeNs = 0;
    const auto noteChange = [&lastChangeNs] { lastChangeNs = MonotonicNs(); };
    dlg.Create();
    QObject::connect(dlg.DeviceList()->model(), &QAbstractItemModel::rowsInserted, noteChange);
    QObject::connect(dlg.DeviceList()->model(), &QAbstractItemModel::layoutChanged, noteChange);

    // Scan, halfway through the first flood.
    FloodFigures figures;
    const std::int64_t openedNs = MonotonicNs();
    RunLoopUntil(
        [&] { return MonotonicNs() - openedNs > std::int64_t(floodMs) * 1000000 / 2; }, kFloodGiveUpMs, figures);
    const std::int64_t clickNs = PostClick(dlg, IDC_SCAN);
    RunLoopUntil([&] { return g_lastScanNs > clickNs; }, kFloodGiveUpMs, figures);
    figures.clickMs = Ms(g_lastScanNs - clickNs);
    // The flood that click started, until the list stays still.
    const std::int64_t floodDueNs = g_lastScanNs + std::int64_t(floodMs) * 1000000;
    RunLoopUntil(
        [&] {
            const std::int64_t now = MonotonicNs();
            return now > floodDueNs && now - std::max(lastChangeNs, floodDueNs) > std::int64_t(kQuietMs) * 1000000;
        },
        kFloodGiveUpMs, figures);
    const auto [sent, lastSentNs] = simulator.Sent();
    figures.sent = sent;
    figures.rows = dlg.DeviceList()->GetItemCount();
    figures.settledMs = Ms(lastChangeNs - lastSentNs);
    const long peakKiB = StatusKiB("VmHWM");

    // Exit, halfway through a third flood.
    dlg.OnScan();
    const std::int64_t thirdNs = MonotonicNs();
    FloodFigures exitFigures;
    RunLoopUntil(
        [&] { return MonotonicNs() - thirdNs > std::int64_t(floodMs) * 1000000 / 2; }, kFloodGiveUpMs, exitFigures);
    std::int64_t closedNs = 0;
    QObject::connect(&dlg, &QDialog::finished, [&closedNs] { closedNs = MonotonicNs(); });
    const std::int64_t exitNs = PostClick(dlg, IDOK);
    RunLoopUntil([&] { return closedNs != 0; }, kFloodGiveUpMs, exitFigures);
    const double exitMs = closedNs != 0 ? Ms(closedNs - exitNs) : -1;

    std::printf("flood of %d modules over %d ms: Scan answered after %.1f ms, Exit after %.1f ms (target %.0f ms)\n",
        modules, floodMs, figures.clickMs, exitMs, kClickTargetMs);
    std::printf("  longest stall %.1f ms (%.1f ms of it running), ending %.0f ms after the window opened (Scan"
                " clicked at %.0f ms); with Exit: %.1f ms\n",
        figures.worstStallMs, figures.worstStallCpuMs, Ms(figures.worstStallEndNs - openedNs), Ms(clickNs - openedNs),
        exitFigures.worstStallMs);
    std::printf("  %d rows of %d modules (%d replies sent in all); settled %.1f ms after the last reply was sent"
                " (target %.0f ms)\n",
        figures.rows, modules, figures.sent, figures.settledMs, kSettleTargetMs);
    std::printf("  resident set %ld KiB before the window opened, peak %ld KiB\n", rssBeforeKiB, peakKiB);
    if (!dlg.StatusLineText().isEmpty())
        std::printf("  status line: %s\n", dlg.StatusLineText().toUtf8().constData());
    return figures.clickMs >= 0 && figures.clickMs < kClickTargetMs && exitMs >= 0 && exitMs < kClickTargetMs
        && figures.settledMs < kSettleTargetMs && figures.rows == modules;
}

// Another program keeping one core busy.
class BusyCpu {
public:
    BusyCpu()
        : m_thread([this] {
            cpu_set_t cpus;
            CPU_ZERO(&cpus);
            CPU_SET(kBusyCpu, &cpus);
            pthread_setaffinity_np(pthread_self(), sizeof cpus, &cpus);
            while (!m_stop.load(std::memory_order_relaxed)) { }
        })
    {
    }
    ~BusyCpu()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

int main(int argc, char* argv[])
{
    testsupport::requireIsolatedNetwork();
    QApplication application(argc, argv);
    bool busy = false;
    int floodModules = kFloodModules;
    int floodMs = kFloodMs;
    bool floodOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--busy-cpu") == 0) {
            busy = true;
        } else if (std::strcmp(argv[i], "--flood") == 0 && i + 2 < argc) {
            floodOnly = true;
            floodModules = std::atoi(argv[++i]);
            floodMs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: bench_app_list [--busy-cpu] [--flood N MS]\n");
            return 2;
        }
    }
    std::unique_ptr<BusyCpu> busyCpu;
    if (busy) {
        busyCpu = std::make_unique<BusyCpu>();
        std::printf("a thread keeps CPU %d busy\n", kBusyCpu);
    }
    bool ok = true;
    if (!floodOnly) {
        for (int count : {250, 1000})
            ok = ListModules(count) && ok;
    }
    ok = Flood(floodModules, floodMs) && ok;
    std::printf("%s\n", ok ? "all targets met" : "a target was missed");
    return ok ? 0 : 1;
}
