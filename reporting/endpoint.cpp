#include "reporting/endpoint.h"

#include <charconv>

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
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return std::nullopt;
        port = rest.empty() ? rest : rest.substr(1);
        if (rest.empty() && !defaultPort)
            return std::nullopt;
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        if (text.find(':') != colon)
            return std::nullopt; // a bare IPv6 address: its port would be ambiguous
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    } else if (!defaultPort) {
        return std::nullopt;
    }
    if (host.empty())
        return std::nullopt;
    if (port.empty() && !(text.find(':') == std::string_view::npos || text.ends_with(']')))
        return std::nullopt;
    std::optional<std::uint16_t> number = port.empty() ? defaultPort : parsePort(port);
    if (!number)
        return std::nullopt;
    return Endpoint{std::string(host), *number};
}

} // namespace reporting
