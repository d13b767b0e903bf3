#ifndef CLI_REPORTINGSINKS_H
#define CLI_REPORTINGSINKS_H

#include "cli/commands.h"
#include "commissioning/watch.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

namespace cli {

// Where `sorvinda watch` reports besides its event lines: --mqtt and
// --metrics-listen (reporting/). Builds without reporting/ (Windows) offer
// neither option.
void addReportingOptions(CLI::App& watch, WatchOptions& options);

struct ReportingSinks {
    std::vector<std::unique_ptr<commissioning::WatchSink>> sinks;
    std::string error;       // not empty: a reporter could not start (the sinks are then empty)
    bool usageError = false; // the error is in the arguments (a site that cannot be a topic)
};

// Starts the reporters the options ask for, for site.
ReportingSinks startReporting(const WatchOptions& options, const std::string& site);

} // namespace cli

#endif
