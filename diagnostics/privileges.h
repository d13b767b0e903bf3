#ifndef DIAGNOSTICS_PRIVILEGES_H
#define DIAGNOSTICS_PRIVILEGES_H

#include <string_view>

namespace diagnostics {

// Linux's capability to bind ports below 1024 (CAP_NET_BIND_SERVICE).
inline constexpr int kNetBindServiceCapability = 10;

// Whether the "CapEff:" line of a /proc/PID/status text has the capability;
// false when the line is missing or unreadable.
bool effectiveCapability(std::string_view statusText, int capability);

// This process may bind UDP 67: it runs as root or holds the capability.
bool mayBindPrivilegedPorts();

} // namespace diagnostics

#endif
