#ifndef CLI_REPORTINGSINKS_H
#define CLI_REPORTINGSINKS_H

#include "cli/commands.h"
#include "commissioning/watch.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Where `sorvinda watch` reports besides its event lines: --mqtt (with its
// TLS and login options) and --metrics-listen (reporting/). Builds without
// reporting/ (Windows) offer none of them.
void addReportingOptions(CLI::App& watch, WatchOptions& options);

struct ReportingSinks {
    std::vector<std::unique_ptr<commissioning::WatchSink>> sinks;
    std::string error;       // not empty: a reporter could not start (the sinks are then empty)
    bool usageError = false; // the error is in the arguments (a site that cannot be a topic)
    // Events the MQTT reporter gave up since the start; empty without --mqtt.
    std::function<std::optional<std::uint64_t>()> mqttDroppedEvents = [] { return std::optional<std::uint64_t>(); };
};

// Starts the reporters the options ask for, for site.
ReportingSinks startReporting(const WatchOptions& options, const std::string& site);

} // namespace cli

#endif
