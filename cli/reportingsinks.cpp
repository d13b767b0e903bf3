#include "cli/reportingsinks.h"

#if defined(SORVINDA_REPORTING)
#include "reporting/endpoint.h"
#include "reporting/metricsserver.h"
#include "reporting/mqttreporter.h"
#include "reporting/webconfig.h"

#include "cli/secret.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#endif

namespace cli {

#if defined(SORVINDA_REPORTING)

namespace {

CLI::Validator endpointValidator(bool broker)
{
    return CLI::Validator(
        [broker](const std::string& text) {
            const bool valid = broker ? reporting::parseBroker(text, false).has_value()
                                      : reporting::parseEndpoint(text, std::nullopt).has_value();
            return valid ? std::string()
                         : (broker ? "not [mqtt[s]://]HOST[:PORT] or a socket path: " : "not ADDR:PORT: ") + text;
        },
        broker ? "[mqtt[s]://]HOST[:PORT]" : "ADDR:PORT");
}

// The systemd credential that holds the broker password (LoadCredential=).
constexpr const char* kPasswordCredential = "mqtt-password";

struct UsageError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// Where the password comes from: --mqtt-password-file, else the service's
// credential. Never the command line, where every user can read it.
std::string brokerPassword(const WatchOptions& options)
{
    std::optional<std::string> file = options.mqttPasswordFile;
    if (!file) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in this program changes its environment
        const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
        if (credentials != nullptr && *credentials != '\0'
            && std::filesystem::exists(std::filesystem::path(credentials) / kPasswordCredential))
            file = (std::filesystem::path(credentials) / kPasswordCredential).string();
    }
    if (!file)
        throw UsageError(std::string("--mqtt-user needs a password: --mqtt-password-file FILE, or the credential ")
            + kPasswordCredential + " (LoadCredential= in the service)");
    std::string error;
    std::optional<std::string> password = ReadSecret({file, nullptr, nullptr}, error);
    if (!password)
        throw std::runtime_error("the MQTT password: " + error);
    return std::move(*password);
}

reporting::MqttSettings brokerSettings(const WatchOptions& options)
{
    const bool tlsOptions = options.mqttCaFile || options.mqttCaPath || options.mqttCert;
    const std::optional<reporting::Broker> broker = reporting::parseBroker(*options.mqtt, tlsOptions);
    if (!broker)
        throw UsageError("--mqtt " + *options.mqtt
            + ": the TLS options (--mqtt-cafile, --mqtt-capath, --mqtt-cert) need mqtts:// or HOST[:PORT]");
    reporting::MqttSettings settings;
    settings.host = broker->endpoint.host;
    settings.port = broker->endpoint.port;
    if (broker->tls)
        settings.tls = reporting::MqttTls{options.mqttCaFile.value_or(""), options.mqttCaPath.value_or(""),
            options.mqttCert.value_or(""), options.mqttKey.value_or(""), options.mqttInsecure};
    else if (options.mqttInsecure)
        throw UsageError("--mqtt-insecure is for TLS (mqtts://)");
    if (options.mqttUser) {
        settings.user = *options.mqttUser;
        settings.password = brokerPassword(options);
    }
    return settings;
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
    CLI::Option* mqtt = watch.add_option("--mqtt", options.mqtt,
        "report to this MQTT broker: mqtts://HOST[:PORT] for TLS (port 8883), HOST[:PORT] or mqtt://HOST[:PORT] "
        "(port 1883), or the path of its UNIX socket");
    mqtt->check(endpointValidator(true));
    watch.add_option("--mqtt-cafile", options.mqttCaFile, "trust brokers whose certificate this CA file signed (TLS)")
        ->check(CLI::ExistingFile)
        ->needs(mqtt);
    watch.add_option("--mqtt-capath", options.mqttCaPath, "trust the CA certificates of this folder (TLS)")
        ->check(CLI::ExistingDirectory)
        ->needs(mqtt);
    CLI::Option* cert =
        watch.add_option("--mqtt-cert", options.mqttCert, "this agent's client certificate for the broker (TLS)")
            ->check(CLI::ExistingFile)
            ->needs(mqtt);
    CLI::Option* key = watch.add_option("--mqtt-key", options.mqttKey, "the client certificate's key, not encrypted")
                           ->check(CLI::ExistingFile)
                           ->needs(cert);
    cert->needs(key);
    watch
        .add_flag("--mqtt-insecure", options.mqttInsecure,
            "do NOT check the broker's name against its certificate: anyone on the way can pose as the broker")
        ->needs(mqtt);
    CLI::Option* user = watch
                            .add_option("--mqtt-user", options.mqttUser,
                                "log in to the broker as this user; the password comes from --mqtt-password-file "
                                "or the credential mqtt-password")
                            ->needs(mqtt);
    watch.add_option("--mqtt-password-file", options.mqttPasswordFile, "the broker password is this file's first line")
        ->check(CLI::ExistingFile)
        ->needs(user);
    addMetricsOptions(watch, options);
}

ReportingSinks startReporting(const WatchOptions& options, const std::string& site)
{
    ReportingSinks result;
    try {
        if (options.mqtt) {
            auto reporter = std::make_unique<reporting::MqttReporter>(site, brokerSettings(options));
            result.mqttDroppedEvents = [mqtt = reporter.get()] {
                return std::optional<std::uint64_t>(mqtt->stats().droppedEvents);
            };
            result.sinks.push_back(std::move(reporter));
        }
        if (options.metricsListen)
            result.sinks.push_back(startMetrics(options, site));
    } catch (const std::invalid_argument& error) {
        result.sinks.clear();
        result.mqttDroppedEvents = [] { return std::optional<std::uint64_t>(); };
        result.error = error.what();
        result.usageError = true;
    } catch (const std::exception& error) {
        result.sinks.clear();
        result.mqttDroppedEvents = [] { return std::optional<std::uint64_t>(); };
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
