#ifndef REPORTING_ENDPOINT_H
#define REPORTING_ENDPOINT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace reporting {

struct Endpoint {
    std::string host;       // a name or an address; an IPv6 address without its brackets
    std::uint16_t port = 0; // 0: host is the path of a UNIX socket
};

// "HOST:PORT", "HOST" (only when defaultPort is given) or "[IPV6]:PORT".
// Nothing for an empty host, a port outside 1..65535 or text after it.
std::optional<Endpoint> parseEndpoint(std::string_view text, std::optional<std::uint16_t> defaultPort);

// A broker for --mqtt: HOST[:PORT] (port 1883 unless given), or the path of
// the broker's UNIX socket (it starts with '/'; port 0 then).
std::optional<Endpoint> parseBroker(std::string_view text);

} // namespace reporting

#endif
