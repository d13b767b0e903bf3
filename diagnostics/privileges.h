#ifndef DIAGNOSTICS_PRIVILEGES_H
#define DIAGNOSTICS_PRIVILEGES_H

#include <cstdint>
#include <string_view>

namespace diagnostics {

// Linux's capability to bind ports below 1024 (CAP_NET_BIND_SERVICE).
inline constexpr int kNetBindServiceCapability = 10;

// Whether the "CapEff:" line of a /proc/PID/status text has the capability;
// false when the line is missing or unreadable.
bool effectiveCapability(std::string_view statusText, int capability);

// The first port any user may bind, from the text of
// /proc/sys/net/ipv4/ip_unprivileged_port_start (containers often set it
// to 0); 1024, the fixed limit of kernels without the setting, when the text
// is missing or no number.
inline constexpr int kFixedUnprivilegedPortStart = 1024;
int unprivilegedPortStart(std::string_view sysctlText);

enum class PortBindRight {
    kNone,
    kPrivileged,      // root, or the capability
    kUnprivilegedPort // any user may bind it here
};

// Why this process may bind `port`, or that it may not.
PortBindRight portBindRight(std::uint16_t port);

} // namespace diagnostics

#endif
