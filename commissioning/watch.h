#ifndef COMMISSIONING_WATCH_H
#define COMMISSIONING_WATCH_H

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Watching a segment: what `sorvinda watch` reports after each scan, and to
// whom. The watch loop hands every scan's summary and every event to a list
// of sinks (the events writer for standard output or --events FILE is one;
// the MQTT reporter and the metrics endpoint are others).

namespace commissioning {

// Event names of WatchEvent::event.
inline constexpr const char* kEventNew = "new";
inline constexpr const char* kEventMissing = "missing";
inline constexpr const char* kEventChanged = "changed";
inline constexpr const char* kEventDuplicateIp = "duplicate-ip";

// One thing that happened to one module. before and after are the module's
// records as `sorvinda scan --format json` writes them (moduleJson), null
// when there is none: a new module has no before, a missing one no after.
struct WatchEvent {
    std::string time;  // RFC 3339, UTC: "2026-12-07T15:50:40Z"
    std::string site;  // --site, the host name by default
    std::string event; // kEventNew, kEventMissing, kEventChanged, kEventDuplicateIp
    std::string mac;   // as the list writes it: "00-30-11-00-00-01"
    nlohmann::ordered_json before;
    nlohmann::ordered_json after;

    // {"time","site","event","mac","before","after"} on one line, pure
    // ASCII, without the newline.
    std::string line() const;
};

// A module the watch knows. up is false from the first scan it did not
// answer until it is reported missing; then it is dropped from the list
// (and a later answer makes it new again).
struct WatchedModule {
    std::string mac;
    nlohmann::ordered_json record; // the last record it answered with (moduleJson)
    bool up = false;               // answered the last scan
};

// What one scan showed, after the tracker took it in.
struct ScanReport {
    std::string site;
    std::vector<WatchedModule> modules; // every known module, up or not, sorted by mac
    double durationSeconds = 0;
    std::uint64_t lostRepliesTotal = 0;                  // replies the library dropped since the watch started
    std::uint64_t eventsLostTotal = 0;                   // event lines the events file had no room for since the start
    std::optional<std::uint64_t> mqttEventsDroppedTotal; // events the MQTT reporter gave up; none without MQTT
};

// Something the watch loop reports to. Both calls come on the loop's
// thread; neither may block it (a sink that talks to a network queues and
// returns).
class WatchSink {
public:
    virtual ~WatchSink() = default;
    virtual void scanned(const ScanReport& report) = 0; // after every scan, after its events
    virtual void reported(const WatchEvent& event) = 0; // every event, in order
};

// What the watch saw before, and the events one more scan gives. A module
// is new the first time it answers (again after it was reported missing);
// changed when a field it reports differs from its last answer (warnings
// do not count, they follow from the others); duplicate-ip when it starts
// sharing its IP with another module the watch knows (first seen so: after
// its new event); missing after missingAfter scans in a row without an
// answer, and then forgotten. One event per change, never one per scan.
//
// Sharing is judged on the known modules, not on one scan: a module that
// answers only every other scan stays known in between, so the one it
// shares an address with gets one duplicate-ip, not one every other scan.
// Sharing ends when no other known module has the address (the other one
// is reported missing or moves); sharing again is a new event.
class WatchTracker {
public:
    explicit WatchTracker(int missingAfter);

    // scan: the module objects (moduleJson) of one scan; an entry without a
    // MAC as the list writes it is skipped, a MAC's later entries too.
    // Events of answering modules in MAC order, then the missing ones.
    std::vector<WatchEvent> take(
        const std::vector<nlohmann::ordered_json>& scan, const std::string& site, const std::string& time);

    // Every known module, sorted by MAC.
    std::vector<WatchedModule> modules() const;

    // The view for the state file: {"modules":[{"mac","record","missed"}]}.
    nlohmann::ordered_json state() const;
    // Takes a view back from state(); false (and the view left empty) when
    // it is none, error says why.
    bool restore(const nlohmann::ordered_json& state, std::string& error);

private:
    struct Known {
        nlohmann::ordered_json record;
        int missed = 0;       // scans in a row without an answer
        bool sharing = false; // another known module has its IP
    };
    // Marks every known module that shares its IP with another; the MACs
    // that began to share now.
    std::vector<std::string> updateSharing();

    int missingAfter_;
    std::map<std::string, Known> known_;
};

#ifndef _WIN32
// Appends line to descriptor whole or not at all: when the file takes only
// part of it (a full disk, a file size limit), the file is cut back to
// where the line began, so the next line never starts in the middle of a
// torn one. Nothing when it was written, else the system's reason. Where
// the descriptor cannot seek (a pipe, a terminal) the line is written as
// it comes.
std::optional<std::string> appendWholeLine(int descriptor, const std::string& line);

// Replaces file with text so that a reader (or a restart after a power cut)
// finds either the old or the new content, never a part: a temporary file
// beside it, written and synced, then renamed over it, and the folder
// synced. A sentence saying what failed, or nothing.
std::optional<std::string> replaceFileAtomically(const std::filesystem::path& file, const std::string& text);
#endif

} // namespace commissioning

#endif
