#include "cli/reportingsinks.h"

#if defined(SORVINDA_REPORTING)
#include "reporting/endpoint.h"
#include "reporting/metricsserver.h"
#include "reporting/mqttreporter.h"
#include "reporting/webconfig.h"

#include <stdexcept>
#endif

namespace cli {

#if defined(SORVINDA_REPORTING)

namespace {

CLI::Validator endpointValidator(bool broker)
{
    return CLI::Validator(
        [broker](const std::string& text) {
            const bool valid = broker ? reporting::parseBroker(text).has_value()
                                      : reporting::parseEndpoint(text, std::nullopt).has_value();
            return valid ? std::string() : (broker ? "not HOST[:PORT] or a socket path: " : "not ADDR:PORT: ") + text;
        },
        broker ? "HOST[:PORT]" : "ADDR:PORT");
}

void addMetricsOptions(CLI::App& watch, WatchOptions& options)
{
    CLI::Option* listen =
        watch.add_option("--metrics-listen", options.metricsListen, "serve Prometheus metrics at ADDR:PORT/metrics")
            ->check(endpointValidator(false));
    watch
        .add_option("--metrics-web-config", options.metricsWebConfig,
            "TLS and logins for the metrics, in the Prometheus web configuration form (YAML)")
        ->needs(listen);
}

// The metrics endpoint, with its web configuration when one is named; a
// configuration that cannot be read or used is a usage error.
std::unique_ptr<commissioning::WatchSink> startMetrics(const WatchOptions& options, const std::string& site)
{
    reporting::WebConfig webConfig;
    if (options.metricsWebConfig) {
        std::string error;
        std::optional<reporting::WebConfig> read = reporting::readWebConfig(*options.metricsWebConfig, error);
        if (!read)
            throw std::invalid_argument("--metrics-web-config: " + error);
        webConfig = std::move(*read);
    }
    const reporting::Endpoint listen = *reporting::parseEndpoint(*options.metricsListen, std::nullopt);
    return std::make_unique<reporting::MetricsServer>(site, listen.host, listen.port, webConfig);
}

} // namespace

void addReportingOptions(CLI::App& watch, WatchOptions& options)
{
    watch.add_option("--mqtt", options.mqtt, "report to this MQTT broker (port 1883 unless given)")
        ->check(endpointValidator(true));
    addMetricsOptions(watch, options);
}

ReportingSinks startReporting(const WatchOptions& options, const std::string& site)
{
    ReportingSinks result;
    try {
        if (options.mqtt) {
            const reporting::Endpoint broker = *reporting::parseBroker(*options.mqtt);
            result.sinks.push_back(std::make_unique<reporting::MqttReporter>(site, broker.host, broker.port));
        }
        if (options.metricsListen)
            result.sinks.push_back(startMetrics(options, site));
    } catch (const std::invalid_argument& error) {
        result.sinks.clear();
        result.error = error.what();
        result.usageError = true;
    } catch (const std::exception& error) {
        result.sinks.clear();
        result.error = error.what();
    }
    return result;
}

#else

void addReportingOptions(CLI::App& /*watch*/, WatchOptions& /*options*/)
{
}

ReportingSinks startReporting(const WatchOptions& /*options*/, const std::string& /*site*/)
{
    return {};
}

#endif

} // namespace cli
