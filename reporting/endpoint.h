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

struct Broker {
    Endpoint endpoint;
    bool tls = false;
};

// A broker for --mqtt: mqtts://HOST[:PORT] (TLS, port 8883 unless given),
// mqtt://HOST[:PORT] (plain, port 1883 unless given), HOST[:PORT] (TLS when
// tlsOptions, the TLS files being given, else plain), or the path of the
// broker's UNIX socket (it starts with '/'; port 0 then). Nothing for text
// that is none of these, and for TLS options with mqtt:// or a socket.
std::optional<Broker> parseBroker(std::string_view text, bool tlsOptions);

} // namespace reporting

#endif
