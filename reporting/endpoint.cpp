#include "reporting/endpoint.h"

#include "reporting/mqttreporter.h"

#include <charconv>
#include <utility>

namespace reporting {
namespace {

std::optional<std::uint16_t> parsePort(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > UINT16_MAX)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::optional<Endpoint> parseEndpoint(std::string_view text, std::optional<std::uint16_t> defaultPort)
{
    std::string_view host = text, port;
    bool portGiven = false;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return std::nullopt;
        portGiven = !rest.empty();
        port = portGiven ? rest.substr(1) : rest;
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        if (text.find(':', colon + 1) != std::string_view::npos)
            return std::nullopt; // an IPv6 address without brackets: where would its port be?
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        portGiven = true;
    }
    const std::optional<std::uint16_t> number = portGiven ? parsePort(port) : defaultPort;
    if (host.empty() || !number)
        return std::nullopt;
    return Endpoint{std::string(host), *number};
}

std::optional<Broker> parseBroker(std::string_view text, bool tlsOptions)
{
    constexpr std::string_view kPlainScheme = "mqtt://", kTlsScheme = "mqtts://";
    if (text.starts_with('/'))
        return tlsOptions ? std::nullopt : std::optional<Broker>(Broker{{std::string(text), 0}, false});
    bool tls = tlsOptions;
    if (text.starts_with(kTlsScheme)) {
        text.remove_prefix(kTlsScheme.size());
        tls = true;
    } else if (text.starts_with(kPlainScheme)) {
        if (tlsOptions)
            return std::nullopt;
        text.remove_prefix(kPlainScheme.size());
    }
    std::optional<Endpoint> endpoint = parseEndpoint(text, tls ? kMqttTlsDefaultPort : kMqttDefaultPort);
    if (!endpoint || endpoint->host.starts_with('/'))
        return std::nullopt;
    return Broker{std::move(*endpoint), tls};
}

} // namespace reporting
