// watch: scans the segment every --interval seconds and reports what
// changed since the scan before (commissioning::WatchTracker) to a list of
// sinks: the events writer (standard output or --events FILE) and whatever
// reporters the options add. Runs until SIGTERM or SIGINT, which end it
// within a second, even in the middle of a scan; SIGHUP reopens the events
// file, so a log rotation can move it away. --state keeps the view between
// runs.
#include "cli/commands.h"
#include "cli/moduleaccess.h"
#include "cli/reportingsinks.h"
#include "commissioning/adaptersubnets.h"
#include "commissioning/scanview.h"
#include "commissioning/scanwarnings.h"
#include "commissioning/utctime.h"
#include "commissioning/watch.h"
#include "diagnostics/scanfailure.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace cli {
namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// A scan waits this long for replies at most; a shorter interval is the
// scan's wait itself.
constexpr std::chrono::milliseconds kWatchScanWait{1500};
constexpr mode_t kEventsFileMode = 0644;
constexpr std::size_t kHostNameSize = 256;

// The signals the watch takes: blocked in every thread (set up before any
// thread starts, the library's receive thread included) and taken by one
// thread of its own with sigwait, so no handler interrupts anything.
class WatchSignals {
public:
    WatchSignals()
    {
        sigemptyset(&set_);
        for (const int number : {SIGTERM, SIGINT, SIGHUP})
            sigaddset(&set_, number);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
        thread_ = std::thread([this] { take(); });
    }
    ~WatchSignals()
    {
        // The taking thread may still wait (a watch that ended for another
        // reason): a SIGHUP of its own ends it.
        quit_ = true;
        pthread_kill(thread_.native_handle(), SIGHUP);
        thread_.join();
    }
    WatchSignals(const WatchSignals&) = delete;
    WatchSignals& operator=(const WatchSignals&) = delete;

    bool stopRequested() const { return stopped_.load(); }
    std::string stopName() const
    {
        std::lock_guard lock(mutex_);
        return stopName_;
    }
    // True once per SIGHUP (several before a look count as one).
    bool takeReopen() { return reopen_.exchange(false); }

    // Until deadline, a stop request, or a SIGHUP.
    void waitUntil(Clock::time_point deadline)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, deadline, [this] { return stopped_.load() || reopen_.load(); });
    }

private:
    void take()
    {
        for (;;) {
            int number = 0;
            if (sigwait(&set_, &number) != 0)
                continue;
            if (quit_)
                return;
            std::lock_guard lock(mutex_);
            if (number == SIGHUP) {
                reopen_ = true;
                changed_.notify_all();
                continue;
            }
            stopName_ = number == SIGINT ? "SIGINT" : "SIGTERM";
            stopped_ = true;
            changed_.notify_all();
            QortSession::wake(); // a scan in progress ends at once
            return;
        }
    }

    sigset_t set_{};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stopped_{false}, reopen_{false}, quit_{false};
    std::string stopName_;
    std::thread thread_;
};

// The events as JSON lines, each whole or not at all (a reader of the file
// never sees half a line, a full disk never leaves one); to standard output
// or appended to a file. An event the file has no room for is lost: said
// once when losing starts and once when writing works again, and counted
// (sorvinda_events_lost_total on the metrics page).
class EventsWriter : public commissioning::WatchSink {
public:
    explicit EventsWriter(std::optional<std::string> file)
        : file_(std::move(file))
    {
    }
    ~EventsWriter() override { closeFile(); }
    EventsWriter(const EventsWriter&) = delete;
    EventsWriter& operator=(const EventsWriter&) = delete;

    // Opens (again) the file, standard output needs nothing; false after
    // saying why.
    bool open()
    {
        if (!file_)
            return true;
        const int descriptor = ::open(file_->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kEventsFileMode);
        if (descriptor < 0) {
            Complain("--events: cannot open " + *file_ + ": " + std::generic_category().message(errno));
            return false;
        }
        closeFile();
        descriptor_ = descriptor;
        return true;
    }

    std::uint64_t lostTotal() const { return lostTotal_; }

    void scanned(const commissioning::ScanReport&) override { }
    void reported(const commissioning::WatchEvent& event) override
    {
        const std::optional<std::string> error = commissioning::appendWholeLine(descriptor_, event.line() + "\n");
        if (!error) {
            if (lostInRow_ > 0)
                Complain("events are written again; " + std::to_string(lostInRow_) + " were lost");
            lostInRow_ = 0;
            return;
        }
        // The watch goes on for its other sinks.
        if (lostInRow_++ == 0)
            Complain("events are being lost (counted as sorvinda_events_lost_total): " + *error);
        ++lostTotal_;
    }

private:
    void closeFile()
    {
        if (descriptor_ != STDOUT_FILENO)
            ::close(descriptor_);
    }

    std::optional<std::string> file_;
    int descriptor_ = STDOUT_FILENO;
    std::uint64_t lostTotal_ = 0, lostInRow_ = 0;
};

// Every sink the watch reports to, in the order they hear of each event:
// the events writer first, then the reporters the options ask for (kept
// alive in owned).
std::vector<commissioning::WatchSink*> WatchSinks(
    EventsWriter& events, std::vector<std::unique_ptr<commissioning::WatchSink>>& owned)
{
    std::vector<commissioning::WatchSink*> sinks{&events};
    for (const auto& sink : owned)
        sinks.push_back(sink.get());
    return sinks;
}

std::string SiteName(const WatchOptions& options)
{
    if (!options.site.empty())
        return options.site;
    char name[kHostNameSize] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

// The view of an earlier run: empty when there is no state file yet, and
// when it is unreadable (said: the next write replaces it).
void RestoreState(const std::optional<std::string>& file, commissioning::WatchTracker& tracker)
{
    if (!file)
        return;
    std::ifstream in(*file, std::ios::binary);
    if (!in.is_open())
        return;
    std::ostringstream text;
    text << in.rdbuf();
    std::string error = "not JSON";
    const Json state = Json::parse(text.str(), nullptr, false);
    if (state.is_discarded() || !tracker.restore(state, error))
        Complain("--state: " + *file + " is no watch state (" + error + "); starting without it");
}

// The library could not bind the scan port when another program holds it:
// every scan would fail, so the watch ends at once with the holder named
// (a restart policy sees the failure) instead of saying so every interval.
bool ScanPortIsOurs()
{
    const diagnostics::UdpPortUse use = diagnostics::udpPortUse(diagnostics::kScanPort);
    if (use.heldByThisProcess || !use.heldByOthers)
        return true;
    Complain(diagnostics::scanFailureText({diagnostics::ScanFailureCause::kPortHeld, use.otherHolders, {}}));
    return false;
}

struct ScanResult {
    bool sent = false;
    std::vector<Json> modules; // moduleJson of each module that answered
};

ScanResult ScanOnce(QortSession& session, std::chrono::milliseconds wait, const WatchSignals& signals)
{
    modules::ModuleStore store;
    ScanResult result;
    result.sent =
        session.scan(wait, store, [&signals](const modules::ModuleStore&) { return signals.stopRequested(); });
    std::vector<QORT_ModuleScanResponseType> records;
    for (std::size_t i = 0; i < store.Size(); ++i)
        records.push_back(store.At(i));
    const ScanWarnings warnings = commissioning::scanWarnings(records, commissioning::usableAdapterSubnets());
    for (const QORT_ModuleScanResponseType& record : records) {
        const auto codes = warnings.find(modules::macOfRecord(record));
        result.modules.push_back(
            commissioning::moduleJson(record, codes == warnings.end() ? commissioning::WarningCodes{} : codes->second));
    }
    return result;
}

// The watch loop's state between scans.
struct Watch {
    const WatchOptions& options;
    std::string site;
    commissioning::WatchTracker tracker;
    std::vector<commissioning::WatchSink*> sinks;
    std::function<std::optional<std::uint64_t>()> mqttDroppedEvents;
    const EventsWriter& events;
    std::uint64_t lostReplies = 0;
    std::string savedState; // what the state file holds
    std::string stateError; // the last failure to write it, already said
};

void Report(Watch& watch, const ScanResult& scan, double seconds)
{
    for (const commissioning::WatchEvent& event :
        watch.tracker.take(scan.modules, watch.site, commissioning::utcTimeText(std::time(nullptr))))
        for (commissioning::WatchSink* sink : watch.sinks)
            sink->reported(event);
    const commissioning::ScanReport report{watch.site, watch.tracker.modules(), seconds, watch.lostReplies,
        watch.events.lostTotal(), watch.mqttDroppedEvents()};
    for (commissioning::WatchSink* sink : watch.sinks)
        sink->scanned(report);
}

void SaveState(Watch& watch)
{
    if (!watch.options.stateFile)
        return;
    const std::string state = watch.tracker.state().dump(-1, ' ', true, Json::error_handler_t::replace) + "\n";
    if (state == watch.savedState)
        return;
    if (const auto error = commissioning::replaceFileAtomically(*watch.options.stateFile, state)) {
        // Said once, not after every scan while it lasts.
        if (*error != watch.stateError)
            Complain("--state: " + *error);
        watch.stateError = *error;
        return;
    }
    watch.savedState = state;
    watch.stateError.clear();
}

} // namespace

int RunWatch(const WatchOptions& options)
{
    WatchSignals signals; // first: before any other thread starts
    // A file size limit (systemd's LimitFSIZE=) then fails a write instead
    // of killing the agent; the events writer counts what it loses.
    static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
    EventsWriter events(options.eventsFile);
    if (!events.open())
        return kExitFailed;
    commissioning::WatchTracker tracker(options.missingAfter);
    RestoreState(options.stateFile, tracker);
    Watch watch{options, SiteName(options), std::move(tracker), {}, {}, events, 0, {}, {}};
    ReportingSinks reporting = startReporting(options, watch.site);
    if (!reporting.error.empty()) {
        Complain(reporting.error);
        return reporting.usageError ? kExitUsage : kExitFailed;
    }
    std::vector<std::unique_ptr<commissioning::WatchSink>> owned = std::move(reporting.sinks);
    watch.sinks = WatchSinks(events, owned);
    watch.mqttDroppedEvents = std::move(reporting.mqttDroppedEvents);
    Connection connection;
    if (!Connect(connection) || !ScanPortIsOurs())
        return kExitFailed;

    const auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.intervalSeconds));
    const auto wait = std::min(kWatchScanWait, std::chrono::duration_cast<std::chrono::milliseconds>(interval));
    while (!signals.stopRequested()) {
        const Clock::time_point start = Clock::now();
        const ScanResult scan = ScanOnce(*connection.session, wait, signals);
        // A scan cut short by the stop is no view of the segment.
        if (signals.stopRequested())
            break;
        if (!scan.sent) {
            // Nothing heard is no news of the modules: the view stays.
            Complain(diagnostics::scanFailureText(diagnostics::diagnoseScanFailure()));
        } else {
            if (connection.library->getLostReplyCount)
                watch.lostReplies += connection.library->getLostReplyCount();
            Report(watch, scan, std::chrono::duration<double>(Clock::now() - start).count());
            SaveState(watch);
        }
        // A scan may fill the whole interval: a SIGHUP during it is taken here.
        for (;;) {
            if (signals.takeReopen())
                events.open();
            if (signals.stopRequested() || Clock::now() >= start + interval)
                break;
            signals.waitUntil(start + interval);
        }
    }
    Complain("stopped (" + signals.stopName() + ")");
    return kExitOk;
}

} // namespace cli
