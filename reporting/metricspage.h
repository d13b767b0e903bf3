#ifndef REPORTING_METRICSPAGE_H
#define REPORTING_METRICSPAGE_H

#include "commissioning/watch.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reporting {

// What the metrics page shows of one scan, copied out of the watch loop's
// report so that building the page never touches the loop's own state.
struct MetricsSnapshot {
    struct Module {
        std::string mac, ip, type, version;
        bool up = false;
    };
    std::string site;
    std::vector<Module> modules;
    double scanDurationSeconds = 0;
    std::uint64_t lostRepliesTotal = 0;
    std::uint64_t eventsLostTotal = 0;
    bool scannedOnce = false;                            // before the first scan only the module count (0) is shown
    std::optional<std::uint64_t> mqttEventsDroppedTotal; // shown only with MQTT
};

MetricsSnapshot metricsSnapshot(const commissioning::ScanReport& report);

// The page in the Prometheus text exposition format (version 0.0.4).
std::string metricsPage(const MetricsSnapshot& snapshot);

} // namespace reporting

#endif
