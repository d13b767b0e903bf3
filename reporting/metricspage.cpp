#include "reporting/metricspage.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace reporting {
namespace {

// A record's text field, or empty when the module did not report it.
std::string field(const nlohmann::ordered_json& record, const char* name)
{
    const auto it = record.find(name);
    return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A label value in quotes, escaped as the format asks (\\, \", \n). Module
// texts are outside input: bytes that are no UTF-8 become U+FFFD (the JSON
// writer's replacement, read back) and other control characters '?'.
std::string quoted(const std::string& value)
{
    const std::string valid =
        nlohmann::json::parse(nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
            .get<std::string>();
    std::string text = "\"";
    for (const char c : valid) {
        if (c == '\\' || c == '"')
            text += {'\\', c};
        else if (c == '\n')
            text += "\\n";
        else
            text += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    }
    return text + '"';
}

void header(std::string& page, const char* name, const char* type, const char* help)
{
    page += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

std::string number(double value)
{
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.6f", value);
    return std::string(text, static_cast<std::size_t>(length > 0 ? length : 0));
}

} // namespace

MetricsSnapshot metricsSnapshot(const commissioning::ScanReport& report)
{
    MetricsSnapshot snapshot{report.site, {}, report.durationSeconds, report.lostRepliesTotal, report.eventsLostTotal,
        true, report.mqttEventsDroppedTotal};
    snapshot.modules.reserve(report.modules.size());
    for (const commissioning::WatchedModule& module : report.modules)
        snapshot.modules.push_back({module.mac, field(module.record, "ip"), field(module.record, "type"),
            field(module.record, "version"), module.up});
    return snapshot;
}

std::string metricsPage(const MetricsSnapshot& snapshot)
{
    const std::string site = "site=" + quoted(snapshot.site);
    std::string page;
    page.reserve(256 + snapshot.modules.size() * 192);
    header(page, "sorvinda_modules", "gauge", "Modules this agent knows on its segment, answering or not.");
    page += "sorvinda_modules{" + site + "} " + std::to_string(snapshot.modules.size()) + '\n';
    if (!snapshot.scannedOnce)
        return page;
    header(page, "sorvinda_module_up", "gauge",
        "1 when the module answered the last scan, 0 while it is known but silent.");
    for (const MetricsSnapshot::Module& module : snapshot.modules)
        page += "sorvinda_module_up{" + site + ",mac=" + quoted(module.mac) + "} " + (module.up ? "1\n" : "0\n");
    header(
        page, "sorvinda_module_info", "gauge", "The module's address, type and firmware version as labels; always 1.");
    for (const MetricsSnapshot::Module& module : snapshot.modules)
        page += "sorvinda_module_info{" + site + ",mac=" + quoted(module.mac) + ",ip=" + quoted(module.ip)
            + ",type=" + quoted(module.type) + ",version=" + quoted(module.version) + "} 1\n";
    header(page, "sorvinda_scan_duration_seconds", "gauge", "How long the last scan took.");
    page += "sorvinda_scan_duration_seconds{" + site + "} " + number(snapshot.scanDurationSeconds) + '\n';
    header(page, "sorvinda_scan_replies_lost_total", "counter",
        "Scan replies the receive buffer had no room for since the agent started.");
    page += "sorvinda_scan_replies_lost_total{" + site + "} " + std::to_string(snapshot.lostRepliesTotal) + '\n';
    header(page, "sorvinda_events_lost_total", "counter",
        "Event lines the events file had no room for (a full disk) since the agent started.");
    page += "sorvinda_events_lost_total{" + site + "} " + std::to_string(snapshot.eventsLostTotal) + '\n';
    if (snapshot.mqttEventsDroppedTotal) {
        header(page, "sorvinda_mqtt_events_dropped_total", "counter",
            "Events the MQTT reporter gave up, oldest first, while the broker did not take them.");
        page += "sorvinda_mqtt_events_dropped_total{" + site + "} " + std::to_string(*snapshot.mqttEventsDroppedTotal)
            + '\n';
    }
    return page;
}

} // namespace reporting
