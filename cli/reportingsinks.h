#ifndef CLI_REPORTINGSINKS_H
#define CLI_REPORTINGSINKS_H

#include "commissioning/watch.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Where `sorvinda watch` reports besides its event lines: --mqtt and
// --metrics-listen (reporting/). Builds without reporting/ (Windows) offer
// neither option.
struct ReportingOptions {
    std::optional<std::string> mqtt;          // HOST[:PORT] or a UNIX socket path
    std::optional<std::string> metricsListen; // ADDR:PORT
};

void addReportingOptions(CLI::App& watch, ReportingOptions& options);

struct ReportingSinks {
    std::vector<std::unique_ptr<commissioning::WatchSink>> sinks;
    std::string error;       // not empty: a reporter could not start (the sinks are then empty)
    bool usageError = false; // the error is in the arguments (a site that cannot be a topic)
};

// Starts the reporters the options ask for, for site.
ReportingSinks startReporting(const ReportingOptions& options, const std::string& site);

} // namespace cli

#endif
